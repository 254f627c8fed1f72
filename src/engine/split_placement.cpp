#include "engine/split_placement.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "engine/cell_analysis.hpp"
#include "engine/mosaic_builder.hpp"
#include "engine/placement_common.hpp"
#include "engine/score_kernel.hpp"
#include "engine/score_tables.hpp"
#include "engine/tile_priority.hpp"
#include "settings/advanced_options.hpp"
#include "tilelist/foto_info.hpp"

namespace tess {
namespace {

/// Shares of 16 % or more in either size turn splitting off.
constexpr std::int32_t kMaxSplitShare = 16;
/// A cell must be this much larger than the gap in both directions to be cut.
constexpr std::int32_t kMinSplitExtra = 10;

bool large_enough(const PuzzleInfo& cell, std::int32_t gap) {
  return cell.width >= gap + kMinSplitExtra && cell.height >= gap + kMinSplitExtra;
}

/// The cell gives up its tile: its shape changed, so the tile no longer
/// answers for it, and it must be analysed again.
void release(TileUseState& uses, PuzzleInfo& cell) {
  clear_cell(uses, cell);
  cell.fixed = 0;
  cell.analysed = 0;
}

}  // namespace

SplitSelection split_selection_from_words(std::string_view split_word, std::string_view area_word) {
  if (split_word == "PRIORITY") return SplitSelection::priority;
  if (split_word == "QUALITY") return SplitSelection::quality;
  if (split_word == "PRIORITY_AND_QUALITY") return SplitSelection::priority_and_quality;
  return area_word == "CUSTOM_PRIORITY" ? SplitSelection::priority : SplitSelection::quality;
}

std::uint64_t split_key(SplitSelection selection, std::uint32_t distance, std::uint8_t priority, bool border_cell,
                        bool custom_area) {
  std::uint64_t key = distance;
  switch (selection) {
    case SplitSelection::quality:
      break;
    case SplitSelection::priority:
      key = (std::uint64_t{priority} << 32) + distance;
      break;
    case SplitSelection::priority_and_quality:
      key = static_cast<std::uint64_t>((3.0 * std::sqrt(static_cast<double>(distance)) + 1.0) *
                                       std::sqrt(static_cast<double>(priority) / 20.0) * 10000.0);
      break;
  }
  if (border_cell && !custom_area) key /= 4;
  return key;
}

bool split_half_and_quarter_tiles(MosaicBuilder& builder, const ScoreTables& tables, TileUseState& uses) {
  PuzzleGrid& grid = builder.grid;
  const MosaicParameters& parameters = builder.parameters;
  // 1. The shares and the counts.
  const std::int32_t halves = parameters.half_tiles;
  const std::int32_t quarters = parameters.quarter_tiles;
  if (halves >= kMaxSplitShare || quarters >= kMaxSplitShare) return false;
  const std::int64_t cells = static_cast<std::int64_t>(grid.size());
  std::int64_t quarter_count = cells * std::max(0, quarters) / 100;
  std::int64_t half_count = cells * std::max(0, halves) / 100;
  if (quarter_count + half_count <= 0) return false;

  // 2. The selection.
  const std::string area_word = parameters.advanced.value(kOptTilePriorityArea);
  const bool custom_area = area_word == "CUSTOM_PRIORITY";
  const SplitSelection selection = split_selection_from_words(parameters.advanced.value(kOptTileSplit), area_word);
  const std::int32_t gap = static_cast<std::int32_t>(std::lround(grid.gap() * grid.pixel_scale()));

  // 3. The key of every cell large enough to cut.
  struct Candidate {
    std::uint64_t key;
    std::size_t index;
  };
  std::vector<Candidate> candidates;
  for (std::size_t i = 0; i < grid.size(); ++i) {
    const PuzzleInfo& cell = grid.cell(i);
    if (cell.active == 0 || !large_enough(cell, gap)) continue;
    std::uint32_t distance = std::numeric_limits<std::uint32_t>::max();
    if (cell.tile != nullptr) {
      distance = CellScorer(tables, cell.signature, kNeutralPriority).distance(cell.tile->signature);
    }
    const bool border = is_border_cell(cell, grid.pixel_width(), grid.pixel_height());
    candidates.push_back({split_key(selection, distance, cell.priority, border, custom_area), i});
  }
  // 4. Largest key first; equal keys in grid order, so the result is the same on every run.
  std::stable_sort(candidates.begin(), candidates.end(),
                   [](const Candidate& a, const Candidate& b) { return a.key > b.key; });

  bool split_any = false;
  for (const Candidate& candidate : candidates) {
    if (quarter_count + half_count <= 0 || builder.stop_requested()) break;
    // Cells are addressed by index: a split may move the grid's storage.
    if (!large_enough(grid.cell(candidate.index), gap)) continue;
    release(uses, grid.cell(candidate.index));
    PuzzleInfo* half = split_cell(builder, grid.cell(candidate.index), gap);
    if (half == nullptr) continue;
    split_any = true;
    release(uses, *half);
    if (quarter_count > 0) {
      --quarter_count;
      // The half is split first: splitting the kept cell may move the grid's storage.
      if (large_enough(*half, gap)) {
        if (PuzzleInfo* part = split_cell(builder, *half, gap)) release(uses, *part);
      }
      if (large_enough(grid.cell(candidate.index), gap)) {
        if (PuzzleInfo* part = split_cell(builder, grid.cell(candidate.index), gap)) release(uses, *part);
      }
    } else {
      --half_count;
    }
  }
  // 5.
  return split_any;
}

bool split_cells_as_listed(MosaicBuilder& builder, TileUseState& uses,
                           const std::function<bool(const PuzzleInfo&)>& listed,
                           bool& split_any, const PuzzleInfo** unexplained) {
  PuzzleGrid& grid = builder.grid;
  const std::int32_t gap = static_cast<std::int32_t>(std::lround(grid.gap() * grid.pixel_scale()));
  split_any = false;
  // Cells are addressed by index: a cut may move the grid's storage, and
  // the parts it adds at the end are listed or not by their own keys.
  const std::size_t cells = grid.size();
  const auto fail = [&](std::size_t index) {
    if (unexplained != nullptr) *unexplained = &grid.cell(index);
    return false;
  };
  for (std::size_t i = 0; i < cells; ++i) {
    if (grid.cell(i).active == 0 || listed(grid.cell(i))) continue;
    if (!large_enough(grid.cell(i), gap)) return fail(i);
    const std::size_t first_part = grid.size();
    release(uses, grid.cell(i));
    if (split_cell(builder, grid.cell(i), gap) == nullptr) return fail(i);
    split_any = true;
    release(uses, grid.cell(first_part));
    if (listed(grid.cell(i)) && listed(grid.cell(first_part))) continue;
    // Quarters: the half was cut first, then the kept cell.
    if (large_enough(grid.cell(first_part), gap)) (void)split_cell(builder, grid.cell(first_part), gap);
    if (large_enough(grid.cell(i), gap)) (void)split_cell(builder, grid.cell(i), gap);
    if (!listed(grid.cell(i))) return fail(i);
    for (std::size_t part = first_part; part < grid.size(); ++part) {
      release(uses, grid.cell(part));
      if (!listed(grid.cell(part))) return fail(part);
    }
  }
  return true;
}

bool place_split_cells(MosaicBuilder& builder, const ScoreTables& tables, TileUseState& uses,
                       const PlacementSetup& setup) {
  uses.count_uses(builder.grid);
  return place_tiles(builder, tables, uses, setup);
}

}  // namespace tess
