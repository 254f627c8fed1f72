#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "images/foto.hpp"
#include "support/test_support.hpp"

namespace tess {
namespace {


using Pixels = std::vector<std::uint32_t>;

Foto make_foto(int width, int height, const Pixels& pixels) {
  Foto foto;
  EXPECT_TRUE(foto.try_allocate(width, height));
  EXPECT_EQ(pixels.size(), foto.pixel_count());
  std::memcpy(foto.pixels(), pixels.data(), pixels.size() * sizeof(std::uint32_t));
  return foto;
}

Pixels pixels_of(const Foto& foto) {
  if (foto.empty()) return {};
  return Pixels(foto.pixels(), foto.pixels() + foto.pixel_count());
}

Foto uniform(int width, int height, std::uint32_t pixel) {
  Foto foto;
  EXPECT_TRUE(foto.try_allocate_fill(width, height, pixel));
  return foto;
}

Foto red_row(const Pixels& reds) {
  Pixels pixels;
  for (std::uint32_t r : reds) pixels.push_back(make_pixel(r, 0, 0));
  return make_foto(static_cast<int>(reds.size()), 1, pixels);
}

// --- integer area filter ---------------------------------------------------

TEST(FotoCropResize, SameSizeIsAnExactCopyTransparencyIncluded) {
  const Pixels before{make_pixel(1, 2, 3, 200), make_pixel(4, 5, 6), kEmptyPixel, make_pixel(7, 8, 9, 1)};
  Foto out;
  ASSERT_TRUE(make_foto(2, 2, before).crop_resize(2, 2, 2, 2, out));
  EXPECT_EQ(pixels_of(out), before);
}

TEST(FotoCropResize, TopLeftRegionComesOutOpaque) {
  Foto source = make_foto(3, 2, {make_pixel(10, 20, 30, 200), make_pixel(40, 50, 60, 255), make_pixel(1, 1, 1),
                                 make_pixel(2, 2, 2), make_pixel(3, 3, 3), make_pixel(4, 4, 4)});
  Foto out;
  ASSERT_TRUE(source.crop_resize(2, 1, 2, 1, out));
  EXPECT_EQ(pixels_of(out), (Pixels{make_pixel(10, 20, 30), make_pixel(40, 50, 60)}));

  // Two pixels into one: plain average, truncated (91 / 2 = 45).
  Foto pair = make_foto(2, 1, {make_pixel(10, 20, 30, 200), make_pixel(20, 40, 61)});
  ASSERT_TRUE(pair.crop_resize(1, 1, 2, 1, out));
  EXPECT_EQ(pixels_of(out), (Pixels{make_pixel(15, 30, 45)}));
}

TEST(FotoCropResize, EdgeWeightsInFractionsOf256) {
  // Three into two: spans [0, 1.5) and [1.5, 3). The shared pixel weighs 128
  // in both; (100·128) / 384 = 33 and (100·128 + 200·256) / 384 = 166.
  Foto out;
  ASSERT_TRUE(red_row({0, 100, 200}).crop_resize(2, 1, 3, 1, out));
  EXPECT_EQ(pixels_of(out), (Pixels{make_pixel(33, 0, 0), make_pixel(166, 0, 0)}));

  // Four into three: ends at 341/256 and 682/256. The first pixel of a span
  // weighs the fraction of its start (85, then 170) and the last the fraction
  // of its end: (30·85) / 341 = 7, (30·85 + 60·170) / 255 = 50,
  // (60·170 + 90·256) / 426 = 78.
  ASSERT_TRUE(red_row({0, 30, 60, 90}).crop_resize(3, 1, 4, 1, out));
  EXPECT_EQ(pixels_of(out), (Pixels{make_pixel(7, 0, 0), make_pixel(50, 0, 0), make_pixel(78, 0, 0)}));
}

TEST(FotoCropResize, WeightThatComesToZeroCountsAsFull) {
  // 33 into 32: destination pixel (1, 1) spans source pixels 1 and 2 with
  // edge weights 8 and 16 along both axes. 8·8, 8·16 and 16·8 come to 0 and
  // count as 256, 16·16 comes to 1: (100·256 + 255·1) / 769 = 33.
  Foto source = uniform(33, 33, make_pixel(0, 0, 0));
  source.at(1, 1) = make_pixel(100, 0, 0);
  source.at(2, 2) = make_pixel(255, 0, 0);
  Foto out;
  ASSERT_TRUE(source.crop_resize(32, 32, 33, 33, out));
  EXPECT_EQ(out.at(1, 1), make_pixel(33, 0, 0));
}

TEST(FotoCropResize, EnlargingKeepsTheColour) {
  Foto out;
  ASSERT_TRUE(make_foto(1, 1, {make_pixel(9, 99, 199, 7)}).crop_resize(600, 2, 1, 1, out));
  EXPECT_EQ(pixels_of(out), Pixels(1200, make_pixel(9, 99, 199)));
}

TEST(FotoCropResize, RefusalsLeaveEmptyResult) {
  Foto source = uniform(4, 3, make_pixel(1, 1, 1));
  struct Case {
    int dw, dh, rw, rh;
  };
  for (const Case& k : {Case{2, 2, 5, 3}, Case{2, 2, 4, 4}, Case{2, 2, 0, 3}, Case{0, 2, 4, 3}, Case{2, -1, 4, 3}}) {
    Foto out = uniform(1, 1, 0);
    EXPECT_FALSE(source.crop_resize(k.dw, k.dh, k.rw, k.rh, out))
        << k.dw << " " << k.dh << " " << k.rw << " " << k.rh;
    EXPECT_TRUE(out.empty());
  }
  Foto out;
  EXPECT_FALSE(Foto().crop_resize(1, 1, 1, 1, out));
}

TEST(FotoCropResize, InPlace) {
  Foto foto = red_row({0, 100, 200});
  ASSERT_TRUE(foto.crop_resize(2, 1, 3, 1));
  EXPECT_EQ(pixels_of(foto), (Pixels{make_pixel(33, 0, 0), make_pixel(166, 0, 0)}));
  // A refused resize keeps the picture.
  EXPECT_FALSE(foto.crop_resize(1, 1, 3, 1));
  EXPECT_EQ(foto.width(), 2);
}

// --- floating-point resampler ----------------------------------------------

TEST(FotoResample, FullyTransparentSourceGivesEmptyPixels) {
  Foto source = uniform(5, 4, make_pixel(200, 100, 50, 255));
  Foto out;
  ASSERT_TRUE(source.resample(3, 2, 0, 0, 0, 0, out));
  EXPECT_EQ(pixels_of(out), Pixels(6, kEmptyPixel));
}

TEST(FotoResample, UniformOpaqueAndHalfTransparentColoursSurvive) {
  // Fractional rectangles give sums of products that are not exact in
  // floating point; the truncated result still has to be the colour itself.
  for (std::uint32_t pixel : {make_pixel(100, 150, 200), make_pixel(1, 254, 255), make_pixel(100, 150, 200, 128)}) {
    Foto source = uniform(7, 5, pixel);
    Foto out;
    ASSERT_TRUE(source.resample(3, 2, 0.3, 0.7, 5.9, 3.3, out));
    EXPECT_EQ(pixels_of(out), Pixels(6, pixel)) << std::hex << pixel;
    ASSERT_TRUE(source.resample(11, 13, 0.1, 0.2, 6.7, 4.7, out));
    EXPECT_EQ(pixels_of(out), Pixels(143, pixel)) << std::hex << pixel;
  }
}

TEST(FotoResample, EveryLevelAndReusedScratchGiveTheSamePixels) {
  // Random colours and transparencies (with runs of fully transparent and
  // fully opaque pixels) through enlargements, reductions, a footprint too
  // tall to keep its rows, and rectangles off the pixel grid and past the
  // border. Each case runs on this thread after the previous ones (some
  // sharing one axis with the case before), at every level, and must match
  // the plain loops on a thread of its own.
  std::mt19937 random(20261209);
  const auto picture = [&](int width, int height) {
    Pixels pixels(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
    for (std::uint32_t& p : pixels) {
      const std::uint32_t kind = random() % 8;
      const std::uint32_t t = kind == 0 ? 255 : kind < 4 ? 0 : random() % 256;
      p = make_pixel(random() % 256, random() % 256, random() % 256, t);
    }
    return make_foto(width, height, pixels);
  };
  struct Case {
    int sw, sh, dw, dh;
    double x, y, w, h;
  };
  const Case cases[] = {
      {160, 120, 64, 48, 0, 0, 0, 0},           {80, 60, 64, 48, 0, 0, 0, 0},
      {80, 60, 64, 48, 0, 1.5, 0, 0},           {80, 60, 64, 48, 3.25, 1.5, 70.3, 52.9},
      {17, 13, 53, 41, 0, 0, 0, 0},
      {5, 3, 7, 11, 0.37, 0.11, 4.2, 2.5},      {301, 199, 12, 9, 0, 0, 0, 0},
      {97, 301, 5, 7, 1.7, 2.9, 90.1, 290.6},   {40, 30, 1, 1, 0, 0, 0, 0},
      {1, 1, 9, 6, 0, 0, 0, 0},                 {33, 21, 33, 21, 0, 0, 0, 0},
      {33, 21, 10, 10, 20.5, 15.25, 30, 30},    {640, 8, 3, 2, 0.5, 0, 600, 8},
  };
  for (const Case& k : cases) {
    const Foto source = picture(k.sw, k.sh);
    Pixels fresh;
    std::thread([&] {
      Foto out;
      if (source.resample(k.dw, k.dh, k.x, k.y, k.w, k.h, out, ResampleLevel::plain))
        fresh = pixels_of(out);
    }).join();
    ASSERT_EQ(fresh.size(), static_cast<std::size_t>(k.dw) * static_cast<std::size_t>(k.dh));
    for (ResampleLevel level : supported_resample_levels()) {
      Foto out;
      ASSERT_TRUE(source.resample(k.dw, k.dh, k.x, k.y, k.w, k.h, out, level));
      const Pixels got = pixels_of(out);
      for (std::size_t i = 0; i < got.size(); ++i)
        ASSERT_EQ(got[i], fresh[i]) << "level " << static_cast<int>(level) << ", " << k.sw << "x" << k.sh << " to "
                                    << k.dw << "x" << k.dh << ", pixel " << i;
    }
  }
}

TEST(FotoResample, ColoursWeightedByOpacity) {
  // Opacities 200 and 100 over a total weight of 2: red 200·200/300 = 133,
  // green 100·100/300 = 33, transparency 255 - 300/2 = 105.
  Foto source = make_foto(2, 1, {make_pixel(200, 0, 0, 55), make_pixel(0, 100, 0, 155)});
  Foto out;
  ASSERT_TRUE(source.resample(1, 1, 0, 0, 2, 1, out));
  EXPECT_EQ(pixels_of(out), (Pixels{make_pixel(133, 33, 0, 105)}));

  // A transparent neighbour halves the opacity but leaves the colour alone.
  Foto half = make_foto(2, 1, {make_pixel(200, 0, 0), kEmptyPixel});
  ASSERT_TRUE(half.resample(1, 1, 0, 0, 2, 1, out));
  EXPECT_EQ(pixels_of(out), (Pixels{make_pixel(200, 0, 0, 127)}));
}

TEST(FotoResample, CellsSampledBilinearlyAtTheirCentres) {
  // Two pixels into four along either axis. Footprints of half a pixel have
  // centres at 0.25, 0.75, 1.25, 1.75: the outer ones lean on a missing
  // neighbour (the pixel itself), the inner ones take 3/4 and 1/4.
  const std::uint32_t left = make_pixel(200, 0, 0), right = make_pixel(0, 100, 0);
  const Pixels expected{left, make_pixel(150, 25, 0), make_pixel(50, 75, 0), right};
  Foto out;
  ASSERT_TRUE(make_foto(2, 1, {left, right}).resample(4, 1, 0, 0, 0, 0, out));
  EXPECT_EQ(pixels_of(out), expected);
  ASSERT_TRUE(make_foto(1, 2, {left, right}).resample(1, 4, 0, 0, 0, 0, out));
  EXPECT_EQ(pixels_of(out), expected);

  // Three into two: [0, 1.5) covers pixel 0 whole and half of pixel 1, whose
  // centre 1.25 leans a quarter on pixel 0: (90·0.375) / 1.5 = 22.5 → 22;
  // the mirror image gives (90·0.375 + 180·1.125) / 1.5 = 157.5 → 157.
  ASSERT_TRUE(red_row({0, 90, 180}).resample(2, 1, 0, 0, 0, 0, out));
  EXPECT_EQ(pixels_of(out), (Pixels{make_pixel(22, 0, 0), make_pixel(157, 0, 0)}));
}

TEST(FotoResample, FootprintsOutsideTheSourceGiveEmptyPixels) {
  Foto source = make_foto(2, 2, {make_pixel(1, 0, 0), make_pixel(10, 0, 0), make_pixel(2, 0, 0), make_pixel(30, 0, 0)});
  Foto out;
  // Column 0 covers [1.5, 2): the right half of source column 1, rows averaged.
  // Column 1 covers [2, 2.5), nothing of the source.
  ASSERT_TRUE(source.resample(2, 1, 1.5, 0, 1, 2, out));
  EXPECT_EQ(pixels_of(out), (Pixels{make_pixel(20, 0, 0), kEmptyPixel}));

  ASSERT_TRUE(source.resample(2, 2, 5, 0.5, 1, 1, out));
  EXPECT_EQ(pixels_of(out), Pixels(4, kEmptyPixel));
}

TEST(FotoResample, ZeroExtentMeansWholeSource) {
  Foto source = make_foto(2, 1, {make_pixel(200, 0, 0), make_pixel(0, 100, 0)});
  Foto whole, zero;
  ASSERT_TRUE(source.resample(1, 1, 0, 0, 2, 1, whole));
  ASSERT_TRUE(source.resample(1, 1, 0, 0, 0, 0, zero));
  EXPECT_EQ(pixels_of(whole), (Pixels{make_pixel(100, 50, 0)}));
  EXPECT_EQ(pixels_of(zero), pixels_of(whole));
  ASSERT_TRUE(source.resample(1, 1, 0, 0, 1, 0, zero));  // width given, height whole
  EXPECT_EQ(pixels_of(zero), (Pixels{make_pixel(200, 0, 0)}));
}

TEST(FotoResample, RefusalsLeaveEmptyResult) {
  Foto source = uniform(4, 4, make_pixel(5, 5, 5));
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  struct Case {
    int dw, dh;
    double x, y, w, h;
  };
  for (const Case& k : {Case{0, 1, 0, 0, 0, 0}, Case{1, -1, 0, 0, 0, 0}, Case{1, 1, -0.5, 0, 1, 1},
                        Case{1, 1, 0, -1, 1, 1}, Case{1, 1, 0, 0, -1, 1}, Case{1, 1, 0, 0, 1, -2},
                        Case{1, 1, nan, 0, 1, 1}, Case{1, 1, 0, 0, inf, 1}, Case{1, 1, 0, 0, 1, nan}}) {
    Foto out = uniform(1, 1, 0);
    EXPECT_FALSE(source.resample(k.dw, k.dh, k.x, k.y, k.w, k.h, out))
        << k.dw << " " << k.dh << " " << k.x << " " << k.y << " " << k.w << " " << k.h;
    EXPECT_TRUE(out.empty());
  }
  Foto out = uniform(1, 1, 0);
  EXPECT_FALSE(Foto().resample(1, 1, 0, 0, 0, 0, out));
  EXPECT_TRUE(out.empty());
}

TEST(FotoResample, IntoItself) {
  Foto foto = red_row({0, 90, 180});
  ASSERT_TRUE(foto.resample(2, 1, 0, 0, 0, 0, foto));
  EXPECT_EQ(pixels_of(foto), (Pixels{make_pixel(22, 0, 0), make_pixel(157, 0, 0)}));
}

}  // namespace
}  // namespace tess
