// SPDX-License-Identifier: GPL-3.0-or-later
// The user's files under whole runs of the program: an output that would
// replace something the run reads, a folder of somebody else's where a
// mosaic's folder goes, and several runs writing one mosaic at once.

#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <future>
#include <map>
#include <memory>
#include <sstream>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/file_lock.hpp"
#include "cli_runner.hpp"
#include "images/foto.hpp"
#include "images/image_files.hpp"
#include "output/run_outputs.hpp"
#include "support/test_support.hpp"

namespace tess {
namespace {

namespace fs = std::filesystem;
using testing::shell_quoted;
using testing::TempDir;

class UserFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(runtime());
    ASSERT_TRUE(testing::write_tile_library(m_dir / "tiles", 40));
    ASSERT_TRUE(testing::write_photo(m_dir / "photo.jpg"));
    const auto r = run("list create " + quoted("tiles.tzc") + " --include " + quoted("tiles/"));
    ASSERT_EQ(r.status, 0) << r.err;
  }

  std::string quoted(const std::string& name) const { return shell_quoted((m_dir / name).string()); }
  // Runs take their output locks in the test's own runtime folder.
  testing::CliOutcome run(const std::string& args, const std::string& env = {}) const {
    return testing::run_program(m_dir.path(), args, {}, "XDG_RUNTIME_DIR=" + shell_quoted(runtime().string()) + " " + env);
  }
  fs::path runtime() const { return m_dir / "run"; }
  // A small mosaic of photo.jpg; `output` relative to the test folder.
  std::string mosaic(const std::string& output, const std::string& settings = {}) const {
    return "mosaic " + quoted("photo.jpg") + " --list " + quoted("tiles.tzc") +
           " --set MosaicSizeUnit=pixel --set MosaicSizeWidth=400 --set MosaicSizeHeight=300 --set TileSize=20"
           " --set RezIroriz=0 --yes --quiet " +
           settings + " --output " + quoted(output);
  }
  fs::path path(const std::string& name) const { return m_dir / name; }

  TempDir m_dir;
};

// Every file below `folder`, by its path relative to it, with its bytes.
std::map<std::string, std::string> contents(const fs::path& folder) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(folder))
    if (entry.is_regular_file()) files[fs::relative(entry.path(), folder).string()] = testing::read_file(entry.path());
  return files;
}

// --- outputs over inputs ----------------------------------------------------

TEST_F(UserFiles, NoOutputReplacesAFileTheRunReads) {
  const std::string photo = testing::read_file(path("photo.jpg"));
  const std::string tile = testing::read_file(path("tiles/t3.jpg"));
  fs::create_directories(path("links"));
  fs::create_symlink(path("photo.jpg"), path("links/m.jpg"));
  // A settings copy from an earlier run, read back as the settings of the next.
  const auto first = run(mosaic("mine.jpg", "--set TextReport=1"));
  ASSERT_EQ(first.status, 0) << first.err;
  struct Case {
    const char* name;
    std::string args;
    const char* named;  // a piece of the clashing input the message names
  };
  const std::vector<Case> cases = {
      {"the main image", mosaic("photo.jpg"), "photo.jpg"},
      {"a picture of the list", mosaic("tiles/t3.jpg"), "t3.jpg"},
      {"a link to the main image", mosaic("links/m.jpg"), "photo.jpg"},
      {"the list file", mosaic("tiles.jpg", "--set FileFormat=ppm") + " --save-placement " + quoted("tiles.tzc"),
       "tiles.tzc"},
      {"the placement file as the mosaic", mosaic("out/p.jpg") + " --save-placement " + quoted("tiles/t4.jpg"), "t4.jpg"},
      {"the settings file by the settings copy",
       mosaic("mine.jpg", "--set TextReport=1") + " --settings " + quoted("mine Settings.txt"), "mine Settings.txt"},
      {"a settings file inside the web folder",
       mosaic("out/w.jpg", "--set RezIroriz=1") + " --settings " + quoted("out/w RezIroriz/s.txt"), "s.txt"},
  };
  fs::create_directories(path("out/w RezIroriz"));
  fs::copy_file(path("mine Settings.txt"), path("out/w RezIroriz/s.txt"));
  const std::string settings = testing::read_file(path("mine Settings.txt"));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto r = run(c.args);
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_NE(r.err.find("choose another name for the mosaic"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(c.named), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
  }
  EXPECT_EQ(testing::read_file(path("photo.jpg")), photo);
  EXPECT_EQ(testing::read_file(path("tiles/t3.jpg")), tile);
  EXPECT_EQ(testing::read_file(path("mine Settings.txt")), settings);
  EXPECT_FALSE(fs::exists(path("out/p.jpg")));
  // A folder is no name for a mosaic.
  for (const char* folder : {"out/", "tiles/."}) {
    const auto r = run(mosaic(folder));
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_NE(r.err.find("names a folder"), std::string::npos) << r.err;
  }
  EXPECT_FALSE(fs::exists(path("out/.jpg")));
  // An output beside the inputs that replaces none of them is written.
  const auto r = run(mosaic("photo mosaic.jpg"));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(fs::exists(path("photo mosaic.jpg")));
}

// --- foreign folders -------------------------------------------------------

TEST_F(UserFiles, AFolderOfSomebodyElsesIsNeverReplacedButOurOwnIs) {
  const std::string web = "--set RezIroriz=1";
  // 1. A folder of the user's under the web mosaic's name.
  fs::create_directories(path("out/m RezIroriz/my photos"));
  ASSERT_TRUE(testing::write_file(path("out/m RezIroriz/my photos/precious.txt"), "mine"));
  ASSERT_TRUE(testing::write_file(path("out/m RezIroriz/notes.html"), "<p>mine</p>"));
  const auto before = contents(path("out/m RezIroriz"));
  auto r = run(mosaic("out/m.jpg", web));
  EXPECT_EQ(r.status, 2) << r.err;
  EXPECT_NE(r.err.find("was not written by Tessellarium"), std::string::npos) << r.err;
  EXPECT_EQ(contents(path("out/m RezIroriz")), before);
  EXPECT_FALSE(fs::exists(path("out/m.jpg")));

  // 2. A web mosaic of ours is replaced by the next run, keeping its mode.
  fs::remove_all(path("out/m RezIroriz"));
  r = run(mosaic("out/m.jpg", web));
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_TRUE(fs::exists(path("out/m RezIroriz/.tessellarium")));
  ASSERT_EQ(::chmod(path("out/m RezIroriz").c_str(), 0750), 0);
  r = run(mosaic("out/m.jpg", web));
  ASSERT_EQ(r.status, 0) << r.err;
  struct stat info {};
  ASSERT_EQ(::stat(path("out/m RezIroriz").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0750u);
  EXPECT_TRUE(fs::exists(path("out/m RezIroriz/index.html")));

  // 3. A web mosaic of an earlier version (no mark) is replaced too, but not
  // once the user has put something of theirs into it.
  fs::remove(path("out/m RezIroriz/.tessellarium"));
  r = run(mosaic("out/m.jpg", web));
  EXPECT_EQ(r.status, 0) << r.err;
  fs::remove(path("out/m RezIroriz/.tessellarium"));
  ASSERT_TRUE(testing::write_file(path("out/m RezIroriz/notes.html"), "<p>mine</p>"));
  r = run(mosaic("out/m.jpg", web));
  EXPECT_EQ(r.status, 2) << r.err;
  EXPECT_EQ(testing::read_file(path("out/m RezIroriz/notes.html")), "<p>mine</p>");

  // 4. The individual tiles go only into a folder of tiles.
  fs::create_directories(path("out/t Tile Images"));
  ASSERT_TRUE(testing::write_file(path("out/t Tile Images/holiday.jpg"), "mine"));
  r = run(mosaic("out/t.jpg", "--set IndividualTiles=1"));
  EXPECT_EQ(r.status, 2) << r.err;
  EXPECT_EQ(testing::read_file(path("out/t Tile Images/holiday.jpg")), "mine");
  fs::remove(path("out/t Tile Images/holiday.jpg"));
  r = run(mosaic("out/t.jpg", "--set IndividualTiles=1"));
  ASSERT_EQ(r.status, 0) << r.err;
  r = run(mosaic("out/t.jpg", "--set IndividualTiles=1"));
  EXPECT_EQ(r.status, 0) << r.err;
}

// --- earlier files put back ------------------------------------------------

// Every regular file below `folder` whose path matches `pattern`, by its bytes.
std::multiset<std::string> bytes_of(const fs::path& folder, const std::regex& pattern) {
  std::multiset<std::string> found;
  for (const auto& entry : fs::recursive_directory_iterator(folder))
    if (entry.is_regular_file() && std::regex_search(entry.path().string(), pattern))
      found.insert(testing::read_file(entry.path()));
  return found;
}

TEST_F(UserFiles, AnEarlierMosaicThatCannotBePutBackIsKeptAndNamed) {
  // Failing renames of what was kept aside, with a write that fails on the
  // last piece (or with the new web folder's own rename).
  const std::string preload = "LD_PRELOAD='" TESS_FULL_DEVICE_LIB "'";
  const std::string sanitizers = " ASAN_OPTIONS=\"${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0\"";
  // 1. Split pieces: three new pieces are written before the fourth fails.
  auto r = run(mosaic("out/m.jpg", "--split 200x150"));
  ASSERT_EQ(r.status, 0) << r.err;
  const auto earlier = bytes_of(path("out"), std::regex("/m0[12]x0[12]\\.jpg$"));
  ASSERT_EQ(earlier.size(), 4u);
  r = run(mosaic("out/m.jpg", "--split 200x150 --set TileSize=10"),
          preload + " TESS_FULL_DEVICE_MATCH='/out/.m02x02.jpg.' TESS_FULL_DEVICE_BYTES=100 TESS_FAIL_RENAME_MATCH=" +
              shell_quoted(path("out").string() + "/.m.old.*/*") + sanitizers);
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_NE(r.err.find("could not be put back"), std::string::npos) << r.err;
  // Each earlier piece is still somewhere: at its name or where the message says.
  auto kept = bytes_of(path("out"), std::regex("/m0[12]x0[12]\\.jpg$|/\\.m\\.old\\.[^/]*/[0-9]+$"));
  for (const std::string& piece : earlier) EXPECT_GE(kept.count(piece), 1u) << "an earlier piece was lost";

  // 2. A web mosaic: the new folder cannot take its name, nor the earlier one get it back.
  r = run(mosaic("out/w.jpg", "--set RezIroriz=1"));
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string page = testing::read_file(path("out/w RezIroriz/index.html"));
  r = run(mosaic("out/w.jpg", "--set RezIroriz=1 --set TileSize=10"),
          preload + " TESS_FAIL_RENAME_MATCH=" + shell_quoted(path("out").string() + "/.w RezIroriz.*") + sanitizers);
  EXPECT_EQ(r.status, 1) << r.err;
  const std::smatch where = [&] {
    std::smatch m;
    std::regex_search(r.err, m, std::regex("kept as '([^']+)'"));
    return m;
  }();
  ASSERT_EQ(where.size(), 2u) << r.err;
  EXPECT_EQ(testing::read_file(fs::path(where[1].str()) / "index.html"), page);
}

// --- concurrent runs -------------------------------------------------------

TEST_F(UserFiles, RunsOnOneOutputTakeTurnsAndLeaveOneRunsFiles) {
  // Each run makes a mosaic of another width, which its settings copy names.
  constexpr int kRuns = 3;
  constexpr int kTrials = 6;
  const auto args = [&](int k) {
    return mosaic("out/m.jpg", "--set RezIroriz=1 --set TextReport=1 --set MosaicSizeWidth=" +
                                   std::to_string(400 + 40 * k) + " --set MosaicSizeHeight=" +
                                   std::to_string(300 + 30 * k));
  };
  for (int trial = 0; trial < kTrials; ++trial) {
    SCOPED_TRACE("trial " + std::to_string(trial));
    fs::remove_all(path("out"));
    std::vector<std::future<testing::CliOutcome>> runs;
    for (int k = 0; k < kRuns; ++k)
      runs.push_back(std::async(std::launch::async, [&, k] { return run(args(k)); }));
    std::vector<std::string> printed;
    for (auto& f : runs) {
      const auto r = f.get();
      EXPECT_EQ(r.status, 0) << r.err;
      std::istringstream lines(r.out);
      for (std::string line; std::getline(lines, line);) printed.push_back(line);
    }
    for (const std::string& file : printed) EXPECT_TRUE(fs::exists(file)) << file;
    ASSERT_TRUE(fs::exists(path("out/m RezIroriz/index.html")));
    // The mosaic, its settings copy and its web page come from one run.
    int width = 0, height = 0;
    ASSERT_TRUE(Foto::read_size(path("out/m.jpg"), width, height));
    const std::string settings = testing::read_file(path("out/m Settings.txt"));
    std::smatch match;
    ASSERT_TRUE(std::regex_search(settings, match, std::regex("MosaicSizeWidth\\s*=\\s*(\\d+)")));
    const int asked = std::stoi(match[1]);
    EXPECT_EQ(width, asked) << "a mosaic " << width << " wide beside the settings copy of a run asking " << asked;
    const std::string page = testing::read_file(path("out/m RezIroriz/index.html"));
    EXPECT_NE(page.find(std::to_string(width)), std::string::npos);
  }
}

TEST_F(UserFiles, ARunWaitsForTheRunWritingItsOutputOrFailsAtOnceWhenAskedNotTo) {
  fs::create_directories(path("out"));
  // The lock another run writing out/m.jpg holds.
  ::setenv("XDG_RUNTIME_DIR", runtime().c_str(), 1);
  auto held = std::make_unique<FileLock>(output_lock_target(path("out/m").string()));
  ::unsetenv("XDG_RUNTIME_DIR");
  ASSERT_TRUE(held->held());
  const auto refused = run(mosaic("out/m.jpg") + " --no-wait");
  EXPECT_EQ(refused.status, 1) << refused.err;
  EXPECT_NE(refused.err.find("being written by another run"), std::string::npos) << refused.err;
  EXPECT_FALSE(fs::exists(path("out/m.jpg")));
  auto waiting = std::async(std::launch::async, [&] { return run(mosaic("out/m.jpg")); });
  EXPECT_EQ(waiting.wait_for(std::chrono::milliseconds(1500)), std::future_status::timeout);
  EXPECT_FALSE(fs::exists(path("out/m.jpg")));
  held.reset();  // the other run has finished: the waiting one writes its mosaic
  const auto waited = waiting.get();
  EXPECT_EQ(waited.status, 0) << waited.err;
  EXPECT_TRUE(fs::exists(path("out/m.jpg")));
}

}  // namespace
}  // namespace tess
