// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/run_plan_fill_check.hpp"

#include <gtest/gtest.h>

namespace tess {
namespace {

TEST(FillCheck, WarnsWhenTheListCannotFillTheMosaic) {
  MosaicParameters p;
  p.tile_variants = TileVariant::original | TileVariant::rotated_90;
  p.tile_duplication = 1;
  p.duplicate_spacing = 3;
  FillCheckCounts counts{40, 0, 100, true, false};
  EXPECT_EQ(fill_check_text(p, counts),
            "Not all tiles in your Mosaic will be filled. I suggest to allow the Tile Duplication. "
            "Do you want to continue?");
  p.tile_duplication = 0;
  EXPECT_EQ(fill_check_text(p, counts),
            "Not all tiles in your Mosaic will be filled. I suggest to reduce the Duplicate Spacing. "
            "Do you want to continue?");
  counts.landscape_tiles = 49;  // (2·3 + 1)² is enough
  EXPECT_EQ(fill_check_text(p, counts), "");
  p.duplicate_spacing = 0;
  counts.landscape_tiles = 99;
  EXPECT_NE(fill_check_text(p, counts), "");

  // Orientations without quarter turns.
  p.duplicate_spacing = 1;
  p.tile_variants = TileVariant::original;
  counts = {50, 20, 100, true, false};
  EXPECT_EQ(fill_check_text(p, counts),
            "Not all pictures in your Tile Images List will be used. I suggest to enable Tile Rotation 90° or "
            "select a Pattern with both Landscape and Portrait tiles, for example Parquet/Mixed. Do you want to "
            "continue?");
  counts = {50, 0, 100, true, true};
  EXPECT_EQ(fill_check_text(p, counts),
            "Not all tiles in your Mosaic will be filled. I suggest to enable Tile Rotation 90° or select a "
            "Pattern with both Landscape and Portrait tiles, for example Parquet/Mixed. Do you want to continue?");

  bool landscape = false, portrait = false;
  pattern_orientations(PatternCode::parquet_1to1, landscape, portrait);
  EXPECT_TRUE(landscape && portrait);
  pattern_orientations(PatternCode::portrait_3_rows, landscape, portrait);
  EXPECT_TRUE(!landscape && portrait);
  pattern_orientations(PatternCode::landscape_10_rows, landscape, portrait);
  EXPECT_TRUE(landscape && !portrait);
}

}  // namespace
}  // namespace tess
