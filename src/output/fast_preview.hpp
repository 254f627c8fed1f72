#pragma once
// The fast preview: a small, rough picture of the finished mosaic, drawn from
// the placed tiles before the real mosaic is rendered, for a first look.

#include <cstdint>

#include "images/foto.hpp"

namespace tess {

class MosaicBuilder;

/// The preview's long side for a mosaic of `placed` tiles; 0 when there is
/// to be no preview (14,000 tiles or more).
int fast_preview_target(std::int64_t placed);

/// Draws every placed tile of the builder's grid whose picture loads, scaled
/// into `preview` ("Build Preview..."). False without a preview: the mosaic is
/// too small or has no placed tile, a stop was requested, or no more than
/// half of the tiles could be drawn.
[[nodiscard]] bool build_fast_preview(MosaicBuilder& builder, Foto& preview);

/// When the "Mosaic Preview" option is on, builds the preview and leaves it
/// as a queued picture message titled "Mosaic Preview" for whoever follows
/// the run.
void offer_fast_preview(MosaicBuilder& builder);

}  // namespace tess
