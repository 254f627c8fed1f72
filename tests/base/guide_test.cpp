// The translated user guides keep in step with the English one: the same
// sections, anchors and block structure in the same order, in their own
// language, so Help opens the same guide whatever the interface speaks.

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "support/test_support.hpp"

namespace tess {
namespace {

namespace fs = std::filesystem;

struct Outline {
  std::string language;                ///< <html lang="...">
  std::vector<std::string> blocks;     ///< block tags in order, with their id where they have one
  std::vector<std::string> headings;   ///< the text of every <h2>
  std::vector<std::string> links;      ///< every in-page link target, in order
  std::set<std::string> ids;
};

Outline outline_of(const std::string& html) {
  Outline outline;
  std::smatch match;
  if (std::regex_search(html, match, std::regex(R"re(<html[^>]*\blang="([^"]+)")re"))) outline.language = match[1];
  // Inline markup (strong, em, code, links) follows the wording and may differ.
  static const std::regex tag(R"re(<(section|nav|main|header|footer|h[1-6]|p|ol|ul|li|dl|dt|dd|pre)\b([^>]*)>)re");
  static const std::regex id(R"re(\bid="([^"]+)")re");
  for (auto it = std::sregex_iterator(html.begin(), html.end(), tag); it != std::sregex_iterator(); ++it) {
    std::string block = (*it)[1];
    const std::string attributes = (*it)[2];
    if (std::regex_search(attributes, match, id)) {
      block += "#" + match[1].str();
      outline.ids.insert(match[1]);
    }
    outline.blocks.push_back(block);
  }
  static const std::regex heading(R"re(<h2[^>]*>([^<]*)</h2>)re");
  for (auto it = std::sregex_iterator(html.begin(), html.end(), heading); it != std::sregex_iterator(); ++it)
    outline.headings.push_back((*it)[1]);
  static const std::regex link(R"re(href="#([^"]+)")re");
  for (auto it = std::sregex_iterator(html.begin(), html.end(), link); it != std::sregex_iterator(); ++it)
    outline.links.push_back((*it)[1]);
  return outline;
}

TEST(UserGuide, GermanGuideHasTheEnglishSectionsInGerman) {
  const fs::path folder = fs::path(TESS_SOURCE_ROOT) / "data" / "guide";
  if (!fs::is_regular_file(folder / "index.html")) GTEST_SKIP() << "the guide sources are not at " << folder;
  const Outline english = outline_of(testing::read_file(folder / "index.html"));
  const Outline german = outline_of(testing::read_file(folder / "index-de.html"));

  ASSERT_FALSE(english.headings.empty());
  EXPECT_EQ(german.blocks, english.blocks) << "the sections, anchors or lists of the two guides differ";
  EXPECT_EQ(german.links, english.links);
  for (const std::string& target : german.links) EXPECT_TRUE(german.ids.contains(target)) << "#" << target;

  EXPECT_EQ(english.language, "en");
  EXPECT_EQ(german.language, "de");
  ASSERT_EQ(german.headings.size(), english.headings.size());
  for (std::size_t i = 0; i < english.headings.size(); ++i)
    EXPECT_NE(german.headings[i], english.headings[i]) << "section " << i + 1 << " is still in English";
}

}  // namespace
}  // namespace tess
