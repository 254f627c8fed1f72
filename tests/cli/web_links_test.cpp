// SPDX-License-Identifier: GPL-3.0-or-later
// The web mosaic's pop-up links, run through the program: pictures linked
// where they lie are reached by paths relative to the page, never by the
// user's absolute folder names, and the run says beforehand that the page
// names folders outside its own.

#include <algorithm>
#include <filesystem>
#include <regex>
#include <set>
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

// "%XX" back to its byte.
std::string percent_decoded(const std::string& url) {
  std::string out;
  for (std::size_t i = 0; i < url.size(); ++i) {
    if (url[i] == '%' && i + 2 < url.size()) {
      out += static_cast<char>(std::stoi(url.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      out += url[i];
    }
  }
  return out;
}

// The picture links of the page's tile array, as written.
std::vector<std::string> picture_links(const std::string& page) {
  static const std::regex kRow(R"re(\[\d+,\d+,\d+,\d+,\d+,\d+,\d+,"((?:[^"]|"")*)")re");
  std::vector<std::string> links;
  for (auto it = std::sregex_iterator(page.begin(), page.end(), kRow); it != std::sregex_iterator(); ++it)
    links.push_back((*it)[1].str());
  return links;
}

std::size_t occurrences(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

class WebLinks : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(testing::write_tile_library(m_dir / "K\xC3\xB6ln 2024#1", 30));
    ASSERT_TRUE(testing::write_photo(m_dir / "photo.jpg"));
    auto r = run("list create " + quoted("tiles.tzc") + " --include " + quoted("K\xC3\xB6ln 2024#1"));
    ASSERT_EQ(r.status, 0) << r.err;
  }

  std::string quoted(const std::string& name) const { return shell_quoted((m_dir / name).string()); }
  testing::CliOutcome run(const std::string& args) const { return testing::run_program(m_dir.path(), args); }
  // A small mosaic with the default web mosaic and its pop-ups, in a folder
  // two levels below the pictures' parent.
  testing::CliOutcome web_run(const std::string& more) const {
    return run("mosaic " + quoted("photo.jpg") + " --list " + quoted("tiles.tzc") +
               " --set MosaicSizeUnit=pixel --set MosaicSizeWidth=600 --set MosaicSizeHeight=450 --set TileSize=10"
               " --set RezIroriz=1 --set RezIrorizPopUpText=4 --output " +
               quoted("site/out/m.jpg") + " --yes --quiet" + more);
  }

  TempDir m_dir;
};

TEST_F(WebLinks, PicturesWhereTheyLieAreLinkedRelativeToThePageWithAWarning) {
  const auto r = web_run("");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(occurrences(r.err, "warning: The web mosaic's pop-ups link the tile pictures"), 1u) << r.err;
  EXPECT_NE(r.err.find("RezIrorizCopyImages=1"), std::string::npos) << r.err;

  const fs::path folder = m_dir / "site/out/m RezIroriz";
  const std::string page = testing::read_file(folder / "index.html");
  EXPECT_EQ(page.find("file:"), std::string::npos);
  EXPECT_EQ(page.find(m_dir.path().string()), std::string::npos) << "the page names the user's folders";
  const auto links = picture_links(page);
  ASSERT_FALSE(links.empty()) << page.substr(0, 2000);
  std::set<std::string> reached;
  for (const std::string& link : links) {
    ASSERT_EQ(link.rfind("../../../", 0), 0u) << link;
    // Blank, umlaut and "#" of the folder's name are encoded.
    ASSERT_NE(link.find("K%C3%B6ln%202024%231/"), std::string::npos) << link;
    const fs::path file = (folder / percent_decoded(link)).lexically_normal();
    ASSERT_TRUE(fs::is_regular_file(file)) << link;
    EXPECT_EQ(file.parent_path(), (m_dir / "K\xC3\xB6ln 2024#1").lexically_normal()) << link;
    reached.insert(file.string());
  }
  EXPECT_GT(reached.size(), 1u);

  // The folder tree copied elsewhere keeps its links.
  const fs::path moved = m_dir / "elsewhere";
  fs::create_directories(moved / "site");
  fs::copy(m_dir / "site", moved / "site", fs::copy_options::recursive);
  fs::copy(m_dir / "K\xC3\xB6ln 2024#1", moved / "K\xC3\xB6ln 2024#1", fs::copy_options::recursive);
  for (const std::string& link : links)
    EXPECT_TRUE(fs::is_regular_file(moved / "site/out/m RezIroriz" / percent_decoded(link))) << link;
}

TEST_F(WebLinks, CopiedPicturesNeedNoWarning) {
  const auto r = web_run(" --set RezIrorizCopyImages=1");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err.find("pop-ups link"), std::string::npos) << r.err;
  const fs::path folder = m_dir / "site/out/m RezIroriz";
  const auto links = picture_links(testing::read_file(folder / "index.html"));
  ASSERT_FALSE(links.empty());
  for (const std::string& link : links) {
    EXPECT_EQ(link.rfind("tiles/", 0), 0u) << link;
    EXPECT_TRUE(fs::is_regular_file(folder / percent_decoded(link))) << link;
  }
}

TEST_F(WebLinks, NoPopUpsNeedNoWarning) {
  const auto r = web_run(" --set RezIrorizPopUpText=0");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err.find("pop-ups link"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace tess
