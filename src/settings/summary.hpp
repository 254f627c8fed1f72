#pragma once
// The parameter summary: what the mosaic will be, in the lines the main
// window shows after every change and `tessellarium summary` prints - the
// maximum and the final size, the file size to expect, the tile size, the
// border, the resolution, the grid and the tile counts - and the line on the
// loaded Tile Images List with the verdict on whether a run can start.

#include <string>
#include <vector>

#include "base/text.hpp"
#include "settings/automatic_settings.hpp"
#include "settings/geometry.hpp"
#include "settings/mosaic_parameters.hpp"

namespace tess {

inline constexpr const char* kUsingMaskFileText = N_("Using Mask File");
inline constexpr const char* kSelectTileImagesMessage =
    N_("Please select the Images to use as Tiles using Button #2 (pictures Icon)");
inline constexpr const char* kParametersCorrectText = N_("All Parameters are correct :-)");

/// The summary of `params` laid out as `layout` (compute_layout), one
/// translated line each, in order: "Mosaic Max Size: ...", "Main Image: ...",
/// then either the layout's message (when it cannot be used), "Using Mask
/// File", or "Final Mosaic: ... = ...", "File Size: ..." (formats with an
/// estimate), "Tile Size: ... = ...", "Border Size: ...", "Resolution: ...
/// PPI", "Tile Pattern: C x R = ..." and "Tile Count: F + H½ + Q¼ = ...".
/// The tiles and their size are what `cells` says the run builds; a size
/// that not every tile gets, or a count that depends on which cells the run
/// splits, is shown as "about".
std::vector<std::string> summary_lines(const MosaicParameters& params, const MosaicLayout& layout,
                                       const CellLayouter& cells = grid_layout_cells);

/// "List Type: L(L) + P(P) images", or "... videoclip" for a list that holds
/// more clips than pictures.
std::string list_type_line(const ListCounts& counts);

/// The verdict under the summary: the layout's message, else the request to
/// choose tile images when the list holds none, else "All Parameters are
/// correct :-)".
std::string validation_text(const MosaicLayout& layout, const ListCounts& counts);

}  // namespace tess
