// One list entry and its analysis step.

#include "tilelist/foto_info.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <mutex>
#include <utility>

#include "images/foto.hpp"
#include "tilelist/left_out_summary.hpp"

namespace tess {

std::string FotoInfo::file_name() const {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string FotoInfo::file_name_without_extension() const {
  std::string name = file_name();
  const auto dot = name.rfind('.');
  if (dot != std::string::npos) name.erase(dot);
  return name;
}

bool read_file_state(const std::filesystem::path& path, std::int64_t& modification_time, std::int32_t& file_size) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
  modification_time = static_cast<std::int64_t>(info.st_mtim.tv_sec);
  // The list keeps 32 bits of the size; larger files wrap, the same way
  // every time, so an unchanged file still compares equal.
  file_size = static_cast<std::int32_t>(static_cast<std::uint32_t>(info.st_size));
  return true;
}

namespace {

/// Step 2: whether the stored signature of an unchanged file may be kept.
bool stored_signature_trusted(const FotoInfo& entry, bool black_and_white, int list_version) {
  // Signatures written since version 116 are exactly what an analysis gives.
  if (list_version > kLastUntrustedListVersion) return true;
  // Older lists analysed grey pictures differently: always again.
  if (black_and_white) return false;
  // Older lists analysed large pictures at another scale: only small JPEGs are kept.
  JpegHeader header;
  return Foto::read_header(entry.path, header) && header.pixel_count <= kOldListReusePixels;
}

bool fail(FotoInfo& entry) {
  entry.usable = 0;
  return false;
}

}  // namespace

namespace {

std::mutex g_clip_reader_mutex;
ClipReader g_clip_reader;

ClipReader current_clip_reader() {
  std::lock_guard lock(g_clip_reader_mutex);
  return g_clip_reader;
}

}  // namespace

void set_clip_reader(ClipReader reader) {
  std::lock_guard lock(g_clip_reader_mutex);
  g_clip_reader = std::move(reader);
}

std::uint16_t stored_frame_count(std::int64_t frame_count) {
  return static_cast<std::uint16_t>(std::clamp<std::int64_t>(frame_count, 1, 65'000));
}

std::uint16_t stored_rate_code(double frames_per_second) {
  const double code = std::round(frames_per_second * 500.0);
  // NaN and nonsense rates end at the lowest code, never outside the field.
  return static_cast<std::uint16_t>(code >= 1.0 ? std::min(code, 65'000.0) : 1.0);
}

bool analyse_entry(FotoInfo& entry, bool black_and_white, int list_version, AnalysisCounters& counters) {
  // Step 1: the file's state; a missing file is unusable.
  std::int64_t modification_time = 0;
  std::int32_t file_size = 0;
  if (!read_file_state(entry.path, modification_time, file_size)) return fail(entry);

  // Step 2: an unchanged file keeps its signature without being decoded.
  if (modification_time == entry.modification_time && file_size == entry.file_size &&
      stored_signature_trusted(entry, black_and_white, list_version)) {
    entry.usable = 1;
    return true;
  }

  // Step 3: the state the new analysis belongs to. Until it succeeds the
  // entry carries the new-entry state, so a failed analysis is never taken
  // for a finished one.
  entry.modification_time = 0;
  entry.file_size = kNewEntryFileSize;

  // Step 4: load the picture small, or fetch the clip's frame; a clip seen
  // for the first time learns its length and rate here.
  Foto picture;
  bool loaded = false;
  if (entry.is_video()) {
    ClipSample sample;
    const ClipReader reader = current_clip_reader();
    loaded = reader && reader(entry.path, kAnalysisLoadSize, sample) && !sample.frame.empty();
    if (loaded && entry.frame_count == 0) {
      entry.frame_count = stored_frame_count(sample.frame_count);
      entry.rate_code = stored_rate_code(sample.frames_per_second);
      if (sample.frame_count > kLongClipFrames) ++counters.long_clips;
    }
    picture = std::move(sample.frame);
    if (!loaded) counters.last_failure = "the clip could not be read";
  } else {
    // A picture that fails is counted and listed in the error file; the
    // decoder's own words say why.
    const Status status = picture.load(entry.path, kAnalysisLoadSize, kAnalysisLoadSize);
    loaded = status.ok();
    if (!loaded) counters.last_failure = skipped_reason(status);
  }
  if (!loaded) {
    ++counters.load_failures;
    return fail(entry);
  }

  // Step 5: the whole picture in fill mode, grey for a black-and-white list.
  TileSignature signature;
  if (!signature.analyse(picture, AnalysisMode::fill)) {
    counters.last_failure = "the picture could not be analysed";
    return fail(entry);
  }
  if (black_and_white) signature.to_black_and_white();
  entry.signature = signature;
  entry.modification_time = modification_time;
  entry.file_size = file_size;
  entry.usable = 1;
  return true;
}

}  // namespace tess
