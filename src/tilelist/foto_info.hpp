#pragma once
// FotoInfo: one entry of a Tile Images List - a picture or a video clip, the
// file state it was last analysed at, and its signature - and the per-entry
// analysis step, which keeps the signature of a file that has not changed.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>

#include "images/foto.hpp"
#include "tilelist/tile_signature.hpp"

namespace tess {

/// File size stored for an entry that was never analysed, so that it never
/// matches a real file.
inline constexpr std::int32_t kNewEntryFileSize = -2;
/// Pictures are decoded for analysis at no more than 8 times this size
/// (DCT scaling), since only a 12 × 9 grid is kept of them.
inline constexpr int kAnalysisLoadSize = 48;
/// Lists written before signatures were stored whole trust an unchanged file
/// only when its JPEG header shows at most this many pixels.
inline constexpr std::int64_t kOldListReusePixels = 3000000;
/// The last list version whose stored signatures are not trusted blindly.
inline constexpr int kLastUntrustedListVersion = 115;
/// Rate code of a clip found in a Video folder but not yet opened.
inline constexpr std::uint16_t kUnknownRateCode = 1;

struct FotoInfo {
  std::string path;               ///< full UTF-8 path of the picture or clip
  std::uint16_t frame_count = 0;  ///< clip length 1..65000; 0 for pictures and unopened clips
  std::uint16_t rate_code = 0;    ///< 0 for a picture; a clip's round(fps × 500) in 1..65000
  std::uint8_t usable = 0;        ///< found by the last scan and analysed successfully
  std::uint8_t required = 0;      ///< found through the Required set
  TileSignature signature;
  std::int64_t modification_time = 0;           ///< seconds since 1970 UTC at the last analysis
  std::int32_t file_size = kNewEntryFileSize;   ///< bytes at the last analysis
  std::int32_t variant_group = 0;               ///< 0 = no group
  std::int32_t use_count = 0;                   ///< uses in the current mosaic (placement)
  std::uint8_t placement_flag = 0;              ///< exhausted or visited (placement)

  FotoInfo() = default;
  explicit FotoInfo(std::string file_path) : path(std::move(file_path)) {}

  /// A clip rather than a still picture (its rate code is set).
  bool is_video() const { return rate_code != 0; }
  bool is_portrait() const { return signature.portrait != 0; }
  /// The part of the path after its last "/".
  std::string file_name() const;
  /// The file name up to its last ".", or the whole name when it has none.
  std::string file_name_without_extension() const;
};

/// Counters the list analysis keeps across entries.
struct AnalysisCounters {
  long load_failures = 0;  ///< pictures (or clips) that could not be loaded
  long long_clips = 0;     ///< clips over 2700 frames, reset by each analysis
  std::string last_failure;  ///< why the last entry that could not be loaded failed
};

/// What the analysis needs of a clip: its length and rate, and the frame a
/// still mosaic shows (decoded at no more than about 8 times `max_side` a
/// side). The video layer provides it; the front ends register it at start.
struct ClipSample {
  std::int64_t frame_count = 0;
  double frames_per_second = 0.0;
  Foto frame;
};
using ClipReader = std::function<bool(const std::string& path, int max_side, ClipSample& sample)>;
/// Registers the reader for every analysis of the process (empty: clips
/// cannot be analysed and count as failed loads).
void set_clip_reader(ClipReader reader);

/// Clip length and rate as an entry stores them: the count held to 1..65000,
/// the rate code round(fps × 500) held to 1..65000.
std::uint16_t stored_frame_count(std::int64_t frame_count);
std::uint16_t stored_rate_code(double frames_per_second);

/// Clips of more frames than this are counted as long.
inline constexpr long kLongClipFrames = 2700;

/// The state of a file as the list stores it: modification time in seconds
/// since 1970 UTC and the size as a 32-bit field. False when the path is not
/// a regular file (missing, a folder, a device).
[[nodiscard]] bool read_file_state(const std::filesystem::path& path, std::int64_t& modification_time, std::int32_t& file_size);

/// Analyses one list entry for a list in the given mode and of the given
/// version (the version of the file it was loaded from):
///   - a missing file makes the entry unusable;
///   - an unchanged file (same time and size) keeps its stored signature in
///     lists newer than 115; in older colour lists only when its JPEG header
///     reads and shows at most 3,000,000 pixels; older black-and-white lists
///     always analyse again;
///   - otherwise the picture is loaded at 48 × 48 without messages and
///     analysed in fill mode, then turned grey for a black-and-white list.
/// A failed load counts in `counters.load_failures`. A clip is analysed from
/// the frame the registered clip reader gives; a clip seen for the first
/// time (frame count 0) also takes its length and rate from it, and one of
/// more than 2700 frames counts in `counters.long_clips`. The result is also stored as the
/// entry's usable flag; an entry whose analysis failed keeps no file state,
/// so it can never pass as analysed later.
bool analyse_entry(FotoInfo& entry, bool black_and_white, int list_version, AnalysisCounters& counters);

}  // namespace tess
