// SPDX-License-Identifier: GPL-3.0-or-later
// Calls a script or a new user gets wrong: each ends with exit 2 and one
// "error:" line that says what is wrong and what to do, in the command
// line's own words (no buttons, no windows).

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cli_runner.hpp"
#include "images/image_files.hpp"
#include "support/test_support.hpp"

namespace tess {
namespace {

namespace fs = std::filesystem;
using testing::shell_quoted;
using testing::TempDir;

// The first line of `text` that starts with "error: ", without it; empty when none.
std::string first_error(const std::string& text) {
  for (std::size_t start = 0; start < text.size();) {
    const std::size_t end = std::min(text.find('\n', start), text.size());
    const std::string line = text.substr(start, end - start);
    if (line.rfind("error: ", 0) == 0) return line.substr(7);
    start = end + 1;
  }
  return {};
}

// Words that only make sense beside the desktop program's window.
void expect_no_window_words(const testing::CliOutcome& r, const std::string& call) {
  for (const char* word : {"Main Window", "button", "open the destination folder", "Remember to Save", "Drag&Drop"}) {
    EXPECT_EQ(r.out.find(word), std::string::npos) << call << " printed \"" << word << "\":\n" << r.out;
    EXPECT_EQ(r.err.find(word), std::string::npos) << call << " printed \"" << word << "\":\n" << r.err;
  }
}

class FaultyCalls : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(testing::write_tile_library(m_dir / "tiles", 24));
    ASSERT_TRUE(testing::write_photo(m_dir / "photo.jpg"));
    ASSERT_TRUE(testing::write_photo(m_dir / "thin.jpg", 30000, 1));
    ASSERT_TRUE(testing::write_file(m_dir / "notes.jpg", "not a picture, only words\n"));
    ASSERT_TRUE(testing::write_file(m_dir / "empty.png", ""));
    const auto r = run("list create tiles.tzc --include tiles");
    ASSERT_EQ(r.status, 0) << r.err;
    expect_no_window_words(r, "list create");
  }

  testing::CliOutcome run(const std::string& args) const { return testing::run_program(m_dir.path(), args, m_dir.path()); }

  TempDir m_dir;
};

TEST_F(FaultyCalls, EachEndsWithOneErrorLineThatSaysWhatToDo) {
  struct Case {
    std::string call;
    std::vector<std::string> phrases;  // each found in the first error line
  };
  const std::vector<Case> cases = {
      {"list create x.tzc", {"--include"}},
      {"list create x.tzc --exclude tiles", {"--include"}},
      {"mosaic missing.jpg --list tiles.tzc --yes", {"no such picture", "missing.jpg"}},
      {"mosaic notes.jpg --list tiles.tzc --yes", {"cannot read the main image", "notes.jpg", "JPEG or PNG"}},
      {"mosaic empty.png --list tiles.tzc --yes", {"cannot read the main image", "empty.png"}},
      {"mosaic thin.jpg --list tiles.tzc --yes", {"30000 x 1", "--set"}},
      {"summary thin.jpg", {"30000 x 1", "--set"}},
      {"list gaps tiles.tzc --image thin.jpg", {"30000 x 1", "--set"}},
      {"list gaps tiles.tzc --image notes.jpg", {"cannot read the main image", "notes.jpg"}},
  };
  for (const Case& c : cases) {
    const auto r = run(c.call);
    EXPECT_EQ(r.status, 2) << c.call << "\n" << r.err;
    const std::string error = first_error(r.err);
    ASSERT_FALSE(error.empty()) << c.call << " printed no error line:\n" << r.err;
    for (const std::string& phrase : c.phrases)
      EXPECT_NE(error.find(phrase), std::string::npos) << c.call << ": \"" << phrase << "\" not in: " << error;
    // One reason, not the window's message followed by a summary of it.
    EXPECT_EQ(r.err.find("warning: "), std::string::npos) << c.call << "\n" << r.err;
    expect_no_window_words(r, c.call);
  }
  EXPECT_FALSE(fs::exists(m_dir / "x.tzc"));
}

TEST_F(FaultyCalls, AWholeRunNamesNoWindowAndAsksNothingAtTheEnd) {
  const auto r = run("mosaic photo.jpg --list tiles.tzc --yes --set MosaicSizeUnit=pixel --set MosaicSizeWidth=400 "
                     "--set MosaicSizeHeight=300 --set TileSize=10 --output m.jpg");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "m.jpg\n");
  expect_no_window_words(r, "mosaic");
  const auto again = run("list update tiles.tzc");
  ASSERT_EQ(again.status, 0) << again.err;
  expect_no_window_words(again, "list update");
  EXPECT_NE(again.err.find("tiles.tzc"), std::string::npos) << again.err;  // where the list was saved
}

}  // namespace
}  // namespace tess
