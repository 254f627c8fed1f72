#pragma once
// Video timing: frame rates in the units the list and the AVI writer share,
// the timing of a video mosaic (how many frames it has and at what rate,
// derived from the clips its tiles show) and which clip frame a tile shows
// in each of its frames.

#include <cstdint>
#include <string_view>

namespace tess {

class AdvancedOptions;
class PuzzleGrid;

/// Frame rates are whole numbers of 1/500 frame per second (25 fps = 12,500).
inline constexpr std::int64_t kRateUnitsPerFrame = 500;

/// A rate of `num`/`den` frames per second in those units, rounded to
/// nearest and held to 1..2^32 - 1; 0 for a rate that is no positive fraction.
std::uint32_t rate_units(std::int64_t num, std::int64_t den);

/// What the clips of the placed tiles have in common. Only clips with a
/// frame count count; rates of 0 are ignored for the three rates.
struct ClipStatistics {
  std::int64_t clips = 0;  ///< placed tiles showing such a clip
  std::int64_t shortest = 0;
  std::int64_t longest = 0;
  std::int64_t average = 0;  ///< 64-bit sum divided by `clips`
  std::int64_t lowest_rate = 0;
  std::int64_t highest_rate = 0;
  std::int64_t frequent_rate = 0;  ///< shared by most tiles; the lowest on a tie
};
ClipStatistics clip_statistics(const PuzzleGrid& grid);

struct VideoTiming {
  std::int64_t frames = 0;
  std::int64_t rate = 0;  ///< 1/500 frames per second
};

/// The frame count and rate of the video mosaic from the statistics and the
/// four "DivarAdadir.Frame..." options (see the advanced options' help).
VideoTiming video_timing(const ClipStatistics& clips, const AdvancedOptions& options);

/// How a clip shorter than the video mosaic goes on: 0 restarts it, 2 plays
/// it forward and backward, 1 does that only for clips not longer than the
/// mosaic. From "DivarAdadir.ReverseLoop": "NONE", "NECESSARY", else "ALL".
int reverse_loop_mode(std::string_view option);

/// The clip frame (from 0) a tile shows in `mosaic_frame` (from 1) of a
/// video mosaic of `mosaic_frames`, for a clip of `clip_frames`.
std::int64_t tile_frame(std::int64_t mosaic_frame, std::int64_t clip_frames, std::int64_t mosaic_frames, int mode);

}  // namespace tess
