#pragma once
// TileSignature: the small fixed form every tile picture and every cell of
// the main image is reduced to once, so that scoring compares 121 samples
// instead of pictures. Three levels, always stored in landscape frame:
//   sample 0         the whole picture
//   samples 1..12    a 4 × 3 grid, sample 1 + column + 4·row
//   samples 13..120  a 12 × 9 grid, sample 13 + column + 12·row
// A portrait picture is sampled on a 9 × 12 grid and turned a quarter
// counter-clockwise into the 12 × 9 frame, with its portrait flag set.

#include <array>
#include <cstdint>

#include "images/foto.hpp"

namespace tess {

/// The fine grid of a signature (landscape frame): 12 columns × 9 rows.
inline constexpr int kGridColumns = 12;
inline constexpr int kGridRows = 9;
/// The coarse grid: 4 × 3, each sample summarising 3 × 3 fine samples.
inline constexpr int kCoarseColumns = 4;
inline constexpr int kCoarseRows = 3;

inline constexpr int kOverallSample = 0;
inline constexpr int kFirstCoarseSample = 1;
inline constexpr int kFirstFineSample = 13;
inline constexpr int kFineSampleCount = kGridColumns * kGridRows;  // 108
inline constexpr int kSignatureSampleCount = kFirstFineSample + kFineSampleCount;  // 121

/// How a region is brought into the grid's aspect ratio.
enum class AnalysisMode {
  fill,  ///< tile pictures: cropped to the grid's aspect, centred
  fit,   ///< main-image cells: scaled to fit inside the grid, padded with empty pixels
};

struct TileSignature {
  std::array<std::uint32_t, kSignatureSampleCount> samples{};
  std::uint8_t opaque = 0;    ///< 1 when all 108 fine samples have transparency 0
  std::uint8_t portrait = 0;  ///< 1 when the analysed region was taller than wide
  std::uint8_t analysed = 0;  ///< set by a successful analysis; never stored in list files
  /// 1 while `perceptual` holds the samples in the perceptual comparison's
  /// form; whatever changes the samples here clears it. Never stored.
  std::uint8_t perceptual_ready = 0;
  /// The samples in the perceptual form (perceptual_pixel()), worked out
  /// once by prepare_perceptual() so that a run comparing that way does not
  /// convert a tile's samples again for every cell.
  std::array<std::uint32_t, kSignatureSampleCount> perceptual{};

  std::uint32_t fine(int column, int row) const { return samples[kFirstFineSample + column + kGridColumns * row]; }
  std::uint32_t coarse(int column, int row) const {
    return samples[kFirstCoarseSample + column + kCoarseColumns * row];
  }
  std::uint32_t overall() const { return samples[kOverallSample]; }

  /// Analyses the rectangle (x, y, w, h) of `source` (a w or h of 0 means the
  /// whole source dimension). Fill mode is for tile pictures and takes the
  /// whole picture (a rectangle of zeros); fit mode is for cells and takes an
  /// explicit rectangle, and fails when everything in it is transparent.
  /// The analysed flag is cleared first and set on success; on failure the
  /// samples are left as they were.
  [[nodiscard]] bool analyse(const Foto& source, AnalysisMode mode, double x = 0, double y = 0, double w = 0, double h = 0);

  /// Derives the overall and coarse samples and the opaque flag from the
  /// fine samples, each fine sample weighted by its opacity.
  void recompute_levels();

  /// Turns the fine samples grey (30 red + 59 green + 11 blue, rounded half
  /// up; transparency kept) and recomputes the other levels.
  void to_black_and_white();

  /// Fills `perceptual` from the samples, unless it is filled already.
  void prepare_perceptual();

  /// The fine samples as a picture: 12 × 9, or turned back to 9 × 12 for a
  /// portrait signature, so that no picture file is read for a preview.
  [[nodiscard]] bool thumbnail(Foto& out) const;
};

/// True when a region of w × h is sampled in portrait frame (a square is landscape).
inline bool is_portrait_region(double w, double h) { return h > w; }

/// How far apart two signatures are: the sum over the 108 fine samples of
/// the squared red, green and blue differences (transparency ignored), so a
/// threshold per fine sample times 108 compares with it directly.
std::uint64_t signature_distance(const TileSignature& a, const TileSignature& b);

}  // namespace tess
