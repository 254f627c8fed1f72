#include "base/ini_file.hpp"

#include <gtest/gtest.h>

#include "support/test_support.hpp"

namespace tess {
namespace {

using testing::TempDir;

TEST(IniFile, WritesByteOrderMarkCrLfAndSpacedKeys) {
  TempDir dir;
  IniFile ini;
  ini.set("Default Values", "Options.ThreadCount", "4");
  ASSERT_TRUE(ini.save(dir / "c.txt"));
  std::string bytes = testing::read_file(dir / "c.txt");
  EXPECT_EQ(bytes.rfind("\xEF\xBB\xBF[Default Values]\r\n", 0), 0u) << bytes;
  EXPECT_NE(bytes.find("Options.ThreadCount = 4\r\n"), std::string::npos);
  EXPECT_EQ(bytes.find("\n\n"), std::string::npos);  // every line end is CR LF
}

TEST(IniFile, NamesCompareWithoutCaseAndSurviveRoundTrip) {
  TempDir dir;
  ASSERT_TRUE(testing::write_file(dir / "c.txt", "[default values]\r\nOPTIONS.priority = IDLE\r\nx = caf\xC3\xA9\r\n"));
  IniFile ini;
  ASSERT_TRUE(ini.load(dir / "c.txt"));
  EXPECT_EQ(ini.get("Default Values", "Options.Priority", ""), "IDLE");
  EXPECT_EQ(ini.get("DEFAULT VALUES", "X", ""), "caf\xC3\xA9");
  ini.set("Default Values", "options.PRIORITY", "NORMAL");  // replaces, never repeats
  EXPECT_EQ(ini.keys("Default Values").size(), 2u);
  ASSERT_TRUE(ini.save(dir / "c.txt"));
  IniFile again;
  ASSERT_TRUE(again.load(dir / "c.txt"));
  EXPECT_EQ(again.get("Default Values", "Options.Priority", ""), "NORMAL");
}

TEST(IniFile, ValuesStaySingleLines) {
  IniFile ini;
  ini.set("S", "k", "line one\r\nline two");
  IniFile back;
  ASSERT_TRUE(back.parse(ini.text()));
  EXPECT_EQ(back.get("S", "k", ""), "line one  line two");
}

// A section line cut short names its section by the rest of the line: its
// keys stay out of every other section, and the text written back reads the same.
TEST(IniFile, SectionLineWithoutBracketEndsAtItsLineEnd) {
  for (const std::string line_end : {"\r\n", "\n", "\r"}) {
    IniFile ini;
    ASSERT_TRUE(ini.parse("[A]" + line_end + "k = 1" + line_end + "[ Torn  " + line_end + "k = 2" + line_end));
    EXPECT_EQ(ini.sections(), (std::vector<std::string>{"A", "Torn"}));
    EXPECT_EQ(ini.get("A", "k", ""), "1");
    EXPECT_EQ(ini.get("Torn", "k", ""), "2");
    IniFile again;
    ASSERT_TRUE(again.parse(ini.text()));
    EXPECT_EQ(again.text(), ini.text());
  }
}

TEST(IniFile, MissingFileReadsEmptyAndFailedWriteIsReported) {
  TempDir dir;
  IniFile ini;
  EXPECT_FALSE(ini.load(dir / "absent.txt"));
  EXPECT_TRUE(ini.sections().empty());
  ini.set("S", "k", "v");
  EXPECT_FALSE(ini.save(dir / "no-such-folder" / "c.txt"));
}

TEST(IniFile, RemovesKeysAndSections) {
  IniFile ini;
  ini.set("A", "k", "1");
  ini.set("B", "k", "2");
  EXPECT_TRUE(ini.remove_key("a", "K"));
  EXPECT_FALSE(ini.get("A", "k").has_value());
  EXPECT_TRUE(ini.remove_section("b"));
  EXPECT_FALSE(ini.has_section("B"));
}

}  // namespace
}  // namespace tess
