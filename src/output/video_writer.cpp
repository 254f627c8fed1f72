#include "output/video_writer.hpp"

#include <algorithm>
#include <cstdio>
#include <new>
#include <vector>

#include "base/prompt.hpp"
#include "base/text.hpp"
#include "images/foto.hpp"
#include "output/jpeg_writer.hpp"
#include "output/row_source.hpp"
#include "settings/output_formats.hpp"
#include "video/avi_create.hpp"
#include "video/avi_packets.hpp"
#include "video/fourcc.hpp"

namespace tess {

namespace {

constexpr std::int64_t kFallbackRate = 5;
constexpr int kFrameJpegQuality = 100;

// Both AVI formats share their extension.
std::string avi_file(const std::string& base_name) {
  return base_name + format_extension(OutputFormatCode::avi_uncompressed);
}

std::string continuation_file(const std::string& base_name, int number) {
  return avi_file(format("%s__%03d", base_name, number));
}

std::uint32_t rate_or_fallback(std::int64_t rate) {
  return static_cast<std::uint32_t>(rate <= 0 ? kFallbackRate : rate);
}

// A part records its frames in its comment.
constexpr const char* kPartComment = "Tessellarium video part: frames %ld-%ld of %ld";

struct PartFrames {
  long first = 0;
  long last = 0;
  long frames = 0;
};

bool read_part_comment(const std::string& comment, PartFrames& part) {
  char after = 0;
  return std::sscanf(comment.c_str(), "Tessellarium video part: frames %ld-%ld of %ld%c", &part.first, &part.last,
                     &part.frames, &after) == 3 &&
         part.first >= 1 && part.first <= part.last && part.last <= part.frames;
}

// The files of one video: "<base>.avi", then a continuation file whenever the
// next frame would take the current one past the limit. The video written
// whole and the video joined from its parts both go through here, so both
// break at the same frames.
class AviSeries {
 public:
  AviSeries(std::string base_name, int width, int height, std::uint32_t fourcc, std::uint32_t rate,
            std::uint64_t file_limit, Prompt& prompt)
      : m_base(std::move(base_name)),
        m_width(width),
        m_height(height),
        m_fourcc(fourcc),
        m_rate(rate),
        m_limit(file_limit) {
    m_avi.show_messages(prompt);
  }

  CAviCreate& avi() { return m_avi; }
  [[nodiscard]] bool open(AviFrameFormat& frame, const std::string& comment = {}) {
    m_avi.set_comment(comment);
    return m_avi.create(avi_file(m_base), m_width, m_height, m_fourcc, m_rate, frame);
  }
  /// Before every frame: a file that one more raw frame would take past the
  /// limit makes way for the next one.
  [[nodiscard]] bool make_room() {
    if (m_avi.frames_written() == 0 || m_avi.bytes_written() + m_avi.frame_format().image_size <= m_limit)
      return true;
    if (!m_avi.close()) return false;
    ++m_file_number;
    m_avi.set_comment({});
    return m_avi.create(continuation_file(m_base, m_file_number), m_width, m_height, m_fourcc, m_rate);
  }
  /// The trailer makes the file playable.
  [[nodiscard]] bool close() { return m_avi.close(); }

 private:
  CAviCreate m_avi;
  std::string m_base;
  int m_width;
  int m_height;
  std::uint32_t m_fourcc;
  std::uint32_t m_rate;
  std::uint64_t m_limit;
  int m_file_number = 1;
};

// Frames first..last of `source` into `series`, opened with `comment`.
bool write_avi_frames(RowSource& source, AviSeries& series, const std::string& base_name, std::int64_t first,
                      std::int64_t last, const std::string& comment, const BeginFrame& begin_frame, Prompt& prompt) {
  // 1. The file, with the frame cut to what the format takes.
  AviFrameFormat frame;
  if (!series.open(frame, comment)) return false;

  // 3. One frame of bottom-up rows.
  std::vector<std::uint8_t> buffer;
  try {
    buffer.resize(frame.image_size);
  } catch (const std::bad_alloc&) {
    prompt.message(out_of_memory_text(source.width(), source.height()) + "!!!!", Icon::error);
    return false;
  }

  for (std::int64_t k = first; k <= last; ++k) {
    // 4. Every row of the rendering is pulled; the frame keeps what it holds.
    if (!begin_frame(k)) return false;
    for (int l = 0; l < source.height(); ++l) {
      const std::uint32_t* row = source.next_row();
      if (row == nullptr) {
        if (!source.stop_requested())
          prompt.message(format(tr("Unable to save file '%s'"), avi_file(base_name)), Icon::error);
        return false;
      }
      if (l >= frame.height) continue;
      std::uint8_t* out = buffer.data() + static_cast<std::size_t>(frame.height - l - 1) * frame.row_bytes;
      for (int x = 0; x < frame.width; ++x, out += 3) {
        out[0] = static_cast<std::uint8_t>(row[x] >> 16);
        out[1] = static_cast<std::uint8_t>(row[x] >> 8);
        out[2] = static_cast<std::uint8_t>(row[x]);
      }
    }
    // 5. A file that would pass the limit makes way for the next one.
    if (!series.make_room()) return false;
    // 6. One frame.
    if (!series.avi().write(buffer.data(), buffer.size())) return false;
  }
  // 7. The trailer makes the file playable.
  return series.close();
}

// Why the parts cannot make one video together; empty when they can.
// `ranges` gets every part's frames.
std::string check_parts(const std::vector<std::string>& parts, AviStreamFormat& stream, std::vector<PartFrames>& ranges) {
  if (parts.empty()) return "no parts to join";
  for (std::size_t i = 0; i < parts.size(); ++i) {
    const std::string& name = parts[i];
    AviPacketReader reader;
    if (!reader.open(name)) return format("'%s' is no AVI file", name);
    AviStreamFormat read = reader.format();
    PartFrames part;
    if (!read_part_comment(read.comment, part)) return format("'%s' is no part of a video written with --frames", name);
    read.comment.clear();
    if (i == 0) {
      stream = read;
      if (stream.rate == 0) return format("'%s' has a frame rate this program does not write", name);
      if (part.first > 1) return format("frames 1 to %ld are missing before '%s'", part.first - 1, name);
      ranges.push_back(part);
      continue;
    }
    const std::string& first_name = parts.front();
    const PartFrames& before = ranges.back();
    if (read.width != stream.width || read.height != stream.height)
      return format("'%s' has frames of %dx%d, '%s' of %dx%d", name, read.width, read.height, first_name, stream.width,
                    stream.height);
    if (read.fourcc != stream.fourcc)
      return format("'%s' is %s, '%s' %s", name, fourcc_text(read.fourcc), first_name, fourcc_text(stream.fourcc));
    if (read.rate != stream.rate) return format("'%s' has another frame rate than '%s'", name, first_name);
    if (part.frames != before.frames)
      return format("'%s' is part of a video of %ld frames, '%s' of one of %ld", name, part.frames, first_name,
                    before.frames);
    if (part.first > before.last + 1)
      return format("frames %ld to %ld are missing between '%s' and '%s'", before.last + 1, part.first - 1,
                    parts[i - 1], name);
    if (part.first <= before.last)
      return format("'%s' and '%s' both hold frames %ld to %ld", parts[i - 1], name, part.first,
                    std::min(before.last, part.last));
    ranges.push_back(part);
  }
  if (ranges.back().last < ranges.back().frames)
    return format("frames %ld to %ld are missing after '%s'", ranges.back().last + 1, ranges.back().frames,
                  parts.back());
  return {};
}

}  // namespace

bool write_avi_rows(RowSource& source, const std::string& base_name, std::uint32_t fourcc, std::int64_t rate,
                    std::int64_t frames, const BeginFrame& begin_frame, Prompt& prompt, std::uint64_t file_limit) {
  AviSeries series(base_name, source.width(), source.height(), fourcc, rate_or_fallback(rate), file_limit, prompt);
  return write_avi_frames(source, series, base_name, 1, frames, {}, begin_frame, prompt);
}

bool write_avi_part_rows(RowSource& source, const std::string& base_name, std::uint32_t fourcc, std::int64_t rate,
                         std::int64_t first, std::int64_t last, std::int64_t frames, const BeginFrame& begin_frame,
                         Prompt& prompt) {
  // A part is never continued: the join breaks the video where one writer would have.
  AviSeries series(base_name, source.width(), source.height(), fourcc, rate_or_fallback(rate), UINT64_MAX, prompt);
  const std::string comment =
      format(kPartComment, static_cast<long>(first), static_cast<long>(last), static_cast<long>(frames));
  return write_avi_frames(source, series, base_name, first, last, comment, begin_frame, prompt);
}

JoinOutcome join_avi_parts(const std::vector<std::string>& parts, const std::string& base_name, Prompt& prompt,
                           std::string& refusal, std::uint64_t file_limit) {
  // 1. Every part is looked at before anything is written: together they
  // must hold the video's frames, each once, in order.
  AviStreamFormat stream;
  std::vector<PartFrames> ranges;
  refusal = check_parts(parts, stream, ranges);
  if (!refusal.empty()) return JoinOutcome::refused;

  // 2. The frames as stored, through the writer of the whole video.
  AviSeries series(base_name, stream.width, stream.height, stream.fourcc, stream.rate, file_limit, prompt);
  AviFrameFormat frame;
  if (!series.open(frame)) return JoinOutcome::failed;
  std::vector<std::uint8_t> data;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    AviPacketReader reader;
    long count = 0;
    bool key = false;
    if (reader.open(parts[i]))
      while (reader.next(data, key)) {
        if (!series.make_room() || !series.avi().write_packet(data.data(), data.size(), key))
          return JoinOutcome::failed;
        ++count;
      }
    if (reader.failed() || count != ranges[i].last - ranges[i].first + 1) {
      prompt.message(format("'%s' holds %ld frames where its frames %ld to %ld were expected", parts[i], count,
                            ranges[i].first, ranges[i].last),
                     Icon::error);
      return JoinOutcome::failed;
    }
  }
  return series.close() ? JoinOutcome::joined : JoinOutcome::failed;
}

std::string video_frame_file(const std::string& base_name, std::int64_t frame) {
  return format("%s__%09ld", base_name, static_cast<long>(frame)) + format_extension(OutputFormatCode::video_jpg);
}

bool write_video_frames(RowSource& source, const std::string& base_name, std::int64_t first, std::int64_t last,
                        const BeginFrame& begin_frame, Prompt& prompt) {
  WriteOptions frame_options;
  frame_options.jpeg_quality = kFrameJpegQuality;
  for (std::int64_t k = first; k <= last; ++k) {
    if (!begin_frame(k)) return false;
    if (!write_jpeg_rows(source, video_frame_file(base_name, k), frame_options, prompt)) return false;
  }
  return true;
}

namespace {

bool write_avi(RowSource& source, const std::string& base_name, std::uint32_t fourcc, const VideoClock& clock,
               const BeginFrame& begin_frame, Prompt& prompt) {
  if (clock.part)
    return write_avi_part_rows(source, base_name, fourcc, clock.rate, clock.first, clock.last, clock.frames,
                               begin_frame, prompt);
  return write_avi_rows(source, base_name, fourcc, clock.rate, clock.frames, begin_frame, prompt);
}

}  // namespace

bool write_uncompressed_avi(RowSource& source, const std::string& base_name, const WriteOptions&,
                            const VideoClock& clock, const BeginFrame& begin_frame, Prompt& prompt) {
  return write_avi(source, base_name, 0, clock, begin_frame, prompt);
}

bool write_compressed_avi(RowSource& source, const std::string& base_name, const WriteOptions& options,
                          const VideoClock& clock, const BeginFrame& begin_frame, Prompt& prompt) {
  return write_avi(source, base_name, options.fourcc, clock, begin_frame, prompt);
}

bool write_frame_pictures(RowSource& source, const std::string& base_name, const WriteOptions&,
                          const VideoClock& clock, const BeginFrame& begin_frame, Prompt& prompt) {
  return write_video_frames(source, base_name, clock.first, clock.last, begin_frame, prompt);
}

}  // namespace tess
