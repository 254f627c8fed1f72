#include "engine/image_gaps.hpp"

#include <utility>

#include "base/prompt.hpp"
#include "engine/cell_analysis.hpp"
#include "engine/mosaic_builder.hpp"
#include "engine/pattern_generator.hpp"
#include "engine/run_plan.hpp"
#include "engine/score_tables.hpp"
#include "settings/geometry.hpp"

namespace tess {

ImageGapsResult measure_image_gaps(const RunPlan& plan, int threads, Prompt& prompt) {
  ImageGapsResult result;
  const auto fail = [&result](std::string reason) {
    result.reason = std::move(reason);
    return std::move(result);
  };
  if (plan.run.main_images.empty()) return fail("no main image");
  if (plan.run.layout.mask_file != 0) return fail("mask-file mosaics take their cells from a mask: the report needs a pattern");

  // 1. The main image, as the run loads it.
  Foto& image = result.image;
  if (!image.load(plan.run.main_images.front(), 0, 0).ok_or_show(prompt)) return fail("the main image cannot be read");
  if (plan.list.black_and_white()) image.to_greyscale();

  // 2. The cells of the run, analysed as the run analyses them.
  MosaicBuilder builder(prompt);
  builder.parameters = plan.parameters;
  builder.tile_list = &plan.list;
  MosaicLayout layout;
  if (!compute_layout(builder.parameters, image.width(), image.height(), layout, prompt))
    return fail("the mosaic's parameters cannot make a mosaic");
  const bool adapt = builder.parameters.tile_adaptation == kAdaptMosaicSize;
  if (!build_cells_from_pattern(builder, pattern_input(layout, builder.parameters.pattern)) ||
      !analyse_cells(builder, image, adapt, false, threads))
    return fail("the main image gives no cells");

  // 3. Each cell in main-image pixels, with its colour.
  const PuzzleGrid& grid = builder.grid;
  const double scale =
      analysis_scale(image.width(), image.height(), grid.grid_width(), grid.grid_height(), adapt) / grid.pixel_scale();
  std::vector<GapCell> cells;
  cells.reserve(grid.size());
  for (const auto& cell : grid.cells()) {
    GapCell gap;
    gap.colour = lab_of_pixel(cell->signature.overall());
    gap.x = cell->left * scale;
    gap.y = cell->top * scale;
    gap.width = cell->width * scale;
    gap.height = cell->height * scale;
    gap.portrait = cell->signature.portrait != 0;
    cells.push_back(gap);
  }

  // 4. The tiles that may fill each orientation of cell, by the run's variants.
  const ColourIndex landscape(list_colours(plan.list, TileShape::landscape));
  const ColourIndex portrait(list_colours(plan.list, TileShape::portrait));
  const TileVariantFlags variants = builder.parameters.tile_variants;
  result.gaps = match_cells(std::move(cells), landscape, portrait, [variants](bool cell_portrait, bool tile_portrait) {
    return allowed_comparisons(variants, cell_portrait, tile_portrait) != 0;
  });
  result.ok = true;
  return result;
}

}  // namespace tess
