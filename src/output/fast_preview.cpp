#include "output/fast_preview.hpp"

#include <algorithm>

#include "base/prompt.hpp"
#include "base/text.hpp"
#include "engine/mosaic_builder.hpp"
#include "engine/puzzle.hpp"
#include "settings/advanced_options.hpp"
#include "tilelist/foto_info.hpp"

namespace tess {

int fast_preview_target(std::int64_t placed) {
  if (placed >= 14000) return 0;
  if (placed >= 8000) return 1600;
  if (placed > 5000) return 1400;
  if (placed > 2000) return 1000;
  if (placed > 500) return 500;
  return 300;
}

bool build_fast_preview(MosaicBuilder& builder, Foto& preview) {
  preview.clear();
  const PuzzleGrid& grid = builder.grid;
  const int width = grid.pixel_width();
  const int height = grid.pixel_height();
  std::int64_t placed = 0;
  for (const auto& cell : grid.cells())
    if (cell->tile != nullptr) ++placed;
  if (width < 11 || height < 11 || placed == 0) return false;
  const int target = fast_preview_target(placed);
  if (target == 0) return false;
  const double scale = std::min(static_cast<double>(target) / width, 0.8 * target / height);
  const int preview_w = static_cast<int>(width * scale);
  const int preview_h = static_cast<int>(height * scale);
  if (preview_w < 11 || preview_h < 11) return false;

  builder.set_status(tr("Build Preview..."));
  Foto canvas;
  if (!canvas.allocate_fill(preview_w, preview_h, make_pixel(0, 0, 0)).ok_or_show(builder.prompt())) return false;
  std::int64_t drawn = 0;
  for (const auto& cell : grid.cells()) {
    if (builder.stop_requested()) return false;
    if (cell->tile == nullptr) continue;
    const int x = static_cast<int>(cell->left * scale);
    const int y = static_cast<int>(cell->top * scale);
    const int w = std::max(1, static_cast<int>(cell->width * scale));
    const int h = std::max(1, static_cast<int>(cell->height * scale));
    // A rough look: the whole picture squeezed into the cell, no variant, no colour change.
    Foto picture, scaled;
    // The preview simply goes without a tile that fails.
    if (!picture.load(cell->tile->path, w, h)) continue;
    if (!picture.resample(w, h, 0, 0, 0, 0, scaled)) continue;
    canvas.paste(x, y, scaled, PasteMode::copy);
    ++drawn;
  }
  if (drawn * 2 <= placed) return false;
  preview = std::move(canvas);
  return true;
}

void offer_fast_preview(MosaicBuilder& builder) {
  if (builder.parameters.advanced.value(kOptMosaicFastPreview) == "0" ||
      builder.parameters.advanced.value(kOptMosaicFastPreview).empty())
    return;
  Foto preview;
  if (!build_fast_preview(builder, preview)) return;
  MosaicBuilder::QueuedMessage message;
  message.text = tr("Mosaic Preview");
  message.width = preview.width();
  message.height = preview.height();
  message.pixels.assign(preview.pixels(), preview.pixels() + preview.pixel_count());
  builder.queue_message(std::move(message));
}

}  // namespace tess
