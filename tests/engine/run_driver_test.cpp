#include "engine/run_driver.hpp"

#include <gtest/gtest.h>

#include "../images/image_files.hpp"
#include "base/scripted_prompt.hpp"
#include "images/foto.hpp"
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

// A list of uniform tiles of many colours, analysed in memory; their paths
// are never opened since the save step is the test's own.
void fill_list(TileImageList& list, int count) {
  for (int i = 0; i < count; ++i) {
    Foto tile;
    tile.try_allocate_fill(48, 36, make_pixel((i * 37) % 256, (i * 91) % 256, (i * 53) % 256));
    FotoInfo info;
    info.path = "/tiles/t" + std::to_string(1000 + i) + ".jpg";
    info.usable = true;
    ASSERT_TRUE(info.signature.analyse(tile, AnalysisMode::fill));
    list.insert(std::move(info));
  }
}

struct Recorder {
  std::vector<std::string> labels;
  int saved = 0;
  bool stop_on_save = false;
  RunOutputs outputs() {
    RunOutputs o;
    o.name_outputs = [this](MosaicBuilder&, const std::string& image, const std::string& label, const ReadFiles&,
                             RunResult& r) {
      labels.push_back(label);
      r.output_base = image + " out";
      r.destination = r.output_base + ".jpg";
      return true;
    };
    o.save_mosaic = [this](MosaicBuilder& b, const ScoreTables&, RunResult&) {
      ++saved;
      // Every cell got a picture.
      for (const auto& cell : b.grid.cells()) EXPECT_NE(cell->tile, nullptr);
      if (stop_on_save) b.request_stop();
      return true;
    };
    return o;
  }
};

void small_mosaic(MosaicParameters& p) {
  p.mosaic_size = {240, 180, kUnitPixel};
  p.tile_size = {8, kUnitTilesPerRow};
  p.tile_duplication = 0;
  p.duplicate_spacing = 0;
}

TEST(RunDriver, UnreadableMainImageIsSkippedAndTheOthersAreBuilt) {
  TempDir dir;
  ASSERT_TRUE(write_jpeg(dir / "a.jpg", two_tone(160, 120), JpegSpec().with_quality(100)));
  ASSERT_TRUE(testing::write_file(dir / "b.jpg", "not a picture"));
  ASSERT_TRUE(write_jpeg(dir / "c.jpg", two_tone(120, 90), JpegSpec().with_quality(100)));
  ScriptedPrompt prompt;
  MosaicBuilder builder(prompt);
  small_mosaic(builder.parameters);
  TileImageList list;
  fill_list(list, 40);
  Recorder rec;
  MosaicRun run;
  run.main_images = {(dir / "a.jpg").string(), (dir / "b.jpg").string(), (dir / "c.jpg").string()};
  run_batch(builder, list, run, rec.outputs());

  EXPECT_EQ(rec.saved, 2);
  EXPECT_EQ(builder.done_count(), 2);
  EXPECT_EQ(builder.status(), "Completed 2 Mosaics!");
  EXPECT_TRUE(builder.take_finished());
  EXPECT_FALSE(run.stopped);
  EXPECT_TRUE(run.results[(dir / "a.jpg").string()].success);
  EXPECT_TRUE(builder.grid.cells().empty());  // freed
  ASSERT_FALSE(prompt.messages().empty());    // the unreadable image was reported
  EXPECT_NE(prompt.messages()[0].find("b.jpg"), std::string::npos);
}

TEST(RunDriver, StopEndsTheBatchAsStopped) {
  TempDir dir;
  ASSERT_TRUE(write_jpeg(dir / "a.jpg", two_tone(160, 120), JpegSpec().with_quality(100)));
  ASSERT_TRUE(write_jpeg(dir / "b.jpg", two_tone(160, 120), JpegSpec().with_quality(100)));
  ScriptedPrompt prompt;
  MosaicBuilder builder(prompt);
  small_mosaic(builder.parameters);
  TileImageList list;
  fill_list(list, 40);
  Recorder rec;
  rec.stop_on_save = true;
  MosaicRun run;
  run.main_images = {(dir / "a.jpg").string(), (dir / "b.jpg").string()};
  run_batch(builder, list, run, rec.outputs());
  EXPECT_EQ(rec.saved, 1);
  EXPECT_TRUE(run.stopped);
  EXPECT_EQ(builder.status(), "Stopped!");
  EXPECT_FALSE(builder.take_finished());
}

TEST(RunDriver, FailedSaveIsAFailedMosaicAndNothingCompletedEndsWithOk) {
  TempDir dir;
  ASSERT_TRUE(write_jpeg(dir / "a.jpg", two_tone(160, 120), JpegSpec().with_quality(100)));
  ScriptedPrompt prompt;
  MosaicBuilder builder(prompt);
  small_mosaic(builder.parameters);
  TileImageList list;
  fill_list(list, 40);
  Recorder rec;
  RunOutputs outputs = rec.outputs();
  outputs.save_mosaic = [](MosaicBuilder&, const ScoreTables&, RunResult&) { return false; };
  MosaicRun run;
  run.main_images = {(dir / "a.jpg").string()};
  run_batch(builder, list, run, outputs);
  EXPECT_EQ(run.failed, 1);
  EXPECT_EQ(builder.done_count(), 0);
  EXPECT_EQ(builder.status(), "Ok");
  EXPECT_FALSE(builder.take_finished());
}

TEST(RunDriver, MaskFolderCombinesEveryImageWithEveryMaskMasksFastest) {
  TempDir dir;
  std::filesystem::create_directory(dir / "masks");
  // Two masks of three coloured regions each (white belongs to no cell).
  for (const char* name : {"m1.jpg", "m2.jpg"}) {
    Foto m;
    m.try_allocate_fill(60, 45, make_pixel(255, 255, 255));
    for (int y = 5; y < 40; ++y)
      for (int x = 5; x < 55; ++x) m.at(x, y) = x < 20 ? make_pixel(250, 0, 0) : x < 40 ? make_pixel(0, 250, 0) : make_pixel(0, 0, 250);
    ASSERT_TRUE(write_jpeg(dir / "masks" / name, m, JpegSpec().with_quality(100)));
  }
  ASSERT_TRUE(testing::write_file(dir / "masks" / "notes.txt", "x"));
  std::vector<std::string> images;
  for (const char* name : {"a.jpg", "b.jpg", "c.jpg"}) {
    ASSERT_TRUE(write_jpeg(dir / name, two_tone(120, 90), JpegSpec().with_quality(100)));
    images.push_back((dir / name).string());
  }
  ScriptedPrompt prompt;
  MosaicBuilder builder(prompt);
  builder.parameters.mosaic_size = {2, 2, kUnitPixel};  // a square of up to 8: mask-file mode
  builder.parameters.tile_duplication = 0;
  builder.parameters.duplicate_spacing = 0;
  TileImageList list;
  fill_list(list, 20);
  Recorder rec;
  MosaicRun run;
  run.main_images = images;
  run.layout.mask_file = 2;  // as the plan lays it out
  run.mask_folder = (dir / "masks").string();
  run_batch(builder, list, run, rec.outputs());
  EXPECT_EQ(rec.saved, 6);
  EXPECT_EQ(builder.total_count(), 6);
  EXPECT_EQ(builder.done_count(), 6);
  EXPECT_EQ(rec.labels, (std::vector<std::string>{"M01 Mosaic", "M02 Mosaic", "M01 Mosaic", "M02 Mosaic",
                                                   "M01 Mosaic", "M02 Mosaic"}));
}

TEST(RunDriver, EmptyMaskFolderEndsAsStoppedWithItsMessage) {
  TempDir dir;
  std::filesystem::create_directory(dir / "masks");
  ASSERT_TRUE(write_jpeg(dir / "a.jpg", two_tone(120, 90), JpegSpec().with_quality(100)));
  ScriptedPrompt prompt;
  MosaicBuilder builder(prompt);
  builder.parameters.mosaic_size = {2, 2, kUnitPixel};
  TileImageList list;
  fill_list(list, 5);
  Recorder rec;
  MosaicRun run;
  run.main_images = {(dir / "a.jpg").string()};
  run.layout.mask_file = 2;
  prompt.plan_answer(Answer::yes);
  prompt.plan_folder((dir / "masks").string());
  run_batch(builder, list, run, rec.outputs());
  EXPECT_EQ(rec.saved, 0);
  EXPECT_TRUE(run.stopped);
  EXPECT_EQ(prompt.messages(), std::vector<std::string>{"The specified folder does not contain any JPG/PNG file!"});
  EXPECT_EQ(builder.status(), "Stopped!");
}

}  // namespace
}  // namespace tess
