#pragma once
// The list against a main image: the image is cut into the cells a run of
// the plan would cut it into and analysed as that run analyses it, then each
// cell is matched with the nearest tile that may fill it. The plan comes from
// prepare_run(), so the report sees the parameters a mosaic would use.

#include <string>

#include "images/foto.hpp"
#include "tilelist/colour_gaps.hpp"

namespace tess {

class Prompt;
struct RunPlan;

struct ImageGapsResult {
  bool ok = false;
  /// A short English reason when not ok (a message already went through the
  /// prompt where the loader or the layout gave one).
  std::string reason;
  ImageGaps gaps;
  /// The main image as analysed (grey for a black-and-white list).
  Foto image;
};

/// Measures the plan's list against its first main image. Mask-file
/// layouts are refused: their cells come from a mask picture, not from the
/// parameters alone.
[[nodiscard]] ImageGapsResult measure_image_gaps(const RunPlan& plan, int threads, Prompt& prompt);

}  // namespace tess
