#include "engine/score_bound.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

#include "images/foto.hpp"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define TESS_BOUND_VECTORS 1
#endif

namespace tess {
namespace {

constexpr std::size_t kLanes = 8;
/// Tiles the bound works on at a time, and the lanes past the last tile the
/// bank keeps readable.
constexpr std::size_t kBankLanes = 16;

int channel_of(std::uint32_t pixel, int c) { return static_cast<int>((pixel >> (8 * c)) & 0xFFu); }

/// A convex function below the method's value of an entry distance, at x
/// (0 for x ≤ 0). The "Best Quality" curve truncates its power terms, so
/// its power term is taken one lower.
float convex_value(std::int32_t method, float x) {
  x = std::max(x, 0.0f);
  if (method == kCompareStronger) return x * x;
  if (method == kCompareWeaker) return x;
  const float v = std::max(x - 19.0f, 0.0f);
  const float u = std::max(x - 99.0f, 0.0f);
  return x + std::max(v * std::sqrt(v) - 1.0f, 0.0f) + u * u;
}

/// How far the colour shift moves each of a tile's values in a channel, at
/// least and at most. A value v moves by the shift clamped to what is left of
/// the range, 255 − v up or v down; between the channel's smallest and largest
/// value that is at least the shift held to 255 − largest up, and at most the
/// shift held to smallest down. Exactly the shift where no value reaches an
/// end.
struct ValueMove {
  int least;
  int most;
};
ValueMove value_move(int shift, int smallest, int largest) {
  const int up = std::max(shift, 0);
  const int down = std::min(shift, 0);
  return {std::min(up, 255 - largest) + down, up + std::max(down, -smallest)};
}

/// The lower bound of one tile, the lanes' arithmetic in plain code.
float tile_lower_bound(const CellBound::Plan& p, const TileBoundBank& bank, std::size_t i) {
  const auto at = [&](int field) { return static_cast<int>(bank.field(field)[i]); };
  int shift[3] = {0, 0, 0};
  if (p.colour_limit > 0) {
    const std::uint32_t cell = make_pixel(static_cast<std::uint32_t>(p.cell_overall[0]),
                                          static_cast<std::uint32_t>(p.cell_overall[1]),
                                          static_cast<std::uint32_t>(p.cell_overall[2]));
    const std::uint32_t tile =
        make_pixel(static_cast<std::uint32_t>(at(TileBoundBank::kOverall)),
                   static_cast<std::uint32_t>(at(TileBoundBank::kOverall + 1)),
                   static_cast<std::uint32_t>(at(TileBoundBank::kOverall + 2)));
    const std::array<int, 3> s = comparison_colour_shift(p.perceptual, cell, tile, p.colour_limit);
    std::copy(s.begin(), s.end(), shift);
  }
  float lower = 0;
  if (p.overall_weight != 0) {
    float spread = 0;
    for (int c = 0; c < 3; ++c) {
      const int moved = std::clamp(at(TileBoundBank::kOverall + c) + shift[c], 0, 255);
      spread += p.overall_scale[c] * static_cast<float>(std::abs(p.cell_overall[c] - moved));
    }
    lower += p.overall_weight * convex_value(p.method, spread - p.overall_slack);
  }
  for (int level = 0; level < kBoundLevels; ++level) {
    if (p.level_weight[level] == 0) continue;
    const int count = kBoundLevelEntries[level] / kBoundParts[level];
    float spread = 0;
    for (int c = 0; c < 3; ++c) {
      const ValueMove move = value_move(shift[c], at(TileBoundBank::kLow + c), at(TileBoundBank::kHigh + c));
      int apart = 0;
      for (int part = 0; part < kBoundParts[level]; ++part) {
        const int sum = at(TileBoundBank::part_field(level, part, c));
        const int low = std::max(sum + count * move.least, 0);
        const int high = std::min(sum + count * move.most, 255 * count);
        const int cell = p.part_sum[level][part][c];
        apart += std::max(low - cell, 0) + std::max(cell - high, 0);
      }
      spread += p.level_scale[level][c] * static_cast<float>(apart);
    }
    lower += p.level_weight[level] * convex_value(p.method, spread - p.level_slack[level]);
  }
  return lower;
}

#if TESS_BOUND_VECTORS

#define TESS_AVX2 __attribute__((target("avx2"), always_inline)) inline

/// a / divisor truncated toward zero, per 16-bit lane, for a divisor of 3 or
/// 100: |a| times the reciprocal (2¹⁶ / 3 or 2¹⁹ / 100, rounded up), which
/// gives the exact quotient for every |a| below 2¹⁵ (each was tried).
template <int Divisor>
TESS_AVX2 __m256i divide_avx2(__m256i a) {
  static_assert(Divisor == 3 || Divisor == 100);
  const __m256i magnitude = _mm256_abs_epi16(a);
  const __m256i quotient = Divisor == 3 ? _mm256_mulhi_epu16(magnitude, _mm256_set1_epi16(21846))
                                        : _mm256_srli_epi16(_mm256_mulhi_epu16(magnitude, _mm256_set1_epi16(5243)), 3);
  return _mm256_sign_epi16(quotient, a);
}

TESS_AVX2 __m256i clamp_avx2(__m256i v, __m256i low, __m256i high) {
  return _mm256_min_epi16(_mm256_max_epi16(v, low), high);
}

/// How many of the 128 bytes of `v` are below `bar` (1 ≤ bar ≤ 255), and
/// which, as all-ones bytes in `mask`.
TESS_AVX2 int count_below_avx2(const __m256i (&v)[4], int bar, __m256i (&mask)[4]) {
  const __m256i top = _mm256_set1_epi8(static_cast<char>(bar - 1));
  int n = 0;
  for (int g = 0; g < 4; ++g) {
    mask[g] = _mm256_cmpeq_epi8(_mm256_min_epu8(v[g], top), v[g]);
    n += __builtin_popcount(static_cast<unsigned>(_mm256_movemask_epi8(mask[g])));
  }
  return n;
}

/// The sum of the `k` smallest of values[0, count), count ≤ 128, with the
/// array readable up to 128 bytes: the k-th smallest value t is found a bit at
/// a time by counting the values below each trial, then the sum is that of
/// the values below t plus t for each of the k places left.
__attribute__((target("avx2"))) std::int32_t smallest_sum_avx2(const std::uint8_t* values, int count, int k) {
  __m256i v[4];
  for (int g = 0; g < 4; ++g) {
    // Places past the count read as 255, never below any trial value.
    const __m256i lane = _mm256_add_epi8(_mm256_set1_epi8(static_cast<char>(32 * g)),
                                         _mm256_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17,
                                                          18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31));
    const __m256i inside = _mm256_cmpgt_epi8(_mm256_set1_epi8(static_cast<char>(count)), lane);
    v[g] = _mm256_or_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(values + 32 * g)),
                           _mm256_andnot_si256(inside, _mm256_set1_epi8(-1)));
  }
  __m256i mask[4];
  int t = 0;
  for (int bit = 128; bit > 0; bit >>= 1) {
    if (count_below_avx2(v, t | bit, mask) < k) t |= bit;
  }
  if (t == 0) return 0;
  const int under = count_below_avx2(v, t, mask);
  __m256i sums = _mm256_setzero_si256();
  for (int g = 0; g < 4; ++g) {
    sums = _mm256_add_epi64(sums, _mm256_sad_epu8(_mm256_and_si256(v[g], mask[g]), _mm256_setzero_si256()));
  }
  const __m128i pair = _mm_add_epi64(_mm256_castsi256_si128(sums), _mm256_extracti128_si256(sums, 1));
  return static_cast<std::int32_t>(_mm_cvtsi128_si64(pair) + _mm_extract_epi64(pair, 1)) + (k - under) * t;
}

template <std::int32_t Method>
TESS_AVX2 __m256 convex_value_avx2(__m256 x) {
  const __m256 zero = _mm256_setzero_ps();
  x = _mm256_max_ps(x, zero);
  if constexpr (Method == kCompareStronger) return _mm256_mul_ps(x, x);
  if constexpr (Method == kCompareWeaker) return x;
  const __m256 v = _mm256_max_ps(_mm256_sub_ps(x, _mm256_set1_ps(19.0f)), zero);
  const __m256 u = _mm256_max_ps(_mm256_sub_ps(x, _mm256_set1_ps(99.0f)), zero);
  // v^1.5 as v² / √v from the quick reciprocal square root, whose error is
  // below 2⁻¹¹: taken that much lower it stays below the curve, and a smaller
  // value only weakens the bound. A zero v gives no power term.
  const __m256 root = _mm256_rsqrt_ps(_mm256_max_ps(v, _mm256_set1_ps(1.0f)));
  const __m256 power = _mm256_max_ps(
      _mm256_sub_ps(_mm256_mul_ps(_mm256_mul_ps(_mm256_mul_ps(v, v), root), _mm256_set1_ps(1.0f - 1.0f / 1024)),
                    _mm256_set1_ps(1.0f)),
      zero);
  return _mm256_add_ps(_mm256_add_ps(x, power), _mm256_mul_ps(u, u));
}

/// The colour shift of sixteen tiles, as tile_colour_shift() works it out:
/// a channel difference is at most 255, the weighted one at most 25,500,
/// and what is divided by 3 at most 510 (the limit is at most 684). In the
/// perceptual form, as perceptual_colour_shift() does.
TESS_AVX2 void colour_shift_avx2(const CellBound::Plan& p, const __m256i (&tile_overall)[3], __m256i (&shift)[3]) {
  const __m256i limit = _mm256_set1_epi16(static_cast<short>(p.colour_limit));
  const __m256i negative_limit = _mm256_set1_epi16(static_cast<short>(-p.colour_limit));
  __m256i apart[3];
  #pragma GCC unroll 4
  for (int c = 0; c < 3; ++c)
    apart[c] = _mm256_sub_epi16(_mm256_set1_epi16(static_cast<short>(p.cell_overall[c])), tile_overall[c]);
  if (p.perceptual) {
    const __m256i common = divide_avx2<3>(_mm256_add_epi16(clamp_avx2(apart[0], negative_limit, limit),
                                                           clamp_avx2(apart[0], negative_limit, limit)));
    shift[0] = _mm256_add_epi16(common,
                                divide_avx2<3>(clamp_avx2(_mm256_sub_epi16(apart[0], common), negative_limit, limit)));
    #pragma GCC unroll 4
    for (int c = 1; c < 3; ++c) shift[c] = divide_avx2<3>(clamp_avx2(apart[c], negative_limit, limit));
    return;
  }
  const __m256i weighted = _mm256_add_epi16(_mm256_add_epi16(_mm256_mullo_epi16(apart[0], _mm256_set1_epi16(30)),
                                                             _mm256_mullo_epi16(apart[1], _mm256_set1_epi16(59))),
                                            _mm256_mullo_epi16(apart[2], _mm256_set1_epi16(11)));
  const __m256i luminance = clamp_avx2(divide_avx2<100>(weighted), negative_limit, limit);
  const __m256i common = divide_avx2<3>(_mm256_add_epi16(luminance, luminance));
  #pragma GCC unroll 4
  for (int c = 0; c < 3; ++c) {
    shift[c] = _mm256_add_epi16(common,
                                divide_avx2<3>(clamp_avx2(_mm256_sub_epi16(apart[c], common), negative_limit, limit)));
  }
}

/// Field `field` of tiles i .. i + 15, as they are kept.
TESS_AVX2 __m256i load_lanes(const TileBoundBank& bank, int field, std::size_t i) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bank.field(field) + i));
}

/// The 16 lanes as two groups of eight floats.
TESS_AVX2 void widen_to_floats(__m256i v, __m256 (&out)[2]) {
  out[0] = _mm256_cvtepi32_ps(_mm256_cvtepi16_epi32(_mm256_castsi256_si128(v)));
  out[1] = _mm256_cvtepi32_ps(_mm256_cvtepi16_epi32(_mm256_extracti128_si256(v, 1)));
}

/// a + b per lane, for a, b ≥ 0 whose sum fits 16 unsigned bits, with c
/// added on the way to floats: every sum exact.
TESS_AVX2 void sum_to_floats(__m256i a, __m256i b, __m256i c, __m256 (&out)[2]) {
  const __m256i ab = _mm256_add_epi16(a, b);
  out[0] = _mm256_cvtepi32_ps(_mm256_add_epi32(_mm256_cvtepu16_epi32(_mm256_castsi256_si128(ab)),
                                               _mm256_cvtepu16_epi32(_mm256_castsi256_si128(c))));
  out[1] = _mm256_cvtepi32_ps(_mm256_add_epi32(_mm256_cvtepu16_epi32(_mm256_extracti128_si256(ab, 1)),
                                               _mm256_cvtepu16_epi32(_mm256_extracti128_si256(c, 1))));
}

/// spread += the channels' distances, each times its scale. `Even`: the
/// channels weigh alike, and their distances are added up first.
template <bool Even>
TESS_AVX2 void add_spread(const __m256i (&distance)[3], const float (&scale)[3], __m256 (&spread)[2]) {
  if constexpr (Even) {
    __m256 total[2];
    sum_to_floats(distance[0], distance[1], distance[2], total);
    #pragma GCC unroll 4
    for (int h = 0; h < 2; ++h) spread[h] = _mm256_add_ps(spread[h], _mm256_mul_ps(_mm256_set1_ps(scale[0]), total[h]));
    return;
  }
  #pragma GCC unroll 4
  for (int c = 0; c < 3; ++c) {
    __m256 wide[2];
    widen_to_floats(distance[c], wide);
    #pragma GCC unroll 4
    for (int h = 0; h < 2; ++h) spread[h] = _mm256_add_ps(spread[h], _mm256_mul_ps(_mm256_set1_ps(scale[c]), wide[h]));
  }
}

// Sixteen tiles at a time: every field and every sum of the integer part
// fits 16 bits (a part's sum is at most 54 · 255, a shift moves it by at most
// 54 · 311 and is then held to 0 .. 54 · 255), so the integer work runs on
// sixteen lanes and only the distances and the convex floor on floats.
// Two channels' distances add up within 16 unsigned bits: 2 · 2 · 54 · 255.
template <std::int32_t Method, bool Shift, bool Even>
__attribute__((target("avx2"))) void lower_bounds_avx2(const CellBound::Plan& p, const TileBoundBank& bank,
                                                      std::size_t first, std::size_t count, float* out) {
  const __m256i zero = _mm256_setzero_si256();
  for (std::size_t done = 0; done < count; done += kBankLanes) {
    const std::size_t i = first + done;
    __m256i shift[3] = {zero, zero, zero};
    if constexpr (Shift) {
      __m256i tile_overall[3];
      #pragma GCC unroll 4
      for (int c = 0; c < 3; ++c) tile_overall[c] = load_lanes(bank, TileBoundBank::kOverall + c, i);
      colour_shift_avx2(p, tile_overall, shift);
    }
    // value_move() of each channel, as in plain code.
    __m256i least[3] = {zero, zero, zero};
    __m256i most[3] = {zero, zero, zero};
    if constexpr (Shift) {
      #pragma GCC unroll 4
      for (int c = 0; c < 3; ++c) {
        const __m256i up = _mm256_max_epi16(shift[c], zero);
        const __m256i down = _mm256_min_epi16(shift[c], zero);
        least[c] = _mm256_add_epi16(
            _mm256_min_epi16(up, _mm256_sub_epi16(_mm256_set1_epi16(255), load_lanes(bank, TileBoundBank::kHigh + c, i))),
            down);
        most[c] = _mm256_add_epi16(up, _mm256_max_epi16(down, _mm256_sub_epi16(zero, load_lanes(bank, TileBoundBank::kLow + c, i))));
      }
    }
    __m256 lower[2] = {_mm256_setzero_ps(), _mm256_setzero_ps()};
    if (p.overall_weight != 0) {
      __m256 spread[2] = {_mm256_setzero_ps(), _mm256_setzero_ps()};
      __m256i distance[3];
      #pragma GCC unroll 4
      for (int c = 0; c < 3; ++c) {
        const __m256i moved = _mm256_min_epi16(
            _mm256_max_epi16(_mm256_add_epi16(load_lanes(bank, TileBoundBank::kOverall + c, i), shift[c]), zero),
            _mm256_set1_epi16(255));
        distance[c] = _mm256_abs_epi16(_mm256_sub_epi16(_mm256_set1_epi16(static_cast<short>(p.cell_overall[c])), moved));
      }
      add_spread<Even>(distance, p.overall_scale, spread);
      #pragma GCC unroll 4
      for (int h = 0; h < 2; ++h) {
        const __m256 x = _mm256_sub_ps(spread[h], _mm256_set1_ps(p.overall_slack));
        lower[h] = _mm256_mul_ps(_mm256_set1_ps(p.overall_weight), convex_value_avx2<Method>(x));
      }
    }
    #pragma GCC unroll 4
    for (int level = 0; level < kBoundLevels; ++level) {
      if (p.level_weight[level] == 0) continue;
      const int entries = kBoundLevelEntries[level] / kBoundParts[level];
      __m256 spread[2] = {_mm256_setzero_ps(), _mm256_setzero_ps()};
      __m256i distance[3];
      #pragma GCC unroll 4
      for (int c = 0; c < 3; ++c) {
        const __m256i per_part = _mm256_set1_epi16(static_cast<short>(entries));
        const __m256i least_step = _mm256_mullo_epi16(least[c], per_part);
        const __m256i most_step = _mm256_mullo_epi16(most[c], per_part);
        __m256i apart = zero;
        #pragma GCC unroll 4
        for (int part = 0; part < kBoundParts[level]; ++part) {
          const __m256i sum = load_lanes(bank, TileBoundBank::part_field(level, part, c), i);
          __m256i low = sum;
          __m256i high = sum;
          if constexpr (Shift) {
            low = _mm256_max_epi16(_mm256_add_epi16(sum, least_step), zero);
            high = _mm256_min_epi16(_mm256_add_epi16(sum, most_step), _mm256_set1_epi16(static_cast<short>(255 * entries)));
          }
          const __m256i cell = _mm256_set1_epi16(static_cast<short>(p.part_sum[level][part][c]));
          apart = _mm256_add_epi16(apart, _mm256_add_epi16(_mm256_max_epi16(_mm256_sub_epi16(low, cell), zero),
                                                           _mm256_max_epi16(_mm256_sub_epi16(cell, high), zero)));
        }
        distance[c] = apart;
      }
      add_spread<Even>(distance, p.level_scale[level], spread);
      #pragma GCC unroll 4
      for (int h = 0; h < 2; ++h) {
        const __m256 x = _mm256_sub_ps(spread[h], _mm256_set1_ps(p.level_slack[level]));
        lower[h] =
            _mm256_add_ps(lower[h], _mm256_mul_ps(_mm256_set1_ps(p.level_weight[level]), convex_value_avx2<Method>(x)));
      }
    }
    if (done + kBankLanes <= count) {
      _mm256_storeu_ps(out + done, lower[0]);
      _mm256_storeu_ps(out + done + kLanes, lower[1]);
    } else {
      float lanes[kBankLanes];
      _mm256_storeu_ps(lanes, lower[0]);
      _mm256_storeu_ps(lanes + kLanes, lower[1]);
      std::copy(lanes, lanes + (count - done), out + done);
    }
  }
}

__attribute__((target("avx2"))) std::size_t indexes_at_most_avx2(const float* values, std::size_t count, float limit,
                                                                 std::uint32_t* out) {
  const __m256 bar = _mm256_set1_ps(limit);
  std::size_t found = 0;
  std::size_t i = 0;
  // Most values pass the limit: 32 of them are looked at per branch.
  for (; i + 4 * kLanes <= count; i += 4 * kLanes) {
    std::uint32_t mask = 0;
    #pragma GCC unroll 4
    for (std::size_t g = 0; g < 4; ++g) {
      const __m256 group = _mm256_loadu_ps(values + i + kLanes * g);
      mask |= static_cast<std::uint32_t>(_mm256_movemask_ps(_mm256_cmp_ps(group, bar, _CMP_LE_OQ))) << (kLanes * g);
    }
    while (mask != 0) {
      out[found++] = static_cast<std::uint32_t>(i + static_cast<std::size_t>(__builtin_ctz(mask)));
      mask &= mask - 1;
    }
  }
  for (; i + kLanes <= count; i += kLanes) {
    auto mask = static_cast<unsigned>(_mm256_movemask_ps(_mm256_cmp_ps(_mm256_loadu_ps(values + i), bar, _CMP_LE_OQ)));
    while (mask != 0) {
      out[found++] = static_cast<std::uint32_t>(i + static_cast<std::size_t>(__builtin_ctz(mask)));
      mask &= mask - 1;
    }
  }
  for (; i < count; ++i) {
    if (values[i] <= limit) out[found++] = static_cast<std::uint32_t>(i);
  }
  return found;
}

using BoundsFunction = void (*)(const CellBound::Plan&, const TileBoundBank&, std::size_t, std::size_t, float*);

template <std::int32_t Method>
BoundsFunction pick_shift(bool shift, bool even) {
  if (even) return shift ? &lower_bounds_avx2<Method, true, true> : &lower_bounds_avx2<Method, false, true>;
  return shift ? &lower_bounds_avx2<Method, true, false> : &lower_bounds_avx2<Method, false, false>;
}

BoundsFunction pick_bounds(std::int32_t method, bool shift, bool even) {
  switch (method) {
    case kCompareStronger: return pick_shift<kCompareStronger>(shift, even);
    case kCompareWeaker: return pick_shift<kCompareWeaker>(shift, even);
    default: return pick_shift<kCompareBest>(shift, even);
  }
}

#endif  // TESS_BOUND_VECTORS

/// The sum of the `k` smallest of values[0, count), count ≤ 128, the array
/// readable up to 128 bytes.
std::int32_t smallest_sum(std::uint8_t* values, int count, int k) {
#if TESS_BOUND_VECTORS
  if (best_kernel_level() == KernelLevel::avx2) return smallest_sum_avx2(values, count, k);
#endif
  std::nth_element(values, values + k, values + count);
  return std::accumulate(values, values + k, std::int32_t{0});
}

/// The rank part sums of one grid level of a signature: per channel, the
/// level's values in rising order, cut into kBoundParts[level] equal parts.
void rank_part_sums(const std::uint32_t* samples, int level, std::int32_t (&out)[kMostBoundParts][3]) {
  const int first = level == 0 ? kFirstFineSample : kFirstCoarseSample;
  const int entries = kBoundLevelEntries[level];
  const int size = entries / kBoundParts[level];
  for (int c = 0; c < 3; ++c) {
    std::uint8_t values[128] = {};
    for (int i = 0; i < entries; ++i) {
      values[i] = static_cast<std::uint8_t>(channel_of(samples[first + i], c));
    }
    std::int32_t before = 0;
    for (int part = 0; part < kBoundParts[level]; ++part) {
      const std::int32_t through = part + 1 == kBoundParts[level]
                                       ? std::accumulate(values, values + entries, std::int32_t{0})
                                       : smallest_sum(values, entries, (part + 1) * size);
      out[part][c] = through - before;
      before = through;
    }
  }
}

}  // namespace

void TileBoundBank::add(const TileSignature& tile) {
  resize(m_size + 1);
  set(m_size - 1, tile);
}

void TileBoundBank::set_perceptual(bool perceptual) { m_perceptual = perceptual; }

void TileBoundBank::resize(std::size_t count) {
  for (auto& field : m_fields) field.resize(count + kBankLanes);
  m_size = count;
}

void TileBoundBank::set(std::size_t i, const TileSignature& tile) {
  const std::uint32_t* samples = compared_samples(tile, m_perceptual);
  std::int32_t values[kFieldCount] = {};
  for (int c = 0; c < 3; ++c) {
    values[kOverall + c] = channel_of(samples[kOverallSample], c);
    values[kLow + c] = 255;
  }
  for (int i = kFirstCoarseSample; i < kSignatureSampleCount; ++i) {
    const std::uint32_t sample = samples[i];
    for (int c = 0; c < 3; ++c) {
      const int v = channel_of(sample, c);
      values[kLow + c] = std::min(values[kLow + c], v);
      values[kHigh + c] = std::max(values[kHigh + c], v);
    }
  }
  for (int level = 0; level < kBoundLevels; ++level) {
    std::int32_t parts[kMostBoundParts][3];
    rank_part_sums(samples, level, parts);
    for (int part = 0; part < kBoundParts[level]; ++part) {
      for (int c = 0; c < 3; ++c) values[part_field(level, part, c)] = parts[part][c];
    }
  }
  // Sixteen lanes past the last tile stay readable: copies of it, so that a
  // group running past the end computes something harmless.
  const std::size_t end = i + 1 == m_size ? m_size + kBankLanes : i + 1;
  for (int f = 0; f < kFieldCount; ++f) {
    auto& field = m_fields[static_cast<std::size_t>(f)];
    std::fill(field.begin() + static_cast<std::ptrdiff_t>(i), field.begin() + static_cast<std::ptrdiff_t>(end),
              static_cast<std::int16_t>(values[f]));
  }
}

CellBound::CellBound(const ScoreTables& tables, const TileSignature& cell, std::uint8_t priority, KernelLevel level)
    : m_priority(priority == 0 ? std::uint8_t{1} : priority) {
  Plan& p = m_plan;
  const auto divisor = static_cast<float>(tables.divisor());
  const auto slack = static_cast<float>(tables.distance_shortfall()) + divisor - 1;
  p.method = tables.kernel_method();
  p.colour_limit = tables.tile_colour_limit();
  p.perceptual = tables.perceptual();
  std::array<std::uint32_t, kSignatureSampleCount> samples = cell.samples;
  if (p.perceptual) perceptual_pixels(cell.samples.data(), samples.data(), kSignatureSampleCount);
  const std::uint32_t overall = samples[kOverallSample];
  for (int c = 0; c < 3; ++c) p.cell_overall[c] = channel_of(overall, c);
  if (pixel_transparency(overall) == 0 && tables.level_weight(0) != 0) {
    p.overall_weight = static_cast<float>(tables.level_weight(0));
    for (int c = 0; c < 3; ++c) p.overall_scale[c] = static_cast<float>(tables.distance_slope(c)) / divisor;
    p.overall_slack = slack / divisor;
    m_bounded = true;
  }
  const int level_of[kBoundLevels] = {2, 1};
  const int level_start[kBoundLevels] = {kFirstFineSample, kFirstCoarseSample};
  for (int l = 0; l < kBoundLevels; ++l) {
    const int entries = kBoundLevelEntries[l];
    const bool opaque = std::all_of(samples.begin() + level_start[l], samples.begin() + level_start[l] + entries,
                                    [](std::uint32_t sample) { return pixel_transparency(sample) == 0; });
    rank_part_sums(samples.data(), l, p.part_sum[l]);
    const std::uint32_t weight = tables.level_weight(level_of[l]);
    if (weight == 0 || !opaque) continue;
    p.level_weight[l] = static_cast<float>(weight) * static_cast<float>(entries);
    for (int c = 0; c < 3; ++c) {
      p.level_scale[l][c] = static_cast<float>(tables.distance_slope(c)) / (divisor * static_cast<float>(entries));
    }
    p.level_slack[l] = slack / divisor;
    m_bounded = true;
  }
  m_vector = level == KernelLevel::avx2;
}

float CellBound::threshold(std::uint32_t bound) const {
  const std::uint64_t limit = kernel_sum_bound(bound, m_priority);
  if (!m_bounded || limit == kNoSumBound) return std::numeric_limits<float>::infinity();
  // A comparison gives up once its sum passes `limit`. The margin covers the
  // rounding of the float sums, far below a part in ten thousand.
  return (static_cast<float>(limit) + 1.0f) * 1.0001f + 1.0f;
}

void CellBound::lower_bounds(const TileBoundBank& bank, std::size_t first, std::size_t count, float* out) const {
  count = first < bank.size() ? std::min(count, bank.size() - first) : 0;
  if (!m_bounded) {
    std::fill(out, out + count, 0.0f);
    return;
  }
#if TESS_BOUND_VECTORS
  if (m_vector) {
    const auto even = [](const float (&scale)[3]) { return scale[0] == scale[1] && scale[1] == scale[2]; };
    pick_bounds(m_plan.method, m_plan.colour_limit > 0,
                even(m_plan.overall_scale) && even(m_plan.level_scale[0]) && even(m_plan.level_scale[1]))(
        m_plan, bank, first, count, out);
    return;
  }
#endif
  for (std::size_t i = 0; i < count; ++i) out[i] = tile_lower_bound(m_plan, bank, first + i);
}

void indexes_at_most(const float* values, std::size_t count, float limit, std::vector<std::uint32_t>& out) {
  out.resize(count);
  std::size_t found = 0;
#if TESS_BOUND_VECTORS
  if (best_kernel_level() == KernelLevel::avx2) {
    found = indexes_at_most_avx2(values, count, limit, out.data());
    out.resize(found);
    return;
  }
#endif
  for (std::size_t i = 0; i < count; ++i) {
    if (values[i] <= limit) out[found++] = static_cast<std::uint32_t>(i);
  }
  out.resize(found);
}

}  // namespace tess
