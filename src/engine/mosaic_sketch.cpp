#include "engine/mosaic_sketch.hpp"

#include <algorithm>
#include <cmath>

#include "engine/puzzle.hpp"
#include "tilelist/foto_info.hpp"

namespace tess {
namespace {

/// Open cells are shown at this share of their brightness, so the placed
/// tiles stand out while the picture they will form stays readable.
constexpr std::uint32_t kDimPercent = 40;

std::uint32_t dimmed(std::uint32_t pixel) {
  return make_pixel(pixel_red(pixel) * kDimPercent / 100, pixel_green(pixel) * kDimPercent / 100,
                    pixel_blue(pixel) * kDimPercent / 100, pixel_transparency(pixel));
}

/// The cell's rectangle in the sketch, at least one pixel, inside the canvas.
struct SketchRect {
  int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
};

SketchRect sketch_rect(const PuzzleInfo& cell, double scale, const Foto& canvas) {
  SketchRect r;
  r.x0 = std::clamp(static_cast<int>(cell.left * scale), 0, canvas.width() - 1);
  r.y0 = std::clamp(static_cast<int>(cell.top * scale), 0, canvas.height() - 1);
  r.x1 = std::clamp(static_cast<int>((static_cast<double>(cell.left) + cell.width) * scale), r.x0 + 1, canvas.width());
  r.y1 = std::clamp(static_cast<int>((static_cast<double>(cell.top) + cell.height) * scale), r.y0 + 1, canvas.height());
  return r;
}

/// The signature's fine samples stretched over the rectangle, a portrait
/// signature turned back upright; transparent samples (outside a mask
/// cell's shape) leave the canvas as it was.
void draw_signature(const SketchRect& r, const TileSignature& signature, bool dim, Foto& canvas) {
  const bool portrait = signature.portrait != 0;
  const int across = portrait ? kGridRows : kGridColumns;
  const int down = portrait ? kGridColumns : kGridRows;
  const int w = r.x1 - r.x0;
  const int h = r.y1 - r.y0;
  for (int y = r.y0; y < r.y1; ++y) {
    const int sy = (y - r.y0) * down / h;
    std::uint32_t* target = canvas.row(y);
    for (int x = r.x0; x < r.x1; ++x) {
      const int sx = (x - r.x0) * across / w;
      const std::uint32_t pixel = portrait ? signature.fine(sy, kGridRows - 1 - sx) : signature.fine(sx, sy);
      if (pixel_transparency(pixel) >= kMaskedTransparency) continue;
      const std::uint32_t shown = make_pixel(pixel_red(pixel), pixel_green(pixel), pixel_blue(pixel));
      target[x] = dim ? dimmed(shown) : shown;
    }
  }
}

}  // namespace

double sketch_scale(int width, int height) {
  if (width <= 0 || height <= 0) return 0;
  return std::min(1.0, static_cast<double>(kSketchLongSide) / std::max(width, height));
}

bool sketch_cells(const PuzzleGrid& grid, double scale, Foto& canvas) {
  const int width = static_cast<int>(std::lround(grid.pixel_width() * scale));
  const int height = static_cast<int>(std::lround(grid.pixel_height() * scale));
  if (width <= 0 || height <= 0) return false;
  if (canvas.width() != width || canvas.height() != height) {
    canvas.clear();
    if (!canvas.try_allocate(width, height)) return false;
  }
  canvas.fill(kEmptyPixel);
  bool drawn = false;
  for (const auto& cell : grid.cells()) {
    if (cell->width <= 0 || cell->height <= 0) continue;
    const SketchRect r = sketch_rect(*cell, scale, canvas);
    if (cell->tile != nullptr) {
      draw_signature(r, cell->tile->signature, false, canvas);
      drawn = true;
    } else if (cell->analysed != 0 && cell->active != 0) {
      draw_signature(r, cell->signature, true, canvas);
      drawn = true;
    }
  }
  return drawn;
}

void sketch_band(const Foto& band, int x, int y, double scale, Foto& canvas) {
  if (band.empty() || canvas.empty() || scale <= 0) return;
  // Sketch pixels whose centres lie inside the band.
  const int first_row = std::max(0, static_cast<int>(std::ceil(y * scale - 0.5)));
  const int last_row = std::min(canvas.height(), static_cast<int>(std::ceil((y + band.height()) * scale - 0.5)));
  const int first_column = std::max(0, static_cast<int>(std::ceil(x * scale - 0.5)));
  const int last_column = std::min(canvas.width(), static_cast<int>(std::ceil((x + band.width()) * scale - 0.5)));
  for (int row = first_row; row < last_row; ++row) {
    const int band_y = std::clamp(static_cast<int>((row + 0.5) / scale) - y, 0, band.height() - 1);
    const std::uint32_t* source = band.row(band_y);
    std::uint32_t* target = canvas.row(row);
    for (int column = first_column; column < last_column; ++column)
      target[column] = source[std::clamp(static_cast<int>((column + 0.5) / scale) - x, 0, band.width() - 1)];
  }
}

}  // namespace tess
