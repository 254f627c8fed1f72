#include "engine/split_placement.hpp"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>
#include <string>

#include "base/scripted_prompt.hpp"
#include "base/text.hpp"
#include "engine/mosaic_builder.hpp"
#include "engine/score_kernel.hpp"
#include "engine/score_tables.hpp"
#include "tilelist/tile_image_list.hpp"

namespace tess {
namespace {

TileSignature uniform(std::uint32_t colour) {
  TileSignature s;
  s.samples.fill(colour);
  s.opaque = 1;
  s.analysed = 1;
  return s;
}

std::uint32_t gray(int level) { return make_pixel(level, level, level); }

/// A grid of `columns` × `rows` square cells, all grey, with a list of grey tiles.
struct SplitScene {
  ScriptedPrompt prompt;
  MosaicBuilder builder{prompt};
  TileImageList list;
  TileUseState uses;
  ScoreTables tables;

  SplitScene(int columns, int rows, int side = 40) {
    builder.grid.reset(columns * side, rows * side, 1.0, 0, false);
    for (int r = 0; r < rows; ++r) {
      for (int c = 0; c < columns; ++c) {
        EXPECT_TRUE(builder.grid.add_cell({c * side, r * side, side, side}));
        PuzzleInfo& cell = builder.grid.cell(builder.grid.size() - 1);
        cell.active = 1;
        cell.analysed = 1;
        cell.signature = uniform(gray(100));
        cell.score = kNoTileScore;
      }
    }
    builder.tile_list = &list;
    builder.parameters.advanced.set_value(kOptTileSplit, "AUTO");
    builder.parameters.advanced.set_value(kOptTilePriorityArea, "AVERAGE");
    builder.parameters.advanced.set_value(kOptTilePrioritySize, "AVERAGE");
  }
  const FotoInfo* tile(const std::string& path, int level) {
    FotoInfo info(path);
    info.signature = uniform(gray(level));
    list.insert(info);
    return list.find(path);
  }
  /// Gives cell `index` a tile `level` grey levels away from it.
  void fill(std::size_t index, const FotoInfo* t) {
    PuzzleInfo& cell = builder.grid.cell(index);
    cell.tile = t;
    cell.score = score_tile(tables, cell.signature, cell.priority, t->signature).score;
  }
  /// Cells the split left at their original size.
  std::size_t whole_cells(int side = 40) const {
    std::size_t n = 0;
    for (const auto& c : builder.grid.cells()) n += c->width == side && c->height == side ? 1 : 0;
    return n;
  }
};

TEST(SplitPlacement, SharesGiveTheNumberOfCellsSplit) {
  {
    // 10 % quarters of 1,000 cells: 100 cells become four each.
    SplitScene s(40, 25);
    s.builder.parameters.quarter_tiles = 10;
    s.uses.reset(&s.list, 0);
    EXPECT_TRUE(split_half_and_quarter_tiles(s.builder, s.tables, s.uses));
    EXPECT_EQ(s.builder.grid.size(), 1300u);
    EXPECT_EQ(s.whole_cells(), 900u);
    std::size_t quarters = 0;
    for (const auto& c : s.builder.grid.cells()) quarters += c->width == 20 && c->height == 20 ? 1 : 0;
    EXPECT_EQ(quarters, 400u);
  }
  {
    SplitScene s(40, 25);
    s.builder.parameters.half_tiles = 10;
    s.builder.parameters.quarter_tiles = 5;
    s.uses.reset(&s.list, 0);
    EXPECT_TRUE(split_half_and_quarter_tiles(s.builder, s.tables, s.uses));
    EXPECT_EQ(s.builder.grid.size(), 1000u + 100u + 3u * 50u);
  }
  {
    // A share of 16 % or more turns splitting off.
    SplitScene s(10, 10);
    s.builder.parameters.quarter_tiles = 16;
    s.builder.parameters.half_tiles = 5;
    EXPECT_FALSE(split_half_and_quarter_tiles(s.builder, s.tables, s.uses));
    EXPECT_EQ(s.builder.grid.size(), 100u);
  }
  {
    // Cells too small to cut are passed over.
    SplitScene s(10, 10, 9);
    s.builder.parameters.half_tiles = 10;
    EXPECT_FALSE(split_half_and_quarter_tiles(s.builder, s.tables, s.uses));
  }
}

TEST(SplitPlacement, QualitySplitsTheWorstMatchedCellsFirst) {
  SplitScene s(6, 6);
  const FotoInfo* good = s.tile("/good.jpg", 100);
  const FotoInfo* bad = s.tile("/bad.jpg", 190);
  const FotoInfo* worse = s.tile("/worse.jpg", 200);
  for (std::size_t i = 0; i < s.builder.grid.size(); ++i) s.fill(i, good);
  s.fill(14, bad);    // interior
  s.fill(0, worse);   // a border cell counts a quarter
  s.fill(21, worse);  // interior
  s.uses.reset(&s.list, 0);
  s.uses.count_uses(s.builder.grid);
  s.builder.parameters.half_tiles = 6;  // 36 · 6 % = 2 cells
  EXPECT_TRUE(split_half_and_quarter_tiles(s.builder, s.tables, s.uses));
  ASSERT_EQ(s.builder.grid.size(), 38u);
  EXPECT_EQ(s.builder.grid.cell(21).width, 20);
  EXPECT_EQ(s.builder.grid.cell(14).width, 20);
  EXPECT_EQ(s.builder.grid.cell(0).width, 40);
  // The split cells gave up their tiles and wait for analysis.
  EXPECT_EQ(s.builder.grid.cell(21).tile, nullptr);
  EXPECT_EQ(s.builder.grid.cell(21).analysed, 0);
  EXPECT_EQ(s.builder.grid.cell(36).analysed, 0);
  EXPECT_EQ(s.uses.find(worse)->use_count, 1u);
  EXPECT_EQ(s.uses.find(bad)->use_count, 0u);
}

TEST(SplitPlacement, SelectionModesAndKeys) {
  EXPECT_EQ(split_selection_from_words("AUTO", "CENTER_WIDE"), SplitSelection::quality);
  EXPECT_EQ(split_selection_from_words("AUTO", "CUSTOM_PRIORITY"), SplitSelection::priority);
  EXPECT_EQ(split_selection_from_words("", "CUSTOM_PRIORITY"), SplitSelection::priority);
  EXPECT_EQ(split_selection_from_words("PRIORITY_AND_QUALITY", "AVERAGE"), SplitSelection::priority_and_quality);
  EXPECT_EQ(split_selection_from_words("QUALITY", "CUSTOM_PRIORITY"), SplitSelection::quality);

  EXPECT_EQ(split_key(SplitSelection::quality, 400, 20, false, false), 400u);
  EXPECT_EQ(split_key(SplitSelection::quality, 400, 20, true, false), 100u);
  EXPECT_EQ(split_key(SplitSelection::quality, 400, 20, true, true), 400u);
  EXPECT_EQ(split_key(SplitSelection::priority, 400, 3, false, false), (std::uint64_t{3} << 32) + 400);
  // (3·√400 + 1)·√(80/20)·10,000 = 61 · 2 · 10,000.
  EXPECT_EQ(split_key(SplitSelection::priority_and_quality, 400, 80, false, false), 1'220'000u);
  // An empty cell counts as the worst match.
  EXPECT_GT(split_key(SplitSelection::priority, 0xFFFFFFFFu, 20, false, false),
            split_key(SplitSelection::priority, 5, 20, false, false));
}

TEST(SplitPlacement, PrioritySplitsTheHighestPriorityFirst) {
  SplitScene s(5, 4);
  s.builder.parameters.advanced.set_value(kOptTileSplit, "PRIORITY");
  const FotoInfo* t = s.tile("/t.jpg", 100);
  for (std::size_t i = 0; i < s.builder.grid.size(); ++i) s.fill(i, t);
  s.builder.grid.cell(7).priority = 90;
  s.builder.parameters.quarter_tiles = 5;  // one cell
  s.uses.reset(&s.list, 0);
  EXPECT_TRUE(split_half_and_quarter_tiles(s.builder, s.tables, s.uses));
  EXPECT_EQ(s.builder.grid.size(), 23u);
  EXPECT_EQ(s.builder.grid.cell(7).width, 20);
  EXPECT_EQ(s.builder.grid.cell(7).height, 20);
}

TEST(SplitPlacement, SecondDispatchFillsTheNewCellsAndRespectsTheKeptTiles) {
  SplitScene s(5, 4);
  for (int i = 0; i < 40; ++i) s.tile(format("/t%02d.jpg", i), 60 + 3 * i);
  s.builder.parameters.tile_duplication = 1;
  s.builder.parameters.duplicate_spacing = 0;
  s.builder.parameters.half_tiles = 10;
  s.uses.reset(&s.list, 1);
  PlacementSetup setup;
  ASSERT_TRUE(place_tiles(s.builder, s.tables, s.uses, setup));
  ASSERT_TRUE(split_half_and_quarter_tiles(s.builder, s.tables, s.uses));
  ASSERT_EQ(s.builder.grid.size(), 22u);
  // The run analyses the new cells; here they simply get a signature.
  for (const auto& c : s.builder.grid.cells()) {
    if (c->analysed == 0) {
      c->signature = uniform(gray(100));
      c->analysed = 1;
      c->active = 1;
    }
  }
  std::map<const PuzzleInfo*, const FotoInfo*> kept;
  for (const auto& c : s.builder.grid.cells()) {
    if (c->tile != nullptr) kept[c.get()] = c->tile;
  }
  EXPECT_EQ(kept.size(), 18u);
  ASSERT_TRUE(place_split_cells(s.builder, s.tables, s.uses, setup));
  std::set<const FotoInfo*> used;
  for (const auto& c : s.builder.grid.cells()) {
    ASSERT_NE(c->tile, nullptr);
    EXPECT_TRUE(used.insert(c->tile).second) << c->tile->path << " twice";
  }
  for (const auto& [cell, tile] : kept) EXPECT_EQ(cell->tile, tile);
}

}  // namespace
}  // namespace tess
