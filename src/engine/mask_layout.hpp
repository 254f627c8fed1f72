#pragma once
// Mask layouts: a picture painted with flat colours (usually a mask file the
// program wrote and the user edited) gives the cells. Each connected patch of
// one colour is a cell; white and black pixels belong to no cell, so lines
// and gaps can be drawn with them.

#include <cstdint>
#include <functional>
#include <vector>

#include "images/foto.hpp"

namespace tess {

class MosaicBuilder;

/// Two colours whose squared distance (sum over red, green and blue of the
/// squared differences) is below this count as the same.
inline constexpr int kMaskColourDistance = 193;
/// Patches of fewer pixels are dropped: they are the fringes a JPEG leaves
/// along colour edges, too small to show a tile.
inline constexpr std::int64_t kMinimumMaskRegionPixels = 16;

/// Squared colour distance of two pixels (transparency ignored).
int squared_colour_distance(std::uint32_t a, std::uint32_t b);
/// Near white, near black, or (almost) fully transparent: no cell.
bool is_mask_background(std::uint32_t pixel);

/// One patch of a mask image, in mask pixels.
struct MaskRegion {
  std::int32_t left = 0;
  std::int32_t top = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::int64_t pixel_count = 0;
  /// width × height, opaque where the patch is and kEmptyPixel elsewhere;
  /// empty when the patch fills its whole rectangle.
  Foto shape;
};

/// The patches of `mask`, in the order their first pixel comes in a scan
/// from the top row down. Labelling takes one pass over the rows with a
/// union of labels where two patches turn out to meet; a second pass draws
/// the shapes, so no label is kept per pixel. `stopped` (may be empty) is
/// asked once per row and `row_done` (may be empty) told after each row of
/// each pass. Fails when stopped (without a text) or out of memory (with it).
Status find_mask_regions(const Foto& mask, std::vector<MaskRegion>& regions, const std::function<bool()>& stopped = {},
                         const std::function<void()>& row_done = {});

/// Builds the builder's grid from a mask image: one cell per patch, each mask
/// pixel `pixel_scale` mosaic pixels wide, shapes enlarged to match. False on
/// stop, out of memory or an empty mask.
[[nodiscard]] bool build_cells_from_mask(MosaicBuilder& builder, const Foto& mask, int pixel_scale = 1);

}  // namespace tess
