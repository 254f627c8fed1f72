// SPDX-License-Identifier: GPL-3.0-or-later
#include "images/row_reduction.hpp"

#include <algorithm>
#include <cmath>

#include "images/foto.hpp"

namespace tess {

int row_reduction_factor(std::uint64_t width, std::uint64_t height, bool sums_per_pixel, int max_w, int max_h) {
  if (max_w <= 0 || max_h <= 0 || width == 0 || height == 0) return 1;
  if (width * height * 4 <= kWholePictureBytes) return 1;
  const std::uint64_t most =
      std::min<std::uint64_t>(width / static_cast<std::uint64_t>(max_w), height / static_cast<std::uint64_t>(max_h));
  if (most < 2) return 1;
  const std::uint64_t per_pixel = 4 + (sums_per_pixel ? sizeof(PixelSum) : 0);
  const auto within = [&](std::uint64_t factor) {
    return reduced_side(width, static_cast<int>(factor)) * reduced_side(height, static_cast<int>(factor)) * per_pixel <=
           kWholePictureBytes;
  };
  // Close below the answer first: the pixels shrink with the square of the factor.
  std::uint64_t factor = static_cast<std::uint64_t>(std::sqrt(static_cast<double>(width) * static_cast<double>(height) *
                                                              static_cast<double>(per_pixel) /
                                                              static_cast<double>(kWholePictureBytes)));
  factor = std::clamp<std::uint64_t>(factor, 3, most + 1) - 1;
  while (factor > 2 && within(factor - 1)) --factor;
  while (factor < most && !within(factor)) ++factor;
  return static_cast<int>(factor);
}

void add_to_sums(PixelSum* sums, const std::uint32_t* row, std::uint64_t count, std::uint64_t first, int shift,
                 int factor) {
  for (std::uint64_t i = 0; i < count; ++i) {
    const std::uint32_t pixel = row[i];
    const std::uint64_t opacity = 255 - pixel_transparency(pixel);
    PixelSum& sum = sums[(first + (i << shift)) / static_cast<std::uint64_t>(factor)];
    sum.red += pixel_red(pixel) * opacity;
    sum.green += pixel_green(pixel) * opacity;
    sum.blue += pixel_blue(pixel) * opacity;
    sum.opacity += opacity;
  }
}

void finish_reduced_row(PixelSum* sums, std::uint32_t* out, int reduced_w, std::uint64_t width, int factor,
                        std::uint64_t rows) {
  for (int x = 0; x < reduced_w; ++x) {
    PixelSum& sum = sums[x];
    const std::uint64_t columns =
        std::min<std::uint64_t>(factor, width - static_cast<std::uint64_t>(x) * static_cast<std::uint64_t>(factor));
    const std::uint64_t count = columns * rows;
    if (sum.opacity == 0) {
      out[x] = kEmptyPixel;
    } else {
      const std::uint64_t half = sum.opacity / 2;
      const auto mean = [&](std::uint64_t weighted) { return static_cast<std::uint32_t>((weighted + half) / sum.opacity); };
      const auto opacity = static_cast<std::uint32_t>((sum.opacity + count / 2) / count);
      out[x] = make_pixel(mean(sum.red), mean(sum.green), mean(sum.blue), 255 - opacity);
    }
    sum = PixelSum{};
  }
}

}  // namespace tess
