#include "output/side_images.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <set>
#include <string>

#include "base/scripted_prompt.hpp"
#include "engine/puzzle.hpp"
#include "images/foto.hpp"
#include "output/mosaic_saver.hpp"
#include "support/test_support.hpp"

namespace tess {
namespace {

namespace fs = std::filesystem;
using testing::read_file;
using testing::TempDir;

std::uint32_t rgb(std::uint32_t pixel) { return pixel & 0xFFFFFFu; }

TEST(IndividualTiles, NamesCarrySevenDigitCoordinatesAndTheFormatsExtension) {
  EXPECT_EQ(individual_tile_path("out/M Tile Images", 1234, 56, "beach, 2019", OutputFormatCode::jpg),
            "out/M Tile Images/Tile_x0001234_y0000056__beach, 2019.jpg");
  EXPECT_EQ(individual_tile_path("f", 12'345'678, 0, "a", OutputFormatCode::bmp), "f/Tile_x12345678_y0000000__a.bmp");
  for (OutputFormatCode psd : {OutputFormatCode::tiff, OutputFormatCode::ppm, OutputFormatCode::raw,
                               OutputFormatCode::psd, OutputFormatCode::psb, OutputFormatCode::tiff_jpg})
    EXPECT_EQ(individual_tile_extension(psd), ".psd") << format_number(psd);
  EXPECT_EQ(individual_tile_extension(OutputFormatCode::web), ".jpg");
  for (OutputFormatCode video :
       {OutputFormatCode::avi_uncompressed, OutputFormatCode::avi_compressed, OutputFormatCode::video_jpg})
    EXPECT_EQ(individual_tile_extension(video), "") << format_number(video);
}

TEST(IndividualTiles, WrittenWithTheWriterOfTheFormatAndNoneForVideo) {
  TempDir dir;
  Foto tile;
  ASSERT_TRUE(tile.try_allocate_fill(7, 5, make_pixel(10, 20, 30)));
  OutputOptions options;
  options.format = OutputFormatCode::raw;
  ASSERT_TRUE(save_individual_tile(tile, dir.path().string(), 3, 4, "t", options, 300));
  const std::string psd = read_file(dir.path() / "Tile_x0000003_y0000004__t.psd");
  EXPECT_EQ(psd.substr(0, 4), "8BPS");
  options.format = OutputFormatCode::bmp;
  ASSERT_TRUE(save_individual_tile(tile, dir.path().string(), 3, 4, "t", options, 300));
  EXPECT_EQ(read_file(dir.path() / "Tile_x0000003_y0000004__t.bmp").substr(0, 2), "BM");
  options.format = OutputFormatCode::jpg;
  ASSERT_TRUE(save_individual_tile(tile, dir.path().string(), 3, 4, "t", options, 300));
  Foto back;
  ScriptedPrompt silent;
  ASSERT_TRUE(back.load(dir.path() / "Tile_x0000003_y0000004__t.jpg", 0, 0));
  EXPECT_EQ(back.width(), 7);
  EXPECT_EQ(back.height(), 5);
  options.format = OutputFormatCode::avi_compressed;
  EXPECT_FALSE(save_individual_tile(tile, dir.path().string(), 3, 4, "t", options, 300));
  // A folder that is not there fails quietly: the caller stops at the first.
  options.format = OutputFormatCode::jpg;
  EXPECT_FALSE(save_individual_tile(tile, (dir.path() / "gone").string(), 3, 4, "t", options, 300));
}

TEST(MaskColours, StepFollowsTheTileCountAndNeverDropsBelow193) {
  EXPECT_EQ(mask_colour_step(100), 83'790u);
  EXPECT_EQ(mask_colour_step(0), 0xFFB4FFu / 100);
  EXPECT_EQ(mask_colour_step(86'000), 194u);  // 194.6
  EXPECT_EQ(mask_colour_step(86'900), 193u);  // 192.6, held at 193
  EXPECT_EQ(mask_colour_step(10'000'000), 193u);
}

TEST(MaskColours, WalkSkipsNearWhiteAndNearBlack) {
  // Every colour of a long walk is a real colour, and consecutive tiles differ.
  const std::uint32_t step = mask_colour_step(100'000);
  std::uint32_t colour = kMaskColourStart;
  std::set<std::uint32_t> seen;
  for (int i = 0; i < 90'000; ++i) {
    const std::uint32_t next = next_mask_colour(colour, step);
    EXPECT_NE(next, colour);
    int from_white = 0, from_black = 0;
    for (int shift = 0; shift < 24; shift += 8) {
      const int c = static_cast<int>((next >> shift) & 0xFF);
      from_white += (c - 255) * (c - 255);
      from_black += c * c;
    }
    ASSERT_GE(from_white, 193) << std::hex << next;
    ASSERT_GE(from_black, 193) << std::hex << next;
    seen.insert(next);
    colour = next;
  }
  EXPECT_EQ(seen.size(), 90'000u);
  // The first colour of a 100-tile grid: one plain step down.
  EXPECT_EQ(next_mask_colour(kMaskColourStart, 83'790), kMaskColourStart - 83'790);
}

class MaskImages : public ::testing::Test {
 protected:
  // Four 10 × 8 cells in a 2 × 2 grid one pixel apart, plus an inactive one.
  void SetUp() override {
    grid.reset(21, 17, 1.0, 1, false);
    const std::uint32_t scores[] = {100, 400, 250, 100};
    for (int i = 0; i < 4; ++i) {
      ASSERT_TRUE(grid.add_cell(CellRect{11 * (i % 2), 9 * (i / 2), 10, 8}));
      PuzzleInfo& cell = grid.cell(grid.size() - 1);
      cell.active = 1;
      cell.score = scores[i];
    }
  }
  PuzzleGrid grid;
};

TEST_F(MaskImages, EveryTileInItsOwnColourAveragedWithWhite) {
  Foto mask;
  ASSERT_TRUE(make_mask_image(grid, mask));
  EXPECT_EQ(mask.width(), 21);
  EXPECT_EQ(mask.height(), 17);
  const std::uint32_t step = mask_colour_step(4);
  std::uint32_t colour = kMaskColourStart;
  for (std::size_t i = 0; i < grid.size(); ++i) {
    colour = next_mask_colour(colour, step);
    const std::uint32_t expected = make_pixel(((colour & 0xFF) + 255) / 2, (((colour >> 8) & 0xFF) + 255) / 2,
                                              (((colour >> 16) & 0xFF) + 255) / 2);
    const PuzzleInfo& cell = grid.cell(i);
    EXPECT_EQ(rgb(mask.at(cell.left, cell.top)), rgb(expected)) << i;
    EXPECT_EQ(rgb(mask.at(cell.left + 9, cell.top + 7)), rgb(expected)) << i;
  }
  EXPECT_EQ(rgb(mask.at(10, 0)), 0xFFFFFFu);  // the gap stays white
  EXPECT_EQ(rgb(mask.at(15, 8)), 0xFFFFFFu);
}

TEST_F(MaskImages, ShapedCellsAreDrawnInsideTheirShapeOnly) {
  PuzzleInfo& cell = grid.cell(0);
  ASSERT_TRUE(cell.shape.try_allocate_fill(cell.width, cell.height, kEmptyPixel));
  for (int y = 0; y < cell.height; ++y) cell.shape.at(0, y) = make_pixel(0, 0, 0);
  Foto mask;
  ASSERT_TRUE(make_mask_image(grid, mask));
  EXPECT_NE(rgb(mask.at(0, 3)), 0xFFFFFFu);
  EXPECT_EQ(rgb(mask.at(1, 3)), 0xFFFFFFu);
  Foto score;
  ASSERT_TRUE(make_score_image(grid, score));
  EXPECT_EQ(rgb(score.at(0, 3)), 0xF9F9F9u);
  EXPECT_EQ(rgb(score.at(1, 3)), 0u);
}

TEST_F(MaskImages, ScoreGreysRunFromLightForTheBestToDarkForTheWorst) {
  Foto score;
  ASSERT_TRUE(make_score_image(grid, score));
  const auto grey = [](int g) { return static_cast<std::uint32_t>(g) * 0x010101u; };
  EXPECT_EQ(rgb(score.at(0, 0)), grey(249));                  // 100: the best
  EXPECT_EQ(rgb(score.at(11, 0)), grey(6));                   // 400: the worst
  EXPECT_EQ(rgb(score.at(0, 9)), grey(249 - 150 * 243 / 300));  // 250: truncated
  EXPECT_EQ(rgb(score.at(10, 0)), 0u);                        // gaps stay black

  // All alike: the range is the whole 32 bits, so every tile is the lightest.
  for (std::size_t i = 0; i < grid.size(); ++i) grid.cell(i).score = 1000;
  ASSERT_TRUE(make_score_image(grid, score));
  EXPECT_EQ(rgb(score.at(11, 9)), grey(249));
}

TEST_F(MaskImages, InactiveCellsNeitherCountNorDraw) {
  grid.cell(3).active = 0;
  const TileExtent extent = tile_extent(grid);
  EXPECT_EQ(extent.width, 21);
  EXPECT_EQ(extent.height, 17);
  grid.cell(1).active = 0;
  const TileExtent smaller = tile_extent(grid);
  EXPECT_EQ(smaller.width, 10);
  EXPECT_EQ(smaller.height, 17);
  Foto mask;
  ASSERT_TRUE(make_mask_image(grid, mask));
  EXPECT_EQ(mask.width(), 10);
}

TEST_F(MaskImages, TooSmallOrTooLargeMasksAreSkippedQuietly) {
  PuzzleGrid tiny;
  tiny.reset(10, 10, 1.0, 0, false);
  ASSERT_TRUE(tiny.add_cell(CellRect{0, 0, 10, 10}));
  tiny.cell(0).active = 1;
  Foto mask;
  EXPECT_FALSE(make_mask_image(tiny, mask));  // 100 pixels
  EXPECT_TRUE(mask.empty());
  tiny.reset(101, 1, 1.0, 0, false);
  ASSERT_TRUE(tiny.add_cell(CellRect{0, 0, 101, 1}));
  tiny.cell(0).active = 1;
  EXPECT_TRUE(make_mask_image(tiny, mask));

  PuzzleGrid huge;
  huge.reset(20'001, 20'000, 1.0, 0, false);
  ASSERT_TRUE(huge.add_cell(CellRect{0, 0, 20'001, 20'000}));
  huge.cell(0).active = 1;
  TempDir dir;
  ScriptedPrompt prompt;
  EXPECT_TRUE(write_mask_files(huge, (dir.path() / "big").string(), prompt));  // skipped: no failure
  EXPECT_TRUE(prompt.calls().empty());
  EXPECT_FALSE(fs::exists(dir.path() / "big MaskFile.jpg"));
}

TEST_F(MaskImages, ThreeFilesBesideTheMosaic) {
  TempDir dir;
  ScriptedPrompt prompt;
  ScriptedPrompt silent;
  const std::string base = (dir.path() / "M").string();
  ASSERT_TRUE(write_mask_files(grid, base, prompt));
  EXPECT_TRUE(prompt.calls().empty());
  Foto jpeg;
  ASSERT_TRUE(jpeg.load(base + " MaskFile.jpg", 0, 0));
  EXPECT_EQ(jpeg.width(), 21);
  ASSERT_TRUE(jpeg.load(base + " Score.jpg", 0, 0));
  EXPECT_EQ(jpeg.height(), 17);
  const std::string bmp = read_file(base + " MaskFile.bmp");
  EXPECT_EQ(bmp.size(), 54u + 17u * 64u);  // 21 × 3 bytes padded to 64 a row

  // A file in the way of one of them is reported like any picture.
  fs::remove(base + " Score.jpg");
  fs::create_directory(base + " Score.jpg");
  EXPECT_FALSE(write_mask_files(grid, base, prompt));
  EXPECT_FALSE(prompt.messages().empty());
}

}  // namespace
}  // namespace tess
