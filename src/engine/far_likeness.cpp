// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/far_likeness.hpp"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <vector>

#include "engine/puzzle.hpp"
#include "settings/geometry.hpp"

namespace tess {

namespace {

int rounded_columns(double width, double cell_width) {
  if (!(width > 0) || !(cell_width > 0)) return 0;
  return static_cast<int>(std::clamp(std::round(width / cell_width), 1.0, static_cast<double>(1 << 20)));
}

}  // namespace

int far_columns(const MosaicLayout& layout, const PuzzleGrid& grid) {
  if (!grid.mask_layout()) {
    // Whole tiles and their gaps across the mosaic: a sliver of a last
    // column, cut off by the mosaic's edge, is no cell width of its own.
    const std::int64_t step = layout.tile_width + layout.border;
    if (layout.tile_width > 0 && grid.pixel_width() > 0)
      return rounded_columns(static_cast<double>(grid.pixel_width() + layout.border), static_cast<double>(step));
    return static_cast<int>(std::clamp<std::int64_t>(layout.columns, 0, 1 << 20));
  }
  // A mask's patches have no common size: the middle one stands for them,
  // so a few large patches of sky do not make the whole mosaic coarse.
  std::vector<std::int32_t> widths;
  widths.reserve(grid.size());
  for (const auto& cell : grid.cells())
    if (cell->active != 0 && cell->width > 0) widths.push_back(cell->width);
  if (widths.empty() || grid.pixel_width() <= 0) return 0;
  const auto middle = widths.begin() + static_cast<std::ptrdiff_t>(widths.size() / 2);
  std::nth_element(widths.begin(), middle, widths.end());
  return rounded_columns(static_cast<double>(grid.pixel_width()), static_cast<double>(*middle));
}

FarView far_view_of(const Foto& image, int columns) {
  FarView view;
  if (columns <= 0 || image.empty() || image.width() <= 0 || image.height() <= 0) return view;
  const std::int64_t width = static_cast<std::int64_t>(kFarPixelsPerCell) * columns;
  const auto height = static_cast<std::int64_t>(
      std::llround(static_cast<double>(width) * static_cast<double>(image.height()) / static_cast<double>(image.width())));
  // A picture of hundreds of pixels a side at most for any sensible mosaic;
  // a silly count of columns must not cost the run its memory.
  if (width > 16384 || height > 16384) return view;
  view.main = reduce_in_linear_light(image, static_cast<int>(width), static_cast<int>(std::max<std::int64_t>(height, 1)));
  if (view.main.width > 0 && view.main.height > 0) view.columns = columns;
  return view;
}

FarMosaicReducer::FarMosaicReducer(int mosaic_width, int mosaic_height, int width, int height)
    : m_mosaic_width(mosaic_width), m_mosaic_height(mosaic_height) {
  m_spoilt = mosaic_width <= 0 || mosaic_height <= 0 || width <= 0 || height <= 0;
  if (!m_spoilt) m_reducer = std::make_unique<LinearReducer>(mosaic_width, mosaic_height, width, height);
}

FarMosaicReducer::~FarMosaicReducer() = default;

void FarMosaicReducer::add_band(const Foto& band, int x, int y) {
  if (m_spoilt || band.empty()) return;
  const int w = band.width();
  const int h = band.height();
  if (x < 0 || y < 0 || w > m_mosaic_width - x || h > m_mosaic_height - y) {
    m_spoilt = true;
    return;
  }
  auto found = m_strips.find(x);
  if (found == m_strips.end()) {
    // A new column of pieces must start at the top and keep clear of the others.
    const auto after = m_strips.lower_bound(x);
    const bool meets_next = after != m_strips.end() && after->first < x + w;
    const bool meets_previous =
        after != m_strips.begin() && std::prev(after)->first + std::prev(after)->second.width > x;
    if (y != 0 || meets_next || meets_previous) {
      m_spoilt = true;
      return;
    }
    found = m_strips.emplace(x, Strip{w, 0}).first;
  }
  Strip& strip = found->second;
  // Each column of pieces comes top to bottom without gaps; anything else
  // (a frame written again, a band out of order) is not the mosaic once.
  if (strip.width != w || strip.next_row != y) {
    m_spoilt = true;
    return;
  }
  // A split piece's band goes in where it lies and costs only its own
  // pixels, however many columns of pieces the mosaic has.
  m_reducer->add_block(band, x, y);
  strip.next_row = y + h;
}

bool FarMosaicReducer::complete() const {
  if (m_spoilt || m_strips.empty()) return false;
  int edge = 0;
  for (const auto& [x, strip] : m_strips) {
    if (x != edge || strip.next_row != m_mosaic_height) return false;
    edge = x + strip.width;
  }
  return edge == m_mosaic_width;
}

LinearPicture FarMosaicReducer::picture() const { return m_reducer ? m_reducer->picture() : LinearPicture{}; }

void add_far_figures(const FarView& view, const LinearPicture& mosaic, ColourFidelity& figures) {
  figures.far_pixels = 0;
  figures.far_mean = 0;
  figures.far_p95 = 0;
  if (!view.usable() || mosaic.width != view.main.width || mosaic.height != view.main.height) return;
  const LikenessFigures far =
      pixel_ciede2000(gaussian_blurred(view.main, kFarBlurSigma), gaussian_blurred(mosaic, kFarBlurSigma));
  figures.far_pixels = far.count;
  figures.far_mean = far.mean;
  figures.far_p95 = far.p95;
}

}  // namespace tess
