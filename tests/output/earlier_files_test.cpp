// SPDX-License-Identifier: GPL-3.0-or-later
#include <algorithm>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include "base/scripted_prompt.hpp"
#include "output/earlier_files.hpp"
#include "support/test_support.hpp"

namespace tess {
namespace {

namespace fs = std::filesystem;
using testing::read_file;
using testing::names_in;
using testing::TempDir;
using testing::write_file;

// A new file takes its name only when complete, as every writer's does.
bool replace_file(const std::string& path, const std::string& bytes) {
  std::error_code ec;
  return write_file(path + ".new", bytes) && (fs::rename(path + ".new", path, ec), !ec);
}

// Pieces of a new mosaic over those of an earlier one: put back when the new
// one fails, gone with their hidden folder when it stands.
TEST(EarlierFiles, PiecesArePutBackOrLetGo) {
  const TempDir dir;
  for (const bool stands : {false, true}) {
    SCOPED_TRACE(stands ? "stands" : "fails");
    ScriptedPrompt prompt;
    const std::string a = (dir / "m01x01.jpg").string();
    const std::string b = (dir / "m02x01.jpg").string();
    ASSERT_TRUE(write_file(a, "earlier a"));
    fs::remove(b);
    {
      EarlierFiles earlier((dir / "m").string());
      earlier.keep(a);
      earlier.keep(b);
      ASSERT_TRUE(replace_file(a, "new a"));
      ASSERT_TRUE(replace_file(b, "new b"));
      if (!stands) {
        EXPECT_TRUE(earlier.restore(prompt));
      }
    }
    EXPECT_EQ(read_file(a), stands ? "new a" : "earlier a");
    EXPECT_EQ(fs::exists(b), stands);
    EXPECT_EQ(names_in(dir.path()), stands ? (std::vector<std::string>{"m01x01.jpg", "m02x01.jpg"})
                                           : std::vector<std::string>{"m01x01.jpg"});
    EXPECT_TRUE(prompt.messages().empty());
  }
}

// Never lost: an earlier file that cannot take its name again stays in the
// hidden folder, and the user learns where.
TEST(EarlierFiles, WhatCannotBePutBackIsKeptAndNamed) {
  const TempDir dir;
  const std::string piece = (dir / "m01x01.jpg").string();
  ASSERT_TRUE(write_file(piece, "earlier"));
  ScriptedPrompt prompt;
  {
    EarlierFiles earlier((dir / "m").string());
    earlier.keep(piece);
    fs::remove(piece);
    fs::create_directories(fs::path(piece) / "in the way");
    EXPECT_FALSE(earlier.restore(prompt));
  }
  ASSERT_EQ(prompt.messages().size(), 1u);
  const std::string text = prompt.messages()[0];
  const std::string start = "The earlier file '" + piece + "' could not be put back: it is kept as '";
  ASSERT_EQ(text.rfind(start, 0), 0u) << text;
  const std::string kept = text.substr(start.size(), text.find('\'', start.size()) - start.size());
  EXPECT_EQ(read_file(kept), "earlier");
  EXPECT_EQ(fs::path(kept).parent_path().filename().string().rfind(".m.old.", 0), 0u) << kept;
}

// A finished folder takes the place of the earlier one with its mode; a
// failed step leaves the earlier one whole.
TEST(EarlierFiles, AReplacedFolderKeepsItsModeAndAFailedReplaceKeepsTheEarlier) {
  const TempDir dir;
  const std::string folder = (dir / "m RezIroriz/").string();
  const std::string made = (dir / "made/").string();
  fs::create_directories(folder);
  ASSERT_TRUE(write_file(folder + "index.html", "earlier"));
  ASSERT_EQ(::chmod((dir / "m RezIroriz").c_str(), 0750), 0);
  ScriptedPrompt prompt;
  // Nothing made: the earlier folder goes back to its name.
  EXPECT_FALSE(replace_folder(made, folder, kEarlierFileKeptText, prompt));
  EXPECT_EQ(read_file(folder + "index.html"), "earlier");
  EXPECT_EQ(prompt.messages(), std::vector<std::string>{"Unable to save file '" + folder +
                                                        "'. No such file or directory: " + folder});

  fs::create_directories(made);
  ASSERT_TRUE(write_file(made + "index.html", "new"));
  prompt.clear();
  ASSERT_TRUE(replace_folder(made, folder, kEarlierFileKeptText, prompt));
  EXPECT_EQ(read_file(folder + "index.html"), "new");
  struct stat status {};
  ASSERT_EQ(::stat((dir / "m RezIroriz").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0750u);
  EXPECT_EQ(names_in(dir.path()), std::vector<std::string>{"m RezIroriz"});
  EXPECT_TRUE(prompt.messages().empty());
}

}  // namespace
}  // namespace tess
