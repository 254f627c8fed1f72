// SPDX-License-Identifier: GPL-3.0-or-later
// How a run ends, as a script sees it: a failure is a failure (exit 1, an
// "error:" line, the JSON state "failed" with the reason), never a stop the
// user did not ask for; settings that cannot work are refused before any work
// (exit 2); and the system's reasons are given in words beside the path.

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "cli_runner.hpp"
#include "images/foto.hpp"
#include "images/image_files.hpp"
#include "support/test_support.hpp"

namespace tess {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using testing::shell_quoted;
using testing::TempDir;

// The last JSON progress line of standard error; null when there is none.
json final_line(const std::string& err) {
  json last;
  std::istringstream in(err);
  for (std::string line; std::getline(in, line);)
    if (!line.empty() && line.front() == '{') last = json::parse(line, nullptr, false);
  return last;
}

bool has_json_line(const std::string& err) {
  std::istringstream in(err);
  for (std::string line; std::getline(in, line);)
    if (!line.empty() && line.front() == '{') return true;
  return false;
}

class Outcomes : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* folder : {"tiles", "limited MAX[2]"}) ASSERT_TRUE(testing::write_tile_library(m_dir / folder, 30));
    ASSERT_TRUE(testing::write_photo(m_dir / "photo.jpg"));
    ASSERT_EQ(run("list create " + quoted("tiles.tzc") + " --include " + quoted("tiles/")).status, 0);
    ASSERT_EQ(run("list create " + quoted("limited.tzc") + " --include " + quoted("limited MAX[2]/")).status, 0);
  }

  std::string quoted(const std::string& name) const { return shell_quoted((m_dir / name).string()); }
  testing::CliOutcome run(const std::string& args, const std::string& env = {}) const {
    return testing::run_program(m_dir.path(), args, {}, env);
  }
  // A mosaic of `tiles` tiles a row (of 400 x 300 pixels) into out/m.jpg.
  std::string mosaic(const std::string& more, int tiles = 20, const std::string& list = "tiles.tzc") const {
    return "mosaic " + quoted("photo.jpg") + " --list " + quoted(list) +
           " --set MosaicSizeUnit=pixel --set MosaicSizeWidth=400 --set MosaicSizeHeight=300 --set TileSize=" +
           std::to_string(tiles) + " --set RezIroriz=0 --yes --progress json --output " + quoted("out/m.jpg") + " " +
           more;
  }

  // Whatever went wrong, the run said so as a failure and wrote no mosaic.
  void expect_failed(const testing::CliOutcome& r) const {
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("error: "), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("the run was stopped"), std::string::npos) << r.err;
    const json last = final_line(r.err);
    ASSERT_TRUE(last.is_object()) << r.err;
    EXPECT_EQ(last["state"], "failed") << r.err;
    EXPECT_NE(last["status"], "Stopped!") << r.err;
    EXPECT_NE(last["status"], "Ok") << r.err;
    EXPECT_FALSE(fs::exists(m_dir / "out/m.jpg"));
  }

  TempDir m_dir;
};

// Experimental gives each picture one cell: a duplicate count other than 1,
// or a picture whose folder sets its own count, is refused before the main
// image is even analysed; a count of 1 goes through.
TEST_F(Outcomes, ExperimentalWithDuplicatesIsRefusedBeforeAnyWork) {
  struct Case {
    const char* processing;
    const char* duplication;
    const char* list;
  };
  for (const Case& c : {Case{"standard1", "2", "tiles.tzc"}, Case{"standard2", "0", "tiles.tzc"},
                        Case{"standard1", "1", "limited.tzc"}}) {
    SCOPED_TRACE(std::string(c.processing) + " duplication " + c.duplication + " " + c.list);
    const auto r = run(mosaic(std::string("--set MosaicProcessing=") + c.processing +
                                  " --set TileDuplication=" + c.duplication,
                              20, c.list));
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_NE(r.err.find("error: The selected Experimental Mosaic Processing can be used only with the No Duplicate "
                         "Tile Count."),
              std::string::npos)
        << r.err;
    EXPECT_FALSE(has_json_line(r.err)) << r.err;  // no stage ever began
    EXPECT_FALSE(fs::exists(m_dir / "out"));
  }
  const auto r = run(mosaic("--set MosaicProcessing=standard1 --set TileDuplication=1"));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(fs::exists(m_dir / "out/m.jpg"));
}

// A settings file edited by hand with a colour priority the program does not
// know: the comparison cannot be set up, and the run says so as a failure.
TEST_F(Outcomes, AStageThatCannotGoOnFailsWithItsReason) {
  ASSERT_EQ(run("settings save Edited").status, 0);
  fs::path saved;
  for (const auto& entry : fs::recursive_directory_iterator(m_dir.path()))
    if (entry.path().filename().string().starts_with("TessellariumSettings") && entry.path().extension() == ".txt")
      saved = entry.path();
  ASSERT_FALSE(saved.empty());
  std::ifstream in(saved);
  std::stringstream edited;
  for (std::string line; std::getline(in, line);)
    edited << (line.starts_with("ColorChangePriority") ? "ColorChangePriority = sharpest" : line) << "\n";
  ASSERT_TRUE(testing::write_file(m_dir / "edited.txt", edited.str()));

  const auto r = run(mosaic("--settings " + quoted("edited.txt") + " --section Edited"));
  expect_failed(r);
  EXPECT_NE(r.err.find("error: the run failed: "), std::string::npos) << r.err;
  EXPECT_NE(final_line(r.err)["status"].get<std::string>().find("ColorChangePriority"), std::string::npos) << r.err;
}

// The job pool's threads find no memory (a preloaded allocator): the cells
// they analyse would be left out of the mosaic, so the run fails with the
// out-of-memory text instead of writing a mosaic with holes. Thousands of
// cells make dozens of jobs, so the pool's threads always get some.
TEST_F(Outcomes, AJobThatFailsFailsTheRun) {
  for (const char* processing : {"standard", "faster", "standard1"}) {
    SCOPED_TRACE(processing);
    fs::remove_all(m_dir / "out");
    const auto r = run(mosaic(std::string("--set Advanced.Options.ThreadCount=8 --set TileDuplication=1 "
                                          "--set MosaicProcessing=") +
                                  processing,
                              60),
                       "LD_PRELOAD='" TESS_JOB_MEMORY_LIB "' TESS_JOB_MEMORY_BYTES=64"
                       " ASAN_OPTIONS=\"${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0\"");
    expect_failed(r);
    EXPECT_NE(r.err.find("error: Out Of Memory while allocating an Image made of "), std::string::npos) << r.err;
  }
}

// A mosaic that cannot be written says why in the system's words, beside the
// path, whatever its format.
TEST_F(Outcomes, SystemErrorsAreToldInWordsBesideThePath) {
  for (const char* format : {"jpg", "bmp", "png", "psd", "raw", "tiff"}) {
    SCOPED_TRACE(format);
    fs::remove_all(m_dir / "out");
    // The mosaic's name is taken by a folder.
    const fs::path target = m_dir / (std::string("out/m.") + format);
    fs::create_directories(target);
    const auto r = run("mosaic " + quoted("photo.jpg") + " --list " + quoted("tiles.tzc") +
                       " --set MosaicSizeUnit=pixel --set MosaicSizeWidth=400 --set MosaicSizeHeight=300 "
                       "--set TileSize=4 --set RezIroriz=0 --yes --progress json --set FileFormat=" +
                       format + " --output " + shell_quoted(target.string()));
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("Is a directory: " + target.string()), std::string::npos) << r.err;
    const json last = final_line(r.err);
    ASSERT_TRUE(last.is_object()) << r.err;
    EXPECT_EQ(last["state"], "failed");
    EXPECT_NE(last["status"].get<std::string>().find("Is a directory"), std::string::npos) << r.err;
    EXPECT_TRUE(fs::is_directory(target));
  }
}

}  // namespace
}  // namespace tess
