#pragma once
// A cheap proof that a tile cannot make a cell's list: a lower bound of the
// tile's score computed from a few sums, for eight tiles at a time, so that a
// rebuild reads a tile's signature only when the tile might still count.
//
// Per channel, the distances of a grid level's entries add up to at least the
// distance between the level's colour sums, and those sums do not change when
// the grids are mirrored or flipped: one bound serves every comparison. The
// entries' values then add up to at least the entry count times a convex
// function below the method's, taken at their mean distance. A colour shift
// that may clamp leaves a tile's sum between its unshifted and its fully
// shifted sum. The bound never decides a score: it only lets the exact
// kernel be skipped where the kernel would give up anyway.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/score_kernel.hpp"
#include "engine/score_tables.hpp"
#include "tilelist/tile_signature.hpp"

namespace tess {

/// What the bound reads of each tile, a field per array: the whole-picture
/// colour, per channel the sums of the 4 × 3 and of the 12 × 9 samples, and
/// the smallest and largest value among those samples.
class TileBoundBank {
 public:
  enum Field : int {
    kOverall = 0,     // + channel
    kFineSum = 3,     // + channel
    kCoarseSum = 6,   // + channel
    kLow = 9,         // + channel
    kHigh = 12,       // + channel
    kFieldCount = 15
  };

  void reserve(std::size_t count);
  void add(const TileSignature& tile);
  std::size_t size() const { return m_size; }
  /// Field `field` of every tile, followed by eight readable lanes.
  const std::int16_t* field(int field) const { return m_fields[static_cast<std::size_t>(field)].data(); }

 private:
  std::vector<std::int16_t> m_fields[kFieldCount];
  std::size_t m_size = 0;
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

  /// For tiles [first, first + count) of `bank`: keep[i] = 0 proves that
  /// tile first + i scores `bound` or more for this cell (CellScorer::score
  /// would give kScoreUnusable or a score of at least `bound`); 1 says
  /// nothing.
  void screen(const TileBoundBank& bank, std::size_t first, std::size_t count, std::uint32_t bound,
              std::uint8_t* keep) const;

  /// The constants the bound reads, in the form the lanes use.
  struct Plan {
    std::int32_t cell_overall[3] = {};
    std::int32_t colour_limit = 0;
    std::int32_t method = kCompareBest;
    float overall_weight = 0;  ///< 0 when the whole-picture entry does not count or is not opaque
    float overall_scale[3] = {};  ///< channel slope / divisor
    float overall_slack = 0;      ///< (shortfall + divisor − 1) / divisor
    /// The 12 × 9 grid, then the 4 × 3 grid.
    float level_weight[2] = {};  ///< level weight · entries; 0 = the level adds nothing
    float level_sum[2][3] = {};
    std::int32_t level_count[2] = {};
    float level_scale[2][3] = {};  ///< channel slope / (divisor · entries)
    float level_slack[2] = {};     ///< (shortfall + divisor − 1) / divisor, per entry
  };

 private:
  Plan m_plan;
  std::uint8_t m_priority;
  bool m_bounded = false;
  bool m_vector = false;
};

}  // namespace tess
