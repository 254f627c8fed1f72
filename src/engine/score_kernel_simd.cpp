// The comparison loop on vector units: eight (AVX2) or four (SSE4.1) cell
// entries at a time, the same integer arithmetic as the scalar loop lane by
// lane, so every sum is the scalar sum. The bound is checked once per group
// of entries instead of once per entry: costs are never negative, so a sum
// that passes the bound inside a group still ends above it.
//
// The build stays portable x86-64: only these functions are compiled for the
// wider instruction sets, and they are called only on processors that have
// them.

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>

#include "engine/score_kernel.hpp"
#include "engine/score_tables.hpp"
#include "tilelist/tile_signature.hpp"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define TESS_VECTOR_KERNELS 1
#endif

namespace tess::kernel {
namespace {

constexpr std::uint64_t kAborted = ~std::uint64_t{0};

#if TESS_VECTOR_KERNELS

#define TESS_AVX2 __attribute__((target("avx2"), always_inline)) inline
#define TESS_SSE41 __attribute__((target("sse4.1"), always_inline)) inline

/// The tile's samples from position j on, in `Width` lanes; lanes past its
/// last sample read 0 (their cell entries weigh nothing).
template <int Width>
__attribute__((always_inline)) inline const std::uint32_t* tile_group(const std::uint32_t* tile, int j,
                                                                     std::uint32_t (&spare)[Width]) {
  if (j + Width <= kSignatureSampleCount) return tile + j;
  for (int lane = 0; lane < Width; ++lane) spare[lane] = j + lane < kSignatureSampleCount ? tile[j + lane] : 0;
  return spare;
}

// ---- AVX2: eight entries at a time --------------------------------------------

/// The channel distance of every lane: |cell − tile| times the channel's
/// fixed-point weight.
TESS_AVX2 __m256i channel_distance_avx2(__m256i cell, __m256i tile, __m256i multiplier) {
  return _mm256_srli_epi32(_mm256_mullo_epi32(_mm256_abs_epi32(_mm256_sub_epi32(cell, tile)), multiplier),
                           kChannelMultiplierShift);
}

/// c · t / 255 per lane, truncated, for c < 2³¹ and t < 256: the product is
/// exact in a double and the quotient never rounds across an integer.
TESS_AVX2 __m256i transparent_share_avx2(__m256i cost, __m256i transparency) {
  const __m256d d255 = _mm256_set1_pd(255.0);
  const __m256d low = _mm256_mul_pd(_mm256_cvtepi32_pd(_mm256_castsi256_si128(cost)),
                                    _mm256_cvtepi32_pd(_mm256_castsi256_si128(transparency)));
  const __m256d high = _mm256_mul_pd(_mm256_cvtepi32_pd(_mm256_extracti128_si256(cost, 1)),
                                     _mm256_cvtepi32_pd(_mm256_extracti128_si256(transparency, 1)));
  return _mm256_set_m128i(_mm256_cvttpd_epi32(_mm256_div_pd(high, d255)),
                          _mm256_cvttpd_epi32(_mm256_div_pd(low, d255)));
}

/// The tile's eight samples from position j on; lanes past its last sample
/// are not read and hold 0 (their cell entries weigh nothing).
TESS_AVX2 __m256i tile_samples_avx2(const std::uint32_t* tile, int j) {
  if (j + 8 <= kSignatureSampleCount) return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(tile + j));
  const __m256i lane = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
  const __m256i inside = _mm256_cmpgt_epi32(_mm256_set1_epi32(kSignatureSampleCount - j), lane);
  return _mm256_maskload_epi32(reinterpret_cast<const int*>(tile + j), inside);
}

/// The broadcast constants of one tile's comparisons.
struct LanesAvx2 {
  __m256i shift[3];
  __m256i multiplier[3];
  __m256i reciprocal;
  const std::uint32_t* curve;
  /// The shift as bytes, up and down, for the loop on whole pixels.
  __m256i raise;
  __m256i lower;
};

/// The costs of the eight cell entries from position j on against the tile.
/// `Light`: the entries weigh at most kLightWeight (only with `Unit`).
template <std::int32_t Method, bool Shift, bool Divide, bool Transparent, bool Unit, bool Light>
TESS_AVX2 __m256i group_cost_avx2(const Alignment& cell, const LanesAvx2& lanes, const std::uint32_t* tile, int j) {
  const __m256i byte = _mm256_set1_epi32(0xFF);
  const __m256i zero = _mm256_setzero_si256();
  const __m256i& shift_red = lanes.shift[0];
  const __m256i& shift_green = lanes.shift[1];
  const __m256i& shift_blue = lanes.shift[2];
  const __m256i& multiplier_red = lanes.multiplier[0];
  const __m256i& multiplier_green = lanes.multiplier[1];
  const __m256i& multiplier_blue = lanes.multiplier[2];
  const __m256i& reciprocal = lanes.reciprocal;
  const __m256i sample = tile_samples_avx2(tile, j);
  const __m256i colour = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(cell.colour.data() + j));
  __m256i n;
  if constexpr (Unit) {
    // Every channel weighs 1: the distances of whole pixels, a byte per
    // channel, the shift saturating as the clamp does, then the three
    // channels of each pixel added up (the transparency byte times 0).
    __m256i moved = sample;
    if constexpr (Shift) moved = _mm256_subs_epu8(_mm256_adds_epu8(moved, lanes.raise), lanes.lower);
    const __m256i apart = _mm256_sub_epi8(_mm256_max_epu8(colour, moved), _mm256_min_epu8(colour, moved));
    n = _mm256_madd_epi16(_mm256_maddubs_epi16(apart, _mm256_set1_epi32(0x00010101)), _mm256_set1_epi16(1));
  } else {
    __m256i red = _mm256_and_si256(sample, byte);
    __m256i green = _mm256_and_si256(_mm256_srli_epi32(sample, 8), byte);
    __m256i blue = _mm256_and_si256(_mm256_srli_epi32(sample, 16), byte);
    if constexpr (Shift) {
      red = _mm256_min_epi32(_mm256_max_epi32(_mm256_add_epi32(red, shift_red), zero), byte);
      green = _mm256_min_epi32(_mm256_max_epi32(_mm256_add_epi32(green, shift_green), zero), byte);
      blue = _mm256_min_epi32(_mm256_max_epi32(_mm256_add_epi32(blue, shift_blue), zero), byte);
    }
    // Channel distances summed and divided exactly.
    n = channel_distance_avx2(_mm256_and_si256(colour, byte), red, multiplier_red);
    n = _mm256_add_epi32(n, channel_distance_avx2(_mm256_and_si256(_mm256_srli_epi32(colour, 8), byte), green,
                                                  multiplier_green));
    n = _mm256_add_epi32(n, channel_distance_avx2(_mm256_and_si256(_mm256_srli_epi32(colour, 16), byte), blue,
                                                  multiplier_blue));
    if constexpr (Divide) {
      const __m256i even = _mm256_srli_epi64(_mm256_mul_epu32(n, reciprocal), 32);
      const __m256i odd = _mm256_mul_epu32(_mm256_srli_epi64(n, 32), reciprocal);
      n = _mm256_blend_epi32(even, odd, 0xAA);
    }
  }
  const __m256i weight = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(cell.weight.data() + j));
  __m256i cost;
  if constexpr (Method == kCompareBest) {
    // Read from the curve table: every distance the channels can give is
    // inside it, and one gather is cheaper than working the power out.
    cost = _mm256_mullo_epi32(_mm256_i32gather_epi32(reinterpret_cast<const int*>(lanes.curve), n, 4), weight);
  } else if constexpr (Unit) {
    // A distance of whole pixels (at most 765) and an entry's weight each
    // fit the low half of their lane: 16-bit products, exact, where they
    // serve instead of 32-bit ones.
    // Light ones also make n · w fit, and n · (n · w) is one more 16-bit
    // product.
    if constexpr (Method == kCompareStronger && Light) {
      cost = _mm256_madd_epi16(n, _mm256_mullo_epi16(n, weight));
    } else {
      cost = Method == kCompareStronger ? _mm256_mullo_epi32(_mm256_madd_epi16(n, n), weight)
                                        : _mm256_madd_epi16(n, weight);
    }
  } else {
    cost = _mm256_mullo_epi32(Method == kCompareStronger ? _mm256_mullo_epi32(n, n) : n, weight);
  }
  if constexpr (Transparent) {
    cost = _mm256_sub_epi32(cost, transparent_share_avx2(cost, _mm256_srli_epi32(colour, 24)));
  }
  return cost;
}

/// The costs of the entries from position j up to `end`, at most `Groups`
/// groups of eight, summed: each cost stays below 2³¹, so two of them add up
/// within 32 unsigned bits. Light entries cost less than 2²⁵: all of at most
/// four groups add up within 32 bits, lanes and all.
template <int Groups, std::int32_t Method, bool Shift, bool Divide, bool Transparent, bool Unit, bool Light>
TESS_AVX2 std::uint64_t groups_sum_avx2(const Alignment& cell, const LanesAvx2& lanes, const std::uint32_t* tile, int j,
                                        int end) {
  if constexpr (Light) {
    static_assert(Groups <= 4);
    __m256i total = _mm256_setzero_si256();
    for (int g = 0; g < Groups && j + 8 * g < end; ++g) {
      total = _mm256_add_epi32(total, group_cost_avx2<Method, Shift, Divide, Transparent, Unit, Light>(cell, lanes, tile,
                                                                                                       j + 8 * g));
    }
    __m128i half = _mm_add_epi32(_mm256_castsi256_si128(total), _mm256_extracti128_si256(total, 1));
    half = _mm_add_epi32(half, _mm_shuffle_epi32(half, 0x4E));
    half = _mm_add_epi32(half, _mm_shuffle_epi32(half, 0xB1));
    return static_cast<std::uint32_t>(_mm_cvtsi128_si32(half));
  }
  __m256i wide = _mm256_setzero_si256();
  for (int g = 0; g < Groups && j + 8 * g < end; g += 2) {
    __m256i cost = group_cost_avx2<Method, Shift, Divide, Transparent, Unit, Light>(cell, lanes, tile, j + 8 * g);
    if (j + 8 * g + 8 < end) {
      cost = _mm256_add_epi32(
          cost, group_cost_avx2<Method, Shift, Divide, Transparent, Unit, Light>(cell, lanes, tile, j + 8 * g + 8));
    }
    wide = _mm256_add_epi64(wide, _mm256_add_epi64(_mm256_cvtepu32_epi64(_mm256_castsi256_si128(cost)),
                                                   _mm256_cvtepu32_epi64(_mm256_extracti128_si256(cost, 1))));
  }
  const __m128i pair = _mm_add_epi64(_mm256_castsi256_si128(wide), _mm256_extracti128_si256(wide, 1));
  return static_cast<std::uint64_t>(_mm_cvtsi128_si64(pair)) + static_cast<std::uint64_t>(_mm_extract_epi64(pair, 1));
}

template <std::int32_t Method, bool Shift, bool Divide, bool Transparent, bool Unit>
TESS_AVX2 std::uint64_t sum_avx2(const Alignment& cell, const LanesAvx2& lanes, const std::uint32_t* tile,
                                 std::uint64_t bound, int first, int end, std::uint64_t sum) {
  // The bound is checked after the first two groups, which give up on most
  // tiles far from the cell, then after every four: a tile that gets past
  // them is mostly a close one, whose sum passes the bound late if at all,
  // and each check costs a sum across the lanes. The whole-picture entry,
  // the heaviest by far, is always among the first two groups; with `Unit`
  // the entries after them are light.
  sum += groups_sum_avx2<2, Method, Shift, Divide, Transparent, Unit, false>(cell, lanes, tile, first, end);
  if (sum > bound) return kAborted;
  for (int j = first + 16; j < end; j += 32) {
    sum += groups_sum_avx2<4, Method, Shift, Divide, Transparent, Unit, Unit>(cell, lanes, tile, j, end);
    if (sum > bound) return kAborted;
  }
  return sum;
}

// ---- SSE4.1: four entries at a time --------------------------------------------

TESS_SSE41 __m128i channel_distance_sse41(__m128i cell, __m128i tile, __m128i multiplier) {
  return _mm_srli_epi32(_mm_mullo_epi32(_mm_abs_epi32(_mm_sub_epi32(cell, tile)), multiplier),
                        kChannelMultiplierShift);
}

TESS_SSE41 __m128i power_one_and_a_half_sse41(__m128i v) {
  const __m128d low = _mm_cvtepi32_pd(v);
  const __m128d high = _mm_cvtepi32_pd(_mm_srli_si128(v, 8));
  return _mm_unpacklo_epi64(_mm_cvttpd_epi32(_mm_sqrt_pd(_mm_mul_pd(_mm_mul_pd(low, low), low))),
                            _mm_cvttpd_epi32(_mm_sqrt_pd(_mm_mul_pd(_mm_mul_pd(high, high), high))));
}

TESS_SSE41 __m128i curve_sse41(__m128i x) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i v = _mm_max_epi32(_mm_sub_epi32(x, _mm_set1_epi32(19)), zero);
  const __m128i u = _mm_max_epi32(_mm_sub_epi32(x, _mm_set1_epi32(99)), zero);
  return _mm_add_epi32(_mm_add_epi32(x, power_one_and_a_half_sse41(v)), _mm_mullo_epi32(u, u));
}

TESS_SSE41 __m128i transparent_share_sse41(__m128i cost, __m128i transparency) {
  const __m128d d255 = _mm_set1_pd(255.0);
  const __m128d low = _mm_mul_pd(_mm_cvtepi32_pd(cost), _mm_cvtepi32_pd(transparency));
  const __m128d high =
      _mm_mul_pd(_mm_cvtepi32_pd(_mm_srli_si128(cost, 8)), _mm_cvtepi32_pd(_mm_srli_si128(transparency, 8)));
  return _mm_unpacklo_epi64(_mm_cvttpd_epi32(_mm_div_pd(low, d255)), _mm_cvttpd_epi32(_mm_div_pd(high, d255)));
}

struct LanesSse41 {
  __m128i shift[3];
  __m128i multiplier[3];
  __m128i reciprocal;
};

template <std::int32_t Method, bool Shift, bool Divide, bool Transparent>
TESS_SSE41 std::uint64_t sum_sse41(const Alignment& cell, const LanesSse41& lanes, const std::uint32_t* tile,
                                   std::uint64_t bound, int first, int end, std::uint64_t sum) {
  const __m128i byte = _mm_set1_epi32(0xFF);
  const __m128i zero = _mm_setzero_si128();
  const __m128i& shift_red = lanes.shift[0];
  const __m128i& shift_green = lanes.shift[1];
  const __m128i& shift_blue = lanes.shift[2];
  const __m128i& multiplier_red = lanes.multiplier[0];
  const __m128i& multiplier_green = lanes.multiplier[1];
  const __m128i& multiplier_blue = lanes.multiplier[2];
  const __m128i& reciprocal = lanes.reciprocal;
  std::uint32_t spare[4];
  for (int j = first; j < end; j += 4) {
    const __m128i sample = _mm_loadu_si128(reinterpret_cast<const __m128i*>(tile_group(tile, j, spare)));
    const __m128i colour = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cell.colour.data() + j));
    __m128i red = _mm_and_si128(sample, byte);
    __m128i green = _mm_and_si128(_mm_srli_epi32(sample, 8), byte);
    __m128i blue = _mm_and_si128(_mm_srli_epi32(sample, 16), byte);
    if constexpr (Shift) {
      red = _mm_min_epi32(_mm_max_epi32(_mm_add_epi32(red, shift_red), zero), byte);
      green = _mm_min_epi32(_mm_max_epi32(_mm_add_epi32(green, shift_green), zero), byte);
      blue = _mm_min_epi32(_mm_max_epi32(_mm_add_epi32(blue, shift_blue), zero), byte);
    }
    __m128i n = channel_distance_sse41(_mm_and_si128(colour, byte), red, multiplier_red);
    n = _mm_add_epi32(n, channel_distance_sse41(_mm_and_si128(_mm_srli_epi32(colour, 8), byte), green, multiplier_green));
    n = _mm_add_epi32(n, channel_distance_sse41(_mm_and_si128(_mm_srli_epi32(colour, 16), byte), blue, multiplier_blue));
    if constexpr (Divide) {
      const __m128i even = _mm_srli_epi64(_mm_mul_epu32(n, reciprocal), 32);
      const __m128i odd = _mm_mul_epu32(_mm_srli_epi64(n, 32), reciprocal);
      n = _mm_blend_epi16(even, odd, 0xCC);
    }
    __m128i value;
    if constexpr (Method == kCompareBest) {
      value = curve_sse41(n);
    } else if constexpr (Method == kCompareStronger) {
      value = _mm_mullo_epi32(n, n);
    } else {
      value = n;
    }
    __m128i cost = _mm_mullo_epi32(value, _mm_loadu_si128(reinterpret_cast<const __m128i*>(cell.weight.data() + j)));
    if constexpr (Transparent) {
      cost = _mm_sub_epi32(cost, transparent_share_sse41(cost, _mm_srli_epi32(colour, 24)));
    }
    const __m128i wide = _mm_add_epi64(_mm_cvtepu32_epi64(cost), _mm_cvtepu32_epi64(_mm_srli_si128(cost, 8)));
    sum += static_cast<std::uint64_t>(_mm_cvtsi128_si64(wide)) + static_cast<std::uint64_t>(_mm_extract_epi64(wide, 1));
    if (sum > bound) return kAborted;
  }
  return sum;
}

// ---- one tile ----------------------------------------------------------------

/// The colour shift of a tile; never more than the limit, which the tables
/// keep within what the scalar loop's clamp rows allow.
__attribute__((always_inline)) inline std::array<int, 3> shift_of(const CellPlan& plan, std::uint32_t tile_overall) {
  if (plan.colour_limit <= 0) return {0, 0, 0};
  return comparison_colour_shift(plan.perceptual, plan.overall, tile_overall, plan.colour_limit);
}

template <std::int32_t Method, bool Divide, bool Transparent, bool Unit>
__attribute__((target("avx2"))) Outcome run_avx2(const CellPlan& plan, const Alignments& aligned,
                                                 const std::uint32_t* samples, std::uint32_t allowed,
                                                 std::uint64_t bound) {
  Outcome best;
  const std::array<int, 3> shift = shift_of(plan, samples[kOverallSample]);
  LanesAvx2 lanes;
  for (int c = 0; c < 3; ++c) {
    lanes.shift[c] = _mm256_set1_epi32(shift[static_cast<std::size_t>(c)]);
    lanes.multiplier[c] = _mm256_set1_epi32(static_cast<int>(plan.multiplier[c]));
  }
  lanes.reciprocal = _mm256_set1_epi64x(plan.reciprocal);
  lanes.curve = plan.curve;
  std::uint32_t raise = 0;
  std::uint32_t lower = 0;
  for (int c = 0; c < 3; ++c) {
    // Moving a byte by 255 or more saturates it as the clamp would.
    const int s = shift[static_cast<std::size_t>(c)];
    raise |= static_cast<std::uint32_t>(std::clamp(s, 0, 255)) << (8 * c);
    lower |= static_cast<std::uint32_t>(std::clamp(-s, 0, 255)) << (8 * c);
  }
  lanes.raise = _mm256_set1_epi32(static_cast<int>(raise));
  lanes.lower = _mm256_set1_epi32(static_cast<int>(lower));
  // A shift of nothing reads the tile as it is: the plain loop gives the same sums.
  const bool shifted = shift[0] != 0 || shift[1] != 0 || shift[2] != 0;
  for (std::size_t k = 0; k < kComparisonBits.size(); ++k) {
    if ((allowed & kComparisonBits[k]) == 0) continue;
    const std::uint64_t sum =
        shifted ? sum_avx2<Method, true, Divide, Transparent, Unit>(aligned[k], lanes, samples, bound, plan.first,
                                                                    plan.end, 0)
                : sum_avx2<Method, false, Divide, Transparent, Unit>(aligned[k], lanes, samples, bound, plan.first,
                                                                     plan.end, 0);
    if (sum == kAborted) continue;
    // A finished comparison bounds the later ones; an equal sum later still wins.
    best.sum = sum;
    best.comparison = static_cast<int>(k);
    bound = sum;
  }
  return best;
}

template <std::int32_t Method, bool Divide, bool Transparent>
__attribute__((target("sse4.1"))) Outcome run_sse41(const CellPlan& plan, const Alignments& aligned,
                                                    const std::uint32_t* samples, std::uint32_t allowed,
                                                    std::uint64_t bound) {
  Outcome best;
  const std::array<int, 3> shift = shift_of(plan, samples[kOverallSample]);
  LanesSse41 lanes;
  for (int c = 0; c < 3; ++c) {
    lanes.shift[c] = _mm_set1_epi32(shift[static_cast<std::size_t>(c)]);
    lanes.multiplier[c] = _mm_set1_epi32(static_cast<int>(plan.multiplier[c]));
  }
  lanes.reciprocal = _mm_set1_epi64x(plan.reciprocal);
  const bool shifted = shift[0] != 0 || shift[1] != 0 || shift[2] != 0;
  for (std::size_t k = 0; k < kComparisonBits.size(); ++k) {
    if ((allowed & kComparisonBits[k]) == 0) continue;
    const std::uint64_t sum =
        shifted
            ? sum_sse41<Method, true, Divide, Transparent>(aligned[k], lanes, samples, bound, plan.first, plan.end, 0)
            : sum_sse41<Method, false, Divide, Transparent>(aligned[k], lanes, samples, bound, plan.first, plan.end, 0);
    if (sum == kAborted) continue;
    best.sum = sum;
    best.comparison = static_cast<int>(k);
    bound = sum;
  }
  return best;
}

// ---- choosing an instance -------------------------------------------------------

template <std::int32_t Method>
VectorKernel pick_avx2(bool divide, bool transparent, bool unit) {
  if (divide) return transparent ? &run_avx2<Method, true, true, false> : &run_avx2<Method, true, false, false>;
  if (unit) return transparent ? &run_avx2<Method, false, true, true> : &run_avx2<Method, false, false, true>;
  return transparent ? &run_avx2<Method, false, true, false> : &run_avx2<Method, false, false, false>;
}

template <std::int32_t Method>
VectorKernel pick_sse41(bool divide, bool transparent) {
  if (divide) return transparent ? &run_sse41<Method, true, true> : &run_sse41<Method, true, false>;
  return transparent ? &run_sse41<Method, false, true> : &run_sse41<Method, false, false>;
}

#endif  // TESS_VECTOR_KERNELS

}  // namespace

VectorKernel vector_kernel(KernelLevel level, std::int32_t method, bool divide, bool transparent, bool unit) {
#if TESS_VECTOR_KERNELS
  const bool avx2 = level == KernelLevel::avx2;
  if (!avx2 && level != KernelLevel::sse41) return nullptr;
  switch (method) {
    case kCompareStronger:
      return avx2 ? pick_avx2<kCompareStronger>(divide, transparent, unit) : pick_sse41<kCompareStronger>(divide, transparent);
    case kCompareWeaker:
      return avx2 ? pick_avx2<kCompareWeaker>(divide, transparent, unit) : pick_sse41<kCompareWeaker>(divide, transparent);
    default:
      return avx2 ? pick_avx2<kCompareBest>(divide, transparent, unit) : pick_sse41<kCompareBest>(divide, transparent);
  }
#else
  (void)level, (void)method, (void)divide, (void)transparent, (void)unit;
  return nullptr;
#endif
}

}  // namespace tess::kernel
