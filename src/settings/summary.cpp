#include "settings/summary.hpp"

#include <algorithm>

#include "base/text.hpp"
#include "settings/units.hpp"

namespace tess {
namespace {

SizeValue pixel_size(std::int64_t width, std::int64_t height) {
  return {static_cast<double>(width), static_cast<double>(height), kUnitPixel};
}

/// The final size in the unit the user gave the maximum size in: an area
/// stays an area ("100 megapixels"), lengths and tiles convert side by side,
/// tiles by the tile width as the maximum size did. Pixels when the unit
/// cannot be reached.
std::string final_size_in_user_unit(const MosaicParameters& params, const MosaicLayout& l) {
  const UnitCode unit = params.mosaic_size.unit;
  if (l.max_is_area) {
    if (const auto area = convert_unit(static_cast<double>(l.final_pixels), kUnitPixel, unit))
      return format_value(*area, unit);
  } else {
    const auto width = convert_unit(static_cast<double>(l.final_width), kUnitPixel, unit, l.pixels_per_inch,
                                    static_cast<double>(l.tile_width));
    const auto height = convert_unit(static_cast<double>(l.final_height), kUnitPixel, unit, l.pixels_per_inch,
                                     static_cast<double>(l.tile_width));
    if (width && height) return format_size({*width, *height, unit});
  }
  return format_size(pixel_size(l.final_width, l.final_height));
}

// A figure the run may not match exactly.
std::string about(const std::string& figure, bool estimated) {
  return estimated ? format(tr("about %s"), figure) : figure;
}

}  // namespace

std::vector<std::string> summary_lines(const MosaicParameters& params, const MosaicLayout& layout,
                                       const CellLayouter& cells) {
  std::vector<std::string> lines;
  lines.push_back(format(tr("Mosaic Max Size: %s"), format_size(params.mosaic_size)));
  const bool has_image = layout.image_width > 0 && layout.image_height > 0;
  lines.push_back(format(tr("Main Image: %s"), format_size(has_image ? pixel_size(layout.image_width, layout.image_height)
                                                                     : SizeValue{kValueNotSet, kValueNotSet, kUnitPixel})));
  if (!layout.usable()) {
    lines.push_back(layout.message);
    return lines;
  }
  if (layout.mask_file != 0) {
    lines.push_back(tr(kUsingMaskFileText));
    return lines;
  }

  const LayoutCells built = cells ? cells(layout, params.pattern) : grid_layout_cells(layout, params.pattern);
  TileCounts tiles;
  tiles.cells = std::max<std::int64_t>(0, built.cells);
  tiles.split = plan_splits(tiles.cells, layout.half_share, layout.quarter_share);
  // Which cells are split is only known once the run has placed its tiles.
  const bool split = tiles.split.half_cells > 0 || tiles.split.quarter_cells > 0;
  lines.push_back(format(tr("Final Mosaic: %s = %s"), final_size_in_user_unit(params, layout),
                         format_size(pixel_size(layout.final_width, layout.final_height))));
  // A layered Photoshop file holds a layer per tile.
  if (const auto bytes = estimate_file_size(params.output_format, params.jpeg_quality, params.output_transparency,
                                            params.output_layers, tiles.total(), layout.final_width,
                                            layout.final_height))
    lines.push_back(format(tr("File Size: %s"), format_byte_count(*bytes)));
  lines.push_back(format(tr("Tile Size: %s = %s"),
                         about(format_size(pixel_size(built.cell_width, built.cell_height)), !built.even),
                         format_value(static_cast<double>(built.cell_width * built.cell_height), kUnitPixel)));
  lines.push_back(format(tr("Border Size: %s"), format_value(static_cast<double>(layout.border), kUnitPixel)));
  lines.push_back(format(tr("Resolution: %.0lf PPI"), layout.pixels_per_inch));
  lines.push_back(format(tr("Tile Pattern: %ld x %ld = %s"), layout.columns, layout.rows,
                         format_value(static_cast<double>(layout.cell_count), kUnitTiles)));
  lines.push_back(format(tr("Tile Count: %lu + %lu½ + %lu¼ = %s"), tiles.full(), tiles.halves(), tiles.quarters(),
                         about(format_value(static_cast<double>(tiles.total()), kUnitTiles), split)));
  return lines;
}

std::string list_type_line(const ListCounts& counts) {
  const std::size_t images = counts.landscape_images + counts.portrait_images;
  const std::size_t clips = counts.landscape_clips + counts.portrait_clips;
  const std::string kinds = clips > images
                                ? format(tr("%lu(L) + %lu(P) videoclip"), counts.landscape_clips, counts.portrait_clips)
                                : format(tr("%lu(L) + %lu(P) images"), counts.landscape_images, counts.portrait_images);
  return tr("List Type:") + " " + kinds;
}

std::string validation_text(const MosaicLayout& layout, const ListCounts& counts) {
  if (!layout.usable()) return layout.message;
  const std::size_t tiles =
      counts.landscape_images + counts.portrait_images + counts.landscape_clips + counts.portrait_clips;
  if (tiles == 0) return tr(kSelectTileImagesMessage);
  return tr(kParametersCorrectText);
}

}  // namespace tess
