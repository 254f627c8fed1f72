// SPDX-License-Identifier: GPL-3.0-or-later
// High Quality: the cells are served by regret, the cell that loses most
// when its best candidate goes elsewhere first. Each cell keeps a short list
// of its best candidates; a list that runs short is rebuilt on the job queue.

#include <algorithm>
#include <deque>
#include <memory>
#include <optional>
#include <set>
#include <utility>
#include <vector>

#include "base/text.hpp"
#include "engine/job_pool.hpp"
#include "engine/mosaic_builder.hpp"
#include "engine/placement.hpp"
#include "engine/placement_common.hpp"
#include "engine/score_kernel.hpp"
#include "engine/score_tables.hpp"
#include "engine/score_tile.hpp"
#include "settings/advanced_options.hpp"
#include "tilelist/foto_info.hpp"

namespace tess {
namespace {

/// The most entries one candidate list holds. Placement reads only the two
/// best entries of a list, and a list that runs short is refilled before it
/// is read again, so a shorter list never changes which tile goes where; it
/// trades memory and the scoring of a first pass that a long list's weak
/// bound makes slow for the occasional refill.
/// - When tiles may be used without limit, a list loses only what the cells
///   within the spacing place: short lists are seldom refilled, and their
///   last entry bounds the scoring tightly (10,000 photos, spacing 3: 16 took
///   a quarter less time than 64, 8 no less than 16).
/// - When each tile may be used a few times, every placement takes its tile
///   from every list and refills are many: longer lists pay (at most twice
///   each: 16 took a tenth more than 64; 128 saved a tenth on photographs
///   but took a fifth more on 10,000 cells and 50,000 tiles).
constexpr std::size_t kMaxListEntriesReused = 16;
constexpr std::size_t kMaxListEntriesLimited = 64;

/// The candidate lists read the tile list through this view. The list is not
/// ours to change, so an exhausted tile (or one whose variant group differs
/// from the grouping in use) is shown through a stand-in entry that carries
/// only what the rebuild reads: the group number and the exhausted flag.
class RebuildTiles {
 public:
  RebuildTiles(const TileUseState& uses, const std::vector<std::int32_t>& groups)
      : m_view(uses.tiles().begin(), uses.tiles().end()), m_exhausted(m_view.size(), 0) {
    for (std::size_t i = 0; i < m_view.size(); ++i) {
      if (!groups.empty() && m_view[i]->variant_group != groups[i]) {
        FotoInfo& copy = m_stand_ins.emplace_back(*m_view[i]);
        copy.variant_group = groups[i];
        copy.placement_flag = 0;
        m_view[i] = &copy;
      } else if (m_view[i]->placement_flag != 0) {
        FotoInfo& copy = m_stand_ins.emplace_back(*m_view[i]);
        copy.placement_flag = 0;
        m_view[i] = &copy;
      }
    }
  }

  void exhaust(std::size_t index) {
    if (m_view[index]->placement_flag != 0) return;
    FotoInfo& stand_in = m_stand_ins.emplace_back();
    stand_in.variant_group = m_view[index]->variant_group;
    stand_in.placement_flag = 1;
    m_view[index] = &stand_in;
    m_exhausted[index] = 1;
  }

  std::span<const FotoInfo* const> view() const { return m_view; }
  /// The view's placement flags, packed.
  std::span<const std::uint8_t> exhausted() const { return m_exhausted; }

 private:
  std::vector<const FotoInfo*> m_view;
  std::vector<std::uint8_t> m_exhausted;
  std::deque<FotoInfo> m_stand_ins;  // a deque keeps every stand-in where it is
};

/// Pending lists by regret, largest first; equal regrets go by cell order so
/// that the order never depends on timing.
struct PendingOrder {
  bool operator()(const std::pair<std::uint32_t, std::size_t>& a,
                  const std::pair<std::uint32_t, std::size_t>& b) const {
    if (a.first != b.first) return a.first > b.first;
    return a.second < b.second;
  }
};

class HighQualityPlacement {
 public:
  HighQualityPlacement(MosaicBuilder& builder, const ScoreTables& tables, TileUseState& uses,
                       const PlacementSetup& setup, bool grouped)
      : m_builder(builder),
        m_grid(builder.grid),
        m_tables(tables),
        m_uses(uses),
        m_setup(setup),
        m_grouped(grouped),
        m_groups(grouped ? variant_group_numbers(uses, builder.parameters.processing) : std::vector<std::int32_t>{}),
        m_tiles(uses, m_groups) {}

  /// False when a job failed (reported): the cells are left as they were
  /// filled so far, and the stage fails.
  [[nodiscard]] bool run() {
    prepare_keys();
    // 1. Progress.
    m_builder.begin_progress_stage(kStagePlacement, 3.0 * static_cast<double>(m_grid.size()));
    // 2. Memory budget.
    m_entries = candidate_entry_budget(m_grid, m_uses.size(), m_builder.parameters.advanced.value(kOptMemoryMaxSize));
    m_area = spacing_area(m_grid, m_builder.parameters.duplicate_spacing);
    collect_cells();
    if (m_cells.empty()) return true;
    JobPool pool;
    pool.start_threads(std::max(1, m_setup.threads) - 1, m_setup.priority);
    JobQueue queue(pool);
    if (!m_builder.jobs_succeeded(fill_bank(
            m_bank, m_tables, m_uses.size(),
            [this](std::size_t i) -> const TileSignature& { return m_uses.tiles()[i]->signature; }, queue)))
      return false;

    // 3. First pass.
    if (!first_pass(queue)) return !m_failed;
    // 4. Everything pending, largest regret first.
    for (std::size_t j = 0; j < m_lists.size(); ++j) push_pending(j);
    // 5. Place until nothing is pending.
    place_loop(queue);
    return !m_failed;
  }

 private:
  ScoreKey key_of(std::size_t tile) const {
    return m_grouped ? static_cast<ScoreKey>(m_groups[tile]) : static_cast<ScoreKey>(tile);
  }

  // The tiles of each key, and how often each key is used already: cells
  // holding a tile count, so a second dispatch respects the first.
  void prepare_keys() {
    const std::size_t key_count =
        m_grouped ? (m_groups.empty() ? 1 : static_cast<std::size_t>(m_groups.back()) + 1) : m_uses.size();
    m_key_first.assign(key_count + 1, 0);
    m_key_uses.assign(key_count, 0);
    if (m_grouped) {
      for (std::size_t i = 0; i < m_groups.size(); ++i) ++m_key_first[static_cast<std::size_t>(m_groups[i]) + 1];
      for (std::size_t k = 1; k <= key_count; ++k) m_key_first[k] += m_key_first[k - 1];
    } else {
      for (std::size_t k = 0; k <= key_count; ++k) m_key_first[k] = k;
    }
    for (std::size_t i = 0; i < m_uses.size(); ++i) {
      m_uses[i].exhausted = 0;
      m_key_uses[key_of(i)] += m_uses[i].use_count;
    }
    for (std::size_t i = 0; i < m_uses.size(); ++i) {
      if (m_key_uses[key_of(i)] >= m_uses[i].max_uses) exhaust_key(key_of(i));
    }
  }

  void exhaust_key(ScoreKey key) {
    for (std::size_t i = m_key_first[key]; i < m_key_first[key + 1]; ++i) {
      m_uses[i].exhausted = 1;
      m_tiles.exhaust(i);
    }
  }

  void collect_cells() {
    for (std::size_t c = 0; c < m_grid.size(); ++c) {
      PuzzleInfo& cell = m_grid.cell(c);
      if (cell.active == 0) continue;
      if (cell.tile != nullptr) {
        if (m_area > 0) {
          if (const auto index = m_uses.index_of(cell.tile)) m_placed.push_back({cell.left, cell.top, key_of(*index)});
        }
        continue;
      }
      if (cell.fixed != 0) continue;
      m_cells.push_back(&cell);
    }
  }

  RebuildInfo rebuild_info() const {
    RebuildInfo info;
    info.tables = &m_tables;
    info.tiles = m_tiles.view();
    info.group_keys = m_grouped;
    info.bank = &m_bank;
    info.exhausted = m_tiles.exhausted();
    info.placed = m_placed;
    info.spacing_area = m_area;
    return info;
  }

  /// The most entries a list may hold in this run.
  std::size_t most_list_entries() const {
    for (std::size_t i = 0; i < m_uses.size(); ++i) {
      if (m_uses[i].max_uses != kUnlimitedUses) return kMaxListEntriesLimited;
    }
    return kMaxListEntriesReused;
  }

  bool first_pass(JobQueue& queue) {
    const std::size_t count = m_cells.size();
    m_most_entries = most_list_entries();
    const std::size_t capacity = std::min(
        std::clamp<std::size_t>(m_entries / (count + 1), 2, std::max<std::size_t>(count + 1, 2)), m_most_entries);
    m_lists.reserve(count);
    m_complete.assign(count, 0);
    m_in_pending.assign(count, 0);
    m_pending_regret.assign(count, 0);
    const RebuildInfo info = rebuild_info();
    for (std::size_t j = 0; j < count; ++j) {
      if (m_builder.stop_requested()) break;
      const PuzzleInfo& cell = *m_cells[j];
      m_lists.push_back(
          std::make_unique<CScoreTile>(ScoreCell{&cell.signature, &cell.priority, cell.left, cell.top}, capacity));
      submit_rebuild(queue, *m_lists.back(), info);
      m_builder.add_progress(2);
      if (m_builder.status_refresh_requested()) {
        m_builder.set_status(
            format(tr("Analyzing Mosaic Tile#: %d of %d"), static_cast<int>(j + 1), static_cast<int>(count)));
      }
    }
    // A list whose rebuild failed would pass its cell over.
    if (!m_builder.jobs_succeeded(queue.wait_all())) m_failed = true;
    if (m_failed || m_builder.stop_requested()) return false;
    m_lists_of_key.assign(m_key_uses.size(), {});
    for (std::size_t j = 0; j < m_lists.size(); ++j) {
      m_complete[j] = m_lists[j]->count() < capacity ? 1 : 0;
      index_keys(j);
    }
    return true;
  }

  /// Notes the keys list j holds now: a placed key is then dropped from
  /// those lists only, not looked for in every list. An entry left from an
  /// earlier build finds nothing to drop.
  void index_keys(std::size_t j) {
    for (const ScoreEntry& entry : m_lists[j]->entries()) {
      m_lists_of_key[static_cast<std::size_t>(entry.key)].push_back(static_cast<std::uint32_t>(j));
    }
  }

  void push_pending(std::size_t j) {
    m_pending_regret[j] = m_lists[j]->regret();
    m_pending.emplace(m_pending_regret[j], j);
    m_in_pending[j] = 1;
    ++m_pending_count;
  }

  void pop_pending(std::size_t j) {
    m_pending.erase({m_pending_regret[j], j});
    m_in_pending[j] = 0;
    --m_pending_count;
  }

  /// Drops `key` from pending list j, re-keying it when its regret moved.
  void remove_key(std::size_t j, ScoreKey key) {
    CScoreTile& list = *m_lists[j];
    if (!list.remove(key)) return;
    // Only a removal makes a list run short: it is noted here for the refill.
    if (list.count() < 2 && !m_complete[j]) m_short_lists.push_back(j);
    if (list.regret() != m_pending_regret[j]) {
      m_pending.erase({m_pending_regret[j], j});
      m_pending_regret[j] = list.regret();
      m_pending.emplace(m_pending_regret[j], j);
    }
  }

  /// The tile a list's best entry stands for; nullopt when no tile of the
  /// group reaches the group's score any more.
  std::optional<std::size_t> tile_for(const PuzzleInfo& cell, const ScoreEntry& best) const {
    if (!m_grouped) return static_cast<std::size_t>(best.key);
    const CellScorer scorer(m_tables, cell.signature, cell.priority);
    const std::uint32_t bound = best.score == kNoBound ? kNoBound : best.score + 1;
    for (std::size_t i = m_key_first[best.key]; i < m_key_first[best.key + 1]; ++i) {
      if (m_uses[i].exhausted != 0) continue;
      if (scorer.score(m_uses[i].tile->signature, bound).score == best.score) return i;
    }
    return std::nullopt;
  }

  void place_loop(JobQueue& queue) {
    const int cell_count = static_cast<int>(m_grid.size());
    int placed_count = 0;
    while (!m_pending.empty()) {
      if (m_failed || m_builder.stop_requested()) return;
      // 1. The largest regret first; an empty list has nothing left to give.
      const std::size_t j = m_pending.begin()->second;
      CScoreTile& list = *m_lists[j];
      if (list.empty()) {
        pop_pending(j);
        m_lists[j].reset();
        continue;
      }
      // 2. Its best entry.
      const ScoreEntry best = list.best();
      PuzzleInfo& cell = *m_cells[j];
      const auto tile = tile_for(cell, best);
      if (!tile) {
        pop_pending(j);
        m_lists[j].reset();
        continue;
      }
      // 3. Assign.
      TileUse& use = m_uses[*tile];
      assign(m_uses, cell, use, best.score);
      ++m_key_uses[best.key];
      ++placed_count;
      m_builder.add_progress(1);
      m_builder.refresh_sketch();
      if (m_builder.status_refresh_requested()) {
        m_builder.set_status(format(tr("Adding Tile#: %d of %d"), placed_count, cell_count));
      }
      // 4. The key leaves the lists it may no longer appear in.
      //    Only the lists that held the key when they were built can hold it.
      pop_pending(j);
      const bool used_up = m_key_uses[best.key] >= use.max_uses;
      if (used_up || m_area > 0) {
        for (const std::uint32_t k : m_lists_of_key[best.key]) {
          if (m_in_pending[k] && (used_up || squared_distance(*m_cells[k], cell) < m_area)) remove_key(k, best.key);
        }
      }
      if (used_up) {
        exhaust_key(best.key);
        // No list is built with it again.
        std::vector<std::uint32_t>().swap(m_lists_of_key[best.key]);
      }
      if (m_area > 0) m_placed.push_back({cell.left, cell.top, best.key});
      // 5. The placed cell's list is done.
      m_lists[j].reset();
      // 6. Refill what ran short.
      refill(queue);
    }
  }

  void refill(JobQueue& queue) {
    // The pending lists that ran short since the last refill. A list that
    // held fewer entries than it could already knew every candidate it has;
    // a rebuild would find the same ones again.
    std::vector<std::size_t> short_lists;
    std::sort(m_short_lists.begin(), m_short_lists.end());
    m_short_lists.erase(std::unique(m_short_lists.begin(), m_short_lists.end()), m_short_lists.end());
    for (const std::size_t j : m_short_lists) {
      if (m_in_pending[j] && m_lists[j]->count() < 2 && !m_complete[j]) short_lists.push_back(j);
    }
    m_short_lists.clear();
    if (short_lists.empty()) return;
    const std::size_t capacity = std::min(
        std::max<std::size_t>(2, std::min(m_entries / (m_pending_count + 1), m_pending_count)), m_most_entries);
    const RebuildInfo info = rebuild_info();
    for (std::size_t j : short_lists) {
      pop_pending(j);
      m_lists[j]->set_capacity(capacity);
      submit_rebuild(queue, *m_lists[j], info);
    }
    if (!m_builder.jobs_succeeded(queue.wait_all())) {
      m_failed = true;
      return;
    }
    for (std::size_t j : short_lists) {
      m_complete[j] = m_lists[j]->count() < capacity ? 1 : 0;
      index_keys(j);
      push_pending(j);
    }
  }

  MosaicBuilder& m_builder;
  PuzzleGrid& m_grid;
  const ScoreTables& m_tables;
  TileUseState& m_uses;
  const PlacementSetup& m_setup;
  bool m_grouped;
  std::vector<std::int32_t> m_groups;
  RebuildTiles m_tiles;
  TileBoundBank m_bank;  // of every tile, for the rebuilds
  std::vector<std::size_t> m_key_first;   // tiles of key k: [m_key_first[k], m_key_first[k + 1])
  std::vector<std::uint32_t> m_key_uses;  // uses of each key, a group counting as one picture
  std::size_t m_entries = 0;
  std::size_t m_most_entries = kMaxListEntriesLimited;
  std::int64_t m_area = 0;
  std::vector<PlacedTile> m_placed;
  std::vector<PuzzleInfo*> m_cells;  // the cells to fill, in grid order
  std::vector<std::unique_ptr<CScoreTile>> m_lists;
  std::vector<std::uint8_t> m_complete;
  std::vector<std::uint8_t> m_in_pending;
  std::vector<std::uint32_t> m_pending_regret;
  std::set<std::pair<std::uint32_t, std::size_t>, PendingOrder> m_pending;
  std::vector<std::size_t> m_short_lists;  // lists that ran short since the last refill, perhaps twice
  std::vector<std::vector<std::uint32_t>> m_lists_of_key;  // per key, the lists built with it
  std::size_t m_pending_count = 0;
  bool m_failed = false;  ///< a rebuild job failed (reported): the placement gives up
};

}  // namespace

bool place_high_quality(MosaicBuilder& builder, const ScoreTables& tables, TileUseState& uses,
                        const PlacementSetup& setup, bool grouped) {
  return HighQualityPlacement(builder, tables, uses, setup, grouped).run();
}

}  // namespace tess
