#include "settings/geometry.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "base/prompt.hpp"
#include "base/text.hpp"

namespace tess {
namespace {


// ---- Unit families ----------------------------------------------------------

/// Centimetres in one unit of a length; 0 for units that are not lengths.
double cm_per_unit(UnitCode unit) {
  switch (unit) {
    case kUnitCm: return 1;
    case kUnitInch: return kCmPerInch;
    case kUnitMm: return 0.1;
    case kUnitMeter: return 100;
    case kUnitFoot: return 30.48;
    default: return 0;
  }
}

/// Pixels in one unit of a pixel count; 0 for other units.
double pixels_per_unit(UnitCode unit) {
  switch (unit) {
    case kUnitPixel: return 1;
    case kUnitKilopixel: return 1e3;
    case kUnitMegapixel: return 1e6;
    case kUnitGigapixel: return 1e9;
    default: return 0;
  }
}

/// Bytes in one unit of a byte count; 0 for other units.
double bytes_per_unit(UnitCode unit) {
  switch (unit) {
    case kUnitByte: return 1;
    case kUnitMegabyte: return 1024.0 * 1024.0;
    case kUnitGigabyte: return 1024.0 * 1024.0 * 1024.0;
    default: return 0;
  }
}

bool is_resolution(UnitCode unit) { return unit == kUnitPpi || unit == kUnitDpi; }

/// `value` in pixels; nullopt when the unit cannot reach pixels with what is known.
std::optional<double> to_pixels(double value, UnitCode unit, double ppi, double tile_pixels) {
  if (const double f = pixels_per_unit(unit); f > 0) return value * f;
  if (const double f = cm_per_unit(unit); f > 0) {
    if (!(ppi > 0)) return std::nullopt;
    return value * f * ppi / kCmPerInch;
  }
  if (unit == kUnitTiles) {
    if (!(tile_pixels > 0)) return std::nullopt;
    return value * tile_pixels;
  }
  return std::nullopt;
}

std::optional<double> from_pixels(double pixels, UnitCode unit, double ppi, double tile_pixels) {
  if (const double f = pixels_per_unit(unit); f > 0) return pixels / f;
  if (const double f = cm_per_unit(unit); f > 0) {
    if (!(ppi > 0)) return std::nullopt;
    return pixels * kCmPerInch / ppi / f;
  }
  if (unit == kUnitTiles) {
    if (!(tile_pixels > 0)) return std::nullopt;
    return pixels / tile_pixels;
  }
  return std::nullopt;
}

// ---- Whole pixels -----------------------------------------------------------

/// A pixel size rounded to the nearest whole pixel (so 25.4 cm at 300 PPI is
/// 3000 pixels however the product rounds); nullopt when it is negative, not
/// a number or too large for any mosaic.
std::optional<std::int64_t> whole_pixels(double pixels) {
  if (!std::isfinite(pixels) || pixels < 0) return std::nullopt;
  const double rounded = std::floor(pixels + 0.5);
  if (rounded > static_cast<double>(kMaxLayoutSide)) return std::nullopt;
  return static_cast<std::int64_t>(rounded);
}

/// The largest s with s × s ≤ n.
std::int64_t integer_sqrt(std::int64_t n) {
  if (n <= 0) return 0;
  auto s = static_cast<std::int64_t>(std::sqrt(static_cast<long double>(n)));
  // The floating root may be one off either way for large n.
  while (s > 0 && s > n / s) --s;
  while (s + 1 <= n / (s + 1)) ++s;
  return s;
}

// ---- The numbered steps of the geometry -----------------------------------

struct StepState {
  const MosaicParameters& params;
  MosaicLayout& layout;
};

// 2. The resolution in pixels per inch (DPI counts as PPI).
void resolution_step(StepState& s) {
  const UnitValue& r = s.params.resolution;
  if (!kResolutionField.accepts(r) || !std::isfinite(r.value)) return;
  s.layout.pixels_per_inch = r.value;
  s.layout.pixels_per_cm = r.value / kCmPerInch;
}

// 3. A tile size given as a length (or pixel count) is the tile width.
void tile_length_step(StepState& s) {
  const UnitValue& t = s.params.tile_size;
  if (!kTileSizeField.accepts(t) || t.unit == kUnitTiles || t.unit == kUnitTilesPerRow) return;
  const auto pixels = to_pixels(t.value, t.unit, s.layout.pixels_per_inch, 0);
  if (const auto width = pixels ? whole_pixels(*pixels) : std::nullopt) s.layout.tile_width = *width;
}

// 4. The maximum box in pixels; two equal sides of 3 megapixels or more are an
// area, shaped like the main image (4:3 without one).
void maximum_size_step(StepState& s) {
  const SizeValue& m = s.params.mosaic_size;
  if (!(m.width > 0) || !(m.height > 0) || !kMosaicSizeUnits.contains(m.unit)) return;
  const double ppi = s.layout.pixels_per_inch;
  const auto tile = static_cast<double>(s.layout.tile_width);
  const auto width = to_pixels(m.width, m.unit, ppi, tile);
  const auto height = to_pixels(m.height, m.unit, ppi, tile);
  if (!width || !height || !std::isfinite(*width) || !std::isfinite(*height)) return;

  if (*width == *height && *width >= kAreaThreshold) {
    // 2^62 pixels is far beyond any mosaic, and keeps area × aspect in range below.
    if (*width > 4.6e18) return;
    const auto area = static_cast<std::int64_t>(std::floor(*width + 0.5));
    const bool has_image = s.layout.image_width > 0 && s.layout.image_height > 0;
    const std::int64_t a = has_image ? s.layout.image_width : 4;
    const std::int64_t b = has_image ? s.layout.image_height : 3;
    std::int64_t max_width = 0;
    if (area <= std::numeric_limits<std::int64_t>::max() / a) {
      max_width = integer_sqrt(area * a / b);
    } else {
      max_width = static_cast<std::int64_t>(std::sqrt(static_cast<long double>(area) * a / b));
    }
    if (max_width > kMaxLayoutSide) return;
    const std::int64_t max_height = max_width * b / a;  // max_width ≤ 2^31 and b ≤ 2^31: no overflow
    if (max_height > kMaxLayoutSide) return;
    s.layout.max_width = max_width;
    s.layout.max_height = max_height;
    s.layout.max_is_area = true;
    return;
  }
  const auto w = whole_pixels(*width);
  const auto h = whole_pixels(*height);
  if (!w || !h) return;
  s.layout.max_width = *w;
  s.layout.max_height = *h;
}

// 5. The largest rectangle of the image's aspect inside the maximum box, the
// box turned so that its longer side lies along the image's longer side.
void final_size_step(StepState& s) {
  MosaicLayout& l = s.layout;
  if (l.max_width <= 1 || l.max_height <= 1 || l.image_width <= 0 || l.image_height <= 0) return;
  const bool image_landscape = l.image_width >= l.image_height;
  const std::int64_t box_w = image_landscape ? std::max(l.max_width, l.max_height) : std::min(l.max_width, l.max_height);
  const std::int64_t box_h = image_landscape ? std::min(l.max_width, l.max_height) : std::max(l.max_width, l.max_height);
  const auto w0 = static_cast<long double>(l.image_width);
  const auto h0 = static_cast<long double>(l.image_height);
  if (static_cast<long double>(box_w) * h0 <= static_cast<long double>(box_h) * w0) {
    // The box is taller than the image's shape: the width fills it.
    l.final_width = box_w;
    l.final_height = std::min(box_h, static_cast<std::int64_t>(std::floor(box_w * h0 / w0 + 0.5L)));
  } else {
    l.final_height = box_h;
    l.final_width = std::min(box_w, static_cast<std::int64_t>(std::floor(box_h * w0 / h0 + 0.5L)));
  }
}

// 6. A tile count or tiles per row sets the tile width from the final size.
void tile_count_step(StepState& s) {
  MosaicLayout& l = s.layout;
  const UnitValue& t = s.params.tile_size;
  if (l.tile_width > 0 || !(t.value > 0) || !std::isfinite(t.value)) return;
  std::int64_t width = 0;
  if (t.unit == kUnitTiles) {
    // Tiles of the 12:9 shape that share the final area out in n parts.
    const double side = std::sqrt(static_cast<double>(l.final_width) * static_cast<double>(l.final_height) /
                                  t.value * 12.0 / 9.0);
    if (std::isfinite(side) && side < static_cast<double>(kMaxLayoutSide)) width = static_cast<std::int64_t>(side);
  } else if (t.unit == kUnitTilesPerRow) {
    // A count of tiles: a fraction of a tile per row means nothing.
    const double per_row = std::floor(std::min(t.value, static_cast<double>(kMaxLayoutSide)));
    if (per_row >= 1) width = l.final_width / static_cast<std::int64_t>(per_row);
  }
  if (width > 0) {
    l.tile_width = width;
    l.tile_size_derived = true;
  }
}

// 7. The "MaskFile" entry (and any square of up to 8 pixels) asks for mask-file mode.
void mask_file_step(StepState& s) {
  MosaicLayout& l = s.layout;
  if (l.max_width == l.max_height && l.max_width >= 1 && l.max_width <= kMaxMaskFileSide)
    s.layout.mask_file = static_cast<std::int32_t>(l.max_width);
}

// 8. Tiles are 12:9; upright patterns stand them on end.
void tile_shape_step(StepState& s) {
  MosaicLayout& l = s.layout;
  l.tile_height = (l.tile_width * 9 + 6) / 12;  // round(width × 9 ÷ 12)
  if (is_upright_pattern(s.params.pattern)) std::swap(l.tile_width, l.tile_height);
}

// 9. The border in pixels; a tile size derived from a count makes room for it
// inside the tile, so the count still fits.
void border_step(StepState& s) {
  MosaicLayout& l = s.layout;
  const UnitValue& b = s.params.border_size;
  if (kBorderSizeField.accepts(b)) {
    const auto pixels = to_pixels(b.value, b.unit, l.pixels_per_inch, 0);
    if (const auto border = pixels ? whole_pixels(*pixels) : std::nullopt) l.border = *border;
  }
  if (l.tile_size_derived) {
    l.tile_width = std::max<std::int64_t>(0, l.tile_width - l.border);
    l.tile_height = std::max<std::int64_t>(0, l.tile_height - l.border);
  }
}

// 10. Columns and rows: enough tiles to cover the final size, the last gap
// allowed to fall on the edge. "Mosaic Size" adaptation keeps whole tiles only
// and shrinks the final size to them; there n tiles need n - 1 gaps, so they
// are counted on the final size plus one border: a bordered size that already
// holds whole tiles keeps them all instead of losing a column or a row each
// time the step runs.
void grid_step(StepState& s) {
  MosaicLayout& l = s.layout;
  if (l.tile_width <= 0 || l.tile_height <= 0) return;  // the step fails below; nothing to divide by
  const std::int64_t step_x = l.tile_width + l.border;
  const std::int64_t step_y = l.tile_height + l.border;
  if (s.params.tile_adaptation == kAdaptMosaicSize) {
    l.columns = std::max<std::int64_t>(1, l.grid_width() / step_x);
    l.rows = std::max<std::int64_t>(1, l.grid_height() / step_y);
    l.final_width = step_x * l.columns - l.border;
    l.final_height = step_y * l.rows - l.border;
  } else {
    l.columns = (l.final_width + step_x - 1) / step_x;
    l.rows = (l.final_height + step_y - 1) / step_y;
  }
}

// 11. Video frames: widths in steps of 8, heights in steps of 4, as the codecs want.
void video_rounding_step(StepState& s) {
  if (!is_video_format(s.params.output_format)) return;
  s.layout.final_width -= s.layout.final_width % 8;
  s.layout.final_height -= s.layout.final_height % 4;
}

// 12. Counts and pixel totals.
void totals_step(StepState& s) {
  MosaicLayout& l = s.layout;
  l.cell_count = l.columns * l.rows;
  l.final_pixels = l.final_width * l.final_height;
  l.tile_pixels = l.tile_width * l.tile_height;
}

// 13. What keeps the layout from being used.
void message_step(StepState& s) {
  MosaicLayout& l = s.layout;
  if (l.image_width <= 0 || l.image_height <= 0) {
    l.message = tr(kAddImageMessage);
  } else if (l.mask_file == 0 &&
             (l.tile_width == 0 || l.tile_height == 0 || l.final_width == 0 || l.final_height == 0)) {
    l.message = tr(kSpecifyAllParametersMessage);
  }
}

}  // namespace

// ---- Conversions ------------------------------------------------------------

std::optional<double> convert_unit(double value, UnitCode from, UnitCode to, double ppi, double tile_pixels) {
  if (from == to && from != kUnitNone) return value;
  if (is_resolution(from) && is_resolution(to)) return value;
  if (const double f = bytes_per_unit(from), t = bytes_per_unit(to); f > 0 || t > 0) {
    if (!(f > 0) || !(t > 0)) return std::nullopt;
    return value * f / t;
  }
  if (const double f = cm_per_unit(from), t = cm_per_unit(to); f > 0 && t > 0) return value * f / t;
  // Everything else meets at pixels.
  const auto pixels = to_pixels(value, from, ppi, tile_pixels);
  if (!pixels) return std::nullopt;
  return from_pixels(*pixels, to, ppi, tile_pixels);
}

bool is_upright_pattern(PatternCode p) {
  return p == PatternCode::mixed_1to1 || is_pattern_between(p, PatternCode::mixed_2to1, PatternCode::mixed_b_1to1) ||
         is_pattern_between(p, PatternCode::mixed_b_2to1, PatternCode::mixed_b_5to1) ||
         is_pattern_between(p, PatternCode::parquet_1to2, PatternCode::portrait_5_rows);
}

// ---- The layout -------------------------------------------------------------

bool compute_layout(const MosaicParameters& params, std::int64_t image_width, std::int64_t image_height,
                    MosaicLayout& layout) {
  layout = MosaicLayout{};
  // No picture this program loads is larger; anything else counts as none.
  const bool image_fits = image_width > 0 && image_height > 0 && image_width <= kMaxLayoutSide &&
                          image_height <= kMaxLayoutSide;
  layout.image_width = image_fits ? image_width : 0;
  layout.image_height = image_fits ? image_height : 0;
  StepState s{params, layout};

  // 1. The split shares travel with the layout.
  layout.half_share = params.half_tiles;
  layout.quarter_share = params.quarter_tiles;
  resolution_step(s);
  tile_length_step(s);
  maximum_size_step(s);
  final_size_step(s);
  tile_count_step(s);
  mask_file_step(s);
  tile_shape_step(s);
  border_step(s);
  grid_step(s);
  video_rounding_step(s);
  totals_step(s);
  message_step(s);

  return layout.usable();
}

bool compute_layout(const MosaicParameters& params, std::int64_t image_width, std::int64_t image_height,
                    MosaicLayout& layout, Prompt& report) {
  if (compute_layout(params, image_width, image_height, layout)) return true;
  report.message(report.has_window() ? layout.message : command_line_layout_message(layout), Icon::warning);
  return false;
}

std::string command_line_layout_message(const MosaicLayout& layout) {
  if (layout.image_width <= 0 || layout.image_height <= 0)
    return tr("no main image this program can use: give a JPEG or PNG picture as IMAGE");
  return format(tr("a main image of %ld x %ld pixels gives a mosaic of %ld x %ld pixels with tiles of %ld x %ld: set "
                   "another mosaic or tile size with --set, or use a picture of less extreme proportions"),
                static_cast<long>(layout.image_width), static_cast<long>(layout.image_height),
                static_cast<long>(layout.final_width), static_cast<long>(layout.final_height),
                static_cast<long>(layout.tile_width), static_cast<long>(layout.tile_height));
}

// ---- Cell counts ------------------------------------------------------------

std::int64_t count_grid_cells(const MosaicLayout& layout, PatternCode) { return layout.columns * layout.rows; }

LayoutCells grid_layout_cells(const MosaicLayout& layout, PatternCode) {
  LayoutCells cells;
  cells.cells = layout.columns * layout.rows;
  cells.columns = layout.columns;
  cells.rows = layout.rows;
  cells.cell_width = layout.tile_width;
  cells.cell_height = layout.tile_height;
  return cells;
}

SplitPlan plan_splits(std::int64_t cells, std::int32_t half_share, std::int32_t quarter_share) {
  SplitPlan plan;
  if (cells <= 0 || half_share >= 16 || quarter_share >= 16) return plan;
  plan.quarter_cells = cells * std::max(0, quarter_share) / 100;
  plan.half_cells = cells * std::max(0, half_share) / 100;
  return plan;
}

TileCounts count_tiles(const MosaicLayout& layout, PatternCode pattern, const CellCounter& counter) {
  TileCounts counts;
  counts.cells = std::max<std::int64_t>(0, counter ? counter(layout, pattern) : count_grid_cells(layout, pattern));
  counts.split = plan_splits(counts.cells, layout.half_share, layout.quarter_share);
  return counts;
}

// ---- File size estimate -----------------------------------------------------

double jpeg_bytes_per_pixel(std::int32_t quality) {
  if (quality <= 40) return 0.095;
  if (quality <= 60) return 0.1312;
  if (quality <= 80) return 0.21;
  if (quality <= 95) return 0.476;
  return 0.942;
}

std::optional<double> estimate_file_size(OutputFormatCode format, std::int32_t jpeg_quality, bool transparency,
                                         bool layers, std::int64_t layer_count, std::int64_t width,
                                         std::int64_t height) {
  const OutputFormat* row = find_output_format(format);
  if (row == nullptr) return std::nullopt;
  const SizeEstimate& estimate = row->size;
  double factor = 0;
  double base = 0;
  switch (estimate.rule) {
    case SizeRule::unknown: return std::nullopt;  // the video formats
    case SizeRule::jpeg_quality: factor = jpeg_bytes_per_pixel(jpeg_quality); break;
    case SizeRule::per_pixel_or_layers:
      if (layers) {
        const PixelCost& cost = transparency ? estimate.layered_transparent : estimate.layered;
        factor = cost.factor;
        base = estimate.base_per_layer * static_cast<double>(layer_count) + cost.base;
        break;
      }
      [[fallthrough]];
    case SizeRule::per_pixel: {
      const PixelCost& cost = transparency ? estimate.transparent : estimate.flat;
      factor = cost.factor;
      base = cost.base;
      break;
    }
  }
  return static_cast<double>(width) * static_cast<double>(height) * factor + base;
}

std::string format_byte_count(double bytes) {
  const double gigabyte = bytes_per_unit(kUnitGigabyte);
  const double megabyte = bytes_per_unit(kUnitMegabyte);
  if (bytes >= gigabyte) return format_value(bytes / gigabyte, kUnitGigabyte);
  if (bytes >= megabyte) return format_value(bytes / megabyte, kUnitMegabyte);
  return format_value(std::floor(bytes), kUnitByte);
}

// ---- The size box -----------------------------------------------------------

std::string SizePreset::text() const { return label != nullptr ? tr(label) : format_size(size); }

const std::vector<SizePreset>& mosaic_size_presets() {
  static const std::vector<SizePreset> presets = [] {
    auto square = [](double side, UnitCode unit) { return SizePreset{nullptr, {side, side, unit}}; };
    auto free_entry = [](UnitCode unit) { return SizePreset{nullptr, {kValueNotSet, kValueNotSet, unit}}; };
    std::vector<SizePreset> p{
        {N_("Letter/A4"), {29, 21, kUnitCm}},
        {N_("A3"), {42, 29, kUnitCm}},
        square(20, kUnitInch),
        square(3, kUnitFoot),
        square(6, kUnitFoot),
        square(50, kUnitCm),
        square(1, kUnitMeter),
        square(2, kUnitMeter),
        square(5000, kUnitPixel),
        square(10000, kUnitPixel),
        square(50, kUnitMegapixel),
        square(100, kUnitMegapixel),
        square(200, kUnitMegapixel),
        square(500, kUnitMegapixel),
        square(10000, kUnitMegapixel),
        square(30, kUnitTiles),
        square(50, kUnitTiles),
        free_entry(kUnitCm),
        free_entry(kUnitInch),
        free_entry(kUnitFoot),
        free_entry(kUnitMeter),
        free_entry(kUnitPixel),
        free_entry(kUnitMegapixel),
        free_entry(kUnitTiles),
        // 1980, not 1920: the entry has always offered this width.
        {N_("Video SD 480p"), {852, 480, kUnitPixel}},
        {N_("Video HD 720p"), {1280, 720, kUnitPixel}},
        {N_("Video HD 1080p"), {1980, 1080, kUnitPixel}},
        {N_("www x hhh \""), {kValueNotSet, kValueNotSet, kUnitInch}},
        {N_("MaskFile"), kMaskFileSize},
    };
    return p;
  }();
  return presets;
}

}  // namespace tess
