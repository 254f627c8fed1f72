#include "engine/placement.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <ctime>
#include <deque>
#include <filesystem>
#include <limits>
#include <memory>
#include <random>
#include <set>
#include <system_error>
#include <utility>

#include "base/prompt.hpp"
#include "base/text.hpp"
#include "engine/assignment.hpp"
#include "engine/job_pool.hpp"
#include "engine/mosaic_builder.hpp"
#include "engine/score_kernel.hpp"
#include "engine/score_tables.hpp"
#include "engine/score_tile.hpp"
#include "engine/tile_list_file.hpp"
#include "images/exif.hpp"
#include "settings/advanced_options.hpp"
#include "tilelist/foto_info.hpp"

namespace tess {
namespace {

constexpr double kMinMemoryMb = 10;
constexpr double kMaxMemoryMb = 3900;
constexpr double kDefaultMemoryMb = 1500;
constexpr std::int64_t kMinCandidateBytes = 50'000'000;
constexpr std::int64_t kBytesPerEntry = 60;
constexpr std::int64_t kBytesPerCell = 568;
constexpr std::int64_t kBytesPerTile = 540;
constexpr std::int64_t kFixedReserve = 24 + 60'000'036;
/// Tile names longer than this are shown by their end in the status text.
constexpr std::size_t kStatusNameLength = 50;
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

/// Fills `bank` with the signatures of `count` tiles (`signature(i)`) on the
/// queue's threads: working out a tile's bound fields costs about as much as
/// scoring it for a few cells. A failed job leaves tiles out of the bank.
template <class Signature>
[[nodiscard]] JobsOutcome fill_bank(TileBoundBank& bank, std::size_t count, Signature signature, JobQueue& queue) {
  constexpr std::size_t kTilesPerJob = 1024;
  bank.resize(count);
  for (std::size_t first = 0; first < count; first += kTilesPerJob) {
    queue.submit([&bank, signature, first, end = std::min(count, first + kTilesPerJob)] {
      for (std::size_t i = first; i < end; ++i) bank.set(i, signature(i));
    });
  }
  return queue.wait_all();
}

bool holds_grouping_mode(std::int32_t processing) {
  return processing == kProcessingCustom || processing == kProcessingFolder;
}

std::int64_t squared_distance(const PuzzleInfo& a, const PuzzleInfo& b) {
  const std::int64_t dx = std::int64_t{a.left} - b.left;
  const std::int64_t dy = std::int64_t{a.top} - b.top;
  return dx * dx + dy * dy;
}

/// A fillable cell: active and not fixed by a loaded tile list.
bool is_open(const PuzzleInfo& cell) { return cell.active != 0 && cell.fixed == 0; }

/// Takes `tile` (record `use`) into `cell`, giving up whatever the cell held.
void assign(TileUseState& uses, PuzzleInfo& cell, TileUse& use, std::uint32_t score) {
  if (TileUse* old = uses.find(cell.tile); old != nullptr && old->use_count > 0) {
    --old->use_count;
    old->exhausted = 0;  // it may find another cell now
  }
  cell.tile = use.tile;
  cell.score = score;
  ++use.use_count;
}

void clear_cell(TileUseState& uses, PuzzleInfo& cell) {
  if (TileUse* old = uses.find(cell.tile); old != nullptr && old->use_count > 0) {
    --old->use_count;
    old->exhausted = 0;
  }
  cell.tile = nullptr;
  cell.score = kNoTileScore;
}

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
            m_bank, m_uses.size(),
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

// ---- Faster -------------------------------------------------------------------

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

// ---- Sequential ---------------------------------------------------------------

/// The shooting date of a picture, else its file's time, as sortable text.
std::string date_key(const FotoInfo& tile) {
  std::string key = exif_date_text(tile.path);
  if (!key.empty()) return key;
  std::error_code error;
  const auto written = std::filesystem::last_write_time(tile.path, error);
  if (error) return key;
  const auto system = std::chrono::file_clock::to_sys(written);
  const std::time_t seconds = std::chrono::system_clock::to_time_t(system);
  std::tm local{};
  if (localtime_r(&seconds, &local) == nullptr) return key;
  char text[32];
  if (std::strftime(text, sizeof text, "%Y:%m:%d %H:%M:%S", &local) == 0) return key;
  return text;
}

void shuffle(std::vector<std::size_t>& order, std::mt19937_64& random) {
  const std::size_t n = order.size();
  for (std::size_t i = 0; i < n; ++i) std::swap(order[i], order[random() % n]);
}

// ---- Experimental -------------------------------------------------------------

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
            m_bank, m_tiles.size(), [this](std::size_t i) -> const TileSignature& { return signature(i); }, queue)))
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
      m_builder.set_status(format(tr("Improving Quality. Press Mosaic button to Stop&&Save (#%ld, %ld)."), round,
                                  static_cast<long>(placed)));
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

// ---- shared helpers -----------------------------------------------------------

std::int64_t spacing_area(const PuzzleGrid& grid, std::int32_t duplicate_spacing) {
  if (duplicate_spacing < 2 || grid.empty()) return 0;
  const double cell_area = static_cast<double>(grid.pixel_width()) * static_cast<double>(grid.pixel_height()) /
                           static_cast<double>(grid.size());
  const double area = static_cast<double>(duplicate_spacing) * duplicate_spacing * cell_area;
  if (!(area < 9.0e18)) return std::numeric_limits<std::int64_t>::max();
  return static_cast<std::int64_t>(area);
}

std::size_t candidate_entry_budget(const PuzzleGrid& grid, std::size_t tile_count,
                                   const std::string& max_memory_option) {
  const double megabytes =
      std::clamp(read_option_number(max_memory_option, kDefaultMemoryMb), kMinMemoryMb, kMaxMemoryMb);
  const std::int64_t total = static_cast<std::int64_t>(megabytes) * 1'000'000;
  std::int64_t used = kFixedReserve + kBytesPerTile * static_cast<std::int64_t>(tile_count);
  for (const auto& cell : grid.cells()) {
    used += kBytesPerCell + static_cast<std::int64_t>(cell->neighbours.size() * sizeof(PuzzleInfo*));
  }
  const std::int64_t budget = std::max(total - used, kMinCandidateBytes);
  return static_cast<std::size_t>(budget / kBytesPerEntry);
}

std::vector<std::int32_t> variant_group_numbers(const TileUseState& uses, std::int32_t processing) {
  std::vector<std::int32_t> groups;
  if (!holds_grouping_mode(processing)) return groups;
  const std::string separator = processing == kProcessingCustom ? "___" : "/";
  groups.reserve(uses.size());
  std::int32_t number = 0;
  std::string previous;
  for (std::size_t i = 0; i < uses.size(); ++i) {
    const std::string& path = uses[i].tile->path;
    const std::size_t at = path.rfind(separator);
    std::string key = at == std::string::npos ? path : path.substr(0, at);
    if (i == 0 || key != previous) ++number;
    groups.push_back(number);
    previous = std::move(key);
  }
  return groups;
}

void pattern_orientations(PatternCode pattern, bool& landscape, bool& portrait) {
  if (is_pattern_between(pattern, PatternCode::portrait, PatternCode::portrait_5_rows)) {
    landscape = false;
    portrait = true;
  } else if (is_pattern_between(pattern, PatternCode::mixed_1to1, PatternCode::parquet_1to5)) {
    landscape = true;
    portrait = true;
  } else {
    landscape = true;
    portrait = false;
  }
}

std::string fill_check_text(const MosaicParameters& parameters, const FillCheckCounts& counts) {
  const std::int64_t n = counts.landscape_tiles + counts.portrait_tiles;
  const std::int64_t m = counts.cells;
  const std::int64_t d = parameters.tile_duplication;
  const std::int64_t s = parameters.duplicate_spacing;
  std::vector<std::string> sentences;
  const auto add = [&sentences](const std::string& sentence) {
    // One sentence said twice says nothing more.
    if (std::find(sentences.begin(), sentences.end(), sentence) == sentences.end()) sentences.push_back(sentence);
  };
  if ((d > 0 && d * n < m) || (s == 0 && n < m)) {
    add(tr("Not all tiles in your Mosaic will be filled"));
    add(tr("I suggest to allow the Tile Duplication"));
  } else if (s > 1 && n < (2 * s + 1) * (2 * s + 1)) {
    add(tr("Not all tiles in your Mosaic will be filled"));
    add(tr("I suggest to reduce the Duplicate Spacing"));
  }
  if (!parameters.tile_variants.contains(TileVariant::rotated_90)) {
    bool orientation_issue = false;
    if ((counts.landscape_tiles > 0 && !counts.pattern_has_landscape) ||
        (counts.portrait_tiles > 0 && !counts.pattern_has_portrait)) {
      add(tr("Not all pictures in your Tile Images List will be used"));
      orientation_issue = true;
    }
    if ((counts.pattern_has_landscape && counts.landscape_tiles == 0) ||
        (counts.pattern_has_portrait && counts.portrait_tiles == 0)) {
      add(tr("Not all tiles in your Mosaic will be filled"));
      orientation_issue = true;
    }
    if (orientation_issue) {
      add(
          tr("I suggest to enable Tile Rotation 90° or select a Pattern with both Landscape and Portrait tiles, "
             "for example Parquet/Mixed"));
    }
  }
  if (sentences.empty()) return {};
  std::string text;
  for (const std::string& sentence : sentences) text += sentence + ". ";
  return text + tr("Do you want to continue?");
}

// ---- the algorithms -----------------------------------------------------------

bool place_high_quality(MosaicBuilder& builder, const ScoreTables& tables, TileUseState& uses,
                        const PlacementSetup& setup, bool grouped) {
  return HighQualityPlacement(builder, tables, uses, setup, grouped).run();
}

void place_faster(MosaicBuilder& builder, const ScoreTables& tables, TileUseState& uses) {
  FasterPlacement(builder, tables, uses).run();
}

void place_sequential(MosaicBuilder& builder, const ScoreTables& tables, TileUseState& uses) {
  PuzzleGrid& grid = builder.grid;
  const MosaicParameters& parameters = builder.parameters;
  // 1. Progress.
  builder.begin_progress_stage(kStagePlacement, 3);

  // 2. Landscape and portrait sequences in list order; with quarter turns
  //    every tile fits every cell.
  const bool turns = parameters.tile_variants.contains(TileVariant::rotated_90);
  std::vector<std::size_t> landscape, portrait;
  for (std::size_t i = 0; i < uses.size(); ++i) {
    if (turns || !uses[i].tile->is_portrait()) {
      landscape.push_back(i);
    } else {
      portrait.push_back(i);
    }
  }
  builder.add_progress(1);

  // 3. Random order, seeded by the clock so every run differs.
  if (parameters.processing == kProcessingRandom) {
    std::mt19937_64 random(static_cast<std::uint64_t>(std::chrono::system_clock::now().time_since_epoch().count()));
    shuffle(landscape, random);
    shuffle(portrait, random);
  }
  // 4. Shooting-date order.
  if (parameters.processing == kProcessingSequentialDate) {
    std::vector<std::string> keys(uses.size());
    for (std::size_t i = 0; i < uses.size(); ++i) {
      if (builder.stop_requested()) return;
      keys[i] = date_key(*uses[i].tile);
    }
    const auto by_date = [&keys](std::size_t a, std::size_t b) { return keys[a] < keys[b]; };
    std::stable_sort(landscape.begin(), landscape.end(), by_date);
    std::stable_sort(portrait.begin(), portrait.end(), by_date);
  }
  builder.add_progress(1);

  // 5. The cells in grid order, each sequence cyclically.
  std::size_t next_landscape = 0, next_portrait = 0;
  for (const auto& cell : grid.cells()) {
    if (builder.stop_requested()) return;
    if (!is_open(*cell)) continue;
    const bool from_landscape = turns || cell->is_landscape();
    std::vector<std::size_t>& sequence = from_landscape ? landscape : portrait;
    if (sequence.empty()) continue;
    std::size_t& next = from_landscape ? next_landscape : next_portrait;
    TileUse& use = uses[sequence[next]];
    next = (next + 1) % sequence.size();
    assign(uses, *cell, use, score_tile(tables, cell->signature, cell->priority, use.tile->signature).score);
  }
  builder.add_progress(1);
}

bool place_by_auction(MosaicBuilder& builder, const ScoreTables& tables, TileUseState& uses,
                      const PlacementSetup& setup) {
  return ExperimentalPlacement(builder, tables, uses, setup).run();
}

bool place_tiles(MosaicBuilder& builder, const ScoreTables& tables, TileUseState& uses, const PlacementSetup& setup) {
  const MosaicParameters& parameters = builder.parameters;
  const std::int32_t processing = parameters.processing;
  const auto option_on = [&parameters](std::size_t index) {
    return static_cast<long>(read_option_number(parameters.advanced.value(index), 0)) != 0;
  };

  // 1. Faster, with the tile list file.
  if (parameters.consecutive_frames > 0 || processing == kProcessingFaster) {
    if (!setup.tile_list_file.empty() && option_on(kOptTileListLoad)) {
      load_tile_list_file(builder, tables, uses, setup.tile_list_file);
    }
    place_faster(builder, tables, uses);
    if (!setup.tile_list_file.empty() && option_on(kOptTileListSave) && !builder.stop_requested()) {
      if (!save_tile_list_file(builder, setup.tile_list_file) && setup.tile_list_file_failed != nullptr)
        *setup.tile_list_file_failed = true;
    }
    return true;
  }
  // 2. Sequential, Random, Sequential by Date.
  if (processing == kProcessingSequential || processing == kProcessingRandom ||
      processing == kProcessingSequentialDate) {
    place_sequential(builder, tables, uses);
    return true;
  }
  // 3. Experimental, only without duplicates.
  if (processing == kProcessingStandard1 || processing == kProcessingStandard2) {
    if (parameters.tile_duplication != 1 || uses.any_own_limit()) {
      // The run plan refuses this before any work; a caller that skipped it still gets a failure.
      builder.fail(tr("The selected Experimental Mosaic Processing can be used only with the No "
                      "Duplicate Tile Count."));
      return false;
    }
    return place_by_auction(builder, tables, uses, setup);
  }
  // 4. High Quality, and the variant modes through their groups.
  for (std::size_t i = 0; i < uses.size(); ++i) uses[i].exhausted = 0;
  return place_high_quality(builder, tables, uses, setup, holds_grouping_mode(processing));
}

}  // namespace tess
