#pragma once
// A cheap proof that a tile cannot make a cell's list: a lower bound of the
// tile's score computed from a few sums, for sixteen tiles at a time, so that a
// rebuild reads a tile's signature only when the tile might still count.
//
// Per channel, the distances of a grid level's entries, however the entries
// are paired, add up to at least those of the pairing by rank: the smallest
// cell value against the smallest tile value, and so on. Cut into rank parts,
// that is at least the distance between the parts' sums, side by side. Ranks
// do not change when the grids are mirrored or flipped, nor under a colour
// shift, so one bound serves every comparison; it also catches a tile whose
// level has the cell's mean but not its contrast, which the colour shift
// makes common. The entries' values then add up to at least the entry count
// times a convex function below the method's, taken at their mean distance. A colour shift
// that may clamp moves each value by between what the tile's smallest and
// largest values allow, and a part's sum by as many times that. The bound
// never decides a score: it only lets the exact kernel be skipped where the
// kernel would give up anyway.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

#include "engine/score_kernel.hpp"
#include "engine/score_tables.hpp"
#include "tilelist/tile_signature.hpp"

namespace tess {

/// The rank parts of each grid level: the 12 × 9 grid, then the 4 × 3 grid.
inline constexpr int kBoundLevels = 2;
inline constexpr int kBoundParts[kBoundLevels] = {2, 2};
inline constexpr int kBoundLevelEntries[kBoundLevels] = {kFineSampleCount, kFirstFineSample - kFirstCoarseSample};
inline constexpr int kMostBoundParts = std::max(kBoundParts[0], kBoundParts[1]);

/// What the bound reads of each tile, a field per array: the whole-picture
/// colour, the smallest and largest value among the grid samples, and per
/// level, rank part and channel, the sum of the part's values (a channel's
/// values sorted, cut into equal parts).
class TileBoundBank {
 public:
  enum Field : int {
    kOverall = 0,    // + channel
    kLow = 3,        // + channel
    kHigh = 6,       // + channel
    kFineParts = 9,  // + 3 · part + channel
    kCoarseParts = kFineParts + 3 * kBoundParts[0],
    kFieldCount = kCoarseParts + 3 * kBoundParts[1]
  };
  /// The field of a level's part and channel.
  static constexpr int part_field(int level, int part, int channel) {
    return (level == 0 ? kFineParts : kCoarseParts) + 3 * part + channel;
  }

  /// Which samples the bank keeps of the tiles set after this: their own,
  /// or their perceptual form (ScoreTables::perceptual()). The scores the
  /// bounds are held against must come from the same form.
  void set_perceptual(bool perceptual);
  bool perceptual() const { return m_perceptual; }

  void add(const TileSignature& tile);
  /// Makes room for `count` tiles, each then given by set() once, in any
  /// order and from any threads, before the bank is read.
  void resize(std::size_t count);
  void set(std::size_t i, const TileSignature& tile);
  std::size_t size() const { return m_size; }
  /// Field `field` of every tile, followed by sixteen readable lanes.
  const std::int16_t* field(int field) const { return m_fields[static_cast<std::size_t>(field)].data(); }

 private:
  std::vector<std::int16_t> m_fields[kFieldCount];
  std::size_t m_size = 0;
  bool m_perceptual = false;
};

/// One cell's side of the bound.
class CellBound {
 public:
  CellBound(const ScoreTables& tables, const TileSignature& cell, std::uint8_t priority,
            KernelLevel level = best_kernel_level());

  /// For tiles [first, first + count) of `bank` (those past its end are
  /// left alone): out[i] is a lower bound of tile first + i, to be held
  /// against threshold().
  void lower_bounds(const TileBoundBank& bank, std::size_t first, std::size_t count, float* out) const;
  /// A tile whose lower bound is above this scores `bound` or more for the
  /// cell (infinity when nothing can be proven).
  float threshold(std::uint32_t bound) const;

  /// The constants the bound reads, in the form the lanes use.
  struct Plan {
    std::int32_t cell_overall[3] = {};
    std::int32_t colour_limit = 0;
    bool perceptual = false;  ///< the colour shift of the perceptual form
    std::int32_t method = kCompareBest;
    float overall_weight = 0;  ///< 0 when the whole-picture entry does not count or is not opaque
    float overall_scale[3] = {};  ///< channel slope / divisor
    float overall_slack = 0;      ///< (shortfall + divisor − 1) / divisor
    /// The 12 × 9 grid, then the 4 × 3 grid.
    float level_weight[kBoundLevels] = {};  ///< level weight · entries; 0 = the level adds nothing
    /// The cell's rank part sums, per part and channel, as the bank keeps a tile's.
    std::int32_t part_sum[kBoundLevels][kMostBoundParts][3] = {};
    float level_scale[kBoundLevels][3] = {};  ///< channel slope / (divisor · entries)
    float level_slack[kBoundLevels] = {};     ///< (shortfall + divisor − 1) / divisor, per entry
  };

 private:
  Plan m_plan;
  std::uint8_t m_priority;
  bool m_bounded = false;
  bool m_vector = false;
};

/// How many tiles ahead of the one being scored a walk asks for signatures:
/// far enough to hide the wait for memory, near enough to find them still
/// in the cache.
inline constexpr std::size_t kSignaturePrefetchDistance = 8;

/// Asks for what scoring a tile reads: every sample, since the tiles a
/// bound leaves to the kernel are the close ones whose comparisons run
/// long, and the orientation at the signature's end.
inline void prefetch_signature(const TileSignature& tile, bool perceptual = false) {
  const auto* samples = reinterpret_cast<const char*>(perceptual ? tile.perceptual.data() : tile.samples.data());
  for (std::size_t line = 0; line < sizeof tile.samples; line += 64) __builtin_prefetch(samples + line);
  __builtin_prefetch(&tile.portrait);
}

/// The index of every value at most `limit` among values[0, count), rising.
void indexes_at_most(const float* values, std::size_t count, float limit, std::vector<std::uint32_t>& out);

/// Fills `heap` (worst entry on top, as std::push_heap keeps it) with the
/// `capacity` smallest (score, tile) pairs below `bound` among the tiles
/// 0 .. bank.size() − 1 that `eligible(i)` admits, scoring `signature(i)`
/// (a TileSignature reference) for the cell. A few tiles whose lower bounds
/// are smallest are scored first, so that the heap's worst entry is soon
/// close to final and proves most other tiles out unread; the pairs kept are
/// the same in any order, ties going to the earlier tile. `Entry` is
/// {score, tile}, ordered by score, then tile.
template <class Entry, class Eligible, class Signature>
void keep_best_tiles(const CellScorer& scorer, const CellBound& cell_bound, const TileBoundBank& bank,
                     std::size_t capacity, std::uint32_t bound, Eligible eligible, Signature signature,
                     std::vector<Entry>& heap) {
  constexpr std::size_t kSampleShare = 8;  // a sample of 8 · capacity bounds picks the first tiles
  constexpr int kBoundSteps = 4;
  const std::size_t count = bank.size();
  thread_local std::vector<float> lower;
  thread_local std::vector<float> sample;
  thread_local std::vector<std::uint32_t> picked;
  if (capacity == 0 || count == 0) return;
  lower.resize(count);
  // A bank of the other form of samples proves nothing about these scores.
  if (bank.perceptual() == scorer.perceptual()) cell_bound.lower_bounds(bank, 0, count, lower.data());
  else std::fill(lower.begin(), lower.end(), 0.0f);
  const float caller_threshold = cell_bound.threshold(bound);

  std::uint32_t worst_score = kNoBound;
  float worst_threshold = caller_threshold;
  const auto consider = [&](std::uint32_t i) {
    std::uint32_t tile_bound = bound;
    const bool full = heap.size() >= capacity;
    if (full) {
      const Entry& worst = heap.front();
      if (worst.score != worst_score) {
        worst_score = worst.score;
        worst_threshold = cell_bound.threshold(worst_score + 1);
      }
      if (lower[i] > worst_threshold) return;
      tile_bound = worst.score + (Entry{worst.score, i} < worst ? 1u : 0u);
    }
    const std::uint32_t score = scorer.score(signature(i), tile_bound).score;
    if (score >= bound) return;
    const Entry entry{score, i};
    if (full) {
      if (!(entry < heap.front())) return;
      std::pop_heap(heap.begin(), heap.end());
      heap.pop_back();
    }
    heap.push_back(entry);
    std::push_heap(heap.begin(), heap.end());
  };
  const auto score_all = [&](const std::vector<std::uint32_t>& tiles) {
    for (std::size_t k = 0; k < tiles.size(); ++k) {
      if (k + kSignaturePrefetchDistance < tiles.size())
        prefetch_signature(signature(tiles[k + kSignaturePrefetchDistance]), scorer.perceptual());
      if (lower[tiles[k]] <= worst_threshold && eligible(tiles[k])) consider(tiles[k]);
      // Scored once: no comparison holds for a NaN, so the second walk
      // passes over it whatever its threshold.
      lower[tiles[k]] = std::numeric_limits<float>::quiet_NaN();
    }
  };

  // 1. First the tiles whose bounds are about the 2 · `capacity` smallest,
  //    as a sample of the bounds estimates them (the smallest bounds are not
  //    quite the smallest scores). Until they fill the list (tiles that may
  //    not be listed any more leave gaps), the next ones, twice as many each
  //    time: a list that is not full proves nothing out.
  const std::size_t stride = std::max<std::size_t>(1, count / (kSampleShare * capacity));
  sample.clear();
  for (std::size_t i = 0; i < count; i += stride) sample.push_back(lower[i]);
  std::size_t rank = std::min(sample.size() - 1, 2 * capacity / stride);
  float first_limit;
  for (;;) {
    std::nth_element(sample.begin(), sample.begin() + static_cast<std::ptrdiff_t>(rank), sample.end());
    first_limit = std::min(sample[rank], caller_threshold);
    indexes_at_most(lower.data(), count, first_limit, picked);
    score_all(picked);
    if (heap.size() >= capacity || rank + 1 >= sample.size() || first_limit >= caller_threshold) break;
    rank = std::min(sample.size() - 1, 2 * rank + 1);
  }

  // 2. Then the tiles whose bounds lie in the nearer part of what is left,
  //    in slices of about a quarter, each cut again below the worst entry as
  //    it stands: they tighten that entry sooner than the rest would.
  for (int step = 1; step < kBoundSteps && worst_threshold > first_limit; ++step) {
    const float limit = first_limit + (worst_threshold - first_limit) / static_cast<float>(kBoundSteps - step + 1);
    indexes_at_most(lower.data(), count, limit, picked);
    score_all(picked);
  }

  // 3. Then every other tile that the list's worst entry does not prove out.
  indexes_at_most(lower.data(), count, worst_threshold, picked);
  score_all(picked);
}

}  // namespace tess
