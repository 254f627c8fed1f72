// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/far_likeness.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "engine/colour_fidelity.hpp"
#include "engine/puzzle.hpp"
#include "images/foto.hpp"
#include "settings/geometry.hpp"

namespace tess {
namespace {

// A picture whose every pixel differs, so that a band put in the wrong place shows.
Foto noisy_picture(int width, int height) {
  Foto picture;
  EXPECT_TRUE(picture.try_allocate_fill(width, height, 0));
  std::uint32_t state = 12345;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      state = state * 1664525u + 1013904223u;
      picture.at(x, y) = make_pixel((state >> 8) & 0xFF, (state >> 16) & 0xFF, (state >> 24) & 0xFF);
    }
  return picture;
}

struct Rect {
  int x, y, width, height;
};

Foto cut(const Foto& picture, const Rect& r) {
  Foto band;
  EXPECT_TRUE(band.try_allocate_fill(r.width, r.height, 0));
  for (int y = 0; y < r.height; ++y)
    for (int x = 0; x < r.width; ++x) band.at(x, y) = picture.at(r.x + x, r.y + y);
  return band;
}

// The bands a saver would render for pieces `piece_width` wide (column by
// column, top to bottom) in bands of `band_height` rows.
std::vector<Rect> bands_of(int width, int height, int piece_width, int band_height) {
  std::vector<Rect> bands;
  for (int x = 0; x < width; x += piece_width)
    for (int y = 0; y < height; y += band_height)
      bands.push_back({x, y, std::min(piece_width, width - x), std::min(band_height, height - y)});
  return bands;
}

constexpr int kWidth = 37;
constexpr int kHeight = 23;
constexpr int kReducedWidth = 10;
constexpr int kReducedHeight = 6;

TEST(FarMosaicReducer, AnyBandsCoveringTheMosaicOnceGiveTheWholePictureReduced) {
  const Foto picture = noisy_picture(kWidth, kHeight);
  const LinearPicture whole = reduce_in_linear_light(picture, kReducedWidth, kReducedHeight);
  ASSERT_EQ(whole.rgb.size(), 3u * kReducedWidth * kReducedHeight);
  const struct {
    const char* name;
    int piece_width;
    int band_height;
  } cases[] = {
      {"one band", kWidth, kHeight},   {"bands of one row", kWidth, 1},       {"bands of 7 rows", kWidth, 7},
      {"pieces 16 wide", 16, 4},       {"pieces 5 wide, rows of 1", 5, 1},    {"pieces 36 wide", 36, 23},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FarMosaicReducer reducer(kWidth, kHeight, kReducedWidth, kReducedHeight);
    for (const Rect& r : bands_of(kWidth, kHeight, c.piece_width, c.band_height))
      reducer.add_band(cut(picture, r), r.x, r.y);
    ASSERT_TRUE(reducer.complete());
    const LinearPicture reduced = reducer.picture();
    ASSERT_EQ(reduced.width, kReducedWidth);
    ASSERT_EQ(reduced.height, kReducedHeight);
    ASSERT_EQ(reduced.rgb.size(), whole.rgb.size());
    for (std::size_t i = 0; i < whole.rgb.size(); ++i) ASSERT_NEAR(reduced.rgb[i], whole.rgb[i], 1e-5) << i;
  }
}

// The same bands with the columns of pieces taking turns: the first band of
// every column, then the second of every column, and so on.
std::vector<Rect> interleaved(const std::vector<Rect>& bands) {
  std::vector<Rect> result = bands;
  std::stable_sort(result.begin(), result.end(), [](const Rect& a, const Rect& b) { return a.y < b.y; });
  return result;
}

TEST(FarMosaicReducer, PiecesCostOnlyTheirOwnPixelsAndGiveTheFigureOfWholeBands) {
  // A mosaic of 150 × 90 against a main image reduced to 4 cells of 8 pixels
  // across: 32 × 19, so pieces' edges fall inside the reduced pixels.
  const Foto mosaic = noisy_picture(150, 90);
  const FarView view = far_view_of(noisy_picture(60, 36), 4);
  ASSERT_TRUE(view.usable());
  ASSERT_EQ(view.main.width, 32);
  ASSERT_EQ(view.main.height, 19);
  ColourFidelity whole;
  {
    FarMosaicReducer reducer(150, 90, 32, 19);
    reducer.add_band(mosaic, 0, 0);
    ASSERT_TRUE(reducer.complete());
    add_far_figures(view, reducer.picture(), whole);
    ASSERT_TRUE(whole.has_far());
  }
  const struct {
    const char* name;
    std::vector<Rect> bands;
  } cases[] = {
      {"pieces 64 wide in bands of 16", bands_of(150, 90, 64, 16)},
      {"pieces 7 wide in bands of 13", bands_of(150, 90, 7, 13)},
      {"pieces 1 wide, whole height", bands_of(150, 90, 1, 90)},
      {"pieces 33 wide, columns taking turns", interleaved(bands_of(150, 90, 33, 10))},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FarMosaicReducer reducer(150, 90, 32, 19);
    for (const Rect& r : c.bands) reducer.add_band(cut(mosaic, r), r.x, r.y);
    ASSERT_TRUE(reducer.complete());
    ColourFidelity pieced;
    add_far_figures(view, reducer.picture(), pieced);
    EXPECT_EQ(pieced.far_pixels, whole.far_pixels);
    EXPECT_NEAR(pieced.far_mean, whole.far_mean, 1e-6);
    EXPECT_NEAR(pieced.far_p95, whole.far_p95, 1e-6);
  }
}

TEST(FarMosaicReducer, BandsThatDoNotCoverTheMosaicOnceAreNoPictureOfIt) {
  const Foto picture = noisy_picture(kWidth, kHeight);
  const struct {
    const char* name;
    std::vector<Rect> bands;
  } cases[] = {
      {"nothing", {}},
      {"the last rows missing", {{0, 0, kWidth, 20}}},
      {"a frame written twice", {{0, 0, kWidth, kHeight}, {0, 0, kWidth, kHeight}}},
      {"bands out of order", {{0, 10, kWidth, 13}, {0, 0, kWidth, 10}}},
      {"a gap between piece columns", {{0, 0, 16, kHeight}, {20, 0, 17, kHeight}}},
      {"overlapping piece columns", {{0, 0, 20, kHeight}, {16, 0, 21, kHeight}}},
      {"the last column missing", {{0, 0, 16, kHeight}, {16, 0, 16, kHeight}}},
      {"a column starting below the top", {{0, 0, 16, kHeight}, {16, 5, 21, 18}}},
      {"a band beyond the mosaic", {{0, 0, kWidth, 20}, {0, 20, kWidth, 3}, {0, 23, kWidth, 0}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FarMosaicReducer reducer(kWidth, kHeight, kReducedWidth, kReducedHeight);
    for (const Rect& r : c.bands) {
      if (r.height == 0) {
        // Larger than the mosaic: the saver never sends one, a fault must not pass.
        const Foto beyond = noisy_picture(kWidth + 1, 2);
        reducer.add_band(beyond, 0, 0);
        continue;
      }
      reducer.add_band(cut(picture, r), r.x, r.y);
    }
    EXPECT_FALSE(reducer.complete());
  }
}

TEST(FarView, ThePictureHasEightPixelsACellAndTheMainImagesShape) {
  const Foto picture = noisy_picture(160, 90);
  const FarView view = far_view_of(picture, 12);
  ASSERT_TRUE(view.usable());
  EXPECT_EQ(view.main.width, 96);
  EXPECT_EQ(view.main.height, 54);
  EXPECT_FALSE(far_view_of(picture, 0).usable());
  EXPECT_FALSE(far_view_of(Foto{}, 12).usable());
}

TEST(FarView, TheSameMosaicSeenFromAfarDiffersByNothing) {
  const Foto picture = noisy_picture(64, 48);
  const FarView view = far_view_of(picture, 4);
  ColourFidelity figures;
  add_far_figures(view, view.main, figures);
  EXPECT_TRUE(figures.has_far());
  EXPECT_EQ(figures.far_pixels, 32u * 24u);
  EXPECT_NEAR(figures.far_mean, 0, 1e-9);
  EXPECT_NEAR(figures.far_p95, 0, 1e-9);

  // A mosaic of another size is not compared.
  const LinearPicture other = reduce_in_linear_light(picture, 31, 24);
  add_far_figures(view, other, figures);
  EXPECT_FALSE(figures.has_far());
}

TEST(FarColumns, PatternsCountTheirWholeTilesAndMasksTheirMiddleCellWidth) {
  // Tiles of 30 pixels 2 apart: 12 fill 382 pixels exactly; 390 pixels hold
  // a 13th column of 6 pixels, too thin to count as a cell; 410 one of 26.
  MosaicLayout layout;
  layout.tile_width = 30;
  layout.border = 2;
  const struct {
    int width;
    int columns;
  } patterns[] = {{382, 12}, {390, 12}, {410, 13}, {20, 1}};
  for (const auto& c : patterns) {
    PuzzleGrid pattern;
    pattern.reset(c.width, 300, 1.0, 2, false);
    EXPECT_EQ(far_columns(layout, pattern), c.columns) << c.width;
  }

  PuzzleGrid mask;
  mask.reset(400, 100, 1.0, 0, true);
  int x = 0;
  for (const int width : {40, 50, 50, 60, 200}) {
    ASSERT_TRUE(mask.add_cell(CellRect{x, 0, width, 100}));
    x += width;
  }
  for (std::size_t i = 0; i < mask.size(); ++i) mask.cell(i).active = 1;
  EXPECT_EQ(far_columns(MosaicLayout{}, mask), 8) << "400 pixels over the middle width of 50";
  EXPECT_EQ(far_columns(layout, mask), 8) << "a mask's cells are not the layout's columns";

  // One huge patch still makes one column; a mask without cells none.
  PuzzleGrid one;
  one.reset(400, 100, 1.0, 0, true);
  ASSERT_TRUE(one.add_cell(CellRect{0, 0, 400, 100}));
  one.cell(0).active = 1;
  EXPECT_EQ(far_columns(MosaicLayout{}, one), 1);
  PuzzleGrid empty;
  empty.reset(400, 100, 1.0, 0, true);
  EXPECT_EQ(far_columns(MosaicLayout{}, empty), 0);
}

TEST(ColourFidelityText, TheFarFiguresJoinTheSentenceOnlyWhenMeasured) {
  ColourFidelity figures;
  figures.cells = 10;
  figures.mean_before = 7.21;
  figures.p95_before = 15.8;
  figures.mean_after = 2.1;
  figures.p95_after = 4.33;
  const std::string without = colour_fidelity_text(figures);
  EXPECT_EQ(without,
            "Colour difference to the main image (CIEDE2000): before the colour change mean 7.21, 95th percentile "
            "15.80; after it mean 2.10, 95th percentile 4.33");
  figures.far_pixels = 100;
  figures.far_mean = 3.05;
  figures.far_p95 = 7.4;
  EXPECT_EQ(colour_fidelity_text(figures), without + "; seen from afar mean 3.05, 95th percentile 7.40");
}

}  // namespace
}  // namespace tess
