// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The warning before a run whose list cannot fill the mosaic, or whose
// pictures will not all be used. Only the run plan asks it.

#include <cstdint>
#include <string>

#include "settings/mosaic_parameters.hpp"

namespace tess {

/// The list counts and pattern facts the fill check reads.
struct FillCheckCounts {
  std::int64_t landscape_tiles = 0;
  std::int64_t portrait_tiles = 0;
  std::int64_t cells = 0;  ///< cells of the mosaic for the pattern
  bool pattern_has_landscape = true;
  bool pattern_has_portrait = false;
};

/// Whether a pattern lays landscape cells, portrait cells or both.
void pattern_orientations(PatternCode pattern, bool& landscape, bool& portrait);

/// The warning shown before a run when the list cannot fill the mosaic or
/// pictures will be left out, ending with "Do you want to continue?"; empty
/// when all is well.
std::string fill_check_text(const MosaicParameters& parameters, const FillCheckCounts& counts);

}  // namespace tess
