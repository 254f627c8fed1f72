#include "engine/mosaic_sketch.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "../images/image_files.hpp"
#include "base/scripted_prompt.hpp"
#include "engine/mosaic_builder.hpp"
#include "engine/puzzle.hpp"
#include "engine/run_driver.hpp"
#include "images/image_files.hpp"
#include "settings/units.hpp"
#include "support/test_support.hpp"
#include "tilelist/tile_image_list.hpp"

namespace tess {
namespace {

using testing::JpegSpec;
using testing::TempDir;
using testing::two_tone;
using testing::write_jpeg;

FotoInfo uniform_tile(std::uint32_t colour, int index) {
  Foto picture;
  picture.try_allocate_fill(48, 36, colour);
  FotoInfo info;
  info.path = "/tiles/t" + std::to_string(1000 + index) + ".jpg";
  info.usable = true;
  EXPECT_TRUE(info.signature.analyse(picture, AnalysisMode::fill));
  return info;
}

std::uint32_t opaque(std::uint32_t pixel) { return pixel & 0x00FFFFFFu; }

// Four cells side by side: one with a tile, one analysed but open, one never
// analysed, one with a portrait tile red above and blue below; a mosaic of
// 400 × 100 pixels is sketched at its own size.
TEST(MosaicSketch, PlacedCellsShowTheirTileOpenCellsTheMainImageDimmedTheRestNothing) {
  PuzzleGrid grid;
  grid.reset(400, 100, 1.0, 0, false);
  for (int i = 0; i < 4; ++i) ASSERT_TRUE(grid.add_cell({i * 100, 0, 100, 100}));
  const FotoInfo tile = uniform_tile(make_pixel(10, 200, 30), 0);
  grid.cell(0).tile = &tile;
  FotoInfo upright = uniform_tile(make_pixel(0, 0, 255), 1);
  Foto red_above;
  ASSERT_TRUE(red_above.try_allocate_fill(36, 48, make_pixel(0, 0, 255)));
  for (int y = 0; y < 24; ++y) std::fill(red_above.row(y), red_above.row(y) + 36, make_pixel(255, 0, 0));
  ASSERT_TRUE(upright.signature.analyse(red_above, AnalysisMode::fill));
  ASSERT_TRUE(upright.signature.portrait);
  grid.cell(3).tile = &upright;
  Foto main_image;
  ASSERT_TRUE(main_image.try_allocate_fill(100, 100, make_pixel(200, 100, 50)));
  for (int i = 0; i < 2; ++i) {
    grid.cell(i).active = 1;
    grid.cell(i).analysed = 1;
    ASSERT_TRUE(grid.cell(i).signature.analyse(main_image, AnalysisMode::fit, 0, 0, 100, 100));
  }

  Foto canvas;
  ASSERT_TRUE(sketch_cells(grid, sketch_scale(400, 100), canvas));
  ASSERT_EQ(canvas.width(), 400);
  ASSERT_EQ(canvas.height(), 100);
  EXPECT_EQ(opaque(canvas.at(50, 50)), make_pixel(10, 200, 30));
  EXPECT_EQ(opaque(canvas.at(150, 50)), make_pixel(80, 40, 20));
  EXPECT_EQ(canvas.at(250, 50), kEmptyPixel);
  EXPECT_EQ(opaque(canvas.at(350, 5)), make_pixel(255, 0, 0));
  EXPECT_EQ(opaque(canvas.at(350, 95)), make_pixel(0, 0, 255));

  // A rendered band replaces what the placement drew beneath it, and only that.
  Foto band;
  ASSERT_TRUE(band.try_allocate_fill(400, 40, make_pixel(1, 2, 3)));
  sketch_band(band, 0, 60, 1.0, canvas);
  EXPECT_EQ(canvas.at(50, 59), make_pixel(10, 200, 30));
  EXPECT_EQ(canvas.at(50, 60), make_pixel(1, 2, 3));
  EXPECT_EQ(canvas.at(399, 99), make_pixel(1, 2, 3));

  // A large mosaic is sketched at the long side the window needs.
  EXPECT_DOUBLE_EQ(sketch_scale(4800, 1200), 0.1);
  EXPECT_EQ(sketch_scale(0, 10), 0);
}

// What one run placed, cell by cell, as the save step sees it.
std::vector<std::string> run_and_record(bool followed, std::vector<MosaicBuilder::Sketch>* at_save, int* seen) {
  TempDir dir;
  EXPECT_TRUE(write_jpeg(dir / "a.jpg", two_tone(160, 120), JpegSpec().with_quality(100)));
  ScriptedPrompt prompt;
  MosaicBuilder builder(prompt);
  builder.parameters.mosaic_size = {240, 180, kUnitPixel};
  builder.parameters.tile_size = {8, kUnitTilesPerRow};
  builder.parameters.tile_duplication = 0;
  builder.parameters.duplicate_spacing = 0;
  TileImageList list;
  for (int i = 0; i < 40; ++i)
    list.insert(uniform_tile(make_pixel((i * 37) % 256, (i * 91) % 256, (i * 53) % 256), i));

  std::vector<std::string> placed;
  RunOutputs outputs;
  outputs.name_outputs = [](MosaicBuilder&, const std::string& image, const std::string&, const ReadFiles&,
                            RunResult& r) {
    r.output_base = image + " out";
    r.destination = r.output_base + ".jpg";
    return true;
  };
  outputs.save_mosaic = [&](MosaicBuilder& b, const ScoreTables&, RunResult&) {
    for (const auto& cell : b.grid.cells()) placed.push_back(cell->tile != nullptr ? cell->tile->path : "");
    if (at_save != nullptr) {
      at_save->push_back(b.sketch());
      // Every cell's centre shows its tile's colour.
      const MosaicBuilder::Sketch& sketch = at_save->back();
      for (const auto& cell : b.grid.cells()) {
        const int x = cell->left + cell->width / 2;
        const int y = cell->top + cell->height / 2;
        EXPECT_EQ(opaque(sketch.pixels[static_cast<std::size_t>(y) * sketch.width + x]),
                  opaque(cell->tile->signature.overall()));
      }
    }
    return true;
  };
  MosaicRun run;
  run.main_images = {(dir / "a.jpg").string()};

  // The follower asks and copies as a window does, only faster.
  std::atomic<bool> done{false};
  std::thread follower;
  if (followed) {
    builder.request_sketch();
    follower = std::thread([&] {
      std::uint64_t serial = 0;
      // One look more once the run is over, however late this thread runs.
      for (bool last = false; !last;) {
        last = done.load();
        builder.request_sketch();
        const MosaicBuilder::Sketch sketch = builder.sketch();
        if (sketch.serial != serial && !sketch.pixels.empty()) ++*seen;
        serial = sketch.serial;
        std::this_thread::yield();
      }
    });
  }
  run_batch(builder, list, run, outputs);
  done = true;
  if (follower.joinable()) follower.join();
  EXPECT_TRUE(run.results[(dir / "a.jpg").string()].success);
  return placed;
}

TEST(MosaicSketch, AFollowedRunShowsItsPlacementAndPlacesExactlyAsAnUnfollowedOne) {
  int seen = 0;
  std::vector<MosaicBuilder::Sketch> at_save;
  const std::vector<std::string> followed = run_and_record(true, &at_save, &seen);
  const std::vector<std::string> alone = run_and_record(false, nullptr, nullptr);
  EXPECT_EQ(followed, alone);
  EXPECT_FALSE(followed.empty());
  EXPECT_GE(seen, 1);
  ASSERT_EQ(at_save.size(), 1u);
  EXPECT_EQ(at_save[0].width, 240);
  EXPECT_EQ(at_save[0].height, 180);
}

}  // namespace
}  // namespace tess
