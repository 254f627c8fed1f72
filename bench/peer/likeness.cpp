// SPDX-License-Identifier: GPL-3.0-or-later
// likeness MOSAIC MAIN COLUMNS ROWS [TILE_FOLDER]
//
// How much a mosaic looks like its main image, for any program's mosaic: both
// pictures are reduced in linear light to eight pixels a cell across (the
// mosaic straight from its own size, which stretches it to the main image's
// shape should the sizes differ), and compared by the cells' mean colours, by
// every pixel blurred by half a cell (seen from far) and by an eighth of one
// (from near), all as CIEDE2000, and by structural similarity. Prints one
// line of `key value` pairs:
//
//   cell_mean X cell_p95 X far_mean X far_p95 X near_mean X near_p95 X ssim X
//
// With TILE_FOLDER, the folder of tile photos both programs drew from, it also
// tells how varied the mosaic is: which photo each cell shows, found by
// matching each cell against every photo (and its mirror image) by normalised
// cross-correlation of small linear-light thumbnails, which a colour change
// that shifts a tile's colours or blends the main image into it hardly
// disturbs. Appended to the line:
//
//   distinct_share X largest_use N matched_cells N
//
// distinct_share is the distinct photos shown per matched cell, largest_use
// the most cells one photo fills; cells of one flat colour have nothing to
// match and are left out of both.

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "engine/likeness.hpp"
#include "images/foto.hpp"

namespace {

namespace fs = std::filesystem;
using tess::LinearPicture;

/// Dot products are summed in this many independent lanes, which the
/// compiler keeps in one vector register.
constexpr std::size_t kLanes = 8;

/// Runs `work(i)` for i in [0, count) on every core.
void in_parallel(std::size_t count, const std::function<void(std::size_t)>& work) {
  const unsigned threads = std::max(1u, std::thread::hardware_concurrency());
  std::atomic<std::size_t> next{0};
  std::vector<std::thread> pool;
  for (unsigned t = 0; t < threads; ++t)
    pool.emplace_back([&] {
      for (std::size_t i = next++; i < count; i = next++) work(i);
    });
  for (std::thread& thread : pool) thread.join();
}

/// Thumbnails as vectors made for correlation: each channel's mean taken
/// away, then scaled to length 1, so that a dot product of two is their
/// correlation. One without contrast stays all zero and matches nothing.
class Thumbnails {
 public:
  Thumbnails(int width, int height)
      : m_width(width),
        m_height(height),
        m_stride((3 * static_cast<std::size_t>(width) * static_cast<std::size_t>(height) + kLanes - 1) / kLanes *
                 kLanes) {}

  std::size_t size() const { return m_values.size() / m_stride; }
  const float* at(std::size_t i) const { return m_values.data() + i * m_stride; }
  bool flat(std::size_t i) const {
    const float* v = at(i);
    return std::all_of(v, v + m_stride, [](float x) { return x == 0.0f; });
  }

  /// Adds the width × height block of `picture` whose top-left corner is at
  /// (left, top), mirrored left to right if asked.
  void add(const LinearPicture& picture, int left, int top, bool mirrored) {
    const std::size_t start = m_values.size();
    m_values.resize(start + m_stride, 0.0f);
    float* out = m_values.data() + start;
    double means[3] = {0, 0, 0};
    for (int y = 0; y < m_height; ++y)
      for (int x = 0; x < m_width; ++x) {
        const int sx = left + (mirrored ? m_width - 1 - x : x);
        const float* p = picture.rgb.data() + 3 * (static_cast<std::size_t>(top + y) * picture.width + sx);
        float* o = out + 3 * (static_cast<std::size_t>(y) * m_width + x);
        for (int c = 0; c < 3; ++c) {
          o[c] = p[c];
          means[c] += p[c];
        }
      }
    const std::size_t pixels = static_cast<std::size_t>(m_width) * static_cast<std::size_t>(m_height);
    double length = 0;
    for (std::size_t i = 0; i < 3 * pixels; ++i) {
      out[i] = static_cast<float>(out[i] - means[i % 3] / static_cast<double>(pixels));
      length += static_cast<double>(out[i]) * out[i];
    }
    // Below this a thumbnail is one colour give or take rounding: its
    // pattern would be noise.
    constexpr double kFlat = 1e-6;
    const double scale = length < kFlat ? 0.0 : 1.0 / std::sqrt(length);
    for (std::size_t i = 0; i < 3 * pixels; ++i) out[i] = static_cast<float>(out[i] * scale);
  }

  float correlation(const float* a, const float* b) const {
    float lanes[kLanes] = {};
    for (std::size_t k = 0; k < m_stride; k += kLanes)
      for (std::size_t l = 0; l < kLanes; ++l) lanes[l] += a[k + l] * b[k + l];
    float sum = 0;
    for (const float lane : lanes) sum += lane;
    return sum;
  }

 private:
  int m_width;
  int m_height;
  std::size_t m_stride;
  std::vector<float> m_values;
};

/// The two sizes cells and photos are matched at: every photo is tried at
/// the coarse one, the best few again at the fine one, which tells apart
/// crops of one photograph that differ in little more than a few pixels.
struct MatchSizes {
  int coarse_width = 8;
  int coarse_height = 6;
  int fine_width = 16;
  int fine_height = 12;
};

/// Thumbnail heights for cells of `cell_width` × `cell_height` pixels.
MatchSizes match_sizes(double cell_width, double cell_height) {
  MatchSizes sizes;
  sizes.coarse_height = std::max(1, static_cast<int>(std::lround(sizes.coarse_width * cell_height / cell_width)));
  sizes.fine_height = std::max(1, static_cast<int>(std::lround(sizes.fine_width * cell_height / cell_width)));
  return sizes;
}

/// Photos shortlisted at the coarse size for each cell.
constexpr std::size_t kShortlist = 16;

struct Variety {
  std::size_t matched = 0;
  std::size_t distinct = 0;
  std::size_t largest_use = 0;
};

/// Which photo of `folder` each cell of `mosaic` shows, summed up.
bool measure_variety(const tess::Foto& mosaic, int columns, int rows, const fs::path& folder, Variety& variety) {
  const MatchSizes sizes = match_sizes(static_cast<double>(mosaic.width()) / columns,
                                       static_cast<double>(mosaic.height()) / rows);
  std::vector<fs::path> files;
  std::error_code error;
  for (fs::recursive_directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
    if (it->is_regular_file(error)) files.push_back(it->path());
  if (error) {
    std::fprintf(stderr, "likeness: cannot read the folder %s: %s\n", folder.c_str(), error.message().c_str());
    return false;
  }
  std::sort(files.begin(), files.end());

  // Each photo's thumbnails. The decoders may shrink while reading, down to
  // twice the fine size, which keeps thousands of photos quick. A photo of
  // another shape than the cells is squeezed to theirs.
  std::vector<LinearPicture> coarse(files.size()), fine(files.size());
  std::atomic<std::size_t> unreadable{0};
  in_parallel(files.size(), [&](std::size_t i) {
    tess::Foto photo;
    if (!photo.load(files[i], 2 * sizes.fine_width, 2 * sizes.fine_height)) {
      ++unreadable;
      return;
    }
    coarse[i] = tess::reduce_in_linear_light(photo, sizes.coarse_width, sizes.coarse_height);
    fine[i] = tess::reduce_in_linear_light(photo, sizes.fine_width, sizes.fine_height);
  });
  if (unreadable > 0)
    std::fprintf(stderr, "likeness: %zu files of %s are no pictures\n", unreadable.load(), folder.c_str());

  // Candidates: every photo as it is and mirrored, two in a row.
  Thumbnails coarse_candidates(sizes.coarse_width, sizes.coarse_height);
  Thumbnails fine_candidates(sizes.fine_width, sizes.fine_height);
  std::vector<std::size_t> photo_of;
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (coarse[i].rgb.empty()) continue;
    for (const bool mirrored : {false, true}) {
      coarse_candidates.add(coarse[i], 0, 0, mirrored);
      fine_candidates.add(fine[i], 0, 0, mirrored);
      photo_of.push_back(i);
    }
  }
  if (photo_of.empty()) {
    std::fprintf(stderr, "likeness: no tile photos in %s\n", folder.c_str());
    return false;
  }

  // The cells at both sizes: the mosaic reduced so that each cell is a whole
  // block of thumbnail pixels.
  Thumbnails coarse_cells(sizes.coarse_width, sizes.coarse_height);
  Thumbnails fine_cells(sizes.fine_width, sizes.fine_height);
  const LinearPicture coarse_mosaic =
      tess::reduce_in_linear_light(mosaic, sizes.coarse_width * columns, sizes.coarse_height * rows);
  const LinearPicture fine_mosaic =
      tess::reduce_in_linear_light(mosaic, sizes.fine_width * columns, sizes.fine_height * rows);
  for (int j = 0; j < rows; ++j)
    for (int i = 0; i < columns; ++i) {
      coarse_cells.add(coarse_mosaic, i * sizes.coarse_width, j * sizes.coarse_height, false);
      fine_cells.add(fine_mosaic, i * sizes.fine_width, j * sizes.fine_height, false);
    }

  constexpr std::size_t kNone = static_cast<std::size_t>(-1);
  std::vector<std::size_t> shown(coarse_cells.size(), kNone);
  in_parallel(coarse_cells.size(), [&](std::size_t c) {
    if (coarse_cells.flat(c)) return;
    // The best few at the coarse size, best first.
    std::pair<float, std::size_t> best[kShortlist];
    std::size_t kept = 0;
    const float* cell = coarse_cells.at(c);
    for (std::size_t k = 0; k < coarse_candidates.size(); ++k) {
      const float r = coarse_candidates.correlation(cell, coarse_candidates.at(k));
      if (kept == kShortlist && r <= best[kShortlist - 1].first) continue;
      std::size_t at = kept < kShortlist ? kept++ : kShortlist - 1;
      for (; at > 0 && best[at - 1].first < r; --at) best[at] = best[at - 1];
      best[at] = {r, k};
    }
    float best_fine = -2;
    std::size_t best_at = best[0].second;
    for (std::size_t k = 0; k < kept; ++k) {
      const float r = fine_candidates.correlation(fine_cells.at(c), fine_candidates.at(best[k].second));
      if (r > best_fine) {
        best_fine = r;
        best_at = best[k].second;
      }
    }
    shown[c] = photo_of[best_at];
  });

  std::vector<std::size_t> uses(files.size(), 0);
  for (const std::size_t photo : shown)
    if (photo != kNone) {
      ++variety.matched;
      if (uses[photo]++ == 0) ++variety.distinct;
      variety.largest_use = std::max(variety.largest_use, uses[photo]);
    }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5 && argc != 6) {
    std::fprintf(stderr, "usage: likeness MOSAIC MAIN COLUMNS ROWS [TILE_FOLDER]\n");
    return 2;
  }
  const int columns = std::atoi(argv[3]);
  const int rows = std::atoi(argv[4]);
  if (columns <= 0 || rows <= 0) {
    std::fprintf(stderr, "likeness: COLUMNS and ROWS must be positive\n");
    return 2;
  }

  tess::Foto mosaic;
  if (!mosaic.load(argv[1], 0, 0)) {
    std::fprintf(stderr, "likeness: cannot read %s\n", argv[1]);
    return 1;
  }
  tess::Foto main_image;
  if (!main_image.load(argv[2], 0, 0)) {
    std::fprintf(stderr, "likeness: cannot read %s\n", argv[2]);
    return 1;
  }
  const tess::LikenessSize size = tess::likeness_size(columns, main_image.width(), main_image.height());
  if (rows > size.height) {
    std::fprintf(stderr, "likeness: %d rows do not fit the %dx%d pixels the pictures are compared at\n", rows,
                 size.width, size.height);
    return 2;
  }
  const LinearPicture reduced_mosaic = tess::reduce_in_linear_light(mosaic, size.width, size.height);
  const LinearPicture reduced_main = tess::reduce_in_linear_light(main_image, size.width, size.height);
  main_image.clear();
  const tess::MosaicLikeness figures = tess::mosaic_likeness(reduced_mosaic, reduced_main, columns, rows);
  std::printf("cell_mean %.3f cell_p95 %.3f far_mean %.3f far_p95 %.3f near_mean %.3f near_p95 %.3f ssim %.4f",
              figures.cell.mean, figures.cell.p95, figures.far.mean, figures.far.p95, figures.near.mean,
              figures.near.p95, figures.ssim);

  if (argc == 6) {
    Variety variety;
    if (!measure_variety(mosaic, columns, rows, argv[5], variety)) {
      std::printf("\n");
      return 1;
    }
    std::printf(" distinct_share %.4f largest_use %zu matched_cells %zu",
                variety.matched == 0 ? 0.0 : static_cast<double>(variety.distinct) / variety.matched,
                variety.largest_use, variety.matched);
  }
  std::printf("\n");
  return 0;
}
