#include "engine/tile_priority.hpp"

#include <gtest/gtest.h>

#include <png.h>

#include <string>
#include <vector>

#include "base/scripted_prompt.hpp"
#include "engine/mosaic_builder.hpp"
#include "settings/advanced_options.hpp"
#include "support/test_support.hpp"
#include "tilelist/tile_image_list.hpp"

namespace tess {
namespace {

constexpr std::uint32_t kBlack = make_pixel(0, 0, 0);
constexpr std::uint32_t kWhite = make_pixel(255, 255, 255);

/// A builder over a grid of `columns` × `rows` equal cells.
struct Mosaic {
  ScriptedPrompt prompt;
  MosaicBuilder builder{prompt};
  TileUseState uses;

  /// An empty `area` leaves the option unset, as in a record never initialised.
  Mosaic(int width, int height, int columns, int rows, const char* area = "") {
    builder.grid.reset(width, height, 1.0, 0, false);
    for (int r = 0; r < rows; ++r)
      for (int c = 0; c < columns; ++c) {
        const std::int64_t x = std::int64_t{width} * c / columns;
        const std::int64_t y = std::int64_t{height} * r / rows;
        EXPECT_TRUE(builder.grid.add_cell(
            {x, y, std::int64_t{width} * (c + 1) / columns - x, std::int64_t{height} * (r + 1) / rows - y}));
        builder.grid.cell(builder.grid.size() - 1).active = 1;
      }
    builder.parameters.advanced.set_value(kOptTilePriorityArea, area);
  }
  PuzzleInfo& at(int index) { return builder.grid.cell(static_cast<std::size_t>(index)); }
  std::vector<int> priorities() const {
    std::vector<int> out;
    for (const auto& cell : builder.grid.cells()) out.push_back(cell->priority);
    return out;
  }
};

/// Writes an RGB PNG with libpng itself, not through the program's loaders.
bool write_png(const std::filesystem::path& path, int width, int height, const std::vector<std::uint32_t>& pixels) {
  std::vector<png_byte> rgb;
  for (std::uint32_t p : pixels) {
    rgb.push_back(static_cast<png_byte>(pixel_red(p)));
    rgb.push_back(static_cast<png_byte>(pixel_green(p)));
    rgb.push_back(static_cast<png_byte>(pixel_blue(p)));
  }
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(width);
  image.height = static_cast<png_uint_32>(height);
  image.format = PNG_FORMAT_RGB;
  return png_image_write_to_file(&image, path.c_str(), 0, rgb.data(), 0, nullptr) != 0;
}

PuzzleInfo cell_at(int left, int top, int width, int height) {
  PuzzleInfo cell;
  cell.left = left;
  cell.top = top;
  cell.width = width;
  cell.height = height;
  return cell;
}

// --- geometric areas --------------------------------------------------------

TEST(TilePriority, CentreWideRaisesTheCentreAndLowersTheBorder) {
  Mosaic m(300, 300, 3, 3);  // the option's factory default
  ASSERT_TRUE(compute_priorities(m.builder, true, m.uses));
  // Centre 28, every border cell (the middle of each edge included) 12.
  EXPECT_EQ(m.priorities(), (std::vector<int>{12, 12, 12, 12, 28, 12, 12, 12, 12}));
}

TEST(TilePriority, EachAreaAtTheCentreAnInteriorCellAndTheBorder) {
  // 500 × 500 in 100-pixel cells: the centre cell (r = 0), an interior cell
  // whose centre is 0.4 from the centre, and the middle of the left edge.
  const PuzzleInfo centre = cell_at(200, 200, 100, 100);
  const PuzzleInfo inner = cell_at(100, 200, 100, 100);
  const PuzzleInfo edge = cell_at(0, 200, 100, 100);
  struct Expected {
    PriorityArea area;
    int centre, inner, edge;
  };
  for (const Expected& e : {Expected{PriorityArea::center_wide, 28, 20, 12},
                            Expected{PriorityArea::center_strong, 28, 20, 18},
                            Expected{PriorityArea::center_small, 30, 26, 8},
                            Expected{PriorityArea::edge, 20, 24, 28}, Expected{PriorityArea::average, 20, 20, 20}}) {
    SCOPED_TRACE(static_cast<int>(e.area));
    EXPECT_EQ(area_priority(e.area, centre, 500, 500), e.centre);
    EXPECT_EQ(area_priority(e.area, inner, 500, 500), e.inner);
    EXPECT_EQ(area_priority(e.area, edge, 500, 500), e.edge);
  }
  // Beyond the middle of an edge the distance stays 1: a corner is no lower.
  EXPECT_DOUBLE_EQ(radial_distance(cell_at(0, 0, 100, 100), 500, 500), 1.0);
  EXPECT_EQ(area_priority(PriorityArea::center_small, cell_at(0, 0, 100, 100), 500, 500), 6);
  EXPECT_EQ(area_priority(PriorityArea::edge, cell_at(0, 0, 100, 100), 500, 500), 30);
}

TEST(TilePriority, EveryCellLosesItsTileAndOnlyTheFirstCallSetsPriorities) {
  TileImageList list;
  FotoInfo tile("/t/a.jpg");
  ASSERT_TRUE(list.insert(tile));
  Mosaic m(300, 300, 3, 3, "EDGE");
  m.builder.tile_list = &list;
  for (const auto& cell : m.builder.grid.cells()) {
    cell->tile = list.find("/t/a.jpg");
    cell->score = 5;
    cell->fixed = 1;
    cell->priority = 77;
  }
  m.uses.reset(&list, 0);
  m.uses[0].use_count = 9;

  ASSERT_TRUE(compute_priorities(m.builder, false, m.uses));
  EXPECT_EQ(m.priorities(), std::vector<int>(9, 77));  // a split keeps the priorities it has
  for (const auto& cell : m.builder.grid.cells()) {
    EXPECT_EQ(cell->tile, nullptr);
    EXPECT_EQ(cell->score, kNoTileScore);
    EXPECT_EQ(cell->fixed, 0);
  }
  ASSERT_EQ(m.uses.size(), 1u);
  EXPECT_EQ(m.uses[0].use_count, 0u);
  EXPECT_EQ(m.builder.status(), "Initializing Mosaic...");

  ASSERT_TRUE(compute_priorities(m.builder, true, m.uses));
  EXPECT_EQ(m.at(4).priority, 20);
  EXPECT_EQ(m.at(0).priority, 29);  // r = 0.94 at a corner of three by three
}

TEST(TilePriority, AStopRequestFailsTheStep) {
  Mosaic m(300, 300, 3, 3);
  m.builder.request_stop();
  EXPECT_FALSE(compute_priorities(m.builder, true, m.uses));
}

// --- the priority map ---------------------------------------------------------

TEST(TilePriorityMap, GrayLevelsGiveTheirPriorities) {
  EXPECT_EQ(gray_priority(0), 240);
  EXPECT_EQ(gray_priority(128), 20);
  EXPECT_EQ(gray_priority(255), 1);
  EXPECT_EQ(pixel_gray(make_pixel(255, 0, 0)), 77);   // 76.5 rounds up
  EXPECT_EQ(pixel_gray(make_pixel(0, 0, 100)), 11);
  EXPECT_EQ(pixel_gray(make_pixel(1, 1, 1)), 1);
}

TEST(TilePriorityMap, AnAllBlackMapGivesEveryCell240) {
  testing::TempDir dir;
  ASSERT_TRUE(write_png(dir / "black.png", 40, 30, std::vector<std::uint32_t>(40 * 30, kBlack)));
  Mosaic m(400, 300, 4, 3, "CUSTOM_PRIORITY");
  ASSERT_TRUE(compute_priorities(m.builder, true, m.uses, (dir / "black.png").string()));
  EXPECT_EQ(m.priorities(), std::vector<int>(12, 240));
  EXPECT_TRUE(m.prompt.calls().empty());  // a given map needs no dialog
}

TEST(TilePriorityMap, CornersOfEachCellAreAveragedOverAStretchedMap) {
  // Eight pixels across a mosaic of four cells: black, then white from pixel
  // 4 on. Each cell reads its left and right corners, so the second cell sees
  // two black and two white corners, and the last one clamps to the last pixel.
  testing::TempDir dir;
  std::vector<std::uint32_t> pixels = {kBlack, kBlack, kBlack, kBlack, kWhite, kWhite, kWhite, kWhite};
  const auto map = dir / "half.png";
  ASSERT_TRUE(write_png(map, 8, 1, pixels));
  Mosaic m(400, 100, 4, 1, "CUSTOM_PRIORITY");
  m.prompt.plan_files({map.string()});
  ASSERT_TRUE(compute_priorities(m.builder, true, m.uses));
  EXPECT_EQ(m.priorities(), (std::vector<int>{240, 21, 1, 1}));
  ASSERT_EQ(m.prompt.calls().size(), 1u);
  EXPECT_EQ(m.prompt.calls()[0].kind, ScriptedPrompt::Kind::choose_files);
  EXPECT_EQ(m.prompt.calls()[0].text.rfind("Please select an Image (JPG/PNG file) to use as the priority map", 0), 0u);

  // The call after a split asks for nothing and keeps the map's priorities.
  m.prompt.clear();
  ASSERT_TRUE(compute_priorities(m.builder, false, m.uses));
  EXPECT_TRUE(m.prompt.calls().empty());
  EXPECT_EQ(m.priorities(), (std::vector<int>{240, 21, 1, 1}));
}

TEST(TilePriorityMap, ACancelledOrUnreadableMapStopsTheRun) {
  Mosaic cancelled(400, 300, 4, 3, "CUSTOM_PRIORITY");
  cancelled.at(0).tile = nullptr;
  cancelled.at(0).score = 3;
  EXPECT_FALSE(compute_priorities(cancelled.builder, true, cancelled.uses));
  EXPECT_EQ(cancelled.at(0).score, 3u);  // nothing was reset

  testing::TempDir dir;
  ASSERT_TRUE(testing::write_file(dir / "broken.png", "not a picture at all"));
  Mosaic broken(400, 300, 4, 3, "CUSTOM_PRIORITY");
  EXPECT_FALSE(compute_priorities(broken.builder, true, broken.uses, (dir / "broken.png").string()));
  EXPECT_FALSE(broken.prompt.messages().empty());  // the loader said why
}

// --- per-tile limits ----------------------------------------------------------

TEST(TileUseLimit, MaxMarksInPaths) {
  EXPECT_EQ(tile_use_limit("/p/MAX[2]/a.jpg"), 2u);
  EXPECT_EQ(tile_use_limit("/p/sunset max[3].jpg"), 3u);
  EXPECT_EQ(tile_use_limit("/p/MAX[0].jpg"), 0u);
  EXPECT_EQ(tile_use_limit("/p/MAX[x]MAX[7].jpg"), 7u);  // the first well-formed mark counts
  EXPECT_EQ(tile_use_limit("/p/MAX[99999999999].jpg"), 0u);  // too large: unlimited, not wrapped
  EXPECT_EQ(tile_use_limit("/p/MAX[].jpg"), std::nullopt);
  EXPECT_EQ(tile_use_limit("/p/MAX[12"), std::nullopt);
  EXPECT_EQ(tile_use_limit("/p/plain.jpg"), std::nullopt);
}

TEST(TileUseState, LimitsComeFromTheMarkElseFromTheRun) {
  TileImageList list;
  ASSERT_TRUE(list.insert(FotoInfo("/t/a.jpg")));
  ASSERT_TRUE(list.insert(FotoInfo("/t/b MAX[2].jpg")));
  ASSERT_TRUE(list.insert(FotoInfo("/t/c MAX[0].jpg")));
  TileUseState uses;
  uses.reset(&list, 1);
  ASSERT_EQ(uses.size(), 3u);
  EXPECT_EQ(uses[0].max_uses, 1u);
  EXPECT_EQ(uses[1].max_uses, 2u);
  EXPECT_EQ(uses[2].max_uses, kUnlimitedUses);
  EXPECT_TRUE(uses.any_own_limit());
  EXPECT_EQ(uses.index_of(list.find("/t/b MAX[2].jpg")), 1u);
  EXPECT_EQ(uses.tiles()[2], list.find("/t/c MAX[0].jpg"));

  uses.reset(&list, 0);
  EXPECT_EQ(uses[0].max_uses, kUnlimitedUses);

  PuzzleGrid grid;
  grid.reset(100, 100, 1.0, 0, false);
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(grid.add_cell({i * 10, 0, 10, 10}));
  grid.cell(0).tile = list.find("/t/a.jpg");
  grid.cell(2).tile = list.find("/t/a.jpg");
  uses.count_uses(grid);
  EXPECT_EQ(uses[0].use_count, 2u);
  EXPECT_EQ(uses[1].use_count, 0u);
}

}  // namespace
}  // namespace tess
