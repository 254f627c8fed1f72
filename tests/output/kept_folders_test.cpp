// SPDX-License-Identifier: GPL-3.0-or-later
// A folder of somebody else's where a web mosaic's folder goes, in the
// window: asked about before the run, kept under another name by the run
// when the user says Yes, left alone when the user says No.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "base/scripted_prompt.hpp"
#include "engine/mosaic_builder.hpp"
#include "engine/run_driver.hpp"
#include "images/foto.hpp"
#include "images/image_files.hpp"
#include "output/jpeg_writer.hpp"
#include "output/output_guard.hpp"
#include "output/output_names.hpp"
#include "output/run_outputs.hpp"
#include "settings/units.hpp"
#include "support/test_support.hpp"
#include "tilelist/tile_image_list.hpp"

namespace tess {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

bool said(const ScriptedPrompt& prompt, const std::string& part) {
  const std::vector<ScriptedPrompt::Call> calls = prompt.calls();
  return std::any_of(calls.begin(), calls.end(),
                     [&](const ScriptedPrompt::Call& call) { return call.text.find(part) != std::string::npos; });
}

TEST(KeptFolders, TheWindowAsksAndTheRunKeepsTheFolderAsideOnlyOnYes) {
  for (const Answer answer : {Answer::yes, Answer::no}) {
    SCOPED_TRACE(answer == Answer::yes ? "yes" : "no");
    TempDir dir;
    ScriptedPrompt prompt;
    MosaicBuilder builder{prompt};
    MosaicParameters& p = builder.parameters;
    p.mosaic_size = {160, 120, kUnitPixel};
    p.tile_size = {4, kUnitTilesPerRow};
    p.tile_duplication = 0;
    p.web_output = true;
    const std::string image = (dir / "main.jpg").string();
    ASSERT_TRUE(write_jpeg_image(testing::two_tone(160, 120), image, true, 95, 0, prompt));
    TileImageList list;
    fs::create_directories(dir / "tiles");
    for (int i = 0; i < 6; ++i) {
      Foto tile;
      ASSERT_TRUE(tile.try_allocate_fill(16, 12, make_pixel(i * 40, 255 - i * 40, 128)));
      FotoInfo info;
      info.path = (dir / "tiles" / ("t" + std::to_string(i) + ".jpg")).string();
      ASSERT_TRUE(write_jpeg_image(tile, info.path, true, 95, 0, prompt));
      info.usable = true;
      ASSERT_TRUE(info.signature.analyse(tile, AnalysisMode::fill));
      list.insert(std::move(info));
    }
    OutputNames names;
    plan_output_names(image, mosaic_label(false, 0), p, {}, names);
    const std::string folder = names.web_folder().substr(0, names.web_folder().size() - 1);
    fs::create_directories(fs::path(folder) / "my photos");
    ASSERT_TRUE(testing::write_file(fs::path(folder) / "my photos" / "precious.txt", "mine"));

    RunOutputOptions options;
    options.kept_folders = std::make_shared<KeptFolders>();
    prompt.plan_answer(answer);
    const ReadFiles reads{{image}, &list};
    const bool planned = make_output_check(options)(p, image, mosaic_label(false, 0), 1, reads, prompt);
    EXPECT_TRUE(said(prompt, "exists and was not written by Tessellarium. Keep it under another name"));
    if (answer == Answer::no) {
      EXPECT_FALSE(planned);
      EXPECT_EQ(testing::read_file(fs::path(folder) / "my photos" / "precious.txt"), "mine");
      EXPECT_FALSE(fs::exists(folder + " (1)"));
      continue;
    }
    ASSERT_TRUE(planned);
    MosaicRun run;
    run.main_images = {image};
    run_batch(builder, list, run, make_run_outputs(options));
    EXPECT_EQ(run.failed, 0);
    EXPECT_TRUE(said(prompt, "it is kept as '" + folder + " (1)'"));
    EXPECT_EQ(testing::read_file(fs::path(folder + " (1)") / "my photos" / "precious.txt"), "mine");
    EXPECT_TRUE(fs::exists(fs::path(folder) / "index.html"));
    EXPECT_FALSE(fs::exists(fs::path(folder) / "my photos"));
  }
}

}  // namespace
}  // namespace tess
