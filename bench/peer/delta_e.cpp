// delta_e MOSAIC MAIN COLUMNS ROWS
//
// How faithfully a mosaic reproduces its main image: the main image is scaled
// to the mosaic's size, both are cut into the same COLUMNS × ROWS grid, and the
// mean colour of every cell of the mosaic is compared with the mean colour of
// the same region of the main image as a CIE76 colour difference on L*a*b*
// (sRGB, D65 white). Prints the mean difference over all cells, and the worst.
// Cell means keep it fair to programs that colour-correct inside a tile or not:
// what is judged is the colour the eye sees from a distance.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/prompt.hpp"
#include "images/foto.hpp"

namespace {

using Lab = std::array<double, 3>;

double srgb_to_linear(double c) {
  c /= 255.0;
  return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

double lab_f(double t) {
  constexpr double kDelta = 6.0 / 29.0;
  return t > kDelta * kDelta * kDelta ? std::cbrt(t) : t / (3 * kDelta * kDelta) + 4.0 / 29.0;
}

Lab to_lab(double r, double g, double b) {
  const double lr = srgb_to_linear(r);
  const double lg = srgb_to_linear(g);
  const double lb = srgb_to_linear(b);
  // sRGB primaries to XYZ, white point D65.
  const double x = 0.4124564 * lr + 0.3575761 * lg + 0.1804375 * lb;
  const double y = 0.2126729 * lr + 0.7151522 * lg + 0.0721750 * lb;
  const double z = 0.0193339 * lr + 0.1191920 * lg + 0.9503041 * lb;
  const double fx = lab_f(x / 0.95047);
  const double fy = lab_f(y / 1.00000);
  const double fz = lab_f(z / 1.08883);
  return {116 * fy - 16, 500 * (fx - fy), 200 * (fy - fz)};
}

// Mean colour of the rectangle [x0, x1) × [y0, y1), in L*a*b*.
Lab region_mean(const tess::Foto& image, int x0, int y0, int x1, int y1) {
  double r = 0, g = 0, b = 0;
  for (int y = y0; y < y1; ++y) {
    const std::uint32_t* row = image.row(y);
    for (int x = x0; x < x1; ++x) {
      r += tess::pixel_red(row[x]);
      g += tess::pixel_green(row[x]);
      b += tess::pixel_blue(row[x]);
    }
  }
  const double n = static_cast<double>(x1 - x0) * static_cast<double>(y1 - y0);
  return to_lab(r / n, g / n, b / n);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: delta_e MOSAIC MAIN COLUMNS ROWS\n");
    return 2;
  }
  const int columns = std::atoi(argv[3]);
  const int rows = std::atoi(argv[4]);
  if (columns <= 0 || rows <= 0) {
    std::fprintf(stderr, "delta_e: COLUMNS and ROWS must be positive\n");
    return 2;
  }

  tess::Foto mosaic;
  if (!mosaic.load(argv[1], 0, 0)) {
    std::fprintf(stderr, "delta_e: cannot read %s\n", argv[1]);
    return 1;
  }
  tess::Foto main_image;
  if (!main_image.load(argv[2], 0, 0)) {
    std::fprintf(stderr, "delta_e: cannot read %s\n", argv[2]);
    return 1;
  }
  const int width = mosaic.width();
  const int height = mosaic.height();
  if (columns > width || rows > height) {
    std::fprintf(stderr, "delta_e: a %dx%d grid does not fit a %dx%d mosaic\n", columns, rows, width, height);
    return 2;
  }
  tess::Foto reference;
  if (!main_image.resample(width, height, 0, 0, 0, 0, reference)) {
    std::fprintf(stderr, "delta_e: cannot scale the main image to %dx%d\n", width, height);
    return 1;
  }
  main_image.clear();

  double sum = 0;
  double worst = 0;
  for (int j = 0; j < rows; ++j) {
    // Integer cell edges spread the remainder over the grid, so every pixel
    // belongs to exactly one cell.
    const int y0 = static_cast<int>(static_cast<std::int64_t>(j) * height / rows);
    const int y1 = static_cast<int>(static_cast<std::int64_t>(j + 1) * height / rows);
    for (int i = 0; i < columns; ++i) {
      const int x0 = static_cast<int>(static_cast<std::int64_t>(i) * width / columns);
      const int x1 = static_cast<int>(static_cast<std::int64_t>(i + 1) * width / columns);
      const Lab a = region_mean(mosaic, x0, y0, x1, y1);
      const Lab b = region_mean(reference, x0, y0, x1, y1);
      const double d = std::sqrt((a[0] - b[0]) * (a[0] - b[0]) + (a[1] - b[1]) * (a[1] - b[1]) +
                                 (a[2] - b[2]) * (a[2] - b[2]));
      sum += d;
      worst = std::max(worst, d);
    }
  }
  const double cells = static_cast<double>(columns) * static_cast<double>(rows);
  std::printf("mean_delta_e %.2f max_delta_e %.2f cells %d size %dx%d\n", sum / cells, worst,
              columns * rows, width, height);
  return 0;
}
