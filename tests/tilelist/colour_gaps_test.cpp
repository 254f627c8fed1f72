// The gap report's measures: CIELAB against published values, the nearest-
// colour index against a plain search, the coverage of lists with known
// holes, and cells matched with tiles that may or may not fill them.

#include "tilelist/colour_gaps.hpp"

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "images/cielab.hpp"
#include "images/foto.hpp"

namespace tess {
namespace {

bool names_contain(const std::vector<ColourHole>& holes, const std::string& word) {
  return std::any_of(holes.begin(), holes.end(),
                     [&](const ColourHole& h) { return std::string(h.name).find(word) != std::string::npos; });
}

TEST(Cielab, MatchesPublishedValuesAndFindsItsWayBack) {
  struct Case {
    std::uint32_t pixel;
    double l, a, b;
  };
  // sRGB primaries and greys under D65, as colour-science references give them.
  for (const Case& c : {Case{make_pixel(255, 255, 255), 100.0, 0.0, 0.0}, Case{make_pixel(0, 0, 0), 0.0, 0.0, 0.0},
                        Case{make_pixel(255, 0, 0), 53.24, 80.09, 67.20}, Case{make_pixel(0, 255, 0), 87.73, -86.18, 83.18},
                        Case{make_pixel(0, 0, 255), 32.30, 79.19, -107.86},
                        Case{make_pixel(128, 128, 128), 53.59, 0.0, 0.0}}) {
    const LabColour lab = lab_of_pixel(c.pixel);
    EXPECT_NEAR(lab.lightness, c.l, 0.02) << std::hex << c.pixel;
    EXPECT_NEAR(lab.a, c.a, 0.02) << std::hex << c.pixel;
    EXPECT_NEAR(lab.b, c.b, 0.02) << std::hex << c.pixel;
  }
  // Every 8-bit colour on a coarse grid comes back exactly, and counts as inside.
  for (std::uint32_t r = 0; r < 256; r += 15)
    for (std::uint32_t g = 0; g < 256; g += 17)
      for (std::uint32_t b = 0; b < 256; b += 51) {
        bool inside = false;
        ASSERT_EQ(pixel_of_lab(lab_of_pixel(make_pixel(r, g, b)), &inside), make_pixel(r, g, b));
        ASSERT_TRUE(inside);
      }
  bool inside = true;
  pixel_of_lab({50, 0, -150}, &inside);  // bluer than any screen shows
  EXPECT_FALSE(inside);
}

TEST(ColourIndex, NearestEqualsAPlainSearch) {
  std::mt19937 random(7);
  std::uniform_int_distribution<std::uint32_t> level(0, 255);
  const auto random_colour = [&] { return lab_of_pixel(make_pixel(level(random), level(random), level(random))); };
  for (const std::size_t size : {std::size_t{1}, std::size_t{3}, std::size_t{40}, std::size_t{2000}}) {
    std::vector<LabColour> colours;
    for (std::size_t i = 0; i < size; ++i) colours.push_back(random_colour());
    const ColourIndex index(colours);
    for (int q = 0; q < 300; ++q) {
      // Now and then a colour no screen shows, beyond the index's buckets.
      const LabColour query = q % 50 == 0 ? LabColour{110, 140, -150} : random_colour();
      double expected = kNoTileDelta;
      for (const LabColour& c : colours) expected = std::min(expected, delta_e76(query, c));
      ASSERT_NEAR(index.nearest(query), expected, 1e-9) << size << " colours, query " << q;
    }
  }
  EXPECT_EQ(ColourIndex().nearest({50, 0, 0}), kNoTileDelta);
}

TEST(ColourName, NamesEverydayColoursInWords) {
  struct Case {
    std::uint32_t pixel;
    const char* word;
  };
  for (const Case& c : {Case{make_pixel(255, 255, 255), "white"}, Case{make_pixel(125, 125, 128), "grey"},
                        Case{make_pixel(110, 160, 235), "blue"}, Case{make_pixel(60, 140, 40), "green"},
                        Case{make_pixel(250, 130, 20), "orange"}, Case{make_pixel(200, 20, 25), "red"},
                        Case{make_pixel(250, 230, 60), "yellow"}, Case{make_pixel(120, 70, 35), "brown"}}) {
    EXPECT_NE(std::string(colour_name(lab_of_pixel(c.pixel))).find(c.word), std::string::npos)
        << c.word << " named " << colour_name(lab_of_pixel(c.pixel));
  }
}

TEST(ListCoverage, WarmListLacksBlueAndGreenAndAFullListLacksLittle) {
  // Reds, oranges, yellows and browns at several lightnesses.
  std::vector<LabColour> warm;
  for (std::uint32_t r : {120u, 180u, 230u, 255u})
    for (std::uint32_t g : {20u, 70u, 120u, 180u})
      if (g < r) warm.push_back(lab_of_pixel(make_pixel(r, g, g / 3)));
  const ListCoverage partial = analyse_list_coverage(warm, 8);
  EXPECT_EQ(partial.tile_colours, warm.size());
  EXPECT_LT(partial.covered_share, 0.3);
  ASSERT_EQ(partial.holes.size(), 8u);
  EXPECT_TRUE(names_contain(partial.holes, "blue"));
  EXPECT_TRUE(names_contain(partial.holes, "green"));
  EXPECT_TRUE(std::none_of(partial.holes.begin(), partial.holes.end(),
                           [](const ColourHole& h) { return std::string(h.name) == "orange"; }));
  for (std::size_t i = 1; i < partial.holes.size(); ++i) EXPECT_GE(partial.holes[i - 1].share, partial.holes[i].share);
  // The chart shows the warm hues reached and the blue ones not.
  const auto bin = [&](double hue, double lightness) {
    const int column = static_cast<int>(hue / 10.0);
    const int row = static_cast<int>((100.0 - lightness) / 5.0);
    return partial.chart[static_cast<std::size_t>(row * ListCoverage::kHueBins + column)];
  };
  const LabColour orange = lab_of_pixel(make_pixel(230, 70, 23));
  const LabColour blue = lab_of_pixel(make_pixel(40, 60, 200));
  EXPECT_GT(bin(hue_degrees(orange), orange.lightness), 0.0);
  EXPECT_EQ(bin(hue_degrees(blue), blue.lightness), 0.0);

  std::vector<LabColour> everything;
  for (std::uint32_t r = 0; r < 256; r += 17)
    for (std::uint32_t g = 0; g < 256; g += 17)
      for (std::uint32_t b = 0; b < 256; b += 17) everything.push_back(lab_of_pixel(make_pixel(r, g, b)));
  const ListCoverage full = analyse_list_coverage(everything);
  EXPECT_DOUBLE_EQ(full.covered_share, 1.0);
  EXPECT_TRUE(full.holes.empty());

  const ListCoverage none = analyse_list_coverage({});
  EXPECT_EQ(none.covered_share, 0.0);
  EXPECT_FALSE(none.holes.empty());
}

GapCell cell_of(std::uint32_t pixel, double x, double width, bool portrait = false) {
  GapCell cell;
  cell.colour = lab_of_pixel(pixel);
  cell.x = x;
  cell.width = width;
  cell.height = 10;
  cell.portrait = portrait;
  return cell;
}

TEST(MatchCells, SharesAndColoursToAddFollowTheArea) {
  const std::uint32_t sky = make_pixel(90, 140, 230);
  const std::uint32_t sand = make_pixel(200, 170, 110);
  const std::uint32_t grass = make_pixel(60, 150, 50);
  // Sky is 60 % of the area, grass 10 %, sand 30 %.
  std::vector<GapCell> cells = {cell_of(sky, 0, 40), cell_of(sky, 40, 20), cell_of(grass, 60, 10),
                                cell_of(sand, 70, 30)};
  const auto any = [](bool, bool) { return true; };
  const ColourIndex sand_only({lab_of_pixel(make_pixel(205, 172, 112))});
  const ImageGaps before = match_cells(cells, sand_only, ColourIndex(), any);
  EXPECT_NEAR(before.unmatched_share, 0.7, 1e-9);
  ASSERT_EQ(before.to_add.size(), 2u);
  EXPECT_NE(std::string(before.to_add[0].name).find("blue"), std::string::npos) << before.to_add[0].name;
  EXPECT_NEAR(before.to_add[0].share, 0.6, 1e-9);
  EXPECT_NEAR(before.to_add[1].share, 0.1, 1e-9);
  EXPECT_LT(before.cells[3].best, 3.0);

  const ColourIndex sand_and_sky({lab_of_pixel(make_pixel(205, 172, 112)), lab_of_pixel(make_pixel(92, 140, 228))});
  const ImageGaps after = match_cells(cells, sand_and_sky, ColourIndex(), any);
  EXPECT_NEAR(after.unmatched_share, 0.1, 1e-9);
  ASSERT_EQ(after.to_add.size(), 1u);
  EXPECT_LT(after.mean_delta, before.mean_delta);

  // A portrait cell no landscape tile may fill has no tile, however close the colour.
  std::vector<GapCell> portrait = {cell_of(sand, 0, 10, true)};
  const ImageGaps unfillable =
      match_cells(portrait, sand_only, ColourIndex(), [](bool cell, bool tile) { return cell == tile; });
  EXPECT_EQ(unfillable.cells[0].best, kNoTileDelta);
  EXPECT_DOUBLE_EQ(unfillable.unmatched_share, 1.0);
  EXPECT_EQ(unfillable.mean_delta, 0.0);
}

}  // namespace
}  // namespace tess
