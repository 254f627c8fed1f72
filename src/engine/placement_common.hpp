// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the placement algorithms share: the bookkeeping of cells and uses that
// every one of them does, and the tiles' bound fields worked out on the job
// queue. Only the placement files and the cell split include this; the run
// reaches the algorithms through placement.hpp.

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "engine/job_pool.hpp"
#include "engine/puzzle.hpp"
#include "engine/score_bound.hpp"
#include "engine/tile_priority.hpp"
#include "settings/mosaic_parameters.hpp"

namespace tess {

/// Fills `bank` with the signatures of `count` tiles (`signature(i)`), in the
/// form `tables` compares them in, on the queue's threads: working out a
/// tile's bound fields costs about as much as scoring it for a few cells. A
/// failed job leaves tiles out of the bank.
template <class Signature>
[[nodiscard]] JobsOutcome fill_bank(TileBoundBank& bank, const ScoreTables& tables, std::size_t count,
                                    Signature signature, JobQueue& queue) {
  constexpr std::size_t kTilesPerJob = 1024;
  bank.set_perceptual(tables.perceptual());
  bank.resize(count);
  for (std::size_t first = 0; first < count; first += kTilesPerJob) {
    queue.submit([&bank, signature, first, end = std::min(count, first + kTilesPerJob)] {
      for (std::size_t i = first; i < end; ++i) bank.set(i, signature(i));
    });
  }
  return queue.wait_all();
}

/// Custom and Folder Tile Variants place variant groups, not single tiles.
inline bool holds_grouping_mode(std::int32_t processing) {
  return processing == kProcessingCustom || processing == kProcessingFolder;
}

inline std::int64_t squared_distance(const PuzzleInfo& a, const PuzzleInfo& b) {
  const std::int64_t dx = std::int64_t{a.left} - b.left;
  const std::int64_t dy = std::int64_t{a.top} - b.top;
  return dx * dx + dy * dy;
}

/// A fillable cell: active and not fixed by a loaded tile list.
inline bool is_open(const PuzzleInfo& cell) { return cell.active != 0 && cell.fixed == 0; }

/// Takes `use`'s tile into `cell` at `score`, giving up whatever the cell held.
void assign(TileUseState& uses, PuzzleInfo& cell, TileUse& use, std::uint32_t score);

/// The cell gives its tile back and is left empty with the worst score there
/// is; the tile loses that use and may be placed again.
void clear_cell(TileUseState& uses, PuzzleInfo& cell);

}  // namespace tess
