#pragma once
// The score of a tile for a cell: how badly the tile's signature fits the
// cell's, taking the allowed tile variants, the colour change, the detail
// level, the channel priorities and the cell's priority into account. Smaller
// is better. This is the hottest code of the program, so the cell is prepared
// once (lined up with the tile per comparison, entries that cannot count
// weighing 0) and the comparison loop is specialised per method and
// colour-shift case, on the widest vector unit the processor has.
// Every division and truncation below is part of the result: identical
// placements depend on it.

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

#include "engine/score_tables.hpp"
#include "images/perceptual_colour.hpp"
#include "tilelist/tile_signature.hpp"

namespace tess {

/// No allowed comparison of the tile stays within the bound (or none is
/// allowed at all): the tile cannot be used for the cell.
inline constexpr std::uint32_t kScoreUnusable = 0xFFFFFFFFu;
/// The score was too large for 32 bits.
inline constexpr std::uint32_t kScoreSaturated = 0xFFFFFFFEu;
/// The bound that bounds nothing.
inline constexpr std::uint32_t kNoBound = 0xFFFFFFFFu;
/// The cell priority that leaves scores as the kernel computed them.
inline constexpr std::uint8_t kNeutralPriority = 20;

/// How the winning comparison draws the tile into the cell.
enum TileVariantCode : std::uint8_t {
  kVariantCodeNone = 0,  ///< unusable: nothing won
  kVariantCodeAsIs = 1,
  kVariantCodeMirrored = 2,
  kVariantCodeFlipped = 3,
  kVariantCodeTurned180 = 4,
  kVariantCodeQuarterA = 5,  ///< the two quarter turns
  kVariantCodeQuarterB = 6,
  kVariantCodeQuarterFlipped = 7,  ///< a quarter turn combined with a flip or a mirror
  kVariantCodeQuarterMirrored = 8,
};

/// The instruction sets the comparison loop runs on, slowest first. Every
/// level computes the same sums; the fastest one the processor has is used.
enum class KernelLevel : std::uint8_t { scalar, sse41, avx2 };

/// The fastest level this processor runs.
KernelLevel best_kernel_level();
/// Every level this processor runs, scalar first.
std::vector<KernelLevel> supported_kernel_levels();
const char* kernel_level_name(KernelLevel level);

namespace kernel {

/// Room for every sample, padded with entries of weight 0 so that the vector
/// loops may always read whole groups of eight.
inline constexpr int kColumnSize = 128;

/// For one comparison, the cell's entries lined up with the tile's samples:
/// position j holds the cell entry set against tile sample j, its colour and
/// transparency packed as a pixel, and its level weight, 0 where nothing
/// counts. The tile is then read in its own order, without gathering.
struct Alignment {
  std::array<std::uint32_t, kColumnSize> colour{};
  std::array<std::uint32_t, kColumnSize> weight{};
};

/// The comparisons in the order they run, by their bits.
inline constexpr std::array<std::uint32_t, 4> kComparisonBits{kCompareAsIs, kCompareTurned180, kCompareMirrored,
                                                              kCompareFlipped};

/// Per comparison, the cell lined up with the tile. The whole-picture entry
/// is the same in all of them and is counted in each.
using Alignments = std::array<Alignment, kComparisonBits.size()>;

/// What the vector loops read of a prepared cell besides its alignments.
struct CellPlan {
  std::uint32_t overall = 0;         ///< the whole-picture entry's colour
  int first = 0;                     ///< the positions that can count
  int end = 0;
  std::uint32_t multiplier[3] = {};  ///< ScoreTables::channel_multiplier()
  std::uint32_t reciprocal = 0;      ///< of the divisor, when it is not 1
  int colour_limit = 0;              ///< ScoreTables::tile_colour_limit()
  bool perceptual = false;           ///< the samples are in the perceptual form
  const std::uint32_t* curve = nullptr;  ///< ScoreTables::curve_row()
};

/// The best finished comparison of a tile: its sum and index, -1 when none.
struct Outcome {
  std::uint64_t sum = 0;
  int comparison = -1;
};

/// Runs the allowed comparisons (kernel comparison bits, in the kernel's
/// order) of one tile's samples against a cell, each bounded by `bound` and
/// then by the best sum so far, exactly as the scalar loop does.
using VectorKernel = Outcome (*)(const CellPlan& cell, const Alignments& aligned, const std::uint32_t* samples,
                                 std::uint32_t allowed, std::uint64_t bound);

/// The heaviest weight whose products with a distance of whole pixels
/// (at most 765) stay below 2¹⁵.
inline constexpr std::uint32_t kLightWeight = 32767 / 765;

/// The kernel for a level other than scalar, a method, and whether the
/// divisor is not 1, any entry is partly transparent, and `unit`: every
/// channel weighs exactly 1 (its multiplier is 1 << kChannelMultiplierShift
/// and the divisor is 1) and every entry from position 16 on weighs at most
/// kLightWeight and costs less than 2²⁵; null for the scalar level.
VectorKernel vector_kernel(KernelLevel level, std::int32_t method, bool divide, bool transparent, bool unit);

}  // namespace kernel

/// The bound the comparison loops get for a score bound and a cell
/// priority: a comparison gives up once its sum passes it. kNoSumBound when
/// it bounds nothing (the bound, scaled back by the priority, does not fit 32
/// bits or is the saturation code).
inline constexpr std::uint64_t kNoSumBound = ~std::uint64_t{0};
inline std::uint64_t kernel_sum_bound(std::uint32_t bound, std::uint8_t priority) {
  // Most cells keep the neutral priority: no division for them.
  const std::uint64_t quotient = priority == kNeutralPriority
                                     ? bound
                                     : std::uint64_t{bound} * kNeutralPriority / (priority == 0 ? 1 : priority);
  if (quotient <= 0xFFFFFFFFu && quotient != kScoreSaturated) return quotient + 1;
  return kNoSumBound;
}

struct TileScore {
  std::uint32_t score = kScoreUnusable;
  std::uint8_t variant = kVariantCodeNone;

  friend bool operator==(const TileScore&, const TileScore&) = default;
};

/// One cell made ready to be scored against many tiles. Holds no pointer
/// into the cell, only into `tables`, which must outlive it. Scoring is
/// const and allocation-free, so one scorer may serve several threads.
class CellScorer {
 public:
  /// `priority` 1..255, 20 neutral; 0 counts as 1. `level` picks the
  /// comparison loop; every level gives the same scores.
  CellScorer(const ScoreTables& tables, const TileSignature& cell, std::uint8_t priority,
             KernelLevel level = best_kernel_level());

  /// The tile's score for this cell and the variant that won. A score that
  /// would be `bound` or more may come back as kScoreUnusable instead; one
  /// below `bound` is always exact.
  TileScore score(const TileSignature& tile, std::uint32_t bound = kNoBound) const;

  /// The plain kernel distance of the best allowed comparison, unbounded and
  /// without the priority factor; kScoreUnusable when no comparison is allowed.
  std::uint32_t distance(const TileSignature& tile) const;

  /// Whether tiles are compared in their perceptual form.
  bool perceptual() const { return m_perceptual; }

 private:
  using KernelOutcome = kernel::Outcome;
  /// Per channel, the clamp table row that reads a tile value moved by the colour shift.
  using ShiftRows = std::array<const std::uint8_t*, 3>;
  using Compare = std::uint64_t (CellScorer::*)(const std::uint32_t* tile, const std::uint32_t* colour,
                                                const std::uint32_t* weight, const ShiftRows& shift,
                                                std::uint64_t bound, int first, int end, std::uint64_t sum) const;

  /// Adds the costs of cell entries [first, end) (`colour`, `weight`) set
  /// against the tile samples at the same positions to `sum`; kAborted as
  /// soon as the sum exceeds `bound`.
  template <std::int32_t Method, bool Shift>
  std::uint64_t compare(const std::uint32_t* tile, const std::uint32_t* colour, const std::uint32_t* weight,
                        const ShiftRows& shift, std::uint64_t bound, int first, int end, std::uint64_t sum) const;
  KernelOutcome run_kernel(const TileSignature& tile, std::uint32_t allowed, std::uint64_t bound) const;

  const ScoreTables* m_tables;
  kernel::Alignments m_aligned;
  /// The whole-picture entry's colour, which the colour shift starts from.
  std::uint32_t m_overall = 0;
  /// The positions that can count: from the first level with a counted
  /// entry to the end of the last one.
  int m_first = 0;
  int m_end = 0;
  std::uint8_t m_priority;
  bool m_portrait;
  bool m_perceptual = false;
  Compare m_compare = nullptr;
  Compare m_compare_shifted = nullptr;
  /// The vector kernel and what it reads, null on the scalar level.
  kernel::VectorKernel m_vector = nullptr;
  kernel::CellPlan m_plan;
};

/// Scores one tile for one cell (prepares the cell each time: use a
/// CellScorer to score many tiles for the same cell).
TileScore score_tile(const ScoreTables& tables, const TileSignature& cell, std::uint8_t priority,
                     const TileSignature& tile, std::uint32_t bound = kNoBound);

/// The per-channel shift that brings a tile's overall colour toward the
/// cell's, at most `limit` levels: two thirds of the luminance difference
/// moves all channels alike, a third of what each channel still lacks is
/// added on top. Scoring and rendering use the same shift.
inline std::array<int, 3> tile_colour_shift(std::uint32_t cell_overall, std::uint32_t tile_overall, int limit) {
  const int dr = static_cast<int>(cell_overall & 0xFFu) - static_cast<int>(tile_overall & 0xFFu);
  const int dg = static_cast<int>((cell_overall >> 8) & 0xFFu) - static_cast<int>((tile_overall >> 8) & 0xFFu);
  const int db = static_cast<int>((cell_overall >> 16) & 0xFFu) - static_cast<int>((tile_overall >> 16) & 0xFFu);
  const int lum = (30 * dr + 59 * dg + 11 * db) / 100;
  const int s = 2 * std::clamp(lum, -limit, limit) / 3;
  return {s + std::clamp(dr - s, -limit, limit) / 3, s + std::clamp(dg - s, -limit, limit) / 3,
          s + std::clamp(db - s, -limit, limit) / 3};
}

/// The colour shift of the comparison in use: tile_colour_shift() on red,
/// green and blue, perceptual_colour_shift() on the perceptual form. The
/// overall samples are in the form compared.
inline std::array<int, 3> comparison_colour_shift(bool perceptual, std::uint32_t cell_overall,
                                                  std::uint32_t tile_overall, int limit) {
  return perceptual ? perceptual_colour_shift(cell_overall, tile_overall, limit)
                    : tile_colour_shift(cell_overall, tile_overall, limit);
}

/// The samples a comparison reads of `signature`: its own, or in the
/// perceptual form. A signature whose perceptual form was not prepared is
/// converted into a buffer of the calling thread, good until its next call.
inline const std::uint32_t* compared_samples(const TileSignature& signature, bool perceptual) {
  if (!perceptual) return signature.samples.data();
  if (signature.perceptual_ready != 0) return signature.perceptual.data();
  thread_local std::array<std::uint32_t, kSignatureSampleCount> converted;
  perceptual_pixels(signature.samples.data(), converted.data(), kSignatureSampleCount);
  return converted.data();
}

}  // namespace tess
