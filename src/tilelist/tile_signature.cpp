// Tile analysis: a picture or a cell is resampled onto the 12 × 9 fine grid
// (9 × 12 when taller than wide, then turned), and the coarse and overall
// levels are summarised from the fine samples.

#include "tilelist/tile_signature.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <utility>

#include "images/perceptual_colour.hpp"


namespace tess {

namespace {

struct Grid {
  int columns = kGridColumns;
  int rows = kGridRows;
};

Grid grid_for(double w, double h) {
  if (is_portrait_region(w, h)) return Grid{kGridRows, kGridColumns};
  return Grid{kGridColumns, kGridRows};
}

/// Weight of a fine sample in a summary: a fully opaque sample weighs 256,
/// others their opacity scaled to 0..255 (so one step of transparency
/// already costs two units: 254 for transparency 1).
std::uint64_t opacity_weight(std::uint32_t transparency) {
  if (transparency == 0) return 256;
  return 256u * (255u - transparency) / 255u;
}

/// The opacity-weighted summary of the fine samples in columns
/// [c0, c0 + columns) and rows [r0, r0 + rows).
std::uint32_t summarise(const TileSignature& s, int c0, int r0, int columns, int rows) {
  std::uint64_t red = 0, green = 0, blue = 0, weights = 0, transparency = 0;
  for (int r = r0; r < r0 + rows; ++r) {
    for (int c = c0; c < c0 + columns; ++c) {
      const std::uint32_t p = s.fine(c, r);
      const std::uint64_t w = opacity_weight(pixel_transparency(p));
      red += pixel_red(p) * w;
      green += pixel_green(p) * w;
      blue += pixel_blue(p) * w;
      weights += w;
      transparency += pixel_transparency(p);
    }
  }
  if (weights == 0) weights = 1;  // all transparent: the colour comes out 0
  const auto n = static_cast<std::uint64_t>(columns) * static_cast<std::uint64_t>(rows);
  return make_pixel(static_cast<std::uint32_t>(red / weights), static_cast<std::uint32_t>(green / weights),
                    static_cast<std::uint32_t>(blue / weights), static_cast<std::uint32_t>(transparency / n));
}

/// Step 2 of fill mode: the largest centred part of a W × H picture with the
/// grid's aspect ratio, in whole pixels.
void fill_crop(std::uint64_t W, std::uint64_t H, const Grid& grid, std::uint64_t& crop_w, std::uint64_t& crop_h) {
  const auto columns = static_cast<std::uint64_t>(grid.columns);
  const auto rows = static_cast<std::uint64_t>(grid.rows);
  crop_h = std::max<std::uint64_t>(1, rows * W / columns);
  if (crop_h > H) {
    crop_w = std::max<std::uint64_t>(1, columns * H / rows);
    crop_h = H;
  } else {
    crop_w = W;
  }
}

/// Fill mode: the picture is cropped to the grid's aspect ratio, centred, and
/// resampled onto the grid.
bool sample_filled(const Foto& source, const Grid& grid, double x, double y, double w, double h, Foto& out) {
  if (!(w < 4294967296.0) || !(h < 4294967296.0)) return false;  // no picture is that large
  const double W = std::trunc(w);
  const double H = std::trunc(h);
  if (!(W >= 1) || !(H >= 1)) return false;
  std::uint64_t crop_w = 0, crop_h = 0;
  fill_crop(static_cast<std::uint64_t>(W), static_cast<std::uint64_t>(H), grid, crop_w, crop_h);
  // The origin stays a real number: half a pixel of centring is kept.
  const double x0 = x + (w - static_cast<double>(crop_w)) / 2;
  const double y0 = y + (h - static_cast<double>(crop_h)) / 2;
  return source
      .resample(grid.columns, grid.rows, x0, y0, static_cast<double>(crop_w), static_cast<double>(crop_h), out)
      .ok();
}

/// Fit mode: the rectangle is scaled to fit inside the grid keeping its
/// aspect ratio and padded with empty pixels; an all-transparent result fails.
bool sample_fitted(const Foto& source, const Grid& grid, double x, double y, double w, double h, Foto& out) {
  if (!(w > 0) || !(h > 0)) return false;
  double fh = std::max(1.0, std::trunc(grid.columns * h / w + 0.5));
  double fw = grid.columns;
  if (fh > grid.rows) {
    fw = std::max(1.0, std::trunc(grid.rows * w / h + 0.5));
    fh = grid.rows;
  }
  // Rounding already keeps the width inside the grid; the clamp only guards the pad.
  fw = std::min<double>(fw, grid.columns);
  const int fit_w = static_cast<int>(fw);
  const int fit_h = static_cast<int>(fh);
  Foto fitted;
  if (!source.resample(fit_w, fit_h, x, y, w, h, fitted)) return false;
  if (!fitted.pad(grid.columns, grid.rows, (grid.columns - fit_w) / 2, (grid.rows - fit_h) / 2, out)) return false;
  const std::uint32_t* p = out.pixels();
  const bool visible = std::any_of(p, p + out.pixel_count(), [](std::uint32_t word) {
    return pixel_transparency(word) < kMaskedTransparency;
  });
  if (!visible) out.clear();
  return visible;
}

}  // namespace

bool TileSignature::analyse(const Foto& source, AnalysisMode mode, double x, double y, double w, double h) {
  analysed = 0;
  perceptual_ready = 0;
  if (source.empty()) return false;
  if (w == 0) w = source.width();
  if (h == 0) h = source.height();

  // Step 1: the orientation decides the grid.
  const bool turned = is_portrait_region(w, h);
  const Grid grid = grid_for(w, h);

  // The grids are a few hundred bytes: running out of memory here is the
  // analysis failing, which each caller counts or reports as such.
  Foto sampled;
  const bool ok = mode == AnalysisMode::fill ? sample_filled(source, grid, x, y, w, h, sampled)
                                             : sample_fitted(source, grid, x, y, w, h, sampled);
  if (!ok) return false;
  // A portrait grid is turned counter-clockwise so every signature is
  // compared in the same landscape frame.
  if (turned && !sampled.rotate(-90)) return false;
  if (sampled.width() != kGridColumns || sampled.height() != kGridRows) return false;

  std::copy(sampled.pixels(), sampled.pixels() + kFineSampleCount, samples.begin() + kFirstFineSample);
  portrait = turned ? 1 : 0;
  recompute_levels();
  analysed = 1;
  return true;
}

void TileSignature::recompute_levels() {
  perceptual_ready = 0;
  for (int r = 0; r < kCoarseRows; ++r)
    for (int c = 0; c < kCoarseColumns; ++c)
      samples[kFirstCoarseSample + c + kCoarseColumns * r] = summarise(*this, 3 * c, 3 * r, 3, 3);
  samples[kOverallSample] = summarise(*this, 0, 0, kGridColumns, kGridRows);
  opaque = std::all_of(samples.begin() + kFirstFineSample, samples.end(),
                       [](std::uint32_t p) { return pixel_transparency(p) == 0; })
               ? 1
               : 0;
}

void TileSignature::to_black_and_white() {
  for (int i = kFirstFineSample; i < kSignatureSampleCount; ++i) {
    const std::uint32_t p = samples[i];
    const std::uint32_t y = 30 * pixel_red(p) + 59 * pixel_green(p) + 11 * pixel_blue(p);
    const std::uint32_t grey = y / 100 + (y % 100 >= 50 ? 1 : 0);
    samples[i] = make_pixel(grey, grey, grey, pixel_transparency(p));
  }
  recompute_levels();
}

void TileSignature::prepare_perceptual() {
  if (perceptual_ready != 0) return;
  perceptual_pixels(samples.data(), perceptual.data(), kSignatureSampleCount);
  perceptual_ready = 1;
}

bool TileSignature::thumbnail(Foto& out) const {
  // A grid of a few hundred bytes: its caller treats a failure like any other.
  Foto grid;
  if (!grid.allocate(kGridColumns, kGridRows)) {
    out.clear();
    return false;
  }
  std::copy(samples.begin() + kFirstFineSample, samples.end(), grid.pixels());
  if (portrait != 0) return grid.rotate(90, out).ok();
  out = std::move(grid);
  return true;
}

std::uint64_t signature_distance(const TileSignature& a, const TileSignature& b) {
  std::uint64_t sum = 0;
  for (int i = kFirstFineSample; i < kSignatureSampleCount; ++i) {
    const std::uint32_t p = a.samples[i];
    const std::uint32_t q = b.samples[i];
    const int dr = static_cast<int>(pixel_red(p)) - static_cast<int>(pixel_red(q));
    const int dg = static_cast<int>(pixel_green(p)) - static_cast<int>(pixel_green(q));
    const int db = static_cast<int>(pixel_blue(p)) - static_cast<int>(pixel_blue(q));
    sum += static_cast<std::uint64_t>(dr * dr + dg * dg + db * db);
  }
  return sum;
}

}  // namespace tess
