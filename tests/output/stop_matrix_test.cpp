// A stop at every step of a run, list analysis to report: the run ends
// stopped, and its output folder is left as it was found, every earlier file
// byte for byte, with nothing half-written or temporary beside them. The stop
// is asked for when the step shows its status, so no timing decides where it
// lands; the leak checker of the sanitizer build sees every step unwind.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <map>
#include <ostream>
#include <string>

#include "base/scripted_prompt.hpp"
#include "base/text.hpp"
#include "engine/mosaic_builder.hpp"
#include "engine/run_driver.hpp"
#include "engine/tile_list_file.hpp"
#include "images/foto.hpp"
#include "images/image_files.hpp"
#include "output/jpeg_writer.hpp"
#include "output/run_outputs.hpp"
#include "output/text_report.hpp"
#include "output/video_writer.hpp"
#include "settings/advanced_options.hpp"
#include "settings/settings_file.hpp"
#include "settings/units.hpp"
#include "support/test_support.hpp"
#include "tilelist/list_analysis.hpp"
#include "tilelist/tile_image_list.hpp"

namespace tess {
namespace {

namespace fs = std::filesystem;

// How a run stopped at a step ends.
enum class Ends {
  untouched,  // stopped; the output folder exactly as it was
  written,    // the step does not give up its work: every file complete, none new
};

struct StopCase {
  const char* stage;
  /// The stop is asked for the `occurrence`-th time a status beginning with
  /// this is shown, once `steps` more progress steps have followed it; null
  /// stops the list analysis after its first batch.
  const char* status;
  int occurrence;
  int steps;
  void (*set_up)(MosaicParameters&, RunOutputOptions&);
  Ends ends = Ends::untouched;
  bool stopped = true;  // the run ends as stopped
};

void PrintTo(const StopCase& c, std::ostream* out) { *out << c.stage; }

void plain(MosaicParameters&, RunOutputOptions&) {}

// Progress steps of rendering: the mosaic is two bands in the smallest
// memory block, each band two steps (the tiles it does not meet, and the
// tiles of each of the main image's two tones); a video frame is all four.
constexpr int kBandSteps = 3;   // in the second band
constexpr int kFrameSteps = 6;  // in the second of three frames

const StopCase kCases[] = {
    {"ListAnalysis", nullptr, 1, 0, plain},
    {"CellBuilding", "Building Mosaic Tiles...", 1, 0, plain},
    {"CellAnalysis", "Analyzing Main Image...", 1, 1, plain},
    {"Priorities", "Initializing Mosaic...", 1, 0, plain},
    // Consecutive frames are kept apart by the cells' neighbour lists.
    {"Neighbours", "Calculating Tile Distance...", 1, 1,
     [](MosaicParameters& p, RunOutputOptions&) {
       p.duplicate_spacing = 2;
       p.consecutive_frames = 10;
     }},
    {"PlaceStandard", "Adding Tile#", 1, 0, plain},
    {"PlaceStandardNoDuplicates", "Adding Tile#", 1, 0,
     [](MosaicParameters& p, RunOutputOptions&) { p.tile_duplication = 1; }},
    {"PlaceStandardLists", "Analyzing Mosaic Tile#", 1, 0, plain},
    {"PlaceFasterWithTileList", "Tile: ", 1, 0,
     [](MosaicParameters& p, RunOutputOptions&) {
       p.processing = kProcessingFaster;
       p.advanced.set_value(kOptTileListSave, "1");
       p.advanced.set_value(kOptTileListLoad, "0");
     }},
    {"PlaceCustomGroups", "Adding Tile#", 1, 0,
     [](MosaicParameters& p, RunOutputOptions&) { p.processing = kProcessingCustom; }},
    {"PlaceFolderGroups", "Adding Tile#", 1, 0,
     [](MosaicParameters& p, RunOutputOptions&) { p.processing = kProcessingFolder; }},
    {"PlaceSequential", "Creating Mosaic...", 1, 0,
     [](MosaicParameters& p, RunOutputOptions&) { p.processing = kProcessingSequential; }},
    {"PlaceRandom", "Creating Mosaic...", 1, 0,
     [](MosaicParameters& p, RunOutputOptions&) { p.processing = kProcessingRandom; }},
    {"PlaceSequentialByDate", "Creating Mosaic...", 1, 0,
     [](MosaicParameters& p, RunOutputOptions&) { p.processing = kProcessingSequentialDate; }},
    // The Experimental modes take a stop as "good enough": the mosaic is
    // saved with the assignment reached so far.
    {"PlaceExperimentalLists", "Analyzing Mosaic Tile#", 1, 0,
     [](MosaicParameters& p, RunOutputOptions&) {
       p.processing = kProcessingStandard1;
       p.tile_duplication = 1;
     },
     Ends::written, false},
    {"PlaceExperimentalSolve", "Adding Tile#", 1, 0,
     [](MosaicParameters& p, RunOutputOptions&) {
       p.processing = kProcessingStandard2;
       p.tile_duplication = 1;
     },
     Ends::written, false},
    // The second analysis is that of the halves and quarters.
    {"Split", "Analyzing Main Image...", 2, 0, [](MosaicParameters& p, RunOutputOptions&) { p.half_tiles = 10; }},
    // The mosaic is rendered in several bands: the stop comes once the
    // first band has been written.
    {"SaveJpeg", "Saving Mosaic...", 1, kBandSteps, plain},
    {"SaveTiff", "Saving Mosaic...", 1, kBandSteps,
     [](MosaicParameters& p, RunOutputOptions&) { p.output_format = OutputFormatCode::tiff; }},
    {"SaveBigTiff", "Saving Mosaic...", 1, kBandSteps,
     [](MosaicParameters& p, RunOutputOptions&) {
       p.output_format = OutputFormatCode::tiff;
       p.output_tiff64 = true;
     }},
    {"SaveTiffJpeg", "Saving Mosaic...", 1, kBandSteps,
     [](MosaicParameters& p, RunOutputOptions&) { p.output_format = OutputFormatCode::tiff_jpg; }},
    {"SavePsd", "Saving Mosaic...", 1, kBandSteps,
     [](MosaicParameters& p, RunOutputOptions&) { p.output_format = OutputFormatCode::psd; }},
    {"SavePsb", "Saving Mosaic...", 1, kBandSteps,
     [](MosaicParameters& p, RunOutputOptions&) { p.output_format = OutputFormatCode::psb; }},
    {"SavePpm", "Saving Mosaic...", 1, kBandSteps,
     [](MosaicParameters& p, RunOutputOptions&) { p.output_format = OutputFormatCode::ppm; }},
    {"SaveRaw", "Saving Mosaic...", 1, kBandSteps,
     [](MosaicParameters& p, RunOutputOptions&) { p.output_format = OutputFormatCode::raw; }},
    {"SaveBmp", "Saving Mosaic...", 1, kBandSteps,
     [](MosaicParameters& p, RunOutputOptions&) { p.output_format = OutputFormatCode::bmp; }},
    {"SavePng", "Saving Mosaic...", 1, kBandSteps,
     [](MosaicParameters& p, RunOutputOptions&) { p.output_format = OutputFormatCode::png; }},
    {"SaveSplitPieces", "Saving Split Image #1/", 1, 1,
     [](MosaicParameters& p, RunOutputOptions& o) {
       p.split_mosaic = true;
       o.split = {240, 1440};
     }},
    {"SaveSplitPiecesAfterTheFirst", "Saving Split Image #2/", 1, 0,
     [](MosaicParameters& p, RunOutputOptions& o) {
       p.split_mosaic = true;
       o.split = {240, 1440};
     }},
    {"SaveWebPyramid", "Saving RezIroriz", 1, 0,
     [](MosaicParameters& p, RunOutputOptions&) { p.output_format = OutputFormatCode::web; }},
    {"SaveJpegWithWebPyramid", "Saving Mosaic...", 1, kBandSteps,
     [](MosaicParameters& p, RunOutputOptions&) { p.web_output = true; }},
    // The pyramid beside a mosaic is finished once the mosaic stands.
    {"FinishWebPyramidBesideJpeg", "Saving RezIroriz", 1, 0,
     [](MosaicParameters& p, RunOutputOptions&) { p.web_output = true; }, Ends::written},
    // A video renders the mosaic once a frame: the stop comes in the second.
    {"SaveAviUncompressed", "Saving Mosaic...", 1, kFrameSteps,
     [](MosaicParameters& p, RunOutputOptions&) { p.output_format = OutputFormatCode::avi_uncompressed; }},
    {"SaveAviCompressed", "Saving Mosaic...", 1, kFrameSteps,
     [](MosaicParameters& p, RunOutputOptions&) { p.output_format = OutputFormatCode::avi_compressed; }},
    {"SaveVideoFrames", "Saving Mosaic...", 1, kFrameSteps,
     [](MosaicParameters& p, RunOutputOptions&) { p.output_format = OutputFormatCode::video_jpg; }},
    // The report of a saved mosaic is written whole; the stop is taken after it.
    {"Report", "Saving Report", 1, 0, [](MosaicParameters& p, RunOutputOptions&) { p.text_report = true; },
     Ends::written},
};

// Every file of the output folder (recursively) with its bytes.
std::map<std::string, std::string> folder_contents(const fs::path& folder) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(folder))
    files[fs::relative(entry.path(), folder).string()] = entry.is_regular_file() ? testing::read_file(entry.path()) : "/";
  return files;
}

class StopMatrix : public ::testing::TestWithParam<StopCase> {};

TEST_P(StopMatrix, LeavesTheOutputFolderAsItWas) {
  const StopCase& c = GetParam();
  testing::TempDir dir;
  ScriptedPrompt prompt;
  const fs::path out = dir / "out";
  const std::string base = (out / "mosaic").string();

  // Uniform tiles of many colours, and a main image to cover with them.
  fs::create_directories(dir / "tiles");
  for (int i = 0; i < 60; ++i) {
    Foto tile;
    tile.try_allocate_fill(16, 12, make_pixel((i * 37) % 256, (i * 91) % 256, (i * 53) % 256));
    ASSERT_TRUE(write_jpeg_image(tile, dir / "tiles" / ("t" + std::to_string(1000 + i) + ".jpg"), true, 95, 0, prompt));
  }
  ASSERT_TRUE(write_jpeg_image(testing::two_tone(40, 240), dir / "main.jpg", true, 95, 0, prompt));

  // An earlier version of every file a run of any kind writes here.
  fs::create_directories(out / "mosaic RezIroriz");
  for (const fs::path& earlier :
       {fs::path(base + ".jpg"), fs::path(base + ".tiff"), fs::path(base + ".psd"), fs::path(base + ".psb"),
        fs::path(base + ".ppm"), fs::path(base + ".raw"), fs::path(base + ".bmp"), fs::path(base + ".png"), fs::path(base + ".avi"),
        fs::path(base + "01x01.jpg"), fs::path(video_frame_file(base, 1)), fs::path(base + " RezIroriz/index.html"),
        text_report_path(base), settings_copy_path(base), tile_list_file_path(base), out / "tiles.tzc",
        fs::path((out / "tiles.tzc").string() + kErrorFileSuffix)})
    ASSERT_TRUE(testing::write_file(earlier, "earlier " + earlier.filename().string()));
  const auto before = folder_contents(out);

  TileImageList list;
  if (c.status == nullptr) {
    ASSERT_TRUE(list.add_item(FolderKind::include, (dir / "tiles").string(), true));
    list.set_path((out / "tiles.tzc").string());
    ListAnalysis analysis(list, prompt);
    analysis.set_batch_observer([&analysis](long) { analysis.request_stop(); });
    EXPECT_EQ(analysis.run(1, false, {}, std::chrono::milliseconds(5)), ListSaveResult::stopped);
  } else {
    for (const auto& entry : fs::directory_iterator(dir / "tiles")) {
      Foto tile;
      ASSERT_TRUE(tile.load(entry.path().string(), 0, 0).ok_or_show(prompt));
      FotoInfo info;
      info.path = entry.path().string();
      info.usable = true;
      ASSERT_TRUE(info.signature.analyse(tile, AnalysisMode::fill));
      list.insert(std::move(info));
    }
    MosaicBuilder builder(prompt);
    MosaicParameters& p = builder.parameters;
    // Tall enough for two bands in the smallest memory block.
    p.mosaic_size = {480, 2880, kUnitPixel};
    p.advanced.set_value(kOptMemoryBlockSize, "10");
    p.tile_size = {8, kUnitTilesPerRow};
    p.tile_duplication = 0;
    p.duplicate_spacing = 0;
    p.web_output = false;
    p.text_report = false;
    p.create_mask_file = false;
    p.advanced.set_value(kOptImageFrameCount, "3");
    RunOutputOptions options;
    options.output_file = base + ".jpg";
    c.set_up(p, options);

    // Every status shown asks for the next one, as a follower polling the
    // run would, so that the long loops show theirs.
    int seen = 0;
    std::atomic<int> steps{-1};  // counted down once the status was shown
    builder.set_status_observer([&](const std::string& status) {
      builder.request_status_refresh();
      if (status.rfind(c.status, 0) != 0 || ++seen != c.occurrence) return;
      if (c.steps == 0) builder.request_stop();
      else steps = c.steps;
    });
    builder.set_progress_observer([&] {
      if (steps > 0 && --steps == 0) builder.request_stop();
    });
    MosaicRun run;
    run.main_images = {(dir / "main.jpg").string()};
    run_batch(builder, list, run, make_run_outputs(options));

    ASSERT_GE(seen, c.occurrence) << "the step never showed \"" << c.status << "\"";
    ASSERT_LE(steps, 0) << "the step ended before its stop";
    EXPECT_EQ(run.stopped, c.stopped);
    EXPECT_EQ(builder.status() == tr("Stopped!"), c.stopped) << builder.status();
    EXPECT_EQ(builder.grid.size(), 0u);
  }

  // Nothing new, nothing gone: no temporary, no half-written file, no
  // staging folder; and a run that gave up its work left every earlier file.
  const auto after = folder_contents(out);
  std::string names_before, names_after;
  for (const auto& [name, bytes] : before) names_before += name + "\n";
  for (const auto& [name, bytes] : after) names_after += name + "\n";
  EXPECT_EQ(names_after, names_before);
  if (c.ends == Ends::untouched) {
    for (const auto& [name, bytes] : before)
      EXPECT_TRUE(after.count(name) == 0 || after.at(name) == bytes) << name << " was changed";
  } else {
    EXPECT_TRUE(after.at("mosaic.jpg") != before.at("mosaic.jpg")) << "the mosaic was not written";
  }
}

INSTANTIATE_TEST_SUITE_P(EveryStep, StopMatrix, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<StopCase>& info) { return std::string(info.param.stage); });

}  // namespace
}  // namespace tess
