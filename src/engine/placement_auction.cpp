// SPDX-License-Identifier: GPL-3.0-or-later
// Experimental: the best assignment without duplicates, each empty cell
// given at most one unused tile, each tile at most one cell.

#include <algorithm>
#include <atomic>
#include <memory>
#include <vector>

#include "base/text.hpp"
#include "engine/assignment.hpp"
#include "engine/job_pool.hpp"
#include "engine/mosaic_builder.hpp"
#include "engine/placement.hpp"
#include "engine/placement_common.hpp"
#include "engine/score_kernel.hpp"
#include "engine/score_tables.hpp"
#include "engine/score_tile.hpp"
#include "tilelist/foto_info.hpp"

namespace tess {
namespace {

/// Tiles of a cell's list the solve sees at first. The best assignment
/// mostly gives a cell one of its few best tiles; a cell whose list proves
/// too short for that shows the solve four times as many and it solves again.
constexpr std::size_t kFirstOffer = 16;
constexpr std::size_t kOfferGrowth = 4;
/// Tiles a cell's list keeps from its first scan of every tile, at most one
/// in kFirstListShare of them. Cells that look alike (a clear sky) all want
/// the same tiles and need long lists, and a second scan costs as much as
/// the first; but the list's dearest tile bounds the kernel, and a bound
/// that lets many tiles through makes every scan slow. On 2,000 photographs
/// a first list of 125 (one in 16) did best, 62 cost a fifth more at colour
/// change 30; on 10,000, 256 beat 128 and 512.
constexpr std::size_t kFirstListLength = 256;
constexpr std::size_t kFirstListShare = 16;
/// How much longer a list gets when the solve has been shown all of it.
constexpr std::size_t kListGrowth = 4;
/// Tile scorings per job while the lists are built.
constexpr std::size_t kScoringsPerJob = 20'000;

/// The best assignment without duplicates: each empty cell lists its best
/// unused tiles, the assignment that fills the most cells at the least total
/// score over those lists is solved, and the solve's potentials tell which
/// cells an unlisted tile could still improve; their lists grow until none
/// could, so the result is the best over every tile.
class ExperimentalPlacement {
 public:
  ExperimentalPlacement(MosaicBuilder& builder, const ScoreTables& tables, TileUseState& uses,
                        const PlacementSetup& setup)
      : m_builder(builder), m_grid(builder.grid), m_tables(tables), m_uses(uses), m_setup(setup) {}

  /// False when a scoring job failed (reported): a cell without its list
  /// would be passed over, so nothing is placed and the stage fails.
  [[nodiscard]] bool run() {
    // 1. Cells and tiles: the tiles already in cells stay where they are.
    m_uses.count_uses(m_grid);
    for (std::size_t i = 0; i < m_uses.size(); ++i) {
      m_uses[i].exhausted = 0;
      if (m_uses[i].use_count == 0) m_tiles.push_back(i);
    }
    for (const auto& cell : m_grid.cells()) {
      if (is_open(*cell) && cell->tile == nullptr) m_cells.push_back(cell.get());
    }
    // Scoring a cell's list and placing its tile count one step each.
    m_builder.begin_progress_stage(kStagePlacement,
                                   2.0 * static_cast<double>(std::max<std::size_t>(m_cells.size(), 1)));
    if (m_cells.empty() || m_tiles.empty()) return true;
    m_lists.resize(m_cells.size());
    m_floors.assign(m_cells.size(), kCompleteRow);
    const std::size_t first_length = std::clamp(m_tiles.size() / kFirstListShare, kFirstOffer, kFirstListLength);
    m_lengths.assign(m_cells.size(), std::min(first_length, m_tiles.size()));
    m_offers.assign(m_cells.size(), kFirstOffer);
    m_scored = std::make_unique<std::atomic<bool>[]>(m_cells.size());
    JobPool pool;
    pool.start_threads(std::max(1, m_setup.threads) - 1, m_setup.priority);
    JobQueue queue(pool);
    if (!m_builder.jobs_succeeded(fill_bank(
            m_bank, m_tables, m_tiles.size(), [this](std::size_t i) -> const TileSignature& { return signature(i); }, queue)))
      return false;

    // 2. Every cell's list. A stop here places what the finished lists give.
    std::vector<std::size_t> pending(m_cells.size());
    for (std::size_t j = 0; j < pending.size(); ++j) pending[j] = j;
    if (!score_lists(queue, pending, 0)) {
      if (m_failed) return false;
      m_builder.clear_stop();
      place(greedy_from_lists());
      return true;
    }
    // 3. Solve; grow the lists that may hide a better tile and solve again.
    //    Each solve is the best over longer lists, so a stop keeps the last.
    //    Lists only grow, so each solve goes on from the one before and
    //    places again only the cells the new tiles could improve.
    AssignmentStart start;
    for (long round = 1;; ++round) {
      SparseAssignment solved = solve_sparse_assignment(
          sparse_costs(),
          [this, round](std::size_t placed) {
            if (m_builder.status_refresh_requested()) publish(round, placed);
            return !m_builder.stop_requested();
          },
          &start);
      if (solved.stopped) {
        m_builder.clear_stop();
        place(m_best.empty() ? solved.column_of_row : m_best);
        return true;
      }
      m_best = std::move(solved.column_of_row);
      start = std::move(solved.start);
      m_best_filled = static_cast<std::size_t>(
          std::count_if(m_best.begin(), m_best.end(), [](std::uint32_t tile) { return tile != kNoColumn; }));
      if (solved.unproven_rows.empty()) break;
      std::vector<std::size_t> rescan;
      for (const std::size_t j : solved.unproven_rows) {
        if (m_offers[j] >= m_lists[j].size()) {
          m_lengths[j] = std::min(m_lengths[j] * kListGrowth, m_tiles.size());
          rescan.push_back(j);
        }
        m_offers[j] *= kOfferGrowth;
      }
      if (!score_lists(queue, rescan, round + 1)) {
        if (m_failed) return false;
        m_builder.clear_stop();
        break;
      }
    }
    place(m_best);
    return true;
  }

 private:
  /// The signature of unused tile `t` (an index into m_tiles).
  const TileSignature& signature(std::size_t t) const { return m_uses[m_tiles[t]].tile->signature; }

  struct Candidate {
    std::uint32_t score;
    std::uint32_t tile;  // index into m_tiles
    // Ties go to the tile earlier in the list, so the lists never depend on timing.
    friend auto operator<=>(const Candidate&, const Candidate&) = default;
  };

  /// Builds the lists of the cells `which` on every thread; `round` 0 is the
  /// first build, later ones regrow lists while a solve stands. False when a
  /// stop cut it short (the cells whose lists are done are marked) or a job
  /// failed (reported, m_failed set).
  bool score_lists(JobQueue& queue, const std::vector<std::size_t>& which, long round) {
    for (const std::size_t j : which) m_scored[j] = false;
    const std::size_t per_job = std::max<std::size_t>(1, kScoringsPerJob / m_tiles.size());
    std::atomic<std::size_t> done{0};
    for (std::size_t first = 0; first < which.size(); first += per_job) {
      if (m_builder.stop_requested()) break;
      const std::size_t end = std::min(first + per_job, which.size());
      queue.submit([this, &which, &done, first, end] {
        for (std::size_t k = first; k < end; ++k) {
          if (m_builder.stop_requested()) return;
          score_list(which[k]);
          done.fetch_add(1, std::memory_order_relaxed);
        }
      });
      if (!m_builder.status_refresh_requested()) continue;
      if (round == 0) {
        m_builder.set_status(format(tr("Analyzing Mosaic Tile#: %d of %d"),
                                    static_cast<int>(done.load(std::memory_order_relaxed)),
                                    static_cast<int>(which.size())));
      } else {
        publish(round, m_best_filled);
      }
    }
    if (!m_builder.jobs_succeeded(queue.wait_all())) {
      m_failed = true;
      return false;
    }
    if (round == 0) m_builder.add_progress(static_cast<double>(done.load()));
    return !m_builder.stop_requested();
  }

  /// The cell's best tiles, cheapest first. The tile at the top of the heap
  /// bounds the kernel, so a tile that cannot make the list is given up on
  /// early; every tile left out scores at least the dearest one kept.
  void score_list(std::size_t j) {
    const PuzzleInfo& cell = *m_cells[j];
    const CellScorer scorer(m_tables, cell.signature, cell.priority);
    const std::size_t keep = m_lengths[j];
    std::vector<Candidate>& list = m_lists[j];
    list.clear();
    list.reserve(keep);
    if (keep < m_tiles.size()) {
      // The tiles with the smallest lower bounds first: the list is the
      // same, and most tiles are proven out unread.
      keep_best_tiles(
          scorer, CellBound(m_tables, cell.signature, cell.priority), m_bank, keep, kNoBound,
          [](std::size_t) { return true; },
          [this](std::size_t t) -> const TileSignature& { return signature(t); }, list);
    }
    for (std::size_t t = 0; t < m_tiles.size() && keep >= m_tiles.size(); ++t) {
      const bool full = list.size() == keep;
      const std::uint32_t bound = full ? list.front().score : kNoBound;
      const std::uint32_t score = scorer.score(signature(t), bound).score;
      if (score == kScoreUnusable) continue;
      if (!full) {
        list.push_back({score, static_cast<std::uint32_t>(t)});
        std::push_heap(list.begin(), list.end());
      } else if (score < list.front().score) {
        std::pop_heap(list.begin(), list.end());
        list.back() = {score, static_cast<std::uint32_t>(t)};
        std::push_heap(list.begin(), list.end());
      }
    }
    const bool complete = list.size() < keep || keep == m_tiles.size();
    m_floors[j] = complete ? kCompleteRow : list.front().score;
    std::sort_heap(list.begin(), list.end());
    m_scored[j] = true;
  }

  SparseCosts sparse_costs() const {
    SparseCosts costs(m_tiles.size());
    for (std::size_t j = 0; j < m_cells.size(); ++j) {
      // Every tile the solve is not shown scores at least the first one kept back.
      const std::vector<Candidate>& list = m_lists[j];
      const std::size_t shown = std::min(m_offers[j], list.size());
      costs.add_row(shown < list.size() ? list[shown].score : m_floors[j]);
      for (std::size_t k = 0; k < shown; ++k) costs.add_arc(list[k].tile, list[k].score);
    }
    return costs;
  }

  /// What the finished lists give when a stop came before any solve: each
  /// cell in grid order takes its best tile still free.
  std::vector<std::uint32_t> greedy_from_lists() const {
    std::vector<std::uint32_t> chosen(m_cells.size(), kNoColumn);
    std::vector<std::uint8_t> taken(m_tiles.size(), 0);
    for (std::size_t j = 0; j < m_cells.size(); ++j) {
      if (!m_scored[j]) continue;
      for (const Candidate& c : m_lists[j]) {
        if (taken[c.tile] != 0) continue;
        taken[c.tile] = 1;
        chosen[j] = c.tile;
        break;
      }
    }
    return chosen;
  }

  /// "Improving" once the last solve fills every cell or uses every tile.
  void publish(long round, std::size_t placed) {
    if (m_best_filled < std::min(m_cells.size(), m_tiles.size())) {
      m_builder.set_status(format(tr("Adding Tile#: %ld of %ld (#%ld, %ld)"), static_cast<long>(placed),
                                  static_cast<long>(m_cells.size()), round, static_cast<long>(placed)));
    } else {
      // A stop here keeps the best placement and saves it: the window's
      // Mosaic button, Ctrl+C on the command line.
      const char* text = m_builder.prompt().has_window()
                             ? N_("Improving Quality. Press Mosaic button to Stop&&Save (#%ld, %ld).")
                             : N_("Improving Quality. Press Ctrl+C to stop and save (#%ld, %ld).");
      m_builder.set_status(format(tr(text), round, static_cast<long>(placed)));
    }
  }

  /// The assignment goes into the cells with the tiles' unbounded scores.
  void place(const std::vector<std::uint32_t>& chosen) {
    for (std::size_t j = 0; j < chosen.size() && j < m_cells.size(); ++j) {
      if (chosen[j] == kNoColumn) continue;
      TileUse& use = m_uses[m_tiles[chosen[j]]];
      PuzzleInfo& cell = *m_cells[j];
      const TileScore s = score_tile(m_tables, cell.signature, cell.priority, use.tile->signature);
      if (s.score == kScoreUnusable) continue;  // never listed; kept as a guard
      cell.tile = use.tile;
      cell.score = s.score;
      use.use_count = 1;
      m_builder.add_progress(1);
      m_builder.refresh_sketch();
    }
  }

  MosaicBuilder& m_builder;
  PuzzleGrid& m_grid;
  const ScoreTables& m_tables;
  TileUseState& m_uses;
  const PlacementSetup& m_setup;
  std::vector<PuzzleInfo*> m_cells;  // the empty cells in grid order: the rows
  std::vector<std::size_t> m_tiles;  // the unused tiles' indexes: the columns
  TileBoundBank m_bank;              // of the unused tiles, in that order
  std::vector<std::vector<Candidate>> m_lists;
  std::vector<std::uint64_t> m_floors;  // what every tile left out of a list scores at least
  std::vector<std::size_t> m_lengths;  // tiles a scan keeps
  std::vector<std::size_t> m_offers;   // tiles of the list the solve is shown
  std::unique_ptr<std::atomic<bool>[]> m_scored;  // written by the jobs
  std::vector<std::uint32_t> m_best;  // the last solve's tile per cell
  std::size_t m_best_filled = 0;
  bool m_failed = false;  ///< a scoring job failed (reported): nothing is placed
};

}  // namespace

bool place_by_auction(MosaicBuilder& builder, const ScoreTables& tables, TileUseState& uses,
                      const PlacementSetup& setup) {
  return ExperimentalPlacement(builder, tables, uses, setup).run();
}

}  // namespace tess
