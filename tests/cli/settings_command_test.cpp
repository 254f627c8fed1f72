// `tessellarium settings ...`, run as a separate process the way a user runs it.

#include <array>
#include <cstdio>
#include <string>

#include <gtest/gtest.h>
#include <sys/wait.h>

#include "cli_runner.hpp"
#include "support/test_support.hpp"

namespace tess {
namespace {

using testing::TempDir;

using Result = testing::CliOutcome;

class SettingsCommand : public ::testing::Test {
 protected:
  // Runs the program with `args` (already shell-quoted) in the test's settings folder.
  Result run(const std::string& args) const { return testing::run_program(m_dir.path(), args); }

  std::filesystem::path settings_path() const {
    return m_dir / "Tessellarium Standard/TessellariumSettings12x9.txt";
  }
  std::string settings_text() const { return testing::read_file(settings_path()); }

  TempDir m_dir;
};

const char* const kAutomaticEntries =
    "(Default Settings)\n(Landscape)\n(Portrait)\n(Parquet)\n(Mixed)\n(Use All Images)\n(Video Mosaic)\n";

TEST_F(SettingsCommand, ListWithoutAFileShowsTheAutomaticEntries) {
  Result r = run("settings list");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, kAutomaticEntries);
}

TEST_F(SettingsCommand, SaveShowListDelete) {
  Result save = run("settings save ' Poster A3 ' --set FileFormat=bigtiff_jpg80 --set 'Pattern=Parquet (1:1)' "
                    "--set TileUnit=tiles --set TileSize=900 --set TileVariants=rotated90 "
                    "--set TileList=/lists/all.tzc");
  ASSERT_EQ(save.status, 0) << save.err;
  std::string text = settings_text();
  EXPECT_NE(text.find("[Poster A3]\r\nVersion = 1\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find("Pattern = Parquet (1:1)\r\n"), std::string::npos);
  EXPECT_NE(text.find("FileFormat = tiff_jpg\r\nJPGQuality = 80\r\n"), std::string::npos);
  EXPECT_NE(text.find("OutputTIFF64 = 1\r\n"), std::string::npos);
  EXPECT_NE(text.find("Advanced.Version = 0\r\nAdvanced.Options.ThreadCount = \r\n"), std::string::npos)
      << "no Advanced. key given: no advanced options stored";
  EXPECT_NE(text.find("TileList = /lists/all.tzc\r\n"), std::string::npos);

  Result list = run("settings list");
  EXPECT_EQ(list.status, 0);
  EXPECT_EQ(list.out, std::string("Poster A3\n") + kAutomaticEntries);

  Result show = run("settings show 'poster a3'");
  ASSERT_EQ(show.status, 0) << show.err;
  EXPECT_EQ(show.out.rfind("Version = 1\nMosaicSizeUnit = cm\n", 0), 0u) << show.out;
  EXPECT_NE(show.out.find("TileUnit = tiles\nTileSize = 900.000000\n"), std::string::npos);
  EXPECT_NE(show.out.find("TileVariants = rotated90\n"), std::string::npos);
  EXPECT_NE(show.out.find("Advanced.Options.MemoryMaxSizeMB = 1500\n"), std::string::npos);
  EXPECT_NE(show.out.find("TileList = /lists/all.tzc\n"), std::string::npos);

  EXPECT_EQ(run("settings delete 'Poster A3'").status, 0);
  EXPECT_EQ(run("settings list").out, kAutomaticEntries);
  EXPECT_EQ(run("settings show 'Poster A3'").status, 2);
  EXPECT_EQ(run("settings delete 'Poster A3'").status, 2);
}

TEST_F(SettingsCommand, AdvancedKeysAreStoredAndUnsavedOnesFollowTheDefaults) {
  ASSERT_EQ(run("config set Options.ThreadCount 4").status, 0);
  ASSERT_EQ(run("settings save Fast --set Advanced.Options.ThreadCount=2 --set Advanced.Options.Priority=high")
                .status,
            0);
  ASSERT_EQ(run("settings save Plain").status, 0);
  Result fast = run("settings show Fast");
  EXPECT_NE(fast.out.find("Advanced.Version = 1\nAdvanced.Options.ThreadCount = 2\n"), std::string::npos)
      << fast.out;
  EXPECT_NE(fast.out.find("Advanced.Options.Priority = ABOVE_NORMAL\n"), std::string::npos);
  Result plain = run("settings show Plain");
  EXPECT_NE(plain.out.find("Advanced.Options.ThreadCount = 4\n"), std::string::npos) << plain.out;
}

TEST_F(SettingsCommand, ShowsAutomaticEntriesThatNeedNoList) {
  Result defaults = run("settings show '(Default Settings)'");
  ASSERT_EQ(defaults.status, 0);
  EXPECT_NE(defaults.out.find("TileUnit = tilesxrow\nTileSize = 40.000000\n"), std::string::npos);
  EXPECT_NE(defaults.out.find("TileVariants = 103\n"), std::string::npos);
  Result video = run("settings show '(video mosaic)'");
  ASSERT_EQ(video.status, 0);
  EXPECT_NE(video.out.find("FileFormat = avi_uncompressed\n"), std::string::npos);

  Result parquet = run("settings show '(Parquet)'");
  EXPECT_EQ(parquet.status, 2);
  EXPECT_NE(parquet.err.find("Please load a Tile Images List"), std::string::npos);

  EXPECT_EQ(run("settings show '(Last Mosaic)'").status, 2) << "not saved yet";
}

TEST_F(SettingsCommand, IgnoredValuesOfAFileAreNamed) {
  ASSERT_EQ(run("settings save Damaged").status, 0);
  std::string text = settings_text();
  std::size_t at = text.find("Pattern = Landscape\r\n");
  ASSERT_NE(at, std::string::npos);
  text.replace(at, 21, "Pattern = 99\r\n");
  ASSERT_TRUE(testing::write_file(settings_path(), text));
  Result show = run("settings show Damaged");
  EXPECT_EQ(show.status, 0);
  EXPECT_NE(show.out.find("Pattern = Landscape\n"), std::string::npos);
  EXPECT_NE(show.err.find("warning: Damaged: the value of Pattern was ignored"), std::string::npos) << show.err;
}

TEST_F(SettingsCommand, BadUsageExitsWithTwoAndWritesNothing) {
  Result unknown = run("settings save X --set Colour=red");
  EXPECT_EQ(unknown.status, 2);
  EXPECT_NE(unknown.err.find("Colour"), std::string::npos) << unknown.err;
  Result refused = run("settings save X --set TileSize=0");
  EXPECT_EQ(refused.status, 2);
  EXPECT_NE(refused.err.find("TileSize"), std::string::npos) << refused.err;
  EXPECT_EQ(run("settings save X --set Advanced.Options.Priority=warp").status, 2);
  EXPECT_EQ(run("settings save X --set NoEquals").status, 2);
  EXPECT_FALSE(std::filesystem::exists(settings_path()));

  Result name = run("settings save '(Mine)'");
  EXPECT_EQ(name.status, 2);
  EXPECT_NE(name.err.find("Please insert a valid name for the settings"), std::string::npos);
  EXPECT_EQ(run("settings save 'Mine)'").status, 2);
  EXPECT_FALSE(std::filesystem::exists(settings_path()));

  Result automatic = run("settings delete '(Default Settings)'");
  EXPECT_EQ(automatic.status, 2);
  EXPECT_NE(automatic.err.find("The automatic settings cannot be deleted"), std::string::npos);
  EXPECT_EQ(run("settings show Nothing").status, 2);
  EXPECT_EQ(run("settings").status, 2);
  EXPECT_EQ(run("settings save").status, 2);
}

TEST_F(SettingsCommand, AFailedWriteExitsWithOne) {
  std::filesystem::create_directories(settings_path());  // the file's place is taken by a folder
  Result r = run("settings save Mine");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("could not write the settings file"), std::string::npos) << r.err;
}

TEST_F(SettingsCommand, TwoProgramsSavingAtOnceKeepEverySetting) {
  // Two loops of saves under different names, side by side, as two users
  // (or the desktop program and a script) would run them.
  constexpr int kSaves = 60;
  const std::string command =
      "export TESSELLARIUM_CONFIG_PATH=" + testing::shell_quoted(m_dir.path().string()) +
      "; save() { i=1; while [ $i -le " + std::to_string(kSaves) + " ]; do '" TESS_CLI_EXE
      "' settings save \"$1 $i\" >/dev/null 2>&1 || echo \"failed: $1 $i\"; i=$((i + 1)); done; };"
      " save First & save Second & wait";
  EXPECT_EQ(testing::command_output(command), "");
  Result list = run("settings list");
  ASSERT_EQ(list.status, 0) << list.err;
  for (const char* name : {"First", "Second"})
    for (int i = 1; i <= kSaves; ++i)
      EXPECT_NE(list.out.find(std::string(name) + " " + std::to_string(i) + "\n"), std::string::npos)
          << name << " " << i << " was lost";
}

// A settings file whose section line lost its "]" (a hand edit, another
// program) is rewritten by every save without growing or moving keys.
TEST_F(SettingsCommand, SaveKeepsAFileWithATornSectionLineStable) {
  std::filesystem::create_directories(settings_path().parent_path());
  ASSERT_TRUE(testing::write_file(settings_path(), "\xEF\xBB\xBF[Kept]\r\nVersion = 1\r\nTileSize = 25\r\n"
                                                   "[Torn\r\nVersion = 1\r\nTileSize = 60\r\n"));
  ASSERT_EQ(run("settings save Other").status, 0);
  const std::string first = settings_text();
  ASSERT_EQ(run("settings save Other").status, 0);
  EXPECT_EQ(settings_text(), first);
  Result list = run("settings list");
  EXPECT_EQ(list.out, std::string("Kept\nTorn\nOther\n") + kAutomaticEntries);
}

}  // namespace
}  // namespace tess
