#include "video/video_timing.hpp"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <map>
#include <string>

#include "engine/puzzle.hpp"
#include "settings/advanced_options.hpp"
#include "tilelist/foto_info.hpp"

namespace tess {

namespace {

constexpr std::int64_t kDefaultImageFrames = 10;
constexpr std::int64_t kDefaultImageRate = 10;
// Frame numbers of an AVI are 32-bit.
constexpr std::int64_t kMaxFrames = std::numeric_limits<std::int32_t>::max();

// The option as the rules read it: no "*", no blanks, upper case; `fallback`
// when it holds nothing.
std::string normalised(const std::string& option, const char* fallback) {
  std::string text;
  for (const char c : option.empty() ? std::string(fallback) : option)
    if (c != '*' && c != ' ') text += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

bool take_prefix(std::string& text, std::string_view prefix) {
  if (text.compare(0, prefix.size(), prefix) != 0) return false;
  text.erase(0, prefix.size());
  return true;
}

// The leading decimal number of `text` on any locale, 0 when it has none.
double leading_decimal(std::string_view text) {
  double value = 0.0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc{} && std::isfinite(value) ? value : 0.0;
}

// A count or rate as a whole number: truncated, and 0 for anything that is
// no positive number, so that the caller's defaults take over.
std::int64_t whole(double value) {
  if (!(value >= 1.0)) return 0;
  return value >= static_cast<double>(kMaxFrames) * kRateUnitsPerFrame ? kMaxFrames * kRateUnitsPerFrame
                                                                        : static_cast<std::int64_t>(value);
}

VideoTiming timing_from_clips(const ClipStatistics& clips, const AdvancedOptions& options) {
  VideoTiming timing;
  // Frame count: an optional base (shortest, longest or average clip) times a number.
  std::string count = normalised(options.value(kOptVideoFrameCount), "MAX*2");
  std::int64_t base = 0;
  bool based = false;
  if (count.size() >= 3) {
    if (take_prefix(count, "MIN")) base = clips.shortest, based = true;
    if (take_prefix(count, "MAX")) base = clips.longest, based = true;
    if (take_prefix(count, "AVG")) base = clips.average, based = true;
  }
  const double factor = count.empty() ? 1.0 : std::trunc(leading_decimal(count));
  timing.frames = std::min(whole(based ? factor * static_cast<double>(base) : factor), kMaxFrames);

  // Rate: an optional base rate (lowest, highest, most frequent) times a number.
  std::string rate = normalised(options.value(kOptVideoFrameRate), "FREQ");
  std::int64_t base_rate = kRateUnitsPerFrame;
  if (rate.size() >= 3) {
    if (take_prefix(rate, "MIN")) base_rate = clips.lowest_rate;
    if (take_prefix(rate, "MAX")) base_rate = clips.highest_rate;
    if (take_prefix(rate, "FREQ")) base_rate = clips.frequent_rate;
  }
  const double multiplier = rate.empty() ? 1.0 : leading_decimal(rate);
  timing.rate = whole(static_cast<double>(base_rate) * multiplier);
  return timing;
}

}  // namespace

std::uint32_t rate_units(std::int64_t num, std::int64_t den) {
  if (num <= 0 || den <= 0) return 0;
  const std::int64_t units = (num * kRateUnitsPerFrame + den / 2) / den;
  return static_cast<std::uint32_t>(std::clamp<std::int64_t>(units, 1, std::numeric_limits<std::uint32_t>::max()));
}

ClipStatistics clip_statistics(const PuzzleGrid& grid) {
  ClipStatistics stats;
  std::int64_t sum = 0;
  std::map<std::int64_t, std::int64_t> tiles_by_rate;
  for (const auto& cell : grid.cells()) {
    const FotoInfo* tile = cell->tile;
    if (tile == nullptr || !tile->is_video() || tile->frame_count == 0) continue;
    const std::int64_t frames = tile->frame_count;
    stats.shortest = stats.clips == 0 ? frames : std::min(stats.shortest, frames);
    stats.longest = std::max(stats.longest, frames);
    sum += frames;
    ++stats.clips;
    if (tile->rate_code != 0) ++tiles_by_rate[tile->rate_code];
  }
  if (stats.clips > 0) stats.average = sum / stats.clips;
  if (!tiles_by_rate.empty()) {
    stats.lowest_rate = tiles_by_rate.begin()->first;
    stats.highest_rate = tiles_by_rate.rbegin()->first;
    // Rates in ascending order: a later rate wins only with more tiles.
    std::int64_t most = 0;
    for (const auto& [rate, tiles] : tiles_by_rate)
      if (tiles > most) most = tiles, stats.frequent_rate = rate;
  }
  return stats;
}

VideoTiming video_timing(const ClipStatistics& clips, const AdvancedOptions& options) {
  VideoTiming timing;
  if (clips.clips > 0 && clips.frequent_rate > 0) timing = timing_from_clips(clips, options);
  if (timing.frames == 0 || timing.rate == 0) {
    // Pictures only (or clip rules that came to nothing): the two plain options.
    timing.frames = std::min(whole(std::trunc(leading_decimal(normalised(options.value(kOptImageFrameCount), "10")))),
                             kMaxFrames);
    if (timing.frames == 0) timing.frames = kDefaultImageFrames;
    std::int64_t fps = whole(std::trunc(leading_decimal(normalised(options.value(kOptImageFrameRate), "10"))));
    if (fps == 0) fps = kDefaultImageRate;
    timing.rate = std::min(fps, kMaxFrames) * kRateUnitsPerFrame;
  }
  return timing;
}

int reverse_loop_mode(std::string_view option) {
  std::string text;
  for (const char c : option)
    if (c != ' ') text += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (text == "NONE") return 0;
  if (text == "NECESSARY") return 1;
  return 2;
}

std::int64_t tile_frame(std::int64_t mosaic_frame, std::int64_t clip_frames, std::int64_t mosaic_frames, int mode) {
  if (mosaic_frames <= 0 || clip_frames <= 0) return 0;
  const std::int64_t i = std::max<std::int64_t>(mosaic_frame - 1, 0);
  const std::int64_t length = clip_frames;
  if (mode == 0 || (mode == 1 && length > mosaic_frames)) return i % length;
  // Forward and backward: whole cycles of 2L, then one cycle squeezed into
  // what is left, so the last frame of the mosaic meets the clip's start.
  const std::int64_t whole_cycles = (mosaic_frames / (2 * length)) * 2 * length;
  std::int64_t cycle = 2 * length;
  std::int64_t r = i % cycle;
  if (i >= whole_cycles) {
    cycle = mosaic_frames - whole_cycles;
    r = (i - whole_cycles) % cycle;
  }
  return r < cycle / 2 ? r : cycle - r - 1;
}

}  // namespace tess
