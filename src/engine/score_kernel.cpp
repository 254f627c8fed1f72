#include "engine/score_kernel.hpp"

#include <algorithm>

#include "images/foto.hpp"

namespace tess {
namespace {

/// The kernel's comparisons in the order they run, with their bits and codes.
constexpr int kComparisonCount = 4;
using kernel::kComparisonBits;
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

KernelLevel best_kernel_level() {
  static const KernelLevel level = supported_kernel_levels().back();
  return level;
}

std::vector<KernelLevel> supported_kernel_levels() {
  std::vector<KernelLevel> levels{KernelLevel::scalar};
#if defined(__x86_64__) || defined(__i386__)
  __builtin_cpu_init();
  if (__builtin_cpu_supports("sse4.1")) levels.push_back(KernelLevel::sse41);
  if (__builtin_cpu_supports("avx2")) levels.push_back(KernelLevel::avx2);
#endif
  return levels;
}

const char* kernel_level_name(KernelLevel level) {
  switch (level) {
    case KernelLevel::sse41: return "sse4.1";
    case KernelLevel::avx2: return "avx2";
    default: return "scalar";
  }
}

CellScorer::CellScorer(const ScoreTables& tables, const TileSignature& cell, std::uint8_t priority, KernelLevel level)
    : m_tables(&tables),
      m_priority(priority == 0 ? std::uint8_t{1} : priority),
      m_portrait(cell.portrait != 0),
      m_perceptual(tables.perceptual()) {
  // The cell in the form the tiles are compared in; a cell is prepared once
  // for many tiles, so converting it here costs little.
  std::array<std::uint32_t, kSignatureSampleCount> samples = cell.samples;
  if (m_perceptual) perceptual_pixels(cell.samples.data(), samples.data(), kSignatureSampleCount);
  m_overall = samples[kOverallSample];
  // Entries of weight 0 and fully transparent entries add nothing to any sum:
  // they keep weight 0. Each comparison's alignment sets the cell entry that
  // meets tile sample j at position j.
  const auto counted_weight = [&](int i) {
    const std::uint32_t transparency = pixel_transparency(samples[static_cast<std::size_t>(i)]);
    return transparency == 255 ? 0u : tables.level_weight(level_of(i));
  };
  bool transparent = false;
  bool levels_count[3] = {false, false, false};
  std::uint32_t heaviest = 0;
  for (int i = 0; i < kSignatureSampleCount; ++i) {
    const std::uint32_t weight = counted_weight(i);
    if (weight == 0) continue;
    const std::uint32_t sample = samples[static_cast<std::size_t>(i)];
    for (int k = 0; k < kComparisonCount; ++k) {
      const auto j = static_cast<std::size_t>(kPermutations[k][i]);
      m_aligned[static_cast<std::size_t>(k)].colour[j] = sample;
      m_aligned[static_cast<std::size_t>(k)].weight[j] = weight;
    }
    levels_count[level_of(i)] = true;
    transparent = transparent || pixel_transparency(sample) != 0;
    heaviest = std::max(heaviest, weight);
  }
  // Coarse before fine, so bad tiles are rejected early.
  const int level_start[3] = {kOverallSample, kFirstCoarseSample, kFirstFineSample};
  const int level_end[3] = {kFirstCoarseSample, kFirstFineSample, kSignatureSampleCount};
  for (int level = 2; level >= 0; --level) {
    if (!levels_count[level]) continue;
    m_first = level_start[level];
    if (m_end == 0) m_end = level_end[level];
  }

  switch (tables.kernel_method()) {
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
  // The method's value of an entry distance.
  const auto value_of = [&](int distance) -> std::uint64_t {
    const auto d = static_cast<std::uint64_t>(distance);
    if (tables.kernel_method() == kCompareStronger) return d * d;
    if (tables.kernel_method() == kCompareBest) return tables.curve(distance);
    return d;
  };
  // The vector loops work out each entry's cost in 32-bit lanes: they serve
  // only when the heaviest entry's worst cost fits in 31 bits (which the
  // level weights the tables make always do) and the channel distances are
  // a multiplication away.
  if (tables.channel_multipliers_exact() &&
      std::uint64_t{heaviest} * value_of(kCurveSize - 1) < (std::uint64_t{1} << 31)) {
    // The whole-pixel loop wants every channel to weigh exactly 1, every
    // weight to fit a 16-bit lane (it multiplies by them there), and the
    // entries past the first two groups of eight light: those are grid
    // entries, which weigh little next to the whole-picture entry among the
    // first ones, and a distance of whole pixels (at most 765) then costs
    // less than 2²⁵. Where any of that fails, the general loop serves.
    bool unit = tables.divisor() == 1 && heaviest < (1u << 15) &&
                value_of(3 * 255) * kernel::kLightWeight < (std::uint64_t{1} << 25);
    for (int c = 0; c < 3; ++c) unit = unit && tables.channel_multiplier(c) == 1u << kChannelMultiplierShift;
    for (const kernel::Alignment& alignment : m_aligned) {
      unit = unit && std::all_of(alignment.weight.begin() + 16, alignment.weight.end(),
                                 [](std::uint32_t w) { return w <= kernel::kLightWeight; });
    }
    m_vector = kernel::vector_kernel(level, tables.kernel_method(), tables.divisor() != 1, transparent, unit);
    m_plan.overall = m_overall;
    m_plan.first = m_first;
    m_plan.end = m_end;
    for (int c = 0; c < 3; ++c) m_plan.multiplier[c] = tables.channel_multiplier(c);
    m_plan.reciprocal = static_cast<std::uint32_t>(tables.divisor_reciprocal());
    m_plan.colour_limit = tables.tile_colour_limit();
    m_plan.perceptual = m_perceptual;
    m_plan.curve = tables.curve_row();
  }
}

template <std::int32_t Method, bool Shift>
std::uint64_t CellScorer::compare(const std::uint32_t* tile, const std::uint32_t* colour, const std::uint32_t* weight,
                                  const ShiftRows& shift, std::uint64_t bound, int first, int end,
                                  std::uint64_t sum) const {
  static_assert(Method == kCompareStronger || Method == kCompareBest || Method == kCompareWeaker);
  const std::uint32_t* red = m_tables->channel_row(0);
  const std::uint32_t* green = m_tables->channel_row(1);
  const std::uint32_t* blue = m_tables->channel_row(2);
  const std::uint32_t* curve = m_tables->curve_row();
  const std::uint64_t reciprocal = m_tables->divisor_reciprocal();
  if (sum > bound) return kAborted;
  for (int j = first; j < end; ++j) {
    const std::uint64_t w = weight[j];
    if (w == 0) continue;
    const std::uint32_t sample = tile[j];
    int r = static_cast<int>(sample & 0xFFu);
    int g = static_cast<int>((sample >> 8) & 0xFFu);
    int b = static_cast<int>((sample >> 16) & 0xFFu);
    if constexpr (Shift) {
      r = shift[0][r];
      g = shift[1][g];
      b = shift[2][b];
    }
    const std::uint32_t cell = colour[j];
    const std::uint32_t n = red[static_cast<int>(pixel_red(cell)) - r] + green[static_cast<int>(pixel_green(cell)) - g] +
                            blue[static_cast<int>(pixel_blue(cell)) - b];
    const auto d = static_cast<std::uint32_t>((n * reciprocal) >> 32);  // n / divisor, exactly
    std::uint64_t c;
    if constexpr (Method == kCompareBest) {
      c = w * curve[d];
    } else if constexpr (Method == kCompareStronger) {
      c = w * d * d;
    } else {
      c = w * d;
    }
    if (const std::uint32_t transparency = pixel_transparency(cell); transparency != 0) c -= c * transparency / 255;
    sum += c;
    if (sum > bound) return kAborted;
  }
  return sum;
}

CellScorer::KernelOutcome CellScorer::run_kernel(const TileSignature& tile, std::uint32_t allowed,
                                                 std::uint64_t bound) const {
  const std::uint32_t* samples = compared_samples(tile, m_perceptual);
  if (m_vector != nullptr) return m_vector(m_plan, m_aligned, samples, allowed, bound);
  int shift[3] = {0, 0, 0};
  ShiftRows rows{};
  Compare compare = m_compare;
  if (const int limit = m_tables->tile_colour_limit(); limit > 0) {
    const std::array<int, 3> s = comparison_colour_shift(m_perceptual, m_overall, samples[kOverallSample], limit);
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
  for (int k = 0; k < kComparisonCount; ++k) {
    if ((allowed & kComparisonBits[static_cast<std::size_t>(k)]) == 0) continue;
    const kernel::Alignment& cell = m_aligned[static_cast<std::size_t>(k)];
    const std::uint64_t sum =
        (this->*compare)(samples, cell.colour.data(), cell.weight.data(), rows, bound, m_first, m_end, 0);
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
  const KernelOutcome outcome = run_kernel(tile, allowed, kernel_sum_bound(bound, m_priority));
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
