#include "engine/score_tile.hpp"

#include <algorithm>

namespace tess {
namespace {

/// Keys of the tiles placed within the spacing area of (left, top), sorted.
std::vector<ScoreKey> excluded_keys(const RebuildInfo& info, std::int32_t left, std::int32_t top) {
  std::vector<ScoreKey> keys;
  if (info.spacing_area <= 0) return keys;
  for (const PlacedTile& placed : info.placed) {
    const std::int64_t dx = std::int64_t{placed.left} - left;
    const std::int64_t dy = std::int64_t{placed.top} - top;
    if (dx * dx + dy * dy < info.spacing_area) keys.push_back(placed.key);
  }
  std::sort(keys.begin(), keys.end());
  keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
  return keys;
}

}  // namespace

CScoreTile::CScoreTile(ScoreCell cell, std::size_t capacity) : m_cell(cell), m_capacity(capacity) {}

std::optional<std::uint32_t> CScoreTile::score_of(ScoreKey key) const {
  auto it = m_index.find(key);
  if (it == m_index.end()) return std::nullopt;
  return it->second;
}

bool CScoreTile::update_regret() {
  const std::uint32_t regret = m_entries.size() >= 2 ? m_entries[1].score - m_entries[0].score : 0;
  const bool changed = regret != m_regret;
  m_regret = regret;
  return changed;
}

bool CScoreTile::insert(std::uint32_t score, ScoreKey key) {
  // A key listed already leaves the list as it is; it must not cost the
  // worst entry its place either.
  if (m_index.contains(key)) return false;
  if (m_entries.size() >= m_capacity) {
    if (m_entries.empty() || score >= m_entries.back().score) return false;
    m_index.erase(m_entries.back().key);
    m_entries.pop_back();
  }
  const ScoreEntry entry{score, key};
  m_entries.insert(std::upper_bound(m_entries.begin(), m_entries.end(), entry), entry);
  m_index.emplace(key, score);
  return update_regret();
}

bool CScoreTile::remove(ScoreKey key) {
  auto it = m_index.find(key);
  if (it == m_index.end()) return false;
  const ScoreEntry entry{it->second, key};
  m_index.erase(it);
  auto position = std::lower_bound(m_entries.begin(), m_entries.end(), entry);
  if (position != m_entries.end() && *position == entry) m_entries.erase(position);
  update_regret();
  return true;
}

void CScoreTile::clear() {
  m_entries.clear();
  m_index.clear();
  m_regret = 0;
}

void CScoreTile::rebuild(const RebuildInfo& info) {
  // 1. Keys placed too close to this cell stay out.
  const std::vector<ScoreKey> excluded = excluded_keys(info, m_cell.left, m_cell.top);

  // 2. Start empty, bounded only by the caller.
  clear();
  if (info.tables == nullptr || m_cell.signature == nullptr) return;
  const std::uint8_t priority = m_cell.priority ? *m_cell.priority : kNeutralPriority;
  const CellScorer scorer(*info.tables, *m_cell.signature, priority);
  m_entries.reserve(std::min(m_capacity, info.tiles.size()));

  // 3. Fill the list, kept as a heap with the worst entry on top.
  // Best first only pays when the list cannot take every tile.
  if (!info.group_keys && info.bank != nullptr && info.bank->size() == info.tiles.size() &&
      m_capacity < info.tiles.size()) {
    fill_best_first(info, scorer, CellBound(*info.tables, *m_cell.signature, priority), excluded);
  } else {
    fill_in_order(info, scorer, excluded);
  }

  // 4. Best first, indexed, regret stored.
  std::sort_heap(m_entries.begin(), m_entries.end());
  m_index.reserve(m_entries.size());
  for (const ScoreEntry& entry : m_entries) m_index.emplace(entry.key, entry.score);
  update_regret();
}

void CScoreTile::fill_in_order(const RebuildInfo& info, const CellScorer& scorer,
                               const std::vector<ScoreKey>& excluded) {
  std::uint32_t list_bound = info.bound;
  // The worst entry on top of the heap is the one insert() would drop, found
  // without moving the others. Keys normally rise along the list, so a key
  // can only repeat once they stop rising; only then is the heap searched
  // for it.
  bool keys_rising = true;
  bool have_previous = false;
  ScoreKey previous_key = 0;
  const auto offer = [&](std::uint32_t score, ScoreKey key) {
    if (score >= list_bound) return;
    if (have_previous && key <= previous_key) keys_rising = false;
    have_previous = true;
    previous_key = key;
    if (!keys_rising && std::any_of(m_entries.begin(), m_entries.end(),
                                    [key](const ScoreEntry& e) { return e.key == key; })) {
      return;
    }
    if (m_entries.size() >= m_capacity) {
      if (m_entries.empty() || score >= m_entries.front().score) return;
      std::pop_heap(m_entries.begin(), m_entries.end());
      m_entries.pop_back();
    }
    m_entries.push_back({score, key});
    std::push_heap(m_entries.begin(), m_entries.end());
    // A full list only takes what beats its worst entry.
    if (m_entries.size() >= m_capacity) list_bound = m_entries.front().score;
  };

  // Consecutive tiles with one key form a run that enters once, with the
  // best score of its tiles.
  bool in_run = false;
  ScoreKey run_key = 0;
  std::uint32_t run_best = kNoBound;
  for (std::size_t i = 0; i < info.tiles.size(); ++i) {
    // Each tile lives in its own allocation, out of the processor's sight:
    // the samples a few tiles ahead, which most comparisons stop within, are
    // asked for now.
    if (i + kSignaturePrefetchDistance < info.tiles.size())
      prefetch_signature(info.tiles[i + kSignaturePrefetchDistance]->signature, scorer.perceptual());
    const FotoInfo& tile = *info.tiles[i];
    const ScoreKey key = info.group_keys ? static_cast<ScoreKey>(tile.variant_group) : static_cast<ScoreKey>(i);
    if (!in_run || key != run_key) {
      if (in_run) offer(run_best, run_key);
      in_run = true;
      run_key = key;
      run_best = kNoBound;
    }
    if (tile.placement_flag != 0) continue;
    if (!excluded.empty() && std::binary_search(excluded.begin(), excluded.end(), key)) continue;
    const TileScore result = scorer.score(tile.signature, std::min(run_best, list_bound));
    run_best = std::min(run_best, result.score);
  }
  if (in_run) offer(run_best, run_key);
}

void CScoreTile::fill_best_first(const RebuildInfo& info, const CellScorer& scorer, const CellBound& cell_bound,
                                 const std::vector<ScoreKey>& excluded) {
  // Every tile is its own key here, so the list is the `capacity` smallest
  // (score, key) pairs, whatever order the tiles are scored in.
  keep_best_tiles(
      scorer, cell_bound, *info.bank, m_capacity, info.bound,
      [&](std::size_t i) {
        const bool exhausted = info.exhausted.size() == info.tiles.size() ? info.exhausted[i] != 0
                                                                          : info.tiles[i]->placement_flag != 0;
        return !exhausted &&
               (excluded.empty() || !std::binary_search(excluded.begin(), excluded.end(), static_cast<ScoreKey>(i)));
      },
      [&](std::size_t i) -> const TileSignature& { return info.tiles[i]->signature; }, m_entries);
}

void submit_rebuild(JobQueue& queue, CScoreTile& list, const RebuildInfo& info) {
  queue.submit(make_job(list, &CScoreTile::rebuild, info));
}

}  // namespace tess
