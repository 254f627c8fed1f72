// Whole runs through run_batch with the program's own output steps: what
// goes wrong only where the stages of a run meet.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <sstream>
#include <string>
#include <vector>

#include "base/scripted_prompt.hpp"
#include "engine/colour_fidelity.hpp"
#include "engine/mosaic_builder.hpp"
#include "engine/puzzle.hpp"
#include "engine/run_controller.hpp"
#include "engine/run_driver.hpp"
#include "engine/score_tables.hpp"
#include "images/cielab.hpp"
#include "images/foto.hpp"
#include "images/image_files.hpp"
#include "output/jpeg_writer.hpp"
#include "output/mosaic_saver.hpp"
#include "output/run_outputs.hpp"
#include "settings/units.hpp"
#include "support/test_support.hpp"
#include "tilelist/tile_image_list.hpp"

namespace tess {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;
using testing::two_tone;

class WholeRun : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(write_jpeg_image(two_tone(160, 120), m_dir / "main.jpg", true, 95, 0, m_prompt));
    MosaicParameters& p = m_builder.parameters;
    p.mosaic_size = {240, 180, kUnitPixel};
    p.tile_size = {8, kUnitTilesPerRow};
    p.tile_duplication = 0;
    p.duplicate_spacing = 0;
    p.web_output = false;
    m_run.main_images = {(m_dir / "main.jpg").string()};
  }

  // Uniform tiles of many colours written as files (the run renders them)
  // and analysed into the list; `folder` "FRAMES001" makes them frames of a clip.
  void fill_list(int count, const std::string& folder = "tiles", bool one_colour = false) {
    fs::create_directories(m_dir / folder);
    for (int i = 0; i < count; ++i) {
      Foto tile;
      const int c = one_colour ? 0 : i;
      tile.try_allocate_fill(16, 12, make_pixel((c * 37) % 256, (c * 91) % 256, (c * 53) % 256));
      FotoInfo info;
      info.path = (m_dir / folder / ("t" + std::to_string(1000 + i) + ".jpg")).string();
      ASSERT_TRUE(write_jpeg_image(tile, info.path, true, 95, 0, m_prompt));
      info.usable = true;
      ASSERT_TRUE(info.signature.analyse(tile, AnalysisMode::fill));
      m_list.insert(std::move(info));
    }
  }

  void run(const RunOutputs& outputs) { run_batch(m_builder, m_list, m_run, outputs); }
  RunOutputs outputs() const { return make_run_outputs(RunOutputOptions{}); }

  TempDir m_dir;
  ScriptedPrompt m_prompt;
  MosaicBuilder m_builder{m_prompt};
  TileImageList m_list;
  MosaicRun m_run;
};

TEST_F(WholeRun, AMaskThatCannotBeLoadedFailsOnlyItsMosaic) {
  // Two masks of three coloured regions; the first one is cut short, so its
  // header reads and its pixels do not.
  fs::create_directory(m_dir / "masks");
  Foto mask;
  mask.try_allocate_fill(60, 45, make_pixel(255, 255, 255));
  for (int y = 5; y < 40; ++y)
    for (int x = 5; x < 55; ++x) mask.at(x, y) = x < 20 ? make_pixel(250, 0, 0) : x < 40 ? make_pixel(0, 250, 0) : make_pixel(0, 0, 250);
  for (const char* name : {"m1.jpg", "m2.jpg"})
    ASSERT_TRUE(write_jpeg_image(mask, m_dir / "masks" / name, true, 100, 0, m_prompt));
  // Cut within the coded pixels, past the header and the colour profile
  // that come before them.
  const std::string whole = testing::read_file(m_dir / "masks" / "m1.jpg");
  const std::size_t scan = whole.find(std::string("\xFF\xDA\x00\x0C", 4));  // start of scan, three components
  ASSERT_NE(scan, std::string::npos);
  ASSERT_TRUE(testing::write_file(m_dir / "masks" / "m1.jpg", whole.substr(0, scan + (whole.size() - scan) / 3)));
  fill_list(20);
  m_builder.parameters.mosaic_size = {2, 2, kUnitPixel};  // mask-file mode
  m_run.layout.mask_file = 2;  // as the plan lays it out
  m_run.mask_folder = (m_dir / "masks").string();
  run(outputs());

  EXPECT_FALSE(m_run.stopped);
  EXPECT_EQ(m_run.failed, 1);
  EXPECT_EQ(m_builder.done_count(), 1);
  EXPECT_EQ(m_builder.status(), "Completed 1 Mosaic!");
  EXPECT_TRUE(m_run.results[m_run.main_images[0] + " M02 Mosaic"].success);
  EXPECT_FALSE(m_prompt.messages().empty());  // the broken mask was reported
}

TEST_F(WholeRun, AutomaticDetailFollowsTheMosaicsTileCountNotTheList) {
  // 30 pictures, but 40 tiles a row make well over a thousand tiles: the
  // medium detail of that many tiles, not the very low one of 30.
  fill_list(30);
  m_builder.parameters.tile_size = {40, kUnitTilesPerRow};
  m_builder.parameters.detail = kDetailAutomatic;
  RunOutputs outputs = this->outputs();
  std::size_t cells = 0;
  std::array<std::uint32_t, 3> weights{};
  outputs.save_mosaic = [save = outputs.save_mosaic, &cells, &weights](MosaicBuilder& b, const ScoreTables& t,
                                                                       RunResult& r) {
    cells = b.grid.size();
    for (int level = 0; level < 3; ++level) weights[static_cast<std::size_t>(level)] = t.level_weight(level);
    return save(b, t, r);
  };
  run(outputs);
  ASSERT_TRUE(m_run.results[m_run.main_images[0]].success);
  ASSERT_GE(cells, 1000u);
  ASSERT_LT(cells, 10000u);
  MosaicParameters medium = m_builder.parameters;
  medium.detail = 5;
  ScoreTables expected;
  ASSERT_TRUE(expected.set_up(medium, 0));
  for (int level = 0; level < 3; ++level)
    EXPECT_EQ(weights[static_cast<std::size_t>(level)], expected.level_weight(level)) << level;
}

TEST_F(WholeRun, ConsecutiveFramesStayApartWithinTheSpacing) {
  // Frames of one clip, all alike: with every frame close to every other, no
  // two cells within the spacing may both show one.
  fill_list(60, "FRAMES001", true);
  MosaicParameters& p = m_builder.parameters;
  p.duplicate_spacing = 2;
  p.consecutive_frames = 100;
  RunOutputs outputs = this->outputs();
  bool checked = false;
  int together = 0;  // pairs of cells side by side that both show a frame
  outputs.save_mosaic = [save = outputs.save_mosaic, &checked, &together](MosaicBuilder& b, const ScoreTables& t,
                                                                          RunResult& r) {
    const PuzzleGrid& grid = b.grid;
    for (std::size_t i = 0; i < grid.size(); ++i)
      for (std::size_t j = i + 1; j < grid.size(); ++j) {
        const PuzzleInfo& a = grid.cell(i);
        const PuzzleInfo& c = grid.cell(j);
        const bool side_by_side = (a.top == c.top && std::abs(a.left - c.left) == a.width) ||
                                  (a.left == c.left && std::abs(a.top - c.top) == a.height);
        if (side_by_side && a.tile != nullptr && c.tile != nullptr) ++together;
      }
    checked = true;
    return save(b, t, r);
  };
  run(outputs);
  EXPECT_TRUE(checked);
  EXPECT_EQ(together, 0);
  EXPECT_TRUE(m_run.results[m_run.main_images[0]].success);
}

TEST_F(WholeRun, ACompletedRunReadsOneHundredPercent) {
  fill_list(40);
  run(outputs());
  ASSERT_EQ(m_builder.done_count(), 1);
  EXPECT_DOUBLE_EQ(m_builder.progress_text().percent, 100.0);
}

TEST_F(WholeRun, APollBetweenTheEndOfTheBatchAndTheWorkersEndKeepsTheFinalAction) {
  fill_list(40);
  int beeps = 0;
  RunController::FinalActions actions;
  actions.beep = [&beeps] { ++beeps; };
  RunController controller(m_builder, actions);
  std::promise<void> batch_over;
  std::promise<void> go_on;
  std::shared_future<void> may_end = go_on.get_future().share();
  const RunOutputs outputs = this->outputs();
  ASSERT_TRUE(controller.start(
      [&](MosaicBuilder& b) {
        run_batch(b, m_list, m_run, outputs);
        batch_over.set_value();
        may_end.wait();  // the worker has not ended yet when the poll comes
      },
      ThreadPriority::normal));
  batch_over.get_future().wait();
  controller.poll();
  EXPECT_EQ(beeps, 0);  // not while the worker runs
  go_on.set_value();
  controller.wait();
  controller.poll();
  EXPECT_EQ(beeps, 1);
  controller.poll();
  EXPECT_EQ(beeps, 1);  // once
}

// Every parallel phase of a run (cell analysis, placement, band rendering,
// web tiles) on three threads while another thread follows it as the window
// does: the same mosaic as on one thread, and a stop from the follower ends
// the run cleanly. Under the thread sanitizer this is where the engine's
// threads and the follower's reads meet.
TEST_F(WholeRun, ARunOnThreeThreadsFollowedByAPollerMatchesOneThread) {
  fill_list(60);
  m_builder.parameters.tile_size = {24, kUnitTilesPerRow};  // cells enough for every thread
  m_builder.parameters.web_output = true;
  struct Case {
    int threads;
    bool stop;
  };
  std::vector<std::string> mosaics;
  for (const Case c : {Case{1, false}, Case{3, false}, Case{3, true}}) {
    m_run.results.clear();
    m_run.stopped = false;
    m_run.threads = c.threads;
    RunOutputOptions options;
    options.output_file = (m_dir / ("threads" + std::to_string(c.threads) + (c.stop ? "s" : "") + ".jpg")).string();
    options.threads = c.threads;
    const RunOutputs outputs = make_run_outputs(options);
    RunController::FinalActions actions;
    RunController controller(m_builder, actions);
    ASSERT_TRUE(controller.start([&](MosaicBuilder& b) { run_batch(b, m_list, m_run, outputs); },
                                 ThreadPriority::normal));
    bool asked = false;
    while (!controller.wait_for(std::chrono::milliseconds(1))) {
      const MosaicBuilder::ProgressText progress = controller.poll();
      (void)m_builder.progress();
      if (c.stop && !asked && progress.percent > 0) {
        m_builder.request_stop();
        asked = true;
      }
    }
    controller.wait();
    controller.poll();
    const RunResult& result = m_run.results[m_run.main_images[0]];
    if (c.stop) {
      EXPECT_TRUE(m_run.stopped || result.success) << "a stop that came too late lets the run finish";
      continue;
    }
    ASSERT_TRUE(result.success) << c.threads << " threads";
    mosaics.push_back(testing::read_file(result.destination));
  }
  ASSERT_EQ(mosaics.size(), 2u);
  EXPECT_FALSE(mosaics[0].empty());
  EXPECT_TRUE(mosaics[0] == mosaics[1]) << "three threads made another mosaic than one";
}

TEST_F(WholeRun, TheMaskFileOfAMosaicReadsBackAsItsCells) {
  // A mosaic writes its mask files; a mask-file mosaic from each of them
  // must be cut into the same cells, JPEG fringes along the edges or not.
  fill_list(40);
  m_builder.parameters.tile_size = {11, kUnitTilesPerRow};  // tiles of odd sizes meet the JPEG blocks anywhere
  m_builder.parameters.create_mask_file = true;
  using Rects = std::vector<std::array<int, 4>>;
  Rects cells;
  RunOutputs outputs = this->outputs();
  outputs.save_mosaic = [save = outputs.save_mosaic, &cells](MosaicBuilder& b, const ScoreTables& t, RunResult& r) {
    cells.clear();
    for (const auto& cell : b.grid.cells()) cells.push_back({cell->left, cell->top, cell->width, cell->height});
    std::sort(cells.begin(), cells.end());
    return save(b, t, r);
  };
  run(outputs);
  const RunResult written = m_run.results[m_run.main_images[0]];
  ASSERT_TRUE(written.success);
  const Rects original = cells;
  ASSERT_GT(original.size(), 50u);

  m_builder.parameters.mosaic_size = {1, 1, kUnitPixel};  // "MaskFile"
  m_run.layout.mask_file = 1;
  m_builder.parameters.create_mask_file = false;
  m_run.results.clear();
  m_run.mask_file = written.output_base + " MaskFile.jpg";
  run(outputs);
  ASSERT_TRUE(m_run.results.begin()->second.success);
  // A fringe pixel may go to either side of its edge: every edge of every
  // cell within a pixel of where it was.
  EXPECT_EQ(cells.size(), original.size());
  const auto edges = [](const std::array<int, 4>& r) { return std::array<int, 4>{r[0], r[1], r[0] + r[2], r[1] + r[3]}; };
  for (const auto& o : original) {
    const bool found = std::any_of(cells.begin(), cells.end(), [&](const std::array<int, 4>& c) {
      const auto a = edges(c);
      const auto b = edges(o);
      return std::equal(a.begin(), a.end(), b.begin(), [](int x, int y) { return std::abs(x - y) <= 1; });
    });
    EXPECT_TRUE(found) << o[0] << "," << o[1] << " " << o[2] << "x" << o[3];
  }
}

// The colour differences of a mosaic, computed again from the same cell
// colours by scikit-image: its sRGB to CIELAB conversion, its CIEDE2000 and
// numpy's percentile.
constexpr const char* kColourCheckScript = R"(import sys
import numpy as np
from skimage.color import rgb2lab, deltaE_ciede2000
rows = np.loadtxt(sys.argv[1], ndmin=2)
lab = lambda rgb: rgb2lab(rgb.reshape(-1, 1, 3) / 255.0).reshape(-1, 3)
main, before, after = lab(rows[:, 0:3]), lab(rows[:, 3:6]), lab(rows[:, 6:9])
d_before = deltaE_ciede2000(main, before)
d_after = deltaE_ciede2000(main, after)
print(len(rows))
print(np.abs(d_before - rows[:, 9]).max(), np.abs(d_after - rows[:, 10]).max())
print(d_before.mean(), np.percentile(d_before, 95), d_after.mean(), np.percentile(d_after, 95))
)";

TEST_F(WholeRun, ColourDifferencesAgreeWithScikitImage) {
  const std::string python = testing::python_with_scikit_image();
  if (python.empty()) GTEST_SKIP() << "python3 with scikit-image (Debian package python3-skimage) is not installed";

  // A main image of smooth colour ramps and tiles of many colours, with a
  // colour change strong enough to move every tile.
  Foto main;
  ASSERT_TRUE(main.try_allocate_fill(160, 120, 0));
  for (int y = 0; y < 120; ++y)
    for (int x = 0; x < 160; ++x) main.at(x, y) = make_pixel(x * 255 / 159, y * 255 / 119, 255 - (x + y) * 255 / 278);
  ASSERT_TRUE(write_jpeg_image(main, m_dir / "main.jpg", true, 95, 0, m_prompt));
  fill_list(40);
  m_builder.parameters.tile_size = {12, kUnitTilesPerRow};
  m_builder.parameters.colour_change = 60;

  std::vector<CellColours> cells;
  ColourFidelity figures;
  RunOutputs outputs = this->outputs();
  outputs.save_mosaic = [&](MosaicBuilder& b, const ScoreTables& t, RunResult& r) {
    FinishRequest request;
    request.base_name = r.output_base;
    request.threads = 2;
    FinishResult finished;
    const bool saved = finish_mosaic(b, t, request, finished);
    for_each_cell_colours(b.grid, finished.render_records, [&cells](const CellColours& c) { cells.push_back(c); });
    figures = finished.colour_fidelity;
    return saved;
  };
  run(outputs);
  ASSERT_TRUE(m_run.results[m_run.main_images[0]].success);
  ASSERT_GE(cells.size(), 100u);
  EXPECT_EQ(figures.cells, cells.size());
  EXPECT_LT(figures.mean_after, figures.mean_before) << "the colour change brings the tiles closer";
  EXPECT_LE(figures.mean_before, figures.p95_before);

  std::ostringstream table;
  table.precision(9);
  for (const CellColours& c : cells) {
    const LabColour main_lab = srgb_to_lab(c.main[0], c.main[1], c.main[2]);
    for (const auto& rgb : {c.main, c.before, c.after}) table << rgb[0] << ' ' << rgb[1] << ' ' << rgb[2] << ' ';
    table << ciede2000(main_lab, srgb_to_lab(c.before[0], c.before[1], c.before[2])) << ' '
          << ciede2000(main_lab, srgb_to_lab(c.after[0], c.after[1], c.after[2])) << '\n';
  }
  ASSERT_TRUE(testing::write_file(m_dir / "cells.txt", table.str()));
  ASSERT_TRUE(testing::write_file(m_dir / "check.py", kColourCheckScript));
  std::istringstream out(testing::command_output(python + " '" + (m_dir / "check.py").string() + "' '" +
                                                 (m_dir / "cells.txt").string() + "' 2>&1"));
  std::size_t count = 0;
  double worst_before = 1, worst_after = 1, mean_before = 0, p95_before = 0, mean_after = 0, p95_after = 0;
  ASSERT_TRUE(out >> count >> worst_before >> worst_after >> mean_before >> p95_before >> mean_after >> p95_after)
      << out.str();
  EXPECT_EQ(count, cells.size());
  EXPECT_LT(worst_before, 0.01) << "the largest difference of one cell's figure";
  EXPECT_LT(worst_after, 0.01);
  EXPECT_NEAR(figures.mean_before, mean_before, 0.01);
  EXPECT_NEAR(figures.p95_before, p95_before, 0.01);
  EXPECT_NEAR(figures.mean_after, mean_after, 0.01);
  EXPECT_NEAR(figures.p95_after, p95_after, 0.01);
}

}  // namespace
}  // namespace tess
