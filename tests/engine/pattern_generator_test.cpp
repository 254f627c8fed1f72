#include "engine/pattern_generator.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "base/scripted_prompt.hpp"
#include "engine/mosaic_builder.hpp"

namespace tess {
namespace {

PatternInput input_for(PatternCode pattern, std::int64_t width, std::int64_t height, std::int64_t long_side,
                       std::int64_t short_side, std::int64_t gap = 0) {
  PatternInput in;
  in.pattern = pattern;
  in.width = width;
  in.height = height;
  in.long_side = long_side;
  in.short_side = short_side;
  in.gap = gap;
  return in;
}

std::vector<CellRect> generate(const PatternInput& in, GeneratorMode mode, PatternRun* run = nullptr) {
  std::vector<CellRect> cells;
  const bool ok = generate_pattern(
      in, mode,
      [&](const CellRect& c) {
        cells.push_back(c);
        return true;
      },
      run);
  EXPECT_TRUE(ok);
  return cells;
}

/// How many cells cover each pixel; fails the test for a cell outside the mosaic.
std::vector<int> occupancy(const PatternInput& in, const std::vector<CellRect>& cells) {
  std::vector<int> map(static_cast<std::size_t>(in.width * in.height), 0);
  for (const CellRect& c : cells) {
    EXPECT_GE(c.x, 0);
    EXPECT_GE(c.y, 0);
    EXPECT_GT(c.width, 0);
    EXPECT_GT(c.height, 0);
    EXPECT_LE(c.x + c.width, in.width);
    EXPECT_LE(c.y + c.height, in.height);
    if (c.x < 0 || c.y < 0 || c.x + c.width > in.width || c.y + c.height > in.height) continue;
    for (std::int64_t y = c.y; y < c.y + c.height; ++y)
      for (std::int64_t x = c.x; x < c.x + c.width; ++x) ++map[static_cast<std::size_t>(y * in.width + x)];
  }
  return map;
}

bool same_cells(const std::vector<CellRect>& a, const std::vector<CellRect>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (a[i].x != b[i].x || a[i].y != b[i].y || a[i].width != b[i].width || a[i].height != b[i].height)
      return false;
  return true;
}

// Every pattern a settings file may hold, in the order of their numbers.
std::vector<PatternCode> all_patterns() {
  std::vector<PatternCode> codes;
  for (std::int32_t n = pattern_number(kPatternFirst); n <= pattern_number(kPatternLast); ++n)
    codes.push_back(*pattern_of_number(n));
  return codes;
}

TEST(PatternGenerator, EveryCodeHasItsGeneratorAndNoOtherCodeHasOne) {
  for (PatternCode code : all_patterns())
    EXPECT_TRUE(pattern_generator_parameters(code).has_value()) << pattern_number(code);
  EXPECT_FALSE(pattern_generator_parameters(static_cast<PatternCode>(0)).has_value());
  EXPECT_FALSE(pattern_generator_parameters(static_cast<PatternCode>(pattern_number(kPatternLast) + 1)).has_value());

  struct Expected {
    PatternCode code;
    GeneratorKind kind;
    int first, second, stagger;
  };
  const Expected table[] = {
      {PatternCode::landscape_2_rows, GeneratorKind::rows, 1, 0, 2},
      {PatternCode::landscape_10_rows, GeneratorKind::rows, 1, 0, 10},
      {PatternCode::portrait_5_rows, GeneratorKind::rows, 0, 1, 5},
      {PatternCode::mixed_1to2, GeneratorKind::rows, 2, 1, 1},
      {PatternCode::mixed_1to8, GeneratorKind::rows, 8, 1, 1},
      {PatternCode::mixed_3to1, GeneratorKind::rows, 1, 3, 1},
      {PatternCode::mixed_b_1to3, GeneratorKind::rows, 3, 1, 2},
      {PatternCode::mixed_b_5to1, GeneratorKind::rows, 1, 5, 2},
      {PatternCode::parquet_2to1, GeneratorKind::parquet, 2, 1, 1},
      {PatternCode::parquet_1to5, GeneratorKind::parquet, 1, 5, 1},
  };
  for (const Expected& e : table) {
    const auto p = pattern_generator_parameters(e.code);
    ASSERT_TRUE(p) << pattern_number(e.code);
    EXPECT_EQ(p->kind, e.kind) << pattern_number(e.code);
    EXPECT_EQ(p->first, e.first) << pattern_number(e.code);
    EXPECT_EQ(p->second, e.second) << pattern_number(e.code);
    EXPECT_EQ(p->stagger, e.stagger) << pattern_number(e.code);
  }
}

TEST(PatternGenerator, EveryPatternLaysCellsInsideTheMosaicWithoutOverlap) {
  struct Size {
    std::int64_t width, height, long_side, short_side, gap;
  };
  const Size sizes[] = {{400, 300, 40, 30, 0}, {237, 181, 33, 25, 3}, {120, 500, 50, 20, 6}, {61, 47, 60, 45, 2}};
  for (const Size& s : sizes) {
    for (PatternCode code : all_patterns()) {
      for (GeneratorMode mode : {GeneratorMode::building, GeneratorMode::counting}) {
        const PatternInput in = input_for(code, s.width, s.height, s.long_side, s.short_side, s.gap);
        const auto cells = generate(in, mode);
        EXPECT_FALSE(cells.empty()) << pattern_number(code);
        const auto map = occupancy(in, cells);
        EXPECT_LE(*std::max_element(map.begin(), map.end()), 1)
            << "pattern " << pattern_number(code) << " on " << s.width << "x" << s.height << " gap " << s.gap;
      }
    }
  }
}

TEST(PatternGenerator, UnstaggeredRowsWithoutGapsCoverTheWholeMosaic) {
  for (PatternCode code : {PatternCode::landscape, PatternCode::portrait, PatternCode::mixed_1to1,
                           PatternCode::mixed_1to3, PatternCode::mixed_5to1}) {
    const PatternInput in = input_for(code, 237, 181, 33, 25);
    const auto map = occupancy(in, generate(in, GeneratorMode::building));
    EXPECT_TRUE(std::all_of(map.begin(), map.end(), [](int n) { return n == 1; })) << pattern_number(code);
  }
}

TEST(PatternGenerator, LeftoversStretchTheFirstRowsAndCells) {
  // 100 = 3 × 30 + 10 across: 4, 4 and 2 extra; 70 = 3 × 20 + 10 down: the same.
  PatternRun run;
  const auto cells = generate(input_for(PatternCode::landscape, 100, 70, 30, 20), GeneratorMode::building, &run);
  ASSERT_EQ(cells.size(), 9u);
  const std::int64_t widths[] = {34, 34, 32};
  const std::int64_t heights[] = {24, 24, 22};
  for (std::size_t i = 0; i < 9; ++i) {
    EXPECT_EQ(cells[i].width, widths[i % 3]) << i;
    EXPECT_EQ(cells[i].height, heights[i / 3]) << i;
  }
  EXPECT_EQ(run.columns, 3);
  EXPECT_EQ(run.rows, 3);
  EXPECT_EQ(run.cell_width, 34);
  EXPECT_EQ(run.cell_height, 24);

  // Counting keeps the tile size: the last column and row are cut by the edge.
  PatternRun counted;
  const auto plain = generate(input_for(PatternCode::landscape, 100, 70, 30, 20), GeneratorMode::counting, &counted);
  EXPECT_EQ(plain.size(), 16u);
  EXPECT_EQ(plain.front().width, 30);
  EXPECT_EQ(plain.back().width, 10);
  EXPECT_EQ(plain.back().height, 10);
  EXPECT_EQ(counted.cell_width, 30);
}

TEST(PatternGenerator, LandscapeTwoRowsOffsetsEverySecondRowByHalfAStep) {
  const auto cells = generate(input_for(PatternCode::landscape_2_rows, 400, 90, 40, 30), GeneratorMode::building);
  std::vector<CellRect> row0, row1, row2;
  for (const CellRect& c : cells) (c.y == 0 ? row0 : c.y == 30 ? row1 : row2).push_back(c);
  ASSERT_EQ(row0.size(), 10u);
  for (std::size_t i = 0; i < row0.size(); ++i) EXPECT_EQ(row0[i].x, 40 * static_cast<std::int64_t>(i));
  // The offset row starts with the half cell that fits before its offset.
  ASSERT_EQ(row1.size(), 11u);
  EXPECT_EQ(row1[0].x, 0);
  EXPECT_EQ(row1[0].width, 20);
  EXPECT_EQ(row1[1].x, 20);
  EXPECT_EQ(row1[1].width, 40);
  EXPECT_EQ(row1.back().width, 20);  // cut by the right edge
  ASSERT_EQ(row2.size(), 10u);
  EXPECT_EQ(row2[0].x, 0);
}

TEST(PatternGenerator, StaggerWithinAGapAndFiveAddsNoPartialCell) {
  // Three rows of stagger with a 12 wide step: row 1 starts 4 in, too close
  // to the edge (≤ gap + 5) for a partial cell; row 2 starts 8 in and gets one.
  const auto cells = generate(input_for(PatternCode::landscape_3_rows, 120, 30, 12, 10), GeneratorMode::building);
  std::vector<CellRect> row1, row2;
  for (const CellRect& c : cells) {
    if (c.y == 10) row1.push_back(c);
    if (c.y == 20) row2.push_back(c);
  }
  ASSERT_FALSE(row1.empty());
  EXPECT_EQ(row1[0].x, 4);
  ASSERT_FALSE(row2.empty());
  EXPECT_EQ(row2[0].x, 0);
  EXPECT_EQ(row2[0].width, 8);
}

TEST(PatternGenerator, MixedRowsFollowTheirCycle) {
  // Mixed 1:2 is two landscape rows then one portrait row.
  const auto cells = generate(input_for(PatternCode::mixed_1to2, 120, 200, 40, 30), GeneratorMode::counting);
  std::vector<std::int64_t> row_heights;
  std::int64_t last_y = -1;
  for (const CellRect& c : cells)
    if (c.y != last_y) {
      row_heights.push_back(c.height);
      last_y = c.y;
    }
  ASSERT_GE(row_heights.size(), 5u);
  EXPECT_EQ(row_heights[0], 30);
  EXPECT_EQ(row_heights[1], 30);
  EXPECT_EQ(row_heights[2], 40);
  EXPECT_EQ(row_heights[3], 30);
  EXPECT_EQ(row_heights[4], 30);
}

TEST(PatternGenerator, BorderedGridEndsExactlyAtTheFinalSize) {
  // 10 tiles of 36 with 9 gaps of 4 make 396; 10 rows of 27 make 306.
  const PatternInput in = input_for(PatternCode::landscape, 396, 306, 36, 27, 4);
  PatternRun run;
  const auto cells = generate(in, GeneratorMode::building, &run);
  ASSERT_EQ(cells.size(), 100u);
  for (const CellRect& c : cells) {
    EXPECT_EQ(c.width, 36);
    EXPECT_EQ(c.height, 27);
    EXPECT_EQ(c.x % 40, 0);
    EXPECT_EQ(c.y % 31, 0);
  }
  EXPECT_EQ(cells.back().x + cells.back().width, 396);
  EXPECT_EQ(cells.back().y + cells.back().height, 306);
  EXPECT_EQ(run.columns, 10);
  EXPECT_EQ(run.rows, 10);

  const auto counts = count_pattern_cells(in);
  ASSERT_TRUE(counts);
  EXPECT_EQ(counts->total, 100);
  EXPECT_EQ(counts->landscape, 100);
  EXPECT_EQ(counts->portrait, 0);
}

TEST(PatternGenerator, NoWholeTileFittingNeedsNoDivisionAndStillGivesACell) {
  for (PatternCode code :
       {PatternCode::landscape, PatternCode::portrait_3_rows, PatternCode::mixed_b_2to1, PatternCode::parquet_1to3}) {
    for (GeneratorMode mode : {GeneratorMode::building, GeneratorMode::counting}) {
      const PatternInput in = input_for(code, 10, 7, 400, 300, 5);
      const auto cells = generate(in, mode);
      ASSERT_EQ(cells.size(), 1u) << pattern_number(code);
      EXPECT_EQ(cells[0].width, 10);
      EXPECT_EQ(cells[0].height, 7);
    }
  }
}

TEST(PatternGenerator, CountingAgreesWithBuildingWhenNothingIsLeftOver) {
  // 480 + 8 = 8 × (57 + 4) wide and 366 + 4 is a whole number of landscape
  // rows (43 + 4) only for the plain patterns, so compare those for rows and
  // every parquet, which never stretches.
  for (PatternCode code : all_patterns()) {
    const auto p = pattern_generator_parameters(code);
    const bool plain_rows = p->kind == GeneratorKind::rows && p->second == 0;
    const bool parquet = p->kind == GeneratorKind::parquet;
    if (!plain_rows && !parquet) continue;
    const PatternInput in = input_for(code, 484, 372, 57, 43, 4);
    EXPECT_TRUE(same_cells(generate(in, GeneratorMode::building), generate(in, GeneratorMode::counting)))
        << pattern_number(code);
  }
  // Portrait rows: 8 × (43 + 4) = 376 across, 6 × (57 + 4) = 366 down.
  for (PatternCode code : {PatternCode::portrait, PatternCode::portrait_2_rows, PatternCode::portrait_5_rows}) {
    const PatternInput in = input_for(code, 372, 362, 57, 43, 4);
    const auto counts = count_pattern_cells(in);
    ASSERT_TRUE(counts);
    EXPECT_EQ(static_cast<std::size_t>(counts->total), generate(in, GeneratorMode::building).size())
        << pattern_number(code);
    EXPECT_EQ(counts->portrait, counts->total);
  }
}

TEST(PatternGenerator, ParquetRunsGoRightFromTheTopAndDownFromTheLeft) {
  const PatternInput in = input_for(PatternCode::parquet_1to1, 200, 200, 40, 20);
  const auto cells = generate(in, GeneratorMode::building);
  const auto has = [&](std::int64_t x, std::int64_t y, std::int64_t w, std::int64_t h) {
    return std::any_of(cells.begin(), cells.end(),
                       [&](const CellRect& c) { return c.x == x && c.y == y && c.width == w && c.height == h; });
  };
  // First pass: run 0 of landscape cells from the corner, run 1 of portrait
  // cells lifted by the difference of the sides.
  EXPECT_TRUE(has(0, 0, 40, 20));
  EXPECT_TRUE(has(20, 20, 40, 20));
  EXPECT_TRUE(has(40, 0, 20, 20));   // (40, -20) clipped to the top
  EXPECT_TRUE(has(60, 0, 20, 40));   // the run's next cell, (60, 0)
  // Second pass: a portrait run starting below the first cell on the left edge.
  EXPECT_TRUE(has(0, 20, 20, 40));
  EXPECT_TRUE(has(20, 40, 20, 40) || has(20, 40, 40, 20));

  // Herringbone of 2:1 tiles leaves no hole.
  const auto map = occupancy(in, cells);
  EXPECT_TRUE(std::all_of(map.begin(), map.end(), [](int n) { return n == 1; }));
  // Both kinds of cell appear in about equal numbers.
  const auto counts = count_pattern_cells(in);
  ASSERT_TRUE(counts);
  EXPECT_GT(counts->landscape, 0);
  EXPECT_GT(counts->portrait, 0);
}

TEST(PatternGenerator, InvalidInputIsRefused) {
  const CellSink sink = [](const CellRect&) { return true; };
  EXPECT_FALSE(generate_pattern(input_for(PatternCode::landscape, 100, 100, 0, 30), GeneratorMode::building, sink));
  EXPECT_FALSE(generate_pattern(input_for(PatternCode::landscape, 0, 100, 40, 30), GeneratorMode::building, sink));
  EXPECT_FALSE(
      generate_pattern(input_for(PatternCode::landscape, 100, 100, 40, 30, -1), GeneratorMode::building, sink));
  EXPECT_FALSE(
      generate_pattern(input_for(static_cast<PatternCode>(99), 100, 100, 40, 30), GeneratorMode::building, sink));
  EXPECT_FALSE(count_pattern_cells(input_for(PatternCode::landscape, 100, 100, 40, 0)).has_value());
  // A sink that refuses ends the generator with failure.
  EXPECT_FALSE(generate_pattern(input_for(PatternCode::parquet_1to1, 100, 100, 40, 30), GeneratorMode::building,
                                [](const CellRect&) { return false; }));
}

TEST(PatternGenerator, BuildingFillsTheBuildersGridAndReportsProgress) {
  ScriptedPrompt prompt;
  MosaicBuilder builder(prompt);
  builder.parameters.half_tiles = 10;
  const PatternInput in = input_for(PatternCode::portrait, 300, 200, 40, 30);
  ASSERT_TRUE(build_cells_from_pattern(builder, in));
  EXPECT_EQ(builder.status(), "Building Mosaic Tiles...");
  const PuzzleGrid& grid = builder.grid;
  EXPECT_EQ(grid.size(), 50u);  // 10 columns of 30 × 5 rows of 40
  EXPECT_EQ(grid.portrait_count(), 50u);
  EXPECT_EQ(grid.landscape_count(), 0u);
  EXPECT_EQ(grid.columns, 10);
  EXPECT_EQ(grid.rows, 5);
  EXPECT_EQ(grid.pixel_width(), 300);
  EXPECT_EQ(grid.pixel_height(), 200);
  EXPECT_EQ(grid.cell(0).priority, kNormalCellPriority);
  const ProgressModel progress = builder.progress();
  EXPECT_EQ(progress.current_stage(), kStageCellBuilding);
  EXPECT_DOUBLE_EQ(progress.total(kStageCellBuilding), 45 + 2 * 5);  // 5 cells to be halved
  EXPECT_DOUBLE_EQ(progress.done(kStageCellBuilding), 50);

  builder.request_stop();
  EXPECT_FALSE(build_cells_from_pattern(builder, in));
  EXPECT_TRUE(builder.grid.empty());
}

TEST(PatternGenerator, PixelScaleEnlargesCellsWithoutGapsBetweenThem) {
  ScriptedPrompt prompt;
  MosaicBuilder builder(prompt);
  PatternInput in = input_for(PatternCode::landscape, 100, 70, 30, 20);
  in.pixel_scale = 1.5;
  ASSERT_TRUE(build_cells_from_pattern(builder, in));
  EXPECT_EQ(builder.grid.pixel_width(), 150);
  EXPECT_EQ(builder.grid.pixel_height(), 105);
  std::int64_t area = 0;
  for (const auto& c : builder.grid.cells()) area += c->area;
  EXPECT_EQ(area, 150 * 105);
}

TEST(PatternGenerator, GeometryLayoutsCountThroughTheGenerator) {
  MosaicLayout layout;
  layout.final_width = 396;
  layout.final_height = 306;
  layout.tile_width = 27;  // an upright pattern's tile: the sides are sorted
  layout.tile_height = 36;
  layout.border = 4;
  const PatternInput in = pattern_input(layout, PatternCode::portrait);
  EXPECT_EQ(in.long_side, 36);
  EXPECT_EQ(in.short_side, 27);
  EXPECT_EQ(in.work_width(), layout.grid_width());
  // Portrait cells step 31 across 400 and 40 down 310: a run builds the 12
  // whole ones across and the 7 down, sharing out what is left.
  EXPECT_EQ(count_layout_cells(layout, PatternCode::portrait), 12 * 7);
  const LayoutCells built = layout_cells(layout, PatternCode::portrait);
  EXPECT_EQ(built.cells, 84);
  EXPECT_FALSE(built.even);
  EXPECT_EQ(built.cell_width, 30);  // 28 left over: 9 cells 3 wider, one 1 wider, two as they are
  EXPECT_EQ(built.cell_height, 41);
  layout.half_share = 10;
  const TileCounts counts = count_tiles(layout, PatternCode::portrait, count_layout_cells);
  EXPECT_EQ(counts.cells, 84);
  EXPECT_EQ(counts.halves(), 16);
  layout.tile_width = 0;
  EXPECT_EQ(count_layout_cells(layout, PatternCode::portrait), 0);
}

}  // namespace
}  // namespace tess
