#include "tilelist/tile_signature.hpp"

#include <gtest/gtest.h>

#include "images/foto.hpp"

namespace tess {
namespace {

constexpr std::uint32_t kRed = make_pixel(200, 10, 20);
constexpr std::uint32_t kGreen = make_pixel(10, 220, 30);
constexpr std::uint32_t kBlue = make_pixel(5, 6, 240);

Foto uniform(int w, int h, std::uint32_t colour) {
  Foto f;
  EXPECT_TRUE(f.try_allocate_fill(w, h, colour));
  return f;
}

void paint(Foto& f, int x0, int y0, int w, int h, std::uint32_t colour) {
  for (int y = y0; y < y0 + h; ++y)
    for (int x = x0; x < x0 + w; ++x) f.at(x, y) = colour;
}

int fine_index(int column, int row) { return kFirstFineSample + column + kGridColumns * row; }

TEST(TileSignature, UniformPictureGivesItsColourAtEveryLevel) {
  for (const auto& [w, h] : {std::pair{640, 480}, std::pair{300, 400}, std::pair{57, 57}, std::pair{1, 1}}) {
    TileSignature s;
    ASSERT_TRUE(s.analyse(uniform(w, h, kGreen), AnalysisMode::fill)) << w << "x" << h;
    for (int i = 0; i < kSignatureSampleCount; ++i) ASSERT_EQ(s.samples[i], kGreen) << w << "x" << h << " #" << i;
    EXPECT_EQ(s.opaque, 1);
    EXPECT_EQ(s.analysed, 1);
    EXPECT_EQ(s.portrait, h > w ? 1 : 0) << w << "x" << h;  // a square is landscape
  }
}

TEST(TileSignature, PanoramaIsCroppedToTheGridAspectAroundItsCentre) {
  // 400 × 200: cropH = 9·400/12 = 300 > 200, so cropW = 12·200/9 = 266 from x0 = 67.
  Foto panorama = uniform(400, 200, kRed);
  paint(panorama, 67, 0, 266, 200, kGreen);
  TileSignature s;
  ASSERT_TRUE(s.analyse(panorama, AnalysisMode::fill));
  for (int i = 0; i < kSignatureSampleCount; ++i) EXPECT_EQ(s.samples[i], kGreen) << i;

  // The first and last columns of the crop do count.
  paint(panorama, 67, 0, 1, 200, kBlue);
  ASSERT_TRUE(s.analyse(panorama, AnalysisMode::fill));
  EXPECT_NE(s.fine(0, 4), kGreen);
  EXPECT_EQ(s.fine(11, 4), kGreen);
  paint(panorama, 67, 0, 1, 200, kGreen);
  paint(panorama, 332, 0, 1, 200, kBlue);
  ASSERT_TRUE(s.analyse(panorama, AnalysisMode::fill));
  EXPECT_EQ(s.fine(0, 4), kGreen);
  EXPECT_NE(s.fine(11, 4), kGreen);
}

TEST(TileSignature, PortraitIsTurnedCounterClockwiseIntoTheLandscapeFrame) {
  // 90 × 120 is sampled on 9 × 12 cells of exactly 10 × 10 pixels.
  Foto picture = uniform(90, 120, kBlue);
  paint(picture, 0, 0, 10, 10, kRed);     // top-left corner
  paint(picture, 80, 0, 10, 10, kGreen);  // top-right corner
  TileSignature s;
  ASSERT_TRUE(s.analyse(picture, AnalysisMode::fill));
  EXPECT_EQ(s.portrait, 1);
  // Turned a quarter counter-clockwise: the top-left corner ends bottom-left,
  // the top-right corner top-left.
  EXPECT_EQ(s.samples[fine_index(0, 8)], kRed);
  EXPECT_EQ(s.samples[fine_index(0, 0)], kGreen);
  int blue = 0;
  for (int i = kFirstFineSample; i < kSignatureSampleCount; ++i) blue += s.samples[i] == kBlue;
  EXPECT_EQ(blue, kFineSampleCount - 2);

  // The thumbnail turns it back: the picture's own corners, at 9 × 12.
  Foto thumb;
  ASSERT_TRUE(s.thumbnail(thumb));
  ASSERT_EQ(thumb.width(), 9);
  ASSERT_EQ(thumb.height(), 12);
  EXPECT_EQ(thumb.at(0, 0), kRed);
  EXPECT_EQ(thumb.at(8, 0), kGreen);
  EXPECT_EQ(thumb.at(4, 6), kBlue);
}

TEST(TileSignature, LandscapeThumbnailHoldsTheFineSamplesInOrder) {
  Foto picture = uniform(120, 90, kBlue);
  paint(picture, 110, 80, 10, 10, kRed);  // bottom-right cell
  TileSignature s;
  ASSERT_TRUE(s.analyse(picture, AnalysisMode::fill));
  EXPECT_EQ(s.portrait, 0);
  EXPECT_EQ(s.fine(11, 8), kRed);
  Foto thumb;
  ASSERT_TRUE(s.thumbnail(thumb));
  ASSERT_EQ(thumb.width(), kGridColumns);
  ASSERT_EQ(thumb.height(), kGridRows);
  for (int r = 0; r < kGridRows; ++r)
    for (int c = 0; c < kGridColumns; ++c) EXPECT_EQ(thumb.at(c, r), s.fine(c, r));
}

TEST(TileSignature, FitModePadsAFlatCellWithEmptyRows) {
  // A 24 × 9 cell: fh = trunc(12·9/24 + 0.5) = 5, padded at row (9 − 5)/2 = 2.
  Foto image = uniform(100, 100, kRed);
  TileSignature s;
  ASSERT_TRUE(s.analyse(image, AnalysisMode::fit, 10, 20, 24, 9));
  EXPECT_EQ(s.portrait, 0);
  EXPECT_EQ(s.opaque, 0);
  for (int r = 0; r < kGridRows; ++r)
    for (int c = 0; c < kGridColumns; ++c)
      EXPECT_EQ(s.fine(c, r), r >= 2 && r < 7 ? kRed : kEmptyPixel) << c << "," << r;
  // The middle coarse row sees only red; the top one 6 empty samples of 9,
  // which weigh nothing in its colour.
  EXPECT_EQ(s.coarse(0, 1), kRed);
  EXPECT_EQ(s.coarse(0, 0), make_pixel(200, 10, 20, 6 * 255 / 9));
}

TEST(TileSignature, FitModeOfATallCellIsPortraitAndTurned) {
  // 10 × 40: portrait grid 9 × 12, fh = trunc(9·40/10 + 0.5) = 36 > 12, so fw = trunc(12·10/40 + 0.5) = 3.
  Foto image = uniform(50, 50, kGreen);
  TileSignature s;
  ASSERT_TRUE(s.analyse(image, AnalysisMode::fit, 0, 0, 10, 40));
  EXPECT_EQ(s.portrait, 1);
  // Columns 3..5 of the 9 × 12 grid become rows 3..5 of the stored grid.
  for (int r = 0; r < kGridRows; ++r)
    for (int c = 0; c < kGridColumns; ++c)
      EXPECT_EQ(s.fine(c, r), r >= 3 && r < 6 ? kGreen : kEmptyPixel) << c << "," << r;
}

TEST(TileSignature, FailuresLeaveTheSignatureUnanalysed) {
  TileSignature s;
  const Foto transparent = uniform(40, 30, make_pixel(1, 2, 3, 250));
  EXPECT_FALSE(s.analyse(transparent, AnalysisMode::fit, 0, 0, 40, 30));
  EXPECT_EQ(s.analysed, 0);
  // A fill of the same picture keeps it: the tile is analysed, just transparent.
  EXPECT_TRUE(s.analyse(transparent, AnalysisMode::fill));
  EXPECT_EQ(s.opaque, 0);

  const Foto picture = uniform(40, 30, kRed);
  EXPECT_FALSE(s.analyse(Foto{}, AnalysisMode::fill));
  EXPECT_EQ(s.analysed, 0);
  EXPECT_FALSE(s.analyse(picture, AnalysisMode::fill, 0, 0, 0.5, 10));  // W truncates to 0
  EXPECT_FALSE(s.analyse(picture, AnalysisMode::fit, 0, 0, -4, 10));
  EXPECT_FALSE(s.analyse(picture, AnalysisMode::fit, 0, 0, 10, -4));
}

TEST(TileSignature, LevelsWeighFineSamplesByOpacity) {
  TileSignature s;
  for (int i = kFirstFineSample; i < kSignatureSampleCount; ++i) s.samples[i] = make_pixel(100, 0, 0);
  s.recompute_levels();
  EXPECT_EQ(s.opaque, 1);
  EXPECT_EQ(s.overall(), make_pixel(100, 0, 0));

  // One sample of transparency 1 weighs 254 against 256 for the others.
  s.samples[fine_index(0, 0)] = make_pixel(255, 255, 255, 1);
  s.recompute_levels();
  EXPECT_EQ(s.opaque, 0);
  const std::uint32_t weights = 8 * 256 + 254;
  EXPECT_EQ(s.coarse(0, 0), make_pixel((100 * 8 * 256 + 255 * 254) / weights, 255 * 254 / weights,
                                       255 * 254 / weights, 1 / 9));
  EXPECT_EQ(s.coarse(1, 0), make_pixel(100, 0, 0));

  // Half transparent: weight floor(256·127/255) = 127; transparency is the plain mean.
  s.samples[fine_index(3, 0)] = make_pixel(0, 0, 255, 128);
  s.recompute_levels();
  EXPECT_EQ(pixel_blue(s.coarse(1, 0)), 255u * 127u / (8u * 256u + 127u));
  EXPECT_EQ(pixel_transparency(s.coarse(1, 0)), 128u / 9u);
  EXPECT_EQ(pixel_transparency(s.overall()), 129u / 108u);

  // A block of fully transparent samples has nothing to weigh: colour 0, transparency 255.
  for (int r = 6; r < 9; ++r)
    for (int c = 9; c < 12; ++c) s.samples[fine_index(c, r)] = make_pixel(90, 90, 90, 255);
  s.recompute_levels();
  EXPECT_EQ(s.coarse(3, 2), kEmptyPixel);
  // The overall sample weighs the same 108 samples: the transparent block adds nothing.
  const std::uint32_t all = 97 * 256 + 254 + 127;
  EXPECT_EQ(pixel_red(s.overall()), (97u * 256u * 100u + 255u * 254u) / all);
  EXPECT_EQ(pixel_transparency(s.overall()), (1u + 128u + 9u * 255u) / 108u);
}

TEST(TileSignature, BlackAndWhiteGreysFineSamplesAndKeepsTransparency) {
  TileSignature s;
  for (int i = kFirstFineSample; i < kSignatureSampleCount; ++i) s.samples[i] = make_pixel(100, 150, 200);
  s.samples[fine_index(5, 5)] = make_pixel(100, 150, 200, 7);
  s.recompute_levels();
  s.to_black_and_white();
  // 30·100 + 59·150 + 11·200 = 14050: 140, and the remainder 50 rounds up.
  EXPECT_EQ(s.fine(0, 0), make_pixel(141, 141, 141));
  EXPECT_EQ(s.fine(5, 5), make_pixel(141, 141, 141, 7));
  EXPECT_EQ(s.coarse(0, 0), make_pixel(141, 141, 141));
  EXPECT_EQ(pixel_red(s.overall()), 141u);
  EXPECT_EQ(s.opaque, 0);
}

}  // namespace
}  // namespace tess
