// The two resamplers of a Foto: the integer area filter that shrinks the
// top-left region of an image, and the floating-point resampler that weights
// colours by opacity and serves tile analysis and tile rendering.

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define TESS_RESAMPLE_AVX2 1
#endif

#include "images/foto.hpp"

namespace tess {

namespace {

// ---------------------------------------------------------------------------
// Integer area filter

/// The source pixels under one destination column (or row), with the weights
/// of its two edge pixels in 1/256 of a pixel; the pixels between weigh 256.
struct AreaSpan {
  int first = 0;
  int last = 0;
  std::uint32_t first_weight = 256;
  std::uint32_t last_weight = 256;

  std::uint32_t weight(int index) const {
    if (index == first) return first_weight;
    if (index == last) return last_weight;
    return 256;
  }
};

/// Destination index `index` of `dest` covers [region·index/dest,
/// region·(index+1)/dest). Both ends are held in 1/256 of a source pixel,
/// truncated; a whole-number end closes on the pixel before it.
AreaSpan area_span(int region, int dest, int index) {
  const std::int64_t start = std::int64_t{region} * index * 256 / dest;
  const std::int64_t end = std::int64_t{region} * (index + 1) * 256 / dest;
  AreaSpan span;
  span.first = static_cast<int>(start >> 8);
  span.first_weight = static_cast<std::uint32_t>(start & 255);
  if (span.first_weight == 0) span.first_weight = 256;
  span.last = static_cast<int>(end >> 8);
  span.last_weight = static_cast<std::uint32_t>(end & 255);
  if (span.last_weight == 0) {
    --span.last;
    span.last_weight = 256;
  }
  // Enlarging more than 256 times puts both ends in the same 1/256 step.
  span.last = std::max(span.last, span.first);
  return span;
}

// ---------------------------------------------------------------------------
// Floating-point resampler

/// The weights one destination column (or row) gives to a run of source
/// columns (rows): its footprint cut into cells along the pixel grid, each
/// cell sampled bilinearly at its centre and weighted by its covered extent.
/// Rows and columns weigh independently, so a source pixel's weight is the
/// product of its column's and its row's.
struct AxisTaps {
  int first = 0;            ///< first source index with a weight
  int count = 0;            ///< 0: the footprint lies outside the source
  std::size_t offset = 0;   ///< where its weights start in the shared array
  double sum = 0;           ///< sum of its weights
};

/// Computes the taps of every destination index along one axis. `origin` and
/// `extent` give the source rectangle on that axis, `size` the source size.
void build_axis(double origin, double extent, int dest, int size, std::vector<AxisTaps>& taps,
                std::vector<double>& weights, std::vector<double>& scratch) {
  taps.assign(static_cast<std::size_t>(dest), AxisTaps{});
  weights.clear();
  for (int d = 0; d < dest; ++d) {
    double a0 = origin + extent * d / dest;
    double a1 = a0 + extent / dest;
    a0 = std::max(a0, 0.0);
    a1 = std::min(a1, static_cast<double>(size));
    if (!(a1 > a0)) continue;

    // A footprint that ends exactly on a pixel boundary does not enter the
    // next pixel.
    const int first_cell = static_cast<int>(std::floor(a0));
    const int last_cell = std::min(static_cast<int>(std::ceil(a1)) - 1, size - 1);
    // Bilinear sampling reaches one pixel beyond the cells on either side.
    const int lo = std::max(first_cell - 1, 0);
    const int hi = std::min(last_cell + 1, size - 1);
    scratch.assign(static_cast<std::size_t>(hi - lo + 1), 0.0);

    for (int u = first_cell; u <= last_cell; ++u) {
      double cover;
      double centre;
      if (u == first_cell && u == last_cell) {
        cover = a1 - a0;
        centre = (a0 + a1) / 2;
      } else if (u == first_cell) {
        cover = u + 1 - a0;
        centre = (a0 + u + 1) / 2;
      } else if (u == last_cell) {
        cover = a1 - u;
        centre = (u + a1) / 2;
      } else {
        cover = 1;
        centre = u + 0.5;
      }
      if (!(cover > 0 && cover <= 1)) continue;

      // The pixel holding the centre and its neighbour on the centre's side;
      // at the border the pixel stands in for the missing neighbour.
      const int pixel = std::clamp(static_cast<int>(std::floor(centre)), 0, size - 1);
      const double offset = centre - pixel;
      int neighbour;
      double distance;
      if (offset >= 0.5) {
        neighbour = pixel + 1;
        distance = offset - 0.5;
      } else {
        neighbour = pixel - 1;
        distance = 0.5 - offset;
      }
      if (neighbour < 0 || neighbour >= size) neighbour = pixel;
      scratch[static_cast<std::size_t>(pixel - lo)] += cover * (1 - distance);
      scratch[static_cast<std::size_t>(neighbour - lo)] += cover * distance;
    }

    // Pixels that ended with no weight (a centre exactly on a pixel centre)
    // are dropped from the ends of the run.
    std::size_t begin = 0;
    std::size_t end = scratch.size();
    while (begin < end && scratch[begin] == 0) ++begin;
    while (end > begin && scratch[end - 1] == 0) --end;
    if (begin == end) continue;

    AxisTaps& t = taps[static_cast<std::size_t>(d)];
    t.first = lo + static_cast<int>(begin);
    t.count = static_cast<int>(end - begin);
    t.offset = weights.size();
    for (std::size_t i = begin; i < end; ++i) {
      weights.push_back(scratch[i]);
      t.sum += scratch[i];
    }
  }
}

/// The sums a destination pixel gathers: opacity-weighted colour and opacity.
/// The fields follow the bytes of a pixel (red, green, blue, transparency) so
/// that the wide loops fill all four with one vector.
struct OpacitySums {
  double red = 0;
  double green = 0;
  double blue = 0;
  double opacity = 0;
};
static_assert(sizeof(OpacitySums) == 4 * sizeof(double));

/// Adds one source pixel with weight `weight`: its opacity times the weight,
/// and each channel times that.
inline void add_weighted(OpacitySums& sums, std::uint32_t pixel, double weight) {
  const double a = weight * static_cast<double>(255 - pixel_transparency(pixel));
  sums.opacity += a;
  sums.red += a * static_cast<double>(pixel_red(pixel));
  sums.green += a * static_cast<double>(pixel_green(pixel));
  sums.blue += a * static_cast<double>(pixel_blue(pixel));
}

// Sums of products of doubles come out a hair below the whole number they
// stand for (a uniform colour of 100 as 99.99999...); the slack keeps the
// truncation to the value the exact arithmetic gives.
constexpr double kTruncationSlack = 1e-6;

std::uint32_t truncate_channel(double value) {
  return static_cast<std::uint32_t>(std::clamp(value + kTruncationSlack, 0.0, 255.0));
}

/// Source rows a resampling keeps swept at most; a footprint taller than
/// this is summed directly.
constexpr int kMaxRingRows = 16;

/// The horizontal sums of one destination column over one source row.
inline void sweep_column(const std::uint32_t* src, const AxisTaps& cols, const double* weights, OpacitySums& across) {
  const double* weight = weights + cols.offset;
  const std::uint32_t* p = src + cols.first;
  for (int i = 0; i < cols.count; ++i) add_weighted(across, p[i], weight[i]);
}

/// The horizontal sums of every destination column over one source row.
void sweep_row(const std::uint32_t* src, const AxisTaps* column_taps, const double* weights, OpacitySums* across,
               int count) {
  for (int c = 0; c < count; ++c) {
    across[c] = OpacitySums{};
    sweep_column(src, column_taps[c], weights, across[c]);
  }
}

/// Adds `count` horizontal sums into the column totals with a row's weight.
void add_row(const OpacitySums* across, double row_weight, OpacitySums* sums, int count) {
  for (int c = 0; c < count; ++c) {
    sums[c].opacity += row_weight * across[c].opacity;
    sums[c].red += row_weight * across[c].red;
    sums[c].green += row_weight * across[c].green;
    sums[c].blue += row_weight * across[c].blue;
  }
}

/// Sweeps one source row and adds it into the column totals at once, for
/// footprints too tall to keep their rows.
void sweep_add_row(const std::uint32_t* src, const AxisTaps* column_taps, const double* weights, double row_weight,
                   OpacitySums* sums, int count) {
  for (int c = 0; c < count; ++c) {
    OpacitySums across;
    sweep_column(src, column_taps[c], weights, across);
    add_row(&across, row_weight, &sums[c], 1);
  }
}

#if defined(TESS_RESAMPLE_AVX2)
// The same sums with the four of a pixel in one vector of doubles. Each lane
// sees exactly the operations of the plain loops in the same order: the
// opacity is weight × (255 - transparency) in every lane, the opacity lane
// multiplies it by 1 (exact), and a multiplication and an addition stay two
// roundings - these functions are built without fused multiply-add, which
// would round once and change the sums.

/// One source pixel as (red, green, blue, weight × opacity) and the
/// weighted opacity in all four lanes.
__attribute__((target("avx2"))) inline __m256d weighted_pixel(std::uint32_t pixel, const double* weight) {
  // 255 - t is t with its eight bits flipped.
  const __m128i bytes = _mm_xor_si128(_mm_cvtepu8_epi32(_mm_cvtsi32_si128(static_cast<int>(pixel))),
                                      _mm_set_epi32(255, 0, 0, 0));
  const __m256d channels = _mm256_cvtepi32_pd(bytes);
  const __m256d opacity = _mm256_mul_pd(_mm256_broadcast_sd(weight), _mm256_permute4x64_pd(channels, 0xFF));
  return _mm256_mul_pd(opacity, _mm256_blend_pd(channels, _mm256_set1_pd(1.0), 0x8));
}

__attribute__((target("avx2"))) inline __m256d sweep_column_avx2(const std::uint32_t* src, const AxisTaps& cols,
                                                                   const double* weights) {
  const double* weight = weights + cols.offset;
  const std::uint32_t* p = src + cols.first;
  __m256d across = _mm256_setzero_pd();
  for (int i = 0; i < cols.count; ++i) across = _mm256_add_pd(across, weighted_pixel(p[i], weight + i));
  return across;
}

__attribute__((target("avx2"))) void sweep_row_avx2(const std::uint32_t* src, const AxisTaps* column_taps,
                                                    const double* weights, OpacitySums* across, int count) {
  for (int c = 0; c < count; ++c)
    _mm256_storeu_pd(&across[c].red, sweep_column_avx2(src, column_taps[c], weights));
}

__attribute__((target("avx2"))) void add_row_avx2(const OpacitySums* across, double row_weight, OpacitySums* sums,
                                                  int count) {
  const __m256d weight = _mm256_set1_pd(row_weight);
  for (int c = 0; c < count; ++c) {
    const __m256d sum = _mm256_loadu_pd(&sums[c].red);
    _mm256_storeu_pd(&sums[c].red, _mm256_add_pd(sum, _mm256_mul_pd(weight, _mm256_loadu_pd(&across[c].red))));
  }
}

__attribute__((target("avx2"))) void sweep_add_row_avx2(const std::uint32_t* src, const AxisTaps* column_taps,
                                                        const double* weights, double row_weight, OpacitySums* sums,
                                                        int count) {
  const __m256d weight = _mm256_set1_pd(row_weight);
  for (int c = 0; c < count; ++c) {
    const __m256d across = sweep_column_avx2(src, column_taps[c], weights);
    const __m256d sum = _mm256_loadu_pd(&sums[c].red);
    _mm256_storeu_pd(&sums[c].red, _mm256_add_pd(sum, _mm256_mul_pd(weight, across)));
  }
}
#endif

std::uint32_t resampled_pixel(const OpacitySums& sums, double total_weight) {
  if (!(total_weight > 0) || !(sums.opacity > 0)) return kEmptyPixel;
  return make_pixel(truncate_channel(sums.red / sums.opacity), truncate_channel(sums.green / sums.opacity),
                    truncate_channel(sums.blue / sums.opacity),
                    truncate_channel(255.0 - sums.opacity / total_weight));
}

/// The pixels of one destination row from its sums. Two pixels share each
/// division where the processor has pairs of doubles: IEEE division,
/// addition and truncation give the same numbers either way.
void finish_row(const OpacitySums* sums, const AxisTaps* column_taps, double row_sum, std::uint32_t* dst, int count) {
  int c = 0;
#if defined(__SSE2__)
  const __m128d zero = _mm_setzero_pd();
  const __m128d top = _mm_set1_pd(255.0);
  const __m128d slack = _mm_set1_pd(kTruncationSlack);
  const auto truncate = [&](__m128d value) {
    return _mm_cvttpd_epi32(_mm_min_pd(_mm_max_pd(_mm_add_pd(value, slack), zero), top));
  };
  for (; c + 1 < count; c += 2) {
    const OpacitySums& a = sums[c];
    const OpacitySums& b = sums[c + 1];
    const __m128d total = _mm_set_pd(column_taps[c + 1].sum * row_sum,
                                     column_taps[c].sum * row_sum);
    const __m128d opacity = _mm_set_pd(b.opacity, a.opacity);
    // A pixel with nothing under it (rare) takes the plain path.
    if (_mm_movemask_pd(_mm_and_pd(_mm_cmpgt_pd(total, zero), _mm_cmpgt_pd(opacity, zero))) != 3) {
      dst[c] = resampled_pixel(a, column_taps[c].sum * row_sum);
      dst[c + 1] = resampled_pixel(b, column_taps[c + 1].sum * row_sum);
      continue;
    }
    alignas(16) std::int32_t red[4], green[4], blue[4], transparency[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(red), truncate(_mm_div_pd(_mm_set_pd(b.red, a.red), opacity)));
    _mm_store_si128(reinterpret_cast<__m128i*>(green), truncate(_mm_div_pd(_mm_set_pd(b.green, a.green), opacity)));
    _mm_store_si128(reinterpret_cast<__m128i*>(blue), truncate(_mm_div_pd(_mm_set_pd(b.blue, a.blue), opacity)));
    _mm_store_si128(reinterpret_cast<__m128i*>(transparency),
                    truncate(_mm_sub_pd(top, _mm_div_pd(opacity, total))));
    for (int i = 0; i < 2; ++i)
      dst[c + i] = make_pixel(static_cast<std::uint32_t>(red[i]), static_cast<std::uint32_t>(green[i]),
                              static_cast<std::uint32_t>(blue[i]), static_cast<std::uint32_t>(transparency[i]));
  }
#endif
  for (; c < count; ++c) dst[c] = resampled_pixel(sums[c], column_taps[c].sum * row_sum);
}

/// The row loops of one level.
struct RowKernels {
  void (*sweep_row)(const std::uint32_t*, const AxisTaps*, const double*, OpacitySums*, int);
  void (*add_row)(const OpacitySums*, double, OpacitySums*, int);
  void (*sweep_add_row)(const std::uint32_t*, const AxisTaps*, const double*, double, OpacitySums*, int);
};

RowKernels row_kernels(ResampleLevel level) {
#if defined(TESS_RESAMPLE_AVX2)
  if (level == ResampleLevel::avx2) return {sweep_row_avx2, add_row_avx2, sweep_add_row_avx2};
#endif
  (void)level;
  return {sweep_row, add_row, sweep_add_row};
}

}  // namespace

Status Foto::crop_resize(int dest_w, int dest_h, int region_w, int region_h, Foto& out) const {
  if (region_w <= 0 || region_h <= 0 || dest_w <= 0 || dest_h <= 0 || region_w > m_width || region_h > m_height) {
    out.clear();
    return Status::refused();
  }
  if (region_w == m_width && region_h == m_height && dest_w == m_width && dest_h == m_height) {
    Foto copy;
    if (Status status = copy.allocate(m_width, m_height); !status) {
      out.clear();
      return status;
    }
    std::copy_n(m_pixels, pixel_count(), copy.m_pixels);
    out = std::move(copy);
    return {};
  }

  Foto result;
  std::vector<AreaSpan> columns;
  try {
    columns.resize(static_cast<std::size_t>(dest_w));
  } catch (const std::bad_alloc&) {
    out.clear();
    return out_of_memory(dest_w, dest_h);
  }
  if (Status status = result.allocate(dest_w, dest_h); !status) {
    out.clear();
    return status;
  }
  for (int c = 0; c < dest_w; ++c) columns[static_cast<std::size_t>(c)] = area_span(region_w, dest_w, c);

  for (int r = 0; r < dest_h; ++r) {
    const AreaSpan rows = area_span(region_h, dest_h, r);
    std::uint32_t* dst = result.row(r);
    for (int c = 0; c < dest_w; ++c) {
      const AreaSpan& cols = columns[static_cast<std::size_t>(c)];
      std::uint64_t red = 0, green = 0, blue = 0, total = 0;
      for (int v = rows.first; v <= rows.last; ++v) {
        const std::uint32_t row_weight = rows.weight(v);
        const std::uint32_t* src = row(v);
        for (int u = cols.first; u <= cols.last; ++u) {
          std::uint32_t weight = row_weight * cols.weight(u) / 256;
          if (weight == 0) weight = 256;
          const std::uint32_t p = src[u];
          red += std::uint64_t{pixel_red(p)} * weight;
          green += std::uint64_t{pixel_green(p)} * weight;
          blue += std::uint64_t{pixel_blue(p)} * weight;
          total += weight;
        }
      }
      dst[c] = make_pixel(static_cast<std::uint32_t>(red / total), static_cast<std::uint32_t>(green / total),
                          static_cast<std::uint32_t>(blue / total));
    }
  }
  out = std::move(result);
  return {};
}

Status Foto::crop_resize(int dest_w, int dest_h, int region_w, int region_h) {
  // A resize that cannot be made keeps the picture as it was.
  Foto resized;
  Status status = crop_resize(dest_w, dest_h, region_w, region_h, resized);
  if (status) *this = std::move(resized);
  return status;
}

ResampleLevel best_resample_level() {
  static const ResampleLevel level = supported_resample_levels().back();
  return level;
}

std::vector<ResampleLevel> supported_resample_levels() {
  std::vector<ResampleLevel> levels{ResampleLevel::plain};
#if defined(TESS_RESAMPLE_AVX2)
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx2")) levels.push_back(ResampleLevel::avx2);
#endif
  return levels;
}

namespace {

/// The taps of one axis and what they were built from. Rendering brings
/// tile after tile of one size into cells of one size, which asks for the
/// same taps every time; they are built again only when the axis changes.
struct AxisCache {
  std::vector<AxisTaps> taps;
  std::vector<double> weights;
  bool valid = false;
  std::uint64_t origin = 0;  // bit patterns, so that only the very same numbers match
  std::uint64_t extent = 0;
  int dest = 0;
  int size = 0;

  void build(double axis_origin, double axis_extent, int axis_dest, int axis_size, std::vector<double>& cells) {
    const auto origin_bits = std::bit_cast<std::uint64_t>(axis_origin);
    const auto extent_bits = std::bit_cast<std::uint64_t>(axis_extent);
    if (valid && origin == origin_bits && extent == extent_bits && dest == axis_dest && size == axis_size) return;
    valid = false;  // stays so if building runs out of memory half way
    build_axis(axis_origin, axis_extent, axis_dest, axis_size, taps, weights, cells);
    origin = origin_bits;
    extent = extent_bits;
    dest = axis_dest;
    size = axis_size;
    valid = true;
  }
};

/// The working arrays of a resampling. Rendering resamples thousands of
/// small tiles one after another on each thread, so the arrays stay with the
/// thread and are reused rather than allocated for every tile; one grown for
/// an unusually wide picture is let go afterwards.
struct ResampleScratch {
  AxisCache columns, rows;
  std::vector<double> axis_cells;
  std::vector<OpacitySums> sums, ring;
  std::vector<int> ring_source;

  void trim() {
    constexpr std::size_t kKeptBytes = std::size_t{1} << 20;
    const auto release = [](auto& v) {
      if (v.capacity() * sizeof(v[0]) <= kKeptBytes) return false;
      std::remove_reference_t<decltype(v)>().swap(v);
      return true;
    };
    for (AxisCache* axis : {&columns, &rows})
      if (release(axis->taps) | release(axis->weights)) axis->valid = false;
    release(axis_cells);
    release(sums);
    release(ring);
    release(ring_source);
  }
};

/// Trims the scratch however the resampling leaves.
class ScratchLease {
 public:
  explicit ScratchLease(ResampleScratch& scratch) : m_scratch(scratch) {}
  ~ScratchLease() { m_scratch.trim(); }
  ScratchLease(const ScratchLease&) = delete;
  ScratchLease& operator=(const ScratchLease&) = delete;

 private:
  ResampleScratch& m_scratch;
};

}  // namespace

Status Foto::resample(int dest_w, int dest_h, double x, double y, double w, double h, Foto& out,
                      ResampleLevel level) const {
  if (w == 0) w = m_width;
  if (h == 0) h = m_height;
  if (empty() || dest_w <= 0 || dest_h <= 0 || !(x >= 0) || !(y >= 0) || !(w > 0) || !(h > 0) ||
      !std::isfinite(x) || !std::isfinite(y) || !std::isfinite(w) || !std::isfinite(h)) {
    out.clear();
    return Status::refused();
  }

  thread_local ResampleScratch scratch;
  const ScratchLease lease(scratch);
  const std::vector<AxisTaps>& column_taps = scratch.columns.taps;
  const std::vector<AxisTaps>& row_taps = scratch.rows.taps;
  std::vector<OpacitySums>& sums = scratch.sums;

  // Columns and rows are cut and weighted once per call; the pixel loop below
  // only reads them.
  try {
    scratch.columns.build(x, w, dest_w, m_width, scratch.axis_cells);
    scratch.rows.build(y, h, dest_h, m_height, scratch.axis_cells);
    sums.resize(static_cast<std::size_t>(dest_w));
  } catch (const std::bad_alloc&) {
    out.clear();
    return out_of_memory(dest_w, dest_h);
  }
  Foto result;
  if (Status status = result.allocate(dest_w, dest_h); !status) {
    out.clear();
    return status;
  }

  // Each destination row mixes a few source rows, and an enlarging one
  // shares them with its neighbours: the horizontal sums of a source row are
  // kept in a small ring of rows, so that each is swept once rather than once
  // for every destination row that reads it. The sums are the same doubles
  // in the same order either way; only a footprint too tall for the ring (a
  // strong reduction, where rows are seldom shared) sweeps directly.
  int ring_rows = 0;
  for (const AxisTaps& rows : row_taps) ring_rows = std::max(ring_rows, rows.count);
  const bool use_ring = ring_rows <= kMaxRingRows;
  std::vector<OpacitySums>& ring = scratch.ring;
  std::vector<int>& ring_source = scratch.ring_source;  // the source row each ring row holds; -1: none
  if (use_ring) {
    try {
      ring.resize(static_cast<std::size_t>(ring_rows) * static_cast<std::size_t>(dest_w));
      ring_source.assign(static_cast<std::size_t>(ring_rows), -1);
    } catch (const std::bad_alloc&) {
      out.clear();
      return out_of_memory(dest_w, dest_h);
    }
  }

  const RowKernels kernels = row_kernels(level);
  const double* column_weights = scratch.columns.weights.data();
  for (int r = 0; r < dest_h; ++r) {
    const AxisTaps& rows = row_taps[static_cast<std::size_t>(r)];
    std::fill(sums.begin(), sums.end(), OpacitySums{});
    // The horizontal sums of each source row under the footprint enter the
    // column totals with the row's weight.
    for (int j = 0; j < rows.count; ++j) {
      const double row_weight = scratch.rows.weights[rows.offset + static_cast<std::size_t>(j)];
      const int source_row = rows.first + j;
      if (use_ring) {
        const auto slot = static_cast<std::size_t>(source_row % ring_rows);
        OpacitySums* across = ring.data() + slot * static_cast<std::size_t>(dest_w);
        if (ring_source[slot] != source_row) {
          kernels.sweep_row(row(source_row), column_taps.data(), column_weights, across, dest_w);
          ring_source[slot] = source_row;
        }
        kernels.add_row(across, row_weight, sums.data(), dest_w);
      } else {
        kernels.sweep_add_row(row(source_row), column_taps.data(), column_weights, row_weight, sums.data(), dest_w);
      }
    }
    finish_row(sums.data(), column_taps.data(), rows.sum, result.row(r), dest_w);
  }
  out = std::move(result);
  return {};
}

}  // namespace tess
