#include "engine/score_kernel.hpp"

#include <algorithm>

#include "images/foto.hpp"

namespace tess {
namespace {

/// The kernel's comparisons in the order they run, with their bits and codes.
constexpr int kComparisonCount = 4;
constexpr std::array<std::uint32_t, kComparisonCount> kComparisonBits{kCompareAsIs, kCompareTurned180,
                                                                      kCompareMirrored, kCompareFlipped};
constexpr std::array<int, kComparisonCount> kComparisonCodes{1, 4, 2, 3};

constexpr std::uint64_t kUnbounded = ~std::uint64_t{0};
constexpr std::uint64_t kAborted = ~std::uint64_t{0};
/// kernel · priority at or above this no longer fits 32 bits after the / 20.
constexpr std::uint64_t kSaturatingProduct = 20 * (std::uint64_t{1} << 32) - 40;

/// For each comparison, the tile entry set against cell entry i: the whole
/// picture stays itself, both grids are mirrored, flipped or both.
constexpr std::array<std::array<std::uint8_t, kSignatureSampleCount>, kComparisonCount> make_permutations() {
  std::array<std::array<std::uint8_t, kSignatureSampleCount>, kComparisonCount> p{};
  // Per comparison (as is, half turn, mirrored, flipped): are columns, rows reversed?
  constexpr bool kMirror[kComparisonCount] = {false, true, true, false};
  constexpr bool kFlip[kComparisonCount] = {false, true, false, true};
  for (int k = 0; k < kComparisonCount; ++k) {
    p[k][0] = 0;
    for (int r = 0; r < kCoarseRows; ++r) {
      for (int c = 0; c < kCoarseColumns; ++c) {
        const int tc = kMirror[k] ? kCoarseColumns - 1 - c : c;
        const int tr = kFlip[k] ? kCoarseRows - 1 - r : r;
        p[k][kFirstCoarseSample + c + kCoarseColumns * r] =
            static_cast<std::uint8_t>(kFirstCoarseSample + tc + kCoarseColumns * tr);
      }
    }
    for (int r = 0; r < kGridRows; ++r) {
      for (int c = 0; c < kGridColumns; ++c) {
        const int tc = kMirror[k] ? kGridColumns - 1 - c : c;
        const int tr = kFlip[k] ? kGridRows - 1 - r : r;
        p[k][kFirstFineSample + c + kGridColumns * r] =
            static_cast<std::uint8_t>(kFirstFineSample + tc + kGridColumns * tr);
      }
    }
  }
  return p;
}
constexpr auto kPermutations = make_permutations();

int level_of(int entry) {
  if (entry < kFirstCoarseSample) return 0;
  return entry < kFirstFineSample ? 1 : 2;
}

/// The variant drawn for kernel code `k`: the comparison happened in the
/// landscape frame both signatures are kept in, so the orientations say which
/// turn it stands for.
std::uint8_t variant_code(int k, bool cell_portrait, bool tile_portrait) {
  if (cell_portrait == tile_portrait) {
    if (cell_portrait && (k == 2 || k == 3)) k = 5 - k;
    return static_cast<std::uint8_t>(k);
  }
  switch (k) {
    case 1: return cell_portrait ? kVariantCodeQuarterA : kVariantCodeQuarterB;
    case 4: return cell_portrait ? kVariantCodeQuarterB : kVariantCodeQuarterA;
    case 2: return kVariantCodeQuarterMirrored;
    default: return kVariantCodeQuarterFlipped;
  }
}

/// kClampTable[kMaxTileColourShift + v] is v held to 0..255, for every
/// channel value moved by any shift the tables allow.
constexpr std::array<std::uint8_t, 2 * kMaxTileColourShift + 256> make_clamp_table() {
  std::array<std::uint8_t, 2 * kMaxTileColourShift + 256> table{};
  for (int i = 0; i < static_cast<int>(table.size()); ++i) {
    table[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(std::clamp(i - kMaxTileColourShift, 0, 255));
  }
  return table;
}
constexpr auto kClampTable = make_clamp_table();

/// The row that maps a channel value v to v + shift held to 0..255.
const std::uint8_t* clamp_row(int shift) {
  return kClampTable.data() + kMaxTileColourShift + std::clamp(shift, -kMaxTileColourShift, kMaxTileColourShift);
}

}  // namespace

CellScorer::CellScorer(const ScoreTables& tables, const TileSignature& cell, std::uint8_t priority)
    : m_tables(&tables),
      m_overall(cell.samples[kOverallSample]),
      m_priority(priority == 0 ? std::uint8_t{1} : priority),
      m_portrait(cell.portrait != 0) {
  // Entries of weight 0 and fully transparent entries add nothing to any sum,
  // so they are left out; the rest keep their coarse-to-fine order, which
  // rejects bad tiles earliest.
  for (int i = 0; i < kSignatureSampleCount; ++i) {
    const std::uint32_t sample = cell.samples[static_cast<std::size_t>(i)];
    const std::uint32_t weight = tables.level_weight(level_of(i));
    const std::uint32_t transparency = pixel_transparency(sample);
    if (weight == 0 || transparency == 255) continue;
    if (i == kOverallSample) m_overall_counts = true;
    Entry& e = m_entries[static_cast<std::size_t>(m_count++)];
    e.red = static_cast<std::uint8_t>(pixel_red(sample));
    e.green = static_cast<std::uint8_t>(pixel_green(sample));
    e.blue = static_cast<std::uint8_t>(pixel_blue(sample));
    e.transparency = static_cast<std::uint8_t>(transparency);
    e.weight = weight;
    for (int k = 0; k < kComparisonCount; ++k) e.tile_index[static_cast<std::size_t>(k)] = kPermutations[k][i];
  }
  switch (tables.method()) {
    case kCompareStronger:
      m_compare = &CellScorer::compare<kCompareStronger, false>;
      m_compare_shifted = &CellScorer::compare<kCompareStronger, true>;
      break;
    case kCompareWeaker:
      m_compare = &CellScorer::compare<kCompareWeaker, false>;
      m_compare_shifted = &CellScorer::compare<kCompareWeaker, true>;
      break;
    default:
      m_compare = &CellScorer::compare<kCompareBest, false>;
      m_compare_shifted = &CellScorer::compare<kCompareBest, true>;
      break;
  }
}

template <std::int32_t Method, bool Shift>
std::uint64_t CellScorer::compare(const std::uint32_t* tile, int comparison, const ShiftRows& shift, std::uint64_t bound,
                                  int first, int end, std::uint64_t sum) const {
  static_assert(Method == kCompareStronger || Method == kCompareBest || Method == kCompareWeaker);
  const std::uint32_t* red = m_tables->channel_row(0);
  const std::uint32_t* green = m_tables->channel_row(1);
  const std::uint32_t* blue = m_tables->channel_row(2);
  const std::uint32_t* curve = m_tables->curve_row();
  const std::uint64_t reciprocal = m_tables->divisor_reciprocal();
  const auto k = static_cast<std::size_t>(comparison);
  if (sum > bound) return kAborted;
  for (int j = first; j < end; ++j) {
    const Entry& e = m_entries[static_cast<std::size_t>(j)];
    const std::uint32_t sample = tile[e.tile_index[k]];
    int r = static_cast<int>(sample & 0xFFu);
    int g = static_cast<int>((sample >> 8) & 0xFFu);
    int b = static_cast<int>((sample >> 16) & 0xFFu);
    if constexpr (Shift) {
      r = shift[0][r];
      g = shift[1][g];
      b = shift[2][b];
    }
    const std::uint32_t n = red[e.red - r] + green[e.green - g] + blue[e.blue - b];
    const auto d = static_cast<std::uint32_t>((n * reciprocal) >> 32);  // n / divisor, exactly
    std::uint64_t c;
    if constexpr (Method == kCompareBest) {
      c = std::uint64_t{e.weight} * curve[d];
    } else if constexpr (Method == kCompareStronger) {
      c = std::uint64_t{e.weight} * d * d;
    } else {
      c = std::uint64_t{e.weight} * d;
    }
    if (e.transparency != 0) c -= c * e.transparency / 255;
    sum += c;
    if (sum > bound) return kAborted;
  }
  return sum;
}

CellScorer::KernelOutcome CellScorer::run_kernel(const TileSignature& tile, std::uint32_t allowed,
                                                 std::uint64_t bound) const {
  int shift[3] = {0, 0, 0};
  ShiftRows rows{};
  Compare compare = m_compare;
  if (const int limit = m_tables->tile_colour_limit(); limit > 0) {
    const std::array<int, 3> s = tile_colour_shift(m_overall, tile.samples[kOverallSample], limit);
    shift[0] = s[0];
    shift[1] = s[1];
    shift[2] = s[2];
    // A shift of nothing reads the tile as it is: the plain loop gives the same sums.
    if (shift[0] != 0 || shift[1] != 0 || shift[2] != 0) {
      compare = m_compare_shifted;
      for (int c = 0; c < 3; ++c) rows[static_cast<std::size_t>(c)] = clamp_row(shift[c]);
    }
  }
  KernelOutcome best;
  // The whole-picture entry is the same in every comparison: it is counted
  // once, and when it alone exceeds the bound no comparison can finish.
  int first = 0;
  std::uint64_t overall = 0;
  if (m_overall_counts) {
    overall = (this->*compare)(tile.samples.data(), 0, rows, bound, 0, 1, 0);
    if (overall == kAborted) return best;
    first = 1;
  }
  for (int k = 0; k < kComparisonCount; ++k) {
    if ((allowed & kComparisonBits[static_cast<std::size_t>(k)]) == 0) continue;
    const std::uint64_t sum = (this->*compare)(tile.samples.data(), k, rows, bound, first, m_count, overall);
    if (sum == kAborted) continue;
    // A finished comparison bounds the later ones; an equal sum later still wins.
    best.sum = sum;
    best.comparison = k;
    bound = sum;
  }
  return best;
}

TileScore CellScorer::score(const TileSignature& tile, std::uint32_t bound) const {
  const bool tile_portrait = tile.portrait != 0;
  const std::uint32_t allowed = m_tables->comparisons(m_portrait, tile_portrait);
  if (allowed == 0) return {};
  // The bound is scaled back by the priority; one that does not fit 32 bits
  // (or that is the saturation code) bounds nothing.
  std::uint64_t kernel_bound = kUnbounded;
  const std::uint64_t quotient = std::uint64_t{bound} * kNeutralPriority / m_priority;
  if (quotient <= 0xFFFFFFFFu && quotient != kScoreSaturated) kernel_bound = quotient + 1;

  const KernelOutcome outcome = run_kernel(tile, allowed, kernel_bound);
  if (outcome.comparison < 0) return {};
  const std::uint64_t product = outcome.sum * m_priority;
  TileScore result;
  result.score = product >= kSaturatingProduct ? kScoreSaturated
                                               : static_cast<std::uint32_t>(product / kNeutralPriority);
  result.variant =
      variant_code(kComparisonCodes[static_cast<std::size_t>(outcome.comparison)], m_portrait, tile_portrait);
  return result;
}

std::uint32_t CellScorer::distance(const TileSignature& tile) const {
  const std::uint32_t allowed = m_tables->comparisons(m_portrait, tile.portrait != 0);
  if (allowed == 0) return kScoreUnusable;
  const KernelOutcome outcome = run_kernel(tile, allowed, kUnbounded);
  if (outcome.comparison < 0) return kScoreUnusable;
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(outcome.sum, kScoreSaturated));
}

TileScore score_tile(const ScoreTables& tables, const TileSignature& cell, std::uint8_t priority,
                     const TileSignature& tile, std::uint32_t bound) {
  return CellScorer(tables, cell, priority).score(tile, bound);
}

}  // namespace tess
