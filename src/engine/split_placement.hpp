#pragma once
// Half and quarter tiles: after the first placement the cells that matter
// most (worst matched, highest priority, or both) are cut in two or in four,
// so that detail shows where the plain grid fits worst. The new cells are
// analysed by the run and then placed by a second dispatch.

#include <cstdint>
#include <functional>
#include <string_view>

#include "engine/placement.hpp"

namespace tess {

class MosaicBuilder;
class ScoreTables;
class TileUseState;

/// Which cells are split first ("Tile Split" option).
enum class SplitSelection { quality, priority, priority_and_quality };

/// The selection for the option's word; "AUTO", an empty or unknown word
/// means priority when the area priority is custom, else quality.
SplitSelection split_selection_from_words(std::string_view split_word, std::string_view area_word);

/// The order key of a cell: the larger, the earlier it is split. `distance`
/// is the plain kernel distance of the cell's tile (largest for an empty
/// cell). Cells on the mosaic's border count a quarter unless the area
/// priority is custom.
std::uint64_t split_key(SplitSelection selection, std::uint32_t distance, std::uint8_t priority, bool border_cell,
                        bool custom_area);

/// Splits cells of the builder's grid: MultiSize4 percent of the cells into
/// quarters, MultiSize2 percent into halves (nothing when either share is 16
/// or more). A split cell and its new parts lose their tile and are marked
/// unanalysed, so the run analyses them and the next dispatch fills them.
/// Whether anything was split.
[[nodiscard]] bool split_half_and_quarter_tiles(MosaicBuilder& builder, const ScoreTables& tables, TileUseState& uses);

/// Cuts the cells of the builder's grid the way an earlier run of the same
/// mosaic cut them, as told by `listed` (whether that run's placement names a
/// cell of this position and size): a cell that is not listed is cut in two,
/// or in four (the half first, then the kept cell, as the run cut them),
/// until its parts are. The cut cells give up their tiles and are left
/// unanalysed. False, with the first
/// cell that no cut explains in `unexplained`, when the placement is of
/// another mosaic. `split_any` tells whether anything was cut.
[[nodiscard]] bool split_cells_as_listed(MosaicBuilder& builder, TileUseState& uses,
                                         const std::function<bool(const PuzzleInfo&)>& listed,
                                         bool& split_any, const PuzzleInfo** unexplained);

/// The second dispatch after a split: the use counts are taken from the
/// grid, so the cells that kept their tiles count for duplicates and
/// spacing, and the empty cells are placed.
[[nodiscard]] bool place_split_cells(MosaicBuilder& builder, const ScoreTables& tables, TileUseState& uses,
                       const PlacementSetup& setup);

}  // namespace tess
