#pragma once
// CScoreTile: the best candidate tiles of one cell, kept in score order and
// bounded by memory, with the regret that tells placement which cell to fill
// next (the cell that loses most if its best tile goes elsewhere). The list
// is filled by the rebuild job, which runs on the job pool; placement only
// takes from it and removes keys between job batches.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <unordered_map>
#include <vector>

#include "engine/job_pool.hpp"
#include "engine/score_bound.hpp"
#include "engine/score_kernel.hpp"
#include "engine/score_tables.hpp"
#include "tilelist/foto_info.hpp"

namespace tess {

/// What a candidate stands for: the tile's position in the tile list, or its
/// variant group number when tiles are grouped.
using ScoreKey = std::uint32_t;

struct ScoreEntry {
  std::uint32_t score = kScoreUnusable;
  ScoreKey key = 0;

  /// By score, then by key.
  friend auto operator<=>(const ScoreEntry&, const ScoreEntry&) = default;
};

/// The cell a list belongs to, as the list sees it. The pointers go into the
/// cell grid, so a rebuild reads the cell as it is then.
struct ScoreCell {
  const TileSignature* signature = nullptr;
  const std::uint8_t* priority = nullptr;
  std::int32_t left = 0;  ///< top-left corner in mosaic pixels
  std::int32_t top = 0;
};

/// A cell that already holds a tile: its top-left corner and the tile's key.
struct PlacedTile {
  std::int32_t left = 0;
  std::int32_t top = 0;
  ScoreKey key = 0;
};

/// Everything a rebuild reads besides its own cell. Plain views: the owner
/// keeps them alive and unchanged while rebuild jobs run.
struct RebuildInfo {
  const ScoreTables* tables = nullptr;
  /// The tile list in its order. A tile's key is its index here, or its
  /// variant group with `group_keys`; a tile with a placement flag set is
  /// exhausted and not scored.
  std::span<const FotoInfo* const> tiles;
  bool group_keys = false;
  /// The tiles' bound fields, in the same order, or null: with them a
  /// rebuild passes over tiles that cannot make the list without reading
  /// their signatures.
  const TileBoundBank* bank = nullptr;
  /// The tiles' placement flags packed in one array, the same order, or
  /// empty: a walk that checks many tiles then reads no tile for it.
  std::span<const std::uint8_t> exhausted;
  /// Cells holding a tile; only read when `spacing_area` > 0.
  std::span<const PlacedTile> placed;
  /// Squared distance in pixels within which a placed tile's key is kept out
  /// of the list; 0 = no spacing.
  std::int64_t spacing_area = 0;
  /// Only scores below this enter the list.
  std::uint32_t bound = kNoBound;
};

class CScoreTile {
 public:
  static constexpr std::size_t kDefaultCapacity = 10000;

  explicit CScoreTile(ScoreCell cell, std::size_t capacity = kDefaultCapacity);

  const ScoreCell& cell() const { return m_cell; }
  std::size_t capacity() const { return m_capacity; }
  /// Takes effect for the next insertions and rebuilds; the entries stay.
  void set_capacity(std::size_t capacity) { m_capacity = capacity; }

  std::size_t count() const { return m_entries.size(); }
  [[nodiscard]] bool empty() const { return m_entries.empty(); }
  /// Best first.
  std::span<const ScoreEntry> entries() const { return m_entries; }
  /// The best entry; the list must not be empty.
  const ScoreEntry& best() const { return m_entries.front(); }
  /// Second score minus the best one; 0 with fewer than two entries.
  std::uint32_t regret() const { return m_regret; }
  std::optional<std::uint32_t> score_of(ScoreKey key) const;

  /// Adds (score, key). A full list takes it only when `score` is below its
  /// worst score, which it then drops; a key already listed changes nothing.
  /// Whether the regret changed.
  bool insert(std::uint32_t score, ScoreKey key);
  /// Drops the entry of `key`; whether there was one. The regret follows.
  [[nodiscard]] bool remove(ScoreKey key);
  /// Empties the list (regret 0).
  void clear();

  /// The job body: refills the list from the tile list. Keys of tiles placed
  /// within the spacing area of this cell and exhausted tiles are skipped;
  /// consecutive tiles with one key count once, with their best score; the
  /// list keeps the `capacity` best keys, ties going to the earlier key.
  void rebuild(const RebuildInfo& info);

 private:
  bool update_regret();
  /// rebuild()'s walks: tile by tile, or (every tile its own key, bounds at
  /// hand) the most promising tiles first.
  void fill_in_order(const RebuildInfo& info, const CellScorer& scorer, const std::vector<ScoreKey>& excluded);
  void fill_best_first(const RebuildInfo& info, const CellScorer& scorer, const CellBound& cell_bound,
                       const std::vector<ScoreKey>& excluded);

  ScoreCell m_cell;
  std::size_t m_capacity;
  std::vector<ScoreEntry> m_entries;  // ascending
  std::unordered_map<ScoreKey, std::uint32_t> m_index;
  std::uint32_t m_regret = 0;
};

/// Queues the rebuild of `list` as a job; `list` must outlive the job and
/// must not be touched until the queue's jobs are done.
void submit_rebuild(JobQueue& queue, CScoreTile& list, const RebuildInfo& info);

}  // namespace tess
