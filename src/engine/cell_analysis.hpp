#pragma once
// The cells meet the main image: each cell's region of the picture is reduced
// to a signature, cells the picture does not reach are dropped, cells close
// enough to share a duplicate's spacing learn of each other, and large cells
// are split into halves for the second placement.

#include <cstdint>
#include <functional>

#include "engine/puzzle.hpp"
#include "engine/thread_priority.hpp"
#include "images/foto.hpp"

namespace tess {

class MosaicBuilder;

/// Image pixels per grid unit: the smaller of the two axis ratios when the
/// mosaic adapts to the picture (the grid then lies inside it), else the
/// larger (the grid covers it and overhanging cells are dropped). 0 for an
/// empty image or grid.
double analysis_scale(int image_width, int image_height, int grid_width, int grid_height, bool adapt);

/// Analyses one cell against `image`, where `image_per_pixel` is the number
/// of image pixels under one mosaic pixel. Sets the cell's active and
/// analysed flags; a cell whose corner lies beyond the picture stays inactive.
/// Running out of memory for a shaped cell's region carries its text.
Status analyse_cell(PuzzleInfo& cell, const Foto& image, double image_per_pixel);

/// Analyses every cell of the builder's grid ("Analyzing Main Image...") and
/// drops the ones that did not become active. With `skip_analysed` set, cells
/// analysed earlier are left as they are (the pass after a split). Cells are
/// spread over `threads` threads (the calling one included); the result does
/// not depend on their number. False when stopped or when no cell is left.
[[nodiscard]] bool analyse_cells(MosaicBuilder& builder, const Foto& image, bool adapt, bool skip_analysed, int threads = 1,
                   ThreadPriority priority = ThreadPriority::normal);

/// Fills every cell's neighbour list with the other cells closer than
/// `spacing` tiles: centres closer than √((spacing·tile_width)·(spacing·
/// tile_height)) in a pattern layout, top-left corners closer than spacing
/// times the side of an average cell in a mask layout. Lists are sorted by
/// cell order. `stopped` (may be empty) is asked once per cell and
/// `cell_done` told after each.
void fill_neighbour_lists(PuzzleGrid& grid, int spacing, double tile_width, double tile_height,
                          const std::function<bool()>& stopped = {}, const std::function<void()>& cell_done = {});

/// The neighbour step of a run: only when the duplicate spacing is above 1
/// and consecutive frames are in use ("Calculating Tile Distance...").
/// `tile_width` and `tile_height` are the pattern's tile size in pixels.
void compute_neighbour_lists(MosaicBuilder& builder, double tile_width, double tile_height);

/// Splits `cell` of the builder's grid with the run's "Tile Size Priority".
PuzzleInfo* split_cell(MosaicBuilder& builder, PuzzleInfo& cell, std::int32_t gap);

}  // namespace tess
