// SPDX-License-Identifier: GPL-3.0-or-later
// Faster: each tile in turn goes into every cell it improves, best gain
// first, until no tile improves anything.

#include <algorithm>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "base/text.hpp"
#include "engine/mosaic_builder.hpp"
#include "engine/placement.hpp"
#include "engine/placement_common.hpp"
#include "engine/score_kernel.hpp"
#include "engine/score_tables.hpp"
#include "tilelist/foto_info.hpp"

namespace tess {
namespace {

/// Tile names longer than this are shown by their end in the status text.
constexpr std::size_t kStatusNameLength = 50;

std::string status_name(const FotoInfo& tile) {
  const std::string name = tile.file_name();
  // Count characters, not bytes, so that a name is never cut inside one.
  std::vector<std::size_t> starts;
  for (std::size_t i = 0; i < name.size(); ++i) {
    if ((static_cast<unsigned char>(name[i]) & 0xC0) != 0x80) starts.push_back(i);
  }
  if (starts.size() <= kStatusNameLength) return name;
  return "..." + name.substr(starts[starts.size() - kStatusNameLength]);
}

bool frames_close(const FotoInfo* a, const FotoInfo* b, std::int64_t frames) {
  // Only frames cut from videos are numbered; other tiles have no neighbours in time.
  if (a == nullptr || b == nullptr || a->variant_group == 0 || b->variant_group == 0) return false;
  return std::llabs(std::int64_t{a->variant_group} - b->variant_group) <= frames;
}

class FasterPlacement {
 public:
  FasterPlacement(MosaicBuilder& builder, const ScoreTables& tables, TileUseState& uses)
      : m_builder(builder), m_grid(builder.grid), m_tables(tables), m_uses(uses) {}

  void run() {
    const std::size_t n = m_uses.size();
    // 1. Progress; empty cells have the worst score there is.
    m_builder.begin_progress_stage(kStagePlacement, static_cast<double>(std::max<std::size_t>(n, 1)));
    for (const auto& cell : m_grid.cells()) {
      if (cell->tile == nullptr) cell->score = kNoTileScore;
    }
    m_area = spacing_area(m_grid, m_builder.parameters.duplicate_spacing);
    m_frames = std::max(0, m_builder.parameters.consecutive_frames);
    m_scorers.reserve(m_grid.size());
    for (const auto& cell : m_grid.cells()) m_scorers.emplace_back(m_tables, cell->signature, cell->priority);
    for (std::size_t i = 0; i < n; ++i) m_uses[i].exhausted = 0;
    if (n == 0) return;

    // 2. The list, cyclically, until every tile has had its turn.
    std::size_t position = 0;
    while (!m_builder.stop_requested()) {
      std::size_t t = n;
      for (std::size_t step = 0; step < n; ++step) {
        const std::size_t i = (position + step) % n;
        if (m_uses[i].exhausted == 0) {
          t = i;
          break;
        }
      }
      if (t == n) break;
      if (m_builder.status_refresh_requested()) {
        m_builder.set_status(format(tr("Tile: %s..."), status_name(*m_uses[t].tile)));
      }
      if (m_frames > 0) {
        place_frame(t);
      } else {
        place_tile(t);
      }
      m_uses[t].exhausted = 1;
      m_builder.add_progress(1);
      position = t + 1;
    }
  }

 private:
  /// Cells holding a required tile's only use keep it against tiles that are not required.
  bool guarded(const PuzzleInfo& cell, const FotoInfo& tile) const {
    if (cell.tile == nullptr || cell.tile->required == 0 || tile.required != 0) return false;
    const TileUse* held = m_uses.find(cell.tile);
    return held != nullptr && held->use_count == 1;
  }

  bool too_close(const PuzzleInfo& cell, const std::vector<const PuzzleInfo*>& holding) const {
    if (m_area <= 0) return false;
    return std::any_of(holding.begin(), holding.end(),
                       [&](const PuzzleInfo* other) { return squared_distance(cell, *other) < m_area; });
  }

  // 3. Every cell the tile improves, best first, up to the tile's limit.
  void place_tile(std::size_t t) {
    TileUse& use = m_uses[t];
    const FotoInfo& tile = *use.tile;
    std::vector<std::pair<std::uint32_t, std::size_t>> candidates;
    std::vector<const PuzzleInfo*> holding;  // every cell the tile is in
    for (std::size_t c = 0; c < m_grid.size(); ++c) {
      const PuzzleInfo& cell = m_grid.cell(c);
      if (cell.tile == &tile) {
        holding.push_back(&cell);
        continue;
      }
      if (!is_open(cell) || guarded(cell, tile)) continue;
      const std::uint32_t score = m_scorers[c].score(tile.signature, cell.score).score;
      if (score < cell.score) candidates.emplace_back(score, c);
    }
    // Ascending score; among equal scores the later cell first.
    std::sort(candidates.begin(), candidates.end(), [](const auto& a, const auto& b) {
      return a.first != b.first ? a.first < b.first : a.second > b.second;
    });
    for (const auto& [score, c] : candidates) {
      if (use.use_count >= use.max_uses) break;
      PuzzleInfo& cell = m_grid.cell(c);
      // Every cell the tile holds counts, also those from an earlier turn.
      if (too_close(cell, holding)) continue;
      assign(m_uses, cell, use, score);
      holding.push_back(&cell);
    }
  }

  // 4. With consecutive frames: one cell per turn, frames of a clip kept apart.
  void place_frame(std::size_t t) {
    TileUse& use = m_uses[t];
    const FotoInfo& tile = *use.tile;
    if (use.use_count >= use.max_uses) return;
    const bool spaced = m_area > 0;

    // Without spacing every cell is a neighbour: the two best scores of cells
    // holding a close frame decide refusals for all cells at once.
    std::uint32_t close_best = kNoTileScore, close_second = kNoTileScore;
    std::size_t close_best_cell = m_grid.size();
    std::vector<const PuzzleInfo*> holding;
    for (std::size_t c = 0; c < m_grid.size(); ++c) {
      const PuzzleInfo& cell = m_grid.cell(c);
      if (cell.tile == &tile) holding.push_back(&cell);
      if (spaced || !frames_close(cell.tile, &tile, m_frames)) continue;
      if (cell.score < close_best) {
        close_second = close_best;
        close_best = cell.score;
        close_best_cell = c;
      } else if (cell.score < close_second) {
        close_second = cell.score;
      }
    }
    const auto refused = [&](std::size_t c, std::uint32_t score) {
      const PuzzleInfo& cell = m_grid.cell(c);
      if (spaced) {
        return std::any_of(cell.neighbours.begin(), cell.neighbours.end(), [&](const PuzzleInfo* other) {
          return frames_close(other->tile, &tile, m_frames) && other->score <= score;
        });
      }
      const std::uint32_t others = close_best_cell == c ? close_second : close_best;
      return others <= score;
    };

    std::size_t best_cell = m_grid.size();
    std::uint32_t best_score = kNoTileScore;
    for (std::size_t c = 0; c < m_grid.size(); ++c) {
      const PuzzleInfo& cell = m_grid.cell(c);
      if (cell.tile == &tile || !is_open(cell) || guarded(cell, tile)) continue;
      const std::uint32_t score = m_scorers[c].score(tile.signature, cell.score).score;
      if (score >= cell.score || score > best_score) continue;
      if (refused(c, score) || too_close(cell, holding)) continue;
      best_cell = c;  // equal scores: the later cell, as in step 3
      best_score = score;
    }
    if (best_cell == m_grid.size()) return;

    PuzzleInfo& taken = m_grid.cell(best_cell);
    assign(m_uses, taken, use, best_score);
    const auto evict = [&](PuzzleInfo& other) {
      if (&other != &taken && is_open(other) && frames_close(other.tile, &tile, m_frames)) clear_cell(m_uses, other);
    };
    if (spaced) {
      for (PuzzleInfo* other : taken.neighbours) evict(*other);
    } else {
      for (const auto& other : m_grid.cells()) evict(*other);
    }
    for (std::size_t i = 0; i < m_uses.size(); ++i) {
      if (i != t && frames_close(m_uses[i].tile, &tile, m_frames)) m_uses[i].exhausted = 0;
    }
  }

  MosaicBuilder& m_builder;
  PuzzleGrid& m_grid;
  const ScoreTables& m_tables;
  TileUseState& m_uses;
  std::int64_t m_area = 0;
  std::int64_t m_frames = 0;
  std::vector<CellScorer> m_scorers;
};

}  // namespace

void place_faster(MosaicBuilder& builder, const ScoreTables& tables, TileUseState& uses) {
  FasterPlacement(builder, tables, uses).run();
}

}  // namespace tess
