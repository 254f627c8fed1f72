#include "engine/puzzle.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <set>

#include "base/scripted_prompt.hpp"
#include "engine/cell_analysis.hpp"
#include "engine/mask_layout.hpp"
#include "engine/mosaic_builder.hpp"
#include "engine/pattern_generator.hpp"
#include "settings/advanced_options.hpp"
#include "support/test_support.hpp"

namespace tess {
namespace {


constexpr std::uint32_t kRed = make_pixel(200, 30, 30);
constexpr std::uint32_t kGreen = make_pixel(30, 180, 40);
constexpr std::uint32_t kBlue = make_pixel(40, 50, 190);
constexpr std::uint32_t kWhitePixel = make_pixel(255, 255, 255);

Foto filled(int w, int h, std::uint32_t colour) {
  Foto f;
  EXPECT_TRUE(f.try_allocate_fill(w, h, colour));
  return f;
}

void paint(Foto& f, int x, int y, int w, int h, std::uint32_t colour) {
  for (int r = y; r < y + h; ++r)
    for (int c = x; c < x + w; ++c) f.at(c, r) = colour;
}

/// Red, green and blue within 1; cells of another aspect than the signature
/// grid are padded, so their overall sample is partly transparent.
bool near_rgb(std::uint32_t a, std::uint32_t b) {
  return std::abs(int(pixel_red(a)) - int(pixel_red(b))) <= 1 &&
         std::abs(int(pixel_green(a)) - int(pixel_green(b))) <= 1 &&
         std::abs(int(pixel_blue(a)) - int(pixel_blue(b))) <= 1;
}

bool near_colour(std::uint32_t a, std::uint32_t b) { return near_rgb(a, b) && pixel_transparency(a) == 0; }

PatternInput landscape(std::int64_t width, std::int64_t height, std::int64_t long_side, std::int64_t short_side) {
  PatternInput in;
  in.width = width;
  in.height = height;
  in.long_side = long_side;
  in.short_side = short_side;
  return in;
}

// --- cells and splits -------------------------------------------------------

TEST(PuzzleGrid, AddCellClampsToTheMosaicAndCountsTheClampedShape) {
  PuzzleGrid grid;
  grid.reset(100, 50, 1.0, 0, false);
  bool added = false;
  ASSERT_TRUE(grid.add_cell({-10, -5, 40, 60}, &added));
  EXPECT_TRUE(added);
  ASSERT_TRUE(grid.add_cell({90, 40, 30, 30}, &added));
  ASSERT_TRUE(grid.add_cell({100, 0, 10, 10}, &added));  // wholly outside: no cell, no failure
  EXPECT_FALSE(added);
  ASSERT_EQ(grid.size(), 2u);
  const PuzzleInfo& a = grid.cell(0);
  EXPECT_EQ(a.left, 0);
  EXPECT_EQ(a.top, 0);
  EXPECT_EQ(a.width, 30);
  EXPECT_EQ(a.height, 50);
  EXPECT_EQ(a.area, 1500);
  EXPECT_EQ(grid.portrait_count(), 1u);
  EXPECT_EQ(grid.landscape_count(), 1u);  // 10 × 10 is landscape
  grid.free();
  EXPECT_TRUE(grid.empty());
  EXPECT_EQ(grid.landscape_count() + grid.portrait_count(), 0u);
}

TEST(PuzzleGrid, SplitNeedsTheGapPlusTenOnBothSides) {
  PuzzleGrid grid;
  grid.reset(200, 200, 1.0, 6, false);
  ASSERT_TRUE(grid.add_cell({0, 0, 15, 40}));
  EXPECT_EQ(grid.split(grid.cell(0), 6, "LOWER"), nullptr);  // 15 < 16
  EXPECT_EQ(grid.size(), 1u);
  EXPECT_EQ(grid.cell(0).width, 15);
  EXPECT_EQ(grid.cell(0).priority, kNormalCellPriority);
}

TEST(PuzzleGrid, SplitCutsAcrossTheLongerSideAndLinksTheHalves) {
  PuzzleGrid grid;
  grid.reset(400, 400, 1.0, 2, false);
  ASSERT_TRUE(grid.add_cell({10, 20, 100, 60}));
  ASSERT_TRUE(grid.add_cell({200, 200, 60, 100}));
  PuzzleInfo& wide = grid.cell(0);
  PuzzleInfo& tall = grid.cell(1);
  wide.analysed = 1;
  wide.neighbours.push_back(&tall);

  PuzzleInfo* right = grid.split(wide, 2, "LOWER");
  ASSERT_NE(right, nullptr);
  EXPECT_EQ(wide.left, 10);
  EXPECT_EQ(wide.width, 49);
  EXPECT_EQ(wide.height, 60);
  EXPECT_EQ(wide.area, 49 * 60);
  EXPECT_EQ(right->left, 10 + 51);
  EXPECT_EQ(right->top, 20);
  EXPECT_EQ(right->width, 49);
  EXPECT_EQ(right->height, 60);
  EXPECT_EQ(right->analysed, 0);
  EXPECT_EQ(wide.analysed, 1);
  EXPECT_EQ(wide.priority, 15);
  EXPECT_EQ(right->priority, 15);
  EXPECT_EQ(right->neighbours, (std::vector<PuzzleInfo*>{&tall, &wide}));
  EXPECT_EQ(wide.neighbours, (std::vector<PuzzleInfo*>{&tall, right}));

  PuzzleInfo* lower = grid.split(tall, 2, "HIGHER");
  ASSERT_NE(lower, nullptr);
  EXPECT_EQ(tall.height, 49);
  EXPECT_EQ(lower->top, 200 + 51);
  EXPECT_EQ(lower->height, 49);
  EXPECT_EQ(lower->width, 60);
  EXPECT_EQ(lower->priority, 25);
  // 49 × 60 halves are portrait; 60 × 49 ones landscape.
  EXPECT_EQ(grid.size(), 4u);
  EXPECT_EQ(grid.portrait_count(), 2u);
  EXPECT_EQ(grid.landscape_count(), 2u);
}

TEST(PuzzleGrid, SplitPriorityFollowsTheOptionAndStaysInRange) {
  EXPECT_EQ(split_priority(20, "LOWER"), 15);
  EXPECT_EQ(split_priority(20, "LOWEST"), 10);
  EXPECT_EQ(split_priority(20, "HIGHER"), 25);
  EXPECT_EQ(split_priority(20, "AVERAGE"), 20);
  EXPECT_EQ(split_priority(250, "HIGHER"), 255);
  EXPECT_EQ(split_priority(1, "LOWEST"), 1);
  EXPECT_EQ(split_priority(3, "LOWER"), 2);  // 2.25 + 0.5 truncated
}

TEST(PuzzleGrid, SplitCutsTheShapeMaskTheSameWay) {
  PuzzleGrid grid;
  grid.reset(100, 100, 1.0, 0, true);
  auto cell = std::make_unique<PuzzleInfo>();
  cell->width = 30;
  cell->height = 20;
  cell->area = 600;
  cell->shape = filled(30, 20, kEmptyPixel);
  paint(cell->shape, 0, 0, 10, 20, kWhitePixel);   // left third
  paint(cell->shape, 28, 0, 2, 20, kWhitePixel);   // last two columns
  ASSERT_TRUE(grid.add_cell(std::move(cell)));
  PuzzleInfo& left = grid.cell(0);
  PuzzleInfo* right = grid.split(left, 4, "AVERAGE");
  ASSERT_NE(right, nullptr);
  ASSERT_EQ(left.shape.width(), 13);
  ASSERT_EQ(right->shape.width(), 13);
  EXPECT_EQ(right->left, 17);
  EXPECT_EQ(left.shape.at(9, 5), kWhitePixel);
  EXPECT_EQ(left.shape.at(10, 5), kEmptyPixel);
  EXPECT_EQ(right->shape.at(0, 5), kEmptyPixel);
  EXPECT_EQ(right->shape.at(11, 19), kWhitePixel);  // column 28 of the whole
}

TEST(PuzzleGrid, RemovingInactiveCellsMovesTheLastOneInAndForgetsThem) {
  PuzzleGrid grid;
  grid.reset(100, 10, 1.0, 0, false);
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(grid.add_cell({i * 20, 0, 20, 10}));
  std::vector<PuzzleInfo*> cells;
  for (std::size_t i = 0; i < 5; ++i) cells.push_back(&grid.cell(i));
  for (PuzzleInfo* c : cells) {
    c->active = 1;
    for (PuzzleInfo* other : cells)
      if (other != c) c->neighbours.push_back(other);
  }
  cells[1]->active = 0;
  grid.remove_inactive();
  ASSERT_EQ(grid.size(), 4u);
  EXPECT_EQ(&grid.cell(1), cells[4]);  // the last cell took the place
  EXPECT_EQ(grid.landscape_count(), 4u);
  for (std::size_t i = 0; i < grid.size(); ++i) {
    const auto& list = grid.cell(i).neighbours;
    EXPECT_EQ(list.size(), 3u);
    EXPECT_EQ(std::count(list.begin(), list.end(), cells[1]), 0);
  }
}

// --- mask layouts -----------------------------------------------------------

/// A 40 × 30 mask on white: a red block, a green block touching it, and a
/// blue U whose arms only meet in its bottom bar; a black bar splits a
/// second green patch from the first.
Foto three_colour_mask() {
  Foto mask = filled(40, 30, kWhitePixel);
  paint(mask, 0, 0, 10, 10, kRed);
  paint(mask, 10, 0, 10, 10, kGreen);
  paint(mask, 20, 0, 3, 20, kBlue);   // left arm
  paint(mask, 30, 0, 3, 20, kBlue);   // right arm
  paint(mask, 20, 20, 13, 3, kBlue);  // bottom bar
  paint(mask, 0, 12, 10, 2, make_pixel(0, 0, 0));
  paint(mask, 0, 14, 10, 10, kGreen);
  mask.at(38, 28) = kRed;  // a speck too small for a cell
  return mask;
}

TEST(MaskLayout, ColouredPatchesBecomeRegionsInScanOrder) {
  const Foto mask = three_colour_mask();
  std::vector<MaskRegion> regions;
  ASSERT_TRUE(find_mask_regions(mask, regions));
  ASSERT_EQ(regions.size(), 4u);
  // red, green, the U (first pixel at x 20), the second green patch
  EXPECT_EQ(regions[0].left, 0);
  EXPECT_EQ(regions[0].width, 10);
  EXPECT_EQ(regions[0].height, 10);
  EXPECT_TRUE(regions[0].shape.empty());
  EXPECT_EQ(regions[1].left, 10);
  EXPECT_EQ(regions[1].pixel_count, 100);

  const MaskRegion& u = regions[2];
  EXPECT_EQ(u.left, 20);
  EXPECT_EQ(u.top, 0);
  EXPECT_EQ(u.width, 13);
  EXPECT_EQ(u.height, 23);
  EXPECT_EQ(u.pixel_count, 2 * 3 * 20 + 13 * 3);
  ASSERT_FALSE(u.shape.empty());
  EXPECT_EQ(pixel_transparency(u.shape.at(0, 0)), 0u);
  EXPECT_EQ(u.shape.at(5, 5), kEmptyPixel);  // between the arms
  EXPECT_EQ(pixel_transparency(u.shape.at(11, 5)), 0u);
  EXPECT_EQ(pixel_transparency(u.shape.at(6, 21)), 0u);

  // The black bar keeps the two green patches apart.
  EXPECT_EQ(regions[3].top, 14);
  EXPECT_EQ(regions[3].height, 10);
}

TEST(MaskLayout, NearColoursJoinAndNearWhiteOrBlackBelongsToNoCell) {
  EXPECT_EQ(squared_colour_distance(make_pixel(10, 20, 30), make_pixel(13, 24, 30)), 25);
  EXPECT_TRUE(is_mask_background(make_pixel(250, 250, 250)));
  EXPECT_TRUE(is_mask_background(make_pixel(8, 8, 8)));
  EXPECT_FALSE(is_mask_background(make_pixel(8, 8, 9 + 8)));
  EXPECT_TRUE(is_mask_background(kEmptyPixel));

  Foto mask = filled(20, 10, make_pixel(250, 252, 251));
  paint(mask, 0, 0, 10, 10, make_pixel(100, 0, 0));
  paint(mask, 10, 0, 10, 10, make_pixel(110, 5, 0));  // 100 + 25 < 193: same patch
  std::vector<MaskRegion> regions;
  ASSERT_TRUE(find_mask_regions(mask, regions));
  ASSERT_EQ(regions.size(), 1u);
  EXPECT_EQ(regions[0].width, 20);

  paint(mask, 10, 0, 10, 10, make_pixel(114, 0, 0));  // 196: a patch of its own
  ASSERT_TRUE(find_mask_regions(mask, regions));
  EXPECT_EQ(regions.size(), 2u);

  // All white: no cells.
  ASSERT_TRUE(find_mask_regions(filled(20, 10, kWhitePixel), regions));
  EXPECT_TRUE(regions.empty());
}

TEST(MaskLayout, PatchesWhoseLabelsMeetLateAreOneRegion) {
  // A comb: five teeth joined only by the last row, so each tooth starts a
  // label of its own and the unions happen at the very end.
  Foto mask = filled(21, 12, kWhitePixel);
  for (int t = 0; t < 5; ++t) paint(mask, 4 * t + 1, 0, 2, 11, kRed);
  paint(mask, 1, 11, 18, 1, kRed);
  std::vector<MaskRegion> regions;
  ASSERT_TRUE(find_mask_regions(mask, regions));
  ASSERT_EQ(regions.size(), 1u);
  EXPECT_EQ(regions[0].left, 1);
  EXPECT_EQ(regions[0].width, 18);
  EXPECT_EQ(regions[0].height, 12);
  EXPECT_EQ(regions[0].pixel_count, 5 * 2 * 11 + 18);
}

TEST(MaskLayout, ThinFringesJoinTheNeighbourNearestInColour) {
  // A JPEG leaves a line of in-between colour where two patches meet: one
  // pixel wide, it is no cell; each of its pixels joins the nearer colour.
  Foto mask = filled(21, 10, kWhitePixel);
  paint(mask, 0, 0, 10, 10, make_pixel(200, 0, 0));
  paint(mask, 11, 0, 10, 10, make_pixel(0, 200, 0));
  paint(mask, 10, 0, 1, 6, make_pixel(185, 15, 0));  // nearer the red
  paint(mask, 10, 6, 1, 4, make_pixel(15, 185, 0));  // nearer the green
  std::vector<MaskRegion> regions;
  ASSERT_TRUE(find_mask_regions(mask, regions));
  ASSERT_EQ(regions.size(), 2u);
  EXPECT_EQ(regions[0].width, 11);
  EXPECT_EQ(regions[0].pixel_count, 106);
  EXPECT_EQ(regions[1].left, 10);
  EXPECT_EQ(regions[1].pixel_count, 104);
  // Neither fills its rectangle now: the shapes say which fringe pixels each took.
  ASSERT_FALSE(regions[0].shape.empty());
  EXPECT_EQ(pixel_transparency(regions[0].shape.at(10, 5)), 0u);
  EXPECT_EQ(regions[0].shape.at(10, 6), kEmptyPixel);
  ASSERT_FALSE(regions[1].shape.empty());
  EXPECT_EQ(regions[1].shape.at(0, 5), kEmptyPixel);
  EXPECT_EQ(pixel_transparency(regions[1].shape.at(0, 6)), 0u);
}

TEST(MaskLayout, BuildingFromAMaskGivesShapedCellsAtThePixelScale) {
  ScriptedPrompt prompt;
  MosaicBuilder builder(prompt);
  ASSERT_TRUE(build_cells_from_mask(builder, three_colour_mask(), 2));
  const PuzzleGrid& grid = builder.grid;
  ASSERT_EQ(grid.size(), 4u);
  EXPECT_TRUE(grid.mask_layout());
  EXPECT_EQ(grid.pixel_width(), 80);
  EXPECT_EQ(grid.pixel_height(), 60);
  const PuzzleInfo& u = grid.cell(2);
  EXPECT_EQ(u.left, 40);
  EXPECT_EQ(u.width, 26);
  EXPECT_EQ(u.height, 46);
  ASSERT_EQ(u.shape.width(), 26);
  ASSERT_EQ(u.shape.height(), 46);
  EXPECT_EQ(u.shape.at(11, 11), kEmptyPixel);
  EXPECT_EQ(pixel_transparency(u.shape.at(5, 11)), 0u);
  EXPECT_FALSE(grid.cell(0).has_shape());

  EXPECT_FALSE(build_cells_from_mask(builder, filled(10, 10, kWhitePixel), 1));
  EXPECT_TRUE(builder.grid.empty());
}

// --- analysis ---------------------------------------------------------------

TEST(CellAnalysis, ScaleRuleCoversOrFitsThePicture) {
  EXPECT_DOUBLE_EQ(analysis_scale(200, 100, 400, 300, false), 0.5);
  EXPECT_DOUBLE_EQ(analysis_scale(200, 100, 400, 300, true), 100.0 / 300);
  EXPECT_DOUBLE_EQ(analysis_scale(0, 100, 400, 300, true), 0.0);
}

TEST(CellAnalysis, AUniformPictureGivesItsColourToEveryCell) {
  ScriptedPrompt prompt;
  MosaicBuilder builder(prompt);
  ASSERT_TRUE(build_cells_from_pattern(builder, landscape(400, 300, 40, 30)));
  const std::uint32_t colour = make_pixel(51, 102, 153);
  ASSERT_TRUE(analyse_cells(builder, filled(200, 150, colour), false, false));
  EXPECT_EQ(builder.status(), "Analyzing Main Image...");
  ASSERT_EQ(builder.grid.size(), 100u);
  for (const auto& cell : builder.grid.cells()) {
    EXPECT_EQ(cell->active, 1);
    EXPECT_EQ(cell->analysed, 1);
    EXPECT_TRUE(near_colour(cell->signature.overall(), colour));
    EXPECT_TRUE(near_colour(cell->signature.fine(0, 0), colour));
  }
  EXPECT_EQ(builder.grid.used_width, 400);
  EXPECT_EQ(builder.progress().done(kStageMainImageAnalysis), 100);
}

TEST(CellAnalysis, CellsBeyondAWiderPictureAreDroppedUnlessTheMosaicAdapts) {
  ScriptedPrompt prompt;
  MosaicBuilder builder(prompt);
  const Foto image = filled(200, 100, make_pixel(10, 200, 10));
  ASSERT_TRUE(build_cells_from_pattern(builder, landscape(400, 300, 40, 30)));
  // The grid covers the picture: only rows whose top is above 200 reach it.
  ASSERT_TRUE(analyse_cells(builder, image, false, false));
  EXPECT_EQ(builder.grid.size(), 70u);
  for (const auto& cell : builder.grid.cells()) EXPECT_LT(cell->top, 200);
  EXPECT_EQ(builder.grid.used_height, 200);

  ASSERT_TRUE(build_cells_from_pattern(builder, landscape(400, 300, 40, 30)));
  ASSERT_TRUE(analyse_cells(builder, image, true, false));
  EXPECT_EQ(builder.grid.size(), 100u);
}

TEST(CellAnalysis, ShapedCellsSeeOnlyTheirOwnPixels) {
  ScriptedPrompt prompt;
  MosaicBuilder builder(prompt);
  ASSERT_TRUE(build_cells_from_mask(builder, three_colour_mask(), 1));
  // The picture is the mask's size: blue inside the U's arms, yellow between them.
  Foto image = filled(40, 30, make_pixel(20, 40, 220));
  paint(image, 23, 0, 7, 20, make_pixel(250, 240, 0));
  ASSERT_TRUE(analyse_cells(builder, image, false, false));
  ASSERT_EQ(builder.grid.size(), 4u);
  const PuzzleInfo& u = builder.grid.cell(2);
  ASSERT_TRUE(u.has_shape());
  EXPECT_TRUE(near_rgb(u.signature.overall(), make_pixel(20, 40, 220)))
      << std::hex << u.signature.overall();
}

TEST(CellAnalysis, CellsThatCannotBeAnalysedAreRemovedAndAnEmptyGridFails) {
  ScriptedPrompt prompt;
  MosaicBuilder builder(prompt);
  ASSERT_TRUE(build_cells_from_pattern(builder, landscape(100, 30, 50, 30)));
  Foto image = filled(100, 30, make_pixel(1, 2, 3));
  paint(image, 50, 0, 50, 30, kEmptyPixel);  // the right cell sees only empty pixels
  ASSERT_TRUE(analyse_cells(builder, image, false, false));
  ASSERT_EQ(builder.grid.size(), 1u);
  EXPECT_EQ(builder.grid.cell(0).left, 0);

  ASSERT_TRUE(build_cells_from_pattern(builder, landscape(100, 30, 50, 30)));
  EXPECT_FALSE(analyse_cells(builder, filled(100, 30, kEmptyPixel), false, false));
  EXPECT_TRUE(builder.grid.empty());
}

TEST(CellAnalysis, ReanalysisSkipsAnalysedCellsAndFillsNewHalves) {
  ScriptedPrompt prompt;
  MosaicBuilder builder(prompt);
  ASSERT_TRUE(build_cells_from_pattern(builder, landscape(200, 60, 100, 60)));
  const Foto first = filled(200, 60, make_pixel(200, 0, 0));
  ASSERT_TRUE(analyse_cells(builder, first, false, false));
  PuzzleInfo* half = split_cell(builder, builder.grid.cell(0), 2);
  ASSERT_NE(half, nullptr);
  EXPECT_EQ(half->priority, 15);  // the option's factory value, LOWER

  const Foto second = filled(200, 60, make_pixel(0, 0, 200));
  ASSERT_TRUE(analyse_cells(builder, second, false, true));
  ASSERT_EQ(builder.grid.size(), 3u);
  EXPECT_TRUE(near_rgb(builder.grid.cell(0).signature.overall(), make_pixel(200, 0, 0)));
  EXPECT_TRUE(near_rgb(half->signature.overall(), make_pixel(0, 0, 200)));
  EXPECT_EQ(half->active, 1);
}

TEST(CellAnalysis, ThreadsChangeNothingAndAStopFails) {
  Foto image;
  ASSERT_TRUE(image.try_allocate(300, 200));
  for (int y = 0; y < 200; ++y)
    for (int x = 0; x < 300; ++x) image.at(x, y) = make_pixel(x % 256, y, (x * y) % 256);

  ScriptedPrompt prompt;
  MosaicBuilder one(prompt), many(prompt);
  const PatternInput in = landscape(600, 400, 24, 18);
  ASSERT_TRUE(build_cells_from_pattern(one, in));
  ASSERT_TRUE(build_cells_from_pattern(many, in));
  ASSERT_TRUE(analyse_cells(one, image, false, false, 1));
  ASSERT_TRUE(analyse_cells(many, image, false, false, 4));
  ASSERT_EQ(one.grid.size(), many.grid.size());
  for (std::size_t i = 0; i < one.grid.size(); ++i)
    ASSERT_EQ(one.grid.cell(i).signature.samples, many.grid.cell(i).signature.samples) << i;

  many.request_stop();
  ASSERT_TRUE(build_cells_from_pattern(one, in));
  one.request_stop();
  EXPECT_FALSE(analyse_cells(one, image, false, false, 3));
}

// --- neighbours -------------------------------------------------------------

TEST(CellAnalysis, NeighbourListsHoldTheCellsWithinTheSpacing) {
  PuzzleGrid grid;
  grid.reset(50, 50, 1.0, 0, false);
  for (int r = 0; r < 5; ++r)
    for (int c = 0; c < 5; ++c) ASSERT_TRUE(grid.add_cell({c * 10, r * 10, 10, 10}));
  fill_neighbour_lists(grid, 2, 10, 10);
  // Radius 20, exclusive: the centre cell has its eight surrounding cells.
  const PuzzleInfo& centre = grid.cell(12);
  ASSERT_EQ(centre.neighbours.size(), 8u);
  std::set<const PuzzleInfo*> expected;
  for (int r = 1; r <= 3; ++r)
    for (int c = 1; c <= 3; ++c)
      if (r != 2 || c != 2) expected.insert(&grid.cell(static_cast<std::size_t>(r * 5 + c)));
  EXPECT_EQ(std::set<const PuzzleInfo*>(centre.neighbours.begin(), centre.neighbours.end()), expected);
  EXPECT_EQ(grid.cell(0).neighbours.size(), 3u);

  // Tall tiles: the search reaches as far as the distance does, not only one
  // tile width across.
  PuzzleGrid tall;
  tall.reset(100, 100, 1.0, 0, false);
  for (int c = 0; c < 10; ++c) ASSERT_TRUE(tall.add_cell({c * 10, 0, 10, 90}));
  fill_neighbour_lists(tall, 1, 10, 90);  // radius 30
  EXPECT_EQ(tall.cell(0).neighbours.size(), 2u);
  EXPECT_EQ(tall.cell(5).neighbours.size(), 4u);
}

TEST(CellAnalysis, NeighbourStepRunsOnlyWithConsecutiveFramesAndASpacingAboveOne) {
  ScriptedPrompt prompt;
  MosaicBuilder builder(prompt);
  ASSERT_TRUE(build_cells_from_pattern(builder, landscape(120, 90, 40, 30)));
  builder.parameters.duplicate_spacing = 2;
  builder.parameters.consecutive_frames = 0;
  compute_neighbour_lists(builder, 40, 30);
  EXPECT_TRUE(builder.grid.cell(4).neighbours.empty());

  builder.parameters.consecutive_frames = 3;
  compute_neighbour_lists(builder, 40, 30);
  EXPECT_EQ(builder.status(), "Calculating Tile Distance...");
  EXPECT_EQ(builder.progress().current_stage(), kStageTileDistance);
  EXPECT_EQ(builder.grid.cell(4).neighbours.size(), 8u);

  // Mask layouts measure between corners against the average cell.
  ASSERT_TRUE(build_cells_from_mask(builder, three_colour_mask(), 1));
  compute_neighbour_lists(builder, 0, 0);  // radius 2 × √(1200 / 4) ≈ 34.6
  const PuzzleInfo& red = builder.grid.cell(0);
  EXPECT_EQ(red.neighbours.size(), 3u);  // green (10), the U (20), the lower green (14)
}

}  // namespace
}  // namespace tess
