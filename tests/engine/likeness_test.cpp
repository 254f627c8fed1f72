// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/likeness.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "images/cielab.hpp"
#include "images/foto.hpp"
#include "support/test_support.hpp"

namespace tess {
namespace {

LinearPicture flat(int width, int height, float r, float g, float b) {
  LinearPicture p;
  p.width = width;
  p.height = height;
  for (int i = 0; i < width * height; ++i) p.rgb.insert(p.rgb.end(), {r, g, b});
  return p;
}

float& red_at(LinearPicture& p, int x, int y) { return p.rgb[3 * static_cast<std::size_t>(y * p.width + x)]; }
float red_at(const LinearPicture& p, int x, int y) { return p.rgb[3 * static_cast<std::size_t>(y * p.width + x)]; }

/// A picture of smooth ramps with a ripple, so that neighbouring pixels
/// differ by various amounts; `phase` shifts the ripple.
LinearPicture ramps(int width, int height, double phase) {
  LinearPicture p;
  p.width = width;
  p.height = height;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const double ripple = 0.15 * std::sin(0.9 * x + 1.3 * y + phase);
      p.rgb.push_back(static_cast<float>(std::clamp(0.8 * x / width + ripple + 0.15, 0.0, 1.0)));
      p.rgb.push_back(static_cast<float>(std::clamp(0.7 * y / height - ripple + 0.2, 0.0, 1.0)));
      p.rgb.push_back(static_cast<float>(std::clamp(0.5 + 0.4 * std::cos(0.3 * x * phase + 0.2 * y), 0.0, 1.0)));
    }
  return p;
}

TEST(Likeness, LinearOfSrgbFollowsTheCurve) {
  EXPECT_EQ(linear_of_srgb(0), 0.0f);
  EXPECT_EQ(linear_of_srgb(255), 1.0f);
  EXPECT_NEAR(linear_of_srgb(10), 10 / 255.0 / 12.92, 1e-7);  // the straight part near black
  EXPECT_NEAR(linear_of_srgb(128), 0.2158605, 1e-6);
}

TEST(Likeness, APictureAgainstItselfDiffersNowhere) {
  const LinearPicture p = flat(24, 16, 0.3f, 0.5f, 0.1f);
  const LikenessFigures pixels = pixel_ciede2000(p, p);
  EXPECT_EQ(pixels.count, 24u * 16u);
  EXPECT_EQ(pixels.mean, 0);
  EXPECT_EQ(pixels.p95, 0);
  const LikenessFigures cells = cell_ciede2000(p, p, 3, 2);
  EXPECT_EQ(cells.count, 6u);
  EXPECT_EQ(cells.mean, 0);
  EXPECT_DOUBLE_EQ(mean_ssim(p, p), 1.0);
  const LinearPicture textured = ramps(24, 16, 0.5);
  EXPECT_DOUBLE_EQ(mean_ssim(textured, textured), 1.0);
}

TEST(Likeness, TwoFlatPicturesDifferByTheirColours) {
  struct Case {
    std::uint32_t a, b;
  };
  for (const Case& c : {Case{make_pixel(255, 0, 0), make_pixel(0, 0, 255)},
                        Case{make_pixel(200, 180, 40), make_pixel(190, 185, 60)},
                        Case{make_pixel(0, 0, 0), make_pixel(255, 255, 255)}}) {
    const auto linear = [](std::uint32_t p) {
      return flat(16, 12, linear_of_srgb(pixel_red(p)), linear_of_srgb(pixel_green(p)), linear_of_srgb(pixel_blue(p)));
    };
    const double expected = ciede2000(lab_of_pixel(c.a), lab_of_pixel(c.b));
    const LikenessFigures pixels = pixel_ciede2000(linear(c.a), linear(c.b));
    EXPECT_NEAR(pixels.mean, expected, 1e-4);
    EXPECT_NEAR(pixels.p95, expected, 1e-4);
    const LikenessFigures cells = cell_ciede2000(linear(c.a), linear(c.b), 4, 3);
    EXPECT_EQ(cells.count, 12u);
    EXPECT_NEAR(cells.mean, expected, 1e-4);
    EXPECT_LT(mean_ssim(linear(c.a), linear(c.b)), 1.0);
  }
}

TEST(Likeness, PicturesOfDifferentSizesHaveNoFigures) {
  const LinearPicture a = flat(12, 12, 0.5f, 0.5f, 0.5f);
  const LinearPicture b = flat(12, 13, 0.5f, 0.5f, 0.5f);
  EXPECT_EQ(pixel_ciede2000(a, b).count, 0u);
  EXPECT_EQ(cell_ciede2000(a, b, 2, 2).count, 0u);
  EXPECT_EQ(cell_ciede2000(a, a, 0, 2).count, 0u);
  EXPECT_TRUE(std::isnan(mean_ssim(a, b)));
  EXPECT_TRUE(std::isnan(mean_ssim(flat(10, 30, 0, 0, 0), flat(10, 30, 0, 0, 0)))) << "narrower than the window";
}

TEST(Likeness, ReductionAveragesLightNotCodeValues) {
  Foto checks;
  ASSERT_TRUE(checks.try_allocate_fill(2, 2, make_pixel(0, 0, 0)));
  checks.at(1, 0) = make_pixel(255, 255, 255);
  checks.at(0, 1) = make_pixel(255, 255, 255);
  const LinearPicture one = reduce_in_linear_light(checks, 1, 1);
  ASSERT_EQ(one.rgb.size(), 3u);
  for (const float v : one.rgb) EXPECT_FLOAT_EQ(v, 0.5f);

  // Three pixels into two: each output pixel covers one and a half of them.
  Foto row;
  ASSERT_TRUE(row.try_allocate_fill(3, 1, make_pixel(255, 255, 255)));
  row.at(0, 0) = make_pixel(0, 0, 0);
  const LinearPicture two = reduce_in_linear_light(row, 2, 1);
  ASSERT_EQ(two.width, 2);
  EXPECT_FLOAT_EQ(red_at(two, 0, 0), 1.0f / 3.0f);
  EXPECT_FLOAT_EQ(red_at(two, 1, 0), 1.0f);

  // Enlarging repeats the pixel a larger output pixel lies in.
  const LinearPicture four = reduce_in_linear_light(row, 6, 2);
  EXPECT_FLOAT_EQ(red_at(four, 1, 1), 0.0f);
  EXPECT_FLOAT_EQ(red_at(four, 2, 0), 1.0f);

  EXPECT_TRUE(reduce_in_linear_light(row, 0, 1).rgb.empty());
  EXPECT_TRUE(reduce_in_linear_light(row, 2, -1).rgb.empty());
  EXPECT_TRUE(reduce_in_linear_light(Foto(), 2, 1).rgb.empty());
}

TEST(Likeness, ReducerGivesTheSameWhateverTheBands) {
  Foto source;
  ASSERT_TRUE(source.try_allocate(37, 23));
  for (int y = 0; y < 23; ++y)
    for (int x = 0; x < 37; ++x)
      source.at(x, y) = make_pixel((x * 37 + y * 11) % 256, (x * y * 7) % 256, (255 - x * 5 - y * 3) & 0xFF, 200);
  const LinearPicture whole = reduce_in_linear_light(source, 8, 5);

  LinearReducer reducer(37, 23, 8, 5);
  int top = 0;
  for (const int height : {1, 6, 10, 6}) {
    Foto band;
    ASSERT_TRUE(band.try_allocate(37, height));
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < 37; ++x) band.at(x, y) = source.at(x, top + y);
    reducer.add_rows(band, top);
    top += height;
  }
  const LinearPicture banded = reducer.picture();
  EXPECT_EQ(banded.width, 8);
  EXPECT_EQ(banded.height, 5);
  EXPECT_EQ(banded.rgb, whole.rgb);

  // Rows never added stay black: only the top half of a white picture.
  Foto white;
  ASSERT_TRUE(white.try_allocate_fill(4, 2, make_pixel(255, 255, 255)));
  LinearReducer half(4, 4, 1, 2);
  half.add_rows(white, 0);
  const LinearPicture halves = half.picture();
  EXPECT_FLOAT_EQ(red_at(halves, 0, 0), 1.0f);
  EXPECT_FLOAT_EQ(red_at(halves, 0, 1), 0.0f);
}

Foto part_of(const Foto& source, int left, int top, int width, int height) {
  Foto block;
  EXPECT_TRUE(block.try_allocate(width, height));
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) block.at(x, y) = source.at(left + x, top + y);
  return block;
}

TEST(Likeness, ReducerTakesBlocksOfAnySizeInAnyOrder) {
  Foto source;
  ASSERT_TRUE(source.try_allocate(37, 23));
  for (int y = 0; y < 23; ++y)
    for (int x = 0; x < 37; ++x)
      source.at(x, y) = make_pixel((x * 37 + y * 11) % 256, (x * y * 7) % 256, (255 - x * 5 - y * 3) & 0xFF);

  // Column and row cuts of odd sizes (a single pixel, widths that straddle
  // the output pixels' edges), every block of the grid they make, shuffled.
  const std::vector<int> xs = {0, 1, 6, 13, 14, 29, 37};
  const std::vector<int> ys = {0, 5, 6, 17, 23};
  struct Block {
    int left, top, width, height;
  };
  std::vector<Block> blocks;
  for (std::size_t j = 0; j + 1 < ys.size(); ++j)
    for (std::size_t i = 0; i + 1 < xs.size(); ++i)
      blocks.push_back({xs[i], ys[j], xs[i + 1] - xs[i], ys[j + 1] - ys[j]});
  std::mt19937 shuffler(7);
  std::shuffle(blocks.begin(), blocks.end(), shuffler);

  // Reduced, reduced to odd sizes, and enlarged (each source pixel spread
  // over several output pixels).
  for (const auto& [width, height] : std::vector<std::pair<int, int>>{{8, 5}, {11, 7}, {3, 2}, {50, 31}}) {
    SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height));
    const LinearPicture whole = reduce_in_linear_light(source, width, height);
    LinearReducer reducer(37, 23, width, height);
    for (const Block& b : blocks) reducer.add_block(part_of(source, b.left, b.top, b.width, b.height), b.left, b.top);
    const LinearPicture pieced = reducer.picture();
    ASSERT_EQ(pieced.width, width);
    ASSERT_EQ(pieced.height, height);
    ASSERT_EQ(pieced.rgb.size(), whole.rgb.size());
    for (std::size_t i = 0; i < whole.rgb.size(); ++i) ASSERT_NEAR(pieced.rgb[i], whole.rgb[i], 1e-6) << i;
  }
}

TEST(Likeness, ReducerLeavesOutWhatABlockHasBeyondTheSource) {
  // The source framed by 3 columns and 2 rows of white each side: a block
  // from (−3, −2) takes only the source inside it.
  Foto source;
  ASSERT_TRUE(source.try_allocate(9, 6));
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 9; ++x) source.at(x, y) = make_pixel(x * 25, y * 40, 100);
  Foto framed;
  ASSERT_TRUE(framed.try_allocate_fill(15, 10, make_pixel(255, 255, 255)));
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 9; ++x) framed.at(x + 3, y + 2) = source.at(x, y);
  const LinearPicture whole = reduce_in_linear_light(source, 4, 3);
  LinearReducer reducer(9, 6, 4, 3);
  reducer.add_block(framed, -3, -2);
  const LinearPicture clipped = reducer.picture();
  ASSERT_EQ(clipped.rgb.size(), whole.rgb.size());
  for (std::size_t i = 0; i < whole.rgb.size(); ++i) EXPECT_NEAR(clipped.rgb[i], whole.rgb[i], 1e-6) << i;

  // Blocks wholly outside, even far enough off to wrap round in 32 bits, add nothing.
  LinearReducer outside(9, 6, 4, 3);
  outside.add_block(framed, 9, 0);
  outside.add_block(framed, 0, -10);
  outside.add_block(framed, std::numeric_limits<int>::max() - 5, 0);
  outside.add_block(framed, 0, std::numeric_limits<int>::max() - 5);
  for (const float v : outside.picture().rgb) EXPECT_EQ(v, 0.0f);
}

TEST(Likeness, BlurKeepsFlatPicturesAndTheMean) {
  const LinearPicture grey = flat(9, 7, 0.25f, 0.5f, 0.75f);
  const LinearPicture blurred = gaussian_blurred(grey, 2.0);
  for (std::size_t i = 0; i < grey.rgb.size(); ++i) EXPECT_NEAR(blurred.rgb[i], grey.rgb[i], 1e-6);

  // A dot far enough from the edges that none of it spreads past them.
  LinearPicture dot = flat(21, 21, 0, 0, 0);
  red_at(dot, 10, 10) = 1.0f;
  const LinearPicture spread = gaussian_blurred(dot, 1.0);
  double sum = 0;
  for (int y = 0; y < 21; ++y)
    for (int x = 0; x < 21; ++x) sum += red_at(spread, x, y);
  EXPECT_NEAR(sum, 1.0, 1e-6);
  // The centre keeps the square of the kernel's middle tap: 1 / (Σ e^(−k²/2) for |k| ≤ 4)².
  EXPECT_NEAR(red_at(spread, 10, 10), 0.15915589, 1e-6);
  EXPECT_NEAR(red_at(spread, 11, 10), red_at(spread, 10, 9), 1e-9);
  EXPECT_EQ(red_at(spread, 15, 10), 0.0f) << "the kernel is cut at 4 sigma";
  EXPECT_GT(red_at(spread, 14, 10), 0.0f);
}

TEST(Likeness, CellEdgesRoundToTheNearestPixel) {
  // Ten pixels in three columns: edges at 0, 3, 7 and 10. A lit pixel at
  // x = 3 lies in the middle cell, a quarter of its four pixels.
  LinearPicture dark = flat(10, 1, 0, 0, 0);
  LinearPicture lit = dark;
  lit.rgb[9] = lit.rgb[10] = lit.rgb[11] = 1.0f;
  const LikenessFigures cells = cell_ciede2000(dark, lit, 3, 1);
  const double quarter = ciede2000(lab_of_linear(0, 0, 0), lab_of_linear(0.25, 0.25, 0.25));
  EXPECT_EQ(cells.count, 3u);
  EXPECT_NEAR(cells.mean, quarter / 3, 1e-9);
  EXPECT_NEAR(cells.p95, quarter * 0.9, 1e-9);  // rank 1.9 of 0, 0, quarter

  // More columns than pixels: the cells that hold none are left out.
  EXPECT_EQ(cell_ciede2000(flat(2, 1, 0, 0, 0), flat(2, 1, 0, 0, 0), 4, 1).count, 2u);
}

TEST(Likeness, MosaicFiguresComeFromTheReducedPictures) {
  EXPECT_EQ(likeness_size(40, 2560, 1536).width, 320);
  EXPECT_EQ(likeness_size(40, 2560, 1536).height, 192);
  EXPECT_EQ(likeness_size(3, 100, 51).height, 12);  // 24 · 51 / 100 = 12.24
  EXPECT_EQ(likeness_size(0, 100, 51).width, 0);

  // Flat pictures differ by their colours at every distance.
  const LinearPicture grey = flat(24, 16, 0.2f, 0.2f, 0.2f);
  const LinearPicture warm = flat(24, 16, 0.3f, 0.2f, 0.1f);
  const double expected = ciede2000(lab_of_linear(0.2, 0.2, 0.2), lab_of_linear(0.3, 0.2, 0.1));
  const MosaicLikeness figures = mosaic_likeness(warm, grey, 3, 2);
  EXPECT_EQ(figures.cell.count, 6u);
  EXPECT_NEAR(figures.cell.mean, expected, 1e-4);
  EXPECT_NEAR(figures.far.mean, expected, 1e-4);
  EXPECT_EQ(figures.near.count, 24u * 16u);
  EXPECT_NEAR(figures.near.p95, expected, 1e-4);
  EXPECT_LT(figures.ssim, 1.0);
  EXPECT_DOUBLE_EQ(mosaic_likeness(grey, grey, 3, 2).ssim, 1.0);

  // Stripes half a cell wide that average to the main image's colour are
  // alike from far and unlike from near.
  LinearPicture stripes = flat(96, 48, 0.1f, 0.1f, 0.1f);
  for (int y = 0; y < 48; ++y)
    for (int x = 0; x < 96; ++x)
      if (x % 8 < 4) stripes.rgb[3 * static_cast<std::size_t>(y * 96 + x)] = 0.3f;
  const LinearPicture mean = flat(96, 48, 0.2f, 0.1f, 0.1f);
  const MosaicLikeness striped = mosaic_likeness(stripes, mean, 12, 6);
  EXPECT_NEAR(striped.cell.mean, 0, 1e-4);
  EXPECT_LT(striped.far.mean * 5, striped.near.mean);
  EXPECT_LT(striped.ssim, 0.75) << "red alone differs: two of the three planes are alike";
}

// Our figures and scikit-image's (with SciPy's filter) for the same pictures.
constexpr const char* kLikenessCheckScript = R"(import sys
import numpy as np
from scipy.ndimage import gaussian_filter
from skimage.color import xyz2lab, deltaE_ciede2000
from skimage.color.colorconv import xyz_from_rgb
from skimage.metrics import structural_similarity
w, h = int(sys.argv[2]), int(sys.argv[3])
rows = np.loadtxt(sys.argv[1], ndmin=2)
a, b, ours = (rows[:, k:k + 3].reshape(h, w, 3) for k in (0, 3, 6))
lab = lambda lin: xyz2lab(lin @ xyz_from_rgb.T)
d = deltaE_ciede2000(lab(a), lab(b))
blurred = gaussian_filter(a, sigma=(2.5, 2.5, 0), mode='nearest', truncate=4.0)
srgb = lambda lin: 255 * np.where(lin <= 0.0031308, 12.92 * lin, 1.055 * np.power(lin, 1 / 2.4) - 0.055)
ssim = structural_similarity(srgb(a), srgb(b), gaussian_weights=True, sigma=1.5, use_sample_covariance=False,
                             data_range=255, channel_axis=-1)
print(d.mean(), np.percentile(d, 95), np.abs(blurred - ours).max(), ssim)
)";

TEST(Likeness, FiguresAgreeWithScikitImage) {
  const std::string python = testing::python_with_scikit_image();
  if (python.empty()) GTEST_SKIP() << "python3 with scikit-image (Debian package python3-skimage) is not installed";
  constexpr int kWidth = 40, kHeight = 30;
  const LinearPicture a = ramps(kWidth, kHeight, 0.4);
  const LinearPicture b = ramps(kWidth, kHeight, 1.1);
  const LinearPicture blurred = gaussian_blurred(a, 2.5);

  testing::TempDir dir;
  std::ostringstream table;
  table.precision(9);
  for (std::size_t i = 0; i < a.rgb.size(); i += 3) {
    for (const LinearPicture* p : {&a, &b, &blurred})
      table << p->rgb[i] << ' ' << p->rgb[i + 1] << ' ' << p->rgb[i + 2] << ' ';
    table << '\n';
  }
  ASSERT_TRUE(testing::write_file(dir / "pictures.txt", table.str()));
  ASSERT_TRUE(testing::write_file(dir / "check.py", kLikenessCheckScript));
  std::istringstream out(testing::command_output(python + " '" + (dir / "check.py").string() + "' '" +
                                                 (dir / "pictures.txt").string() + "' " + std::to_string(kWidth) +
                                                 " " + std::to_string(kHeight) + " 2>&1"));
  double mean = 0, p95 = 0, blur_error = 1, ssim = 0;
  ASSERT_TRUE(out >> mean >> p95 >> blur_error >> ssim) << out.str();

  const LikenessFigures pixels = pixel_ciede2000(a, b);
  EXPECT_GT(mean, 1.0) << "the pictures differ enough to test anything";
  EXPECT_NEAR(pixels.mean, mean, 1e-4);
  EXPECT_NEAR(pixels.p95, p95, 1e-4);
  EXPECT_LT(blur_error, 1e-6);
  EXPECT_LT(ssim, 0.95);
  EXPECT_NEAR(mean_ssim(a, b), ssim, 1e-6);
}

}  // namespace
}  // namespace tess
