#pragma once
// How honest a mosaic's colours are: for every cell drawn with a tile, the
// CIEDE2000 difference between the main image under the cell and the tile,
// once as the tile came (before the colour change) and once as it was drawn
// (after it). The mean and the 95th percentile of each are shown at the end
// of a run and in the text report, so that a user sees how much of the
// likeness the colour change supplies rather than the pictures.
//
// A cell's colour is its mean sRGB colour, turned into CIELAB once:
//  - the main image: the overall sample of the cell's signature, the mean of
//    the main image's pixels under the cell that the matching itself uses;
//  - the tile: the mean of the pixels drawn into the cell (a shaped cell's
//    own shape), taken by the renderer while it has them (see
//    TileRenderRecord), before and after the colour change.
// A mean colour is what a viewer sees from a distance where a cell blends
// into one patch, which is the distance a mosaic's likeness is judged from,
// and it costs one sum per drawn pixel instead of a CIELAB conversion per
// pixel or a second pass over the mosaic.

#include <array>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "engine/puzzle.hpp"
#include "engine/tile_render.hpp"

namespace tess {

/// One measured cell: mean red, green and blue (0..255) of the main image
/// under it, of its tile before the colour change and of the tile as drawn.
struct CellColours {
  std::array<double, 3> main{};
  std::array<double, 3> before{};
  std::array<double, 3> after{};
};

/// Calls `visit` for every cell of `grid` that holds a tile whose rendering
/// was measured (`records` is indexed like the grid's cells; cells whose
/// picture could not be drawn have no measured record and are left out).
void for_each_cell_colours(const PuzzleGrid& grid, const std::vector<TileRenderRecord>& records,
                           const std::function<void(const CellColours&)>& visit);

/// The mean and 95th-percentile CIEDE2000 differences of a mosaic.
struct ColourFidelity {
  std::size_t cells = 0;  ///< cells measured; 0: nothing to show
  double mean_before = 0;
  double p95_before = 0;
  double mean_after = 0;
  double p95_after = 0;
  /// Seen from afar (engine/far_likeness.hpp): the pixels of the reduced,
  /// blurred pictures compared; 0 when the written mosaic could not be
  /// measured whole, and then the far figures mean nothing.
  std::size_t far_pixels = 0;
  double far_mean = 0;
  double far_p95 = 0;
  [[nodiscard]] bool has_far() const { return far_pixels > 0; }
};

/// The figures over every measured cell of `grid`.
ColourFidelity measure_colour_fidelity(const PuzzleGrid& grid, const std::vector<TileRenderRecord>& records);

/// The figures of differences given one pair a cell (for the measure above,
/// and for whoever holds the differences already).
ColourFidelity summarise_colour_differences(std::vector<double> before, std::vector<double> after);

/// The value below which `fraction` (0..1) of `values` lie, interpolated
/// linearly between the two nearest ranks (the common "linear" percentile:
/// rank fraction × (n - 1) in the sorted values). 0 for no values.
double percentile(std::vector<double> values, double fraction);

/// The one line a run ends with (translated): "Colour difference to the main
/// image (CIEDE2000): before the colour change mean 7.21, 95th percentile
/// 15.80; after it mean 2.10, 95th percentile 4.33", followed by "; seen from
/// afar mean 3.05, 95th percentile 7.40" when the far figures were measured.
std::string colour_fidelity_text(const ColourFidelity& figures);

}  // namespace tess
