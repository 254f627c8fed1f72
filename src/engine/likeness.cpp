// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/likeness.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>

#include "engine/colour_fidelity.hpp"
#include "images/cielab.hpp"

namespace tess {
namespace {

/// A Gaussian kernel of `sigma` cut at `radius` taps each side, summing to 1.
std::vector<double> gaussian_kernel(double sigma, int radius) {
  std::vector<double> kernel(static_cast<std::size_t>(2 * radius + 1));
  double sum = 0;
  for (int k = -radius; k <= radius; ++k) {
    const double w = std::exp(-0.5 * k * k / (sigma * sigma));
    kernel[static_cast<std::size_t>(k + radius)] = w;
    sum += w;
  }
  for (double& w : kernel) w /= sum;
  return kernel;
}

std::size_t index_of(int x, int y, int width) {
  return 3 * (static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x));
}

LabColour lab_at(const LinearPicture& picture, std::size_t index) {
  return lab_of_linear(picture.rgb[index], picture.rgb[index + 1], picture.rgb[index + 2]);
}

LikenessFigures figures_of(std::vector<double> differences) {
  LikenessFigures figures;
  figures.count = differences.size();
  if (differences.empty()) return figures;
  double sum = 0;
  for (const double d : differences) sum += d;
  figures.mean = sum / static_cast<double>(differences.size());
  figures.p95 = percentile(std::move(differences), 0.95);
  return figures;
}

bool same_size(const LinearPicture& a, const LinearPicture& b) {
  return a.width == b.width && a.height == b.height && a.rgb.size() == b.rgb.size() &&
         a.rgb.size() == 3 * static_cast<std::size_t>(a.width) * static_cast<std::size_t>(a.height);
}

/// The edge of cell `i` of `cells` across `extent` pixels, rounded to the
/// nearest pixel (halves up), so the cells share out the remainder evenly.
int cell_edge(int i, int extent, int cells) {
  return static_cast<int>((2 * static_cast<std::int64_t>(i) * extent + cells) / (2 * static_cast<std::int64_t>(cells)));
}

// The structural similarity's window and constants.
constexpr double kSsimSigma = 1.5;
constexpr int kSsimRadius = 5;  // 3.5 σ, rounded
constexpr double kSsimC1 = (0.01 * 255) * (0.01 * 255);
constexpr double kSsimC2 = (0.03 * 255) * (0.03 * 255);

/// `plane` (width × height) filtered by `kernel` wherever the whole window
/// lies inside: (width − 2r) × (height − 2r) values.
std::vector<double> filtered_inside(const std::vector<double>& plane, int width, int height,
                                    const std::vector<double>& kernel) {
  const int r = static_cast<int>(kernel.size() / 2);
  const int inner_w = width - 2 * r;
  const int inner_h = height - 2 * r;
  std::vector<double> across(static_cast<std::size_t>(inner_w) * static_cast<std::size_t>(height));
  for (int y = 0; y < height; ++y) {
    const double* row = plane.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(width);
    double* out = across.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(inner_w);
    for (int x = 0; x < inner_w; ++x) {
      double sum = 0;
      for (std::size_t k = 0; k < kernel.size(); ++k) sum += kernel[k] * row[static_cast<std::size_t>(x) + k];
      out[x] = sum;
    }
  }
  std::vector<double> result(static_cast<std::size_t>(inner_w) * static_cast<std::size_t>(inner_h), 0.0);
  for (int y = 0; y < inner_h; ++y) {
    double* out = result.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(inner_w);
    for (std::size_t k = 0; k < kernel.size(); ++k) {
      const double* row = across.data() + (static_cast<std::size_t>(y) + k) * static_cast<std::size_t>(inner_w);
      for (int x = 0; x < inner_w; ++x) out[x] += kernel[k] * row[x];
    }
  }
  return result;
}

}  // namespace

LinearPicture reduce_in_linear_light(const Foto& picture, int width, int height) {
  if (picture.empty() || width <= 0 || height <= 0) return {};
  LinearReducer reducer(picture.width(), picture.height(), width, height);
  reducer.add_rows(picture, 0);
  return reducer.picture();
}

std::vector<LinearReducer::Span> LinearReducer::spans(int source, int reduced) {
  // In units of 1/(source · reduced) of the whole extent, source pixel x
  // covers [x · reduced, (x + 1) · reduced) and output pixel i covers
  // [i · source, (i + 1) · source): the overlaps are whole numbers, so the
  // shares of every output pixel add up to exactly its area.
  std::vector<Span> result(static_cast<std::size_t>(std::max(source, 0)));
  const std::int64_t s = source;
  const std::int64_t n = reduced;
  for (std::int64_t x = 0; x < s; ++x) {
    const std::int64_t begin = x * n;
    const std::int64_t end = begin + n;
    Span& span = result[static_cast<std::size_t>(x)];
    span.first = static_cast<int>(begin / s);
    const auto last = static_cast<int>((end - 1) / s);
    for (std::int64_t i = span.first; i <= last; ++i) {
      const std::int64_t overlap = std::min(end, (i + 1) * s) - std::max(begin, i * s);
      span.shares.push_back(static_cast<double>(overlap) / static_cast<double>(s));
    }
  }
  return result;
}

LinearReducer::LinearReducer(int source_width, int source_height, int width, int height) {
  if (source_width <= 0 || source_height <= 0 || width <= 0 || height <= 0) return;
  m_source_width = source_width;
  m_source_height = source_height;
  m_width = width;
  m_height = height;
  m_columns = spans(source_width, width);
  m_rows = spans(source_height, height);
  m_sums.assign(3 * static_cast<std::size_t>(width) * static_cast<std::size_t>(height), 0.0);
  m_row.assign(3 * static_cast<std::size_t>(width), 0.0);
}

void LinearReducer::add_rows(const Foto& band, int top) {
  if (band.width() != m_source_width) return;
  add_block(band, 0, top);
}

void LinearReducer::add_block(const Foto& block, int left, int top) {
  if (m_width == 0 || block.empty()) return;
  // 64 bits: a block far off the source must not wrap round into it.
  const auto x0 = static_cast<int>(std::max<std::int64_t>(left, 0));
  const auto x1 = static_cast<int>(std::min<std::int64_t>(std::int64_t{left} + block.width(), m_source_width));
  const auto y0 = static_cast<int>(std::max<std::int64_t>(top, 0));
  const auto y1 = static_cast<int>(std::min<std::int64_t>(std::int64_t{top} + block.height(), m_source_height));
  if (x0 >= x1 || y0 >= y1) return;
  // Only the output columns the block's pixels fall into are touched, so a
  // narrow piece of a wide picture costs its own pixels.
  const Span& first_column = m_columns[static_cast<std::size_t>(x0)];
  const Span& last_column = m_columns[static_cast<std::size_t>(x1 - 1)];
  const int out_first = first_column.first;
  const int out_last = last_column.first + static_cast<int>(last_column.shares.size()) - 1;
  const std::size_t values = 3 * static_cast<std::size_t>(out_last - out_first + 1);
  for (int y = y0; y < y1; ++y) {
    // Each row is reduced across first and then shared out to the output
    // rows it covers, in the same order whatever the bands were, so
    // whole-width rows give the same sums to the last bit.
    std::fill_n(m_row.begin(), values, 0.0);
    const std::uint32_t* pixels = block.row(y - top) + (x0 - left);
    for (int x = x0; x < x1; ++x) {
      const std::uint32_t p = pixels[x - x0];
      const double r = linear_of_srgb(static_cast<std::uint8_t>(pixel_red(p)));
      const double g = linear_of_srgb(static_cast<std::uint8_t>(pixel_green(p)));
      const double b = linear_of_srgb(static_cast<std::uint8_t>(pixel_blue(p)));
      const Span& span = m_columns[static_cast<std::size_t>(x)];
      double* out = m_row.data() + 3 * static_cast<std::size_t>(span.first - out_first);
      for (const double share : span.shares) {
        out[0] += share * r;
        out[1] += share * g;
        out[2] += share * b;
        out += 3;
      }
    }
    const Span& span = m_rows[static_cast<std::size_t>(y)];
    for (std::size_t k = 0; k < span.shares.size(); ++k) {
      double* sums = m_sums.data() + index_of(out_first, span.first + static_cast<int>(k), m_width);
      const double share = span.shares[k];
      for (std::size_t i = 0; i < values; ++i) sums[i] += share * m_row[i];
    }
  }
}

LinearPicture LinearReducer::picture() const {
  LinearPicture result;
  if (m_width == 0) return result;
  result.width = m_width;
  result.height = m_height;
  result.rgb.assign(m_sums.begin(), m_sums.end());
  return result;
}

LinearPicture gaussian_blurred(const LinearPicture& picture, double sigma) {
  if (!(sigma > 0) || picture.width <= 0 || picture.height <= 0) return picture;
  const int radius = static_cast<int>(4.0 * sigma + 0.5);
  const std::vector<double> kernel = gaussian_kernel(sigma, radius);
  const int w = picture.width;
  const int h = picture.height;
  std::vector<double> across(picture.rgb.size());
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      for (int c = 0; c < 3; ++c) {
        double sum = 0;
        for (int k = -radius; k <= radius; ++k) {
          const int sx = std::clamp(x + k, 0, w - 1);
          sum += kernel[static_cast<std::size_t>(k + radius)] * picture.rgb[index_of(sx, y, w) + c];
        }
        across[index_of(x, y, w) + c] = sum;
      }
  LinearPicture result;
  result.width = w;
  result.height = h;
  result.rgb.resize(picture.rgb.size());
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      for (int c = 0; c < 3; ++c) {
        double sum = 0;
        for (int k = -radius; k <= radius; ++k) {
          const int sy = std::clamp(y + k, 0, h - 1);
          sum += kernel[static_cast<std::size_t>(k + radius)] * across[index_of(x, sy, w) + c];
        }
        result.rgb[index_of(x, y, w) + c] = static_cast<float>(sum);
      }
  return result;
}

LikenessFigures pixel_ciede2000(const LinearPicture& a, const LinearPicture& b) {
  if (!same_size(a, b)) return {};
  std::vector<double> differences;
  differences.reserve(a.rgb.size() / 3);
  for (std::size_t i = 0; i < a.rgb.size(); i += 3) differences.push_back(ciede2000(lab_at(a, i), lab_at(b, i)));
  return figures_of(std::move(differences));
}

LikenessFigures cell_ciede2000(const LinearPicture& a, const LinearPicture& b, int columns, int rows) {
  if (!same_size(a, b) || columns <= 0 || rows <= 0) return {};
  std::vector<double> differences;
  differences.reserve(static_cast<std::size_t>(columns) * static_cast<std::size_t>(rows));
  for (int j = 0; j < rows; ++j) {
    const int y0 = cell_edge(j, a.height, rows);
    const int y1 = cell_edge(j + 1, a.height, rows);
    for (int i = 0; i < columns; ++i) {
      const int x0 = cell_edge(i, a.width, columns);
      const int x1 = cell_edge(i + 1, a.width, columns);
      if (x1 <= x0 || y1 <= y0) continue;
      std::array<double, 3> sum_a{}, sum_b{};
      for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x)
          for (int c = 0; c < 3; ++c) {
            sum_a[static_cast<std::size_t>(c)] += a.rgb[index_of(x, y, a.width) + c];
            sum_b[static_cast<std::size_t>(c)] += b.rgb[index_of(x, y, b.width) + c];
          }
      const double n = static_cast<double>(x1 - x0) * static_cast<double>(y1 - y0);
      differences.push_back(ciede2000(lab_of_linear(sum_a[0] / n, sum_a[1] / n, sum_a[2] / n),
                                      lab_of_linear(sum_b[0] / n, sum_b[1] / n, sum_b[2] / n)));
    }
  }
  return figures_of(std::move(differences));
}

double mean_ssim(const LinearPicture& a, const LinearPicture& b) {
  constexpr int kWindow = 2 * kSsimRadius + 1;
  if (!same_size(a, b) || a.width < kWindow || a.height < kWindow) return std::numeric_limits<double>::quiet_NaN();
  const int w = a.width;
  const int h = a.height;
  const std::size_t n = static_cast<std::size_t>(w) * static_cast<std::size_t>(h);
  const std::vector<double> kernel = gaussian_kernel(kSsimSigma, kSsimRadius);
  std::vector<double> x(n), y(n), xx(n), yy(n), xy(n);
  double total = 0;
  std::size_t counted = 0;
  for (std::size_t c = 0; c < 3; ++c) {
    for (std::size_t i = 0; i < n; ++i) {
      x[i] = 255.0 * srgb_of_linear(a.rgb[3 * i + c]);
      y[i] = 255.0 * srgb_of_linear(b.rgb[3 * i + c]);
      xx[i] = x[i] * x[i];
      yy[i] = y[i] * y[i];
      xy[i] = x[i] * y[i];
    }
    const std::vector<double> ux = filtered_inside(x, w, h, kernel);
    const std::vector<double> uy = filtered_inside(y, w, h, kernel);
    const std::vector<double> uxx = filtered_inside(xx, w, h, kernel);
    const std::vector<double> uyy = filtered_inside(yy, w, h, kernel);
    const std::vector<double> uxy = filtered_inside(xy, w, h, kernel);
    double sum = 0;
    for (std::size_t i = 0; i < ux.size(); ++i) {
      const double vx = uxx[i] - ux[i] * ux[i];
      const double vy = uyy[i] - uy[i] * uy[i];
      const double vxy = uxy[i] - ux[i] * uy[i];
      sum += (2 * ux[i] * uy[i] + kSsimC1) * (2 * vxy + kSsimC2) /
             ((ux[i] * ux[i] + uy[i] * uy[i] + kSsimC1) * (vx + vy + kSsimC2));
    }
    total += sum / static_cast<double>(ux.size());
    ++counted;
  }
  return total / static_cast<double>(counted);
}

LikenessSize likeness_size(int columns, int main_width, int main_height) {
  if (columns <= 0 || main_width <= 0 || main_height <= 0) return {};
  const std::int64_t width = 8 * static_cast<std::int64_t>(columns);
  const std::int64_t height = (2 * width * main_height + main_width) / (2 * static_cast<std::int64_t>(main_width));
  return {static_cast<int>(width), static_cast<int>(std::max<std::int64_t>(height, 1))};
}

MosaicLikeness mosaic_likeness(const LinearPicture& mosaic, const LinearPicture& main, int columns, int rows) {
  // Half a cell blurs the tiles' own pictures away, leaving what is seen
  // from where the cells merge; an eighth of a cell keeps the coarse shapes
  // inside the tiles, as seen from a step back.
  constexpr double kFarSigma = 4.0;
  constexpr double kNearSigma = 1.0;
  MosaicLikeness figures;
  figures.cell = cell_ciede2000(mosaic, main, columns, rows);
  figures.far = pixel_ciede2000(gaussian_blurred(mosaic, kFarSigma), gaussian_blurred(main, kFarSigma));
  figures.near = pixel_ciede2000(gaussian_blurred(mosaic, kNearSigma), gaussian_blurred(main, kNearSigma));
  figures.ssim = mean_ssim(mosaic, main);
  return figures;
}

}  // namespace tess
