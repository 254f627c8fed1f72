#pragma once
// The sketch: a small picture of the mosaic as far as the run has built it,
// for a window to show while the run goes on. Placed cells are drawn from
// their tiles' signatures, cells still open from the main image under them,
// dimmed, and rendered bands from the real pixels, so no picture file is read
// and the run's results never depend on it.

#include <cstdint>

#include "images/foto.hpp"

namespace tess {

class PuzzleGrid;

/// The sketch's long side in pixels: enough for a window's picture panel.
inline constexpr int kSketchLongSide = 480;

/// The scale from mosaic pixels to sketch pixels for a mosaic of
/// `width` × `height`; 0 for an empty mosaic.
double sketch_scale(int width, int height);

/// Draws every analysed cell of `grid` into `canvas` (which the call sizes
/// to the grid at `scale`, transparent where no cell is): a placed cell in
/// its tile's colours, an open one in the main image's, dimmed. False when
/// there is nothing to draw or no memory for the canvas.
[[nodiscard]] bool sketch_cells(const PuzzleGrid& grid, double scale, Foto& canvas);

/// Copies the finished band `band`, whose top left corner is (x, y) in
/// mosaic pixels, into `canvas` at `scale`, one band pixel for each sketch
/// pixel whose centre falls into it.
void sketch_band(const Foto& band, int x, int y, double scale, Foto& canvas);

}  // namespace tess
