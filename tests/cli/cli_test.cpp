// The command-line program, run as a separate process the way a user runs it.

#include <string>

#include <gtest/gtest.h>

#include "cli_runner.hpp"
#include "settings/advanced_options.hpp"
#include "support/test_support.hpp"

namespace tess {
namespace {

using testing::TempDir;

using Result = testing::CliOutcome;

// Runs the program with `args` (already shell-quoted), its settings in a
// fresh folder unless `config` names one.
Result run(const std::string& args, const std::filesystem::path& config = {}) {
  if (!config.empty()) return testing::run_program(config, args);
  TempDir fresh;
  return testing::run_program(fresh.path(), args);
}

TEST(Cli, PrintsVersion) {
  Result r = run("--version");
  EXPECT_EQ(r.status, 0);
  // Scripts read the version from the first line; the licence follows it.
  EXPECT_EQ(r.out.substr(0, r.out.find('\n') + 1), "Tessellarium 3.53.0\n");
}

TEST(Cli, BadUsageExitsWithTwo) {
  EXPECT_EQ(run("--no-such-option").status, 2);
  EXPECT_EQ(run("").status, 2);
  EXPECT_EQ(run("config").status, 2);
}

TEST(Cli, ConfigSetPersistsInTheSettingsFolder) {
  TempDir dir;
  ASSERT_EQ(run("config set Options.ThreadCount 4", dir.path()).status, 0);

  Result show = run("config show", dir.path());
  ASSERT_EQ(show.status, 0);
  int lines = 0;
  for (char c : show.out) lines += c == '\n';
  EXPECT_EQ(lines, static_cast<int>(kAdvancedOptionCount));
  EXPECT_NE(show.out.find("Options.ThreadCount = 4\n"), std::string::npos) << show.out;
  EXPECT_NE(show.out.find("Options.MemoryMaxSizeMB = 1500\n"), std::string::npos);

  std::string file = testing::read_file(dir / "Tessellarium Standard/TessellariumConfig.txt");
  EXPECT_NE(file.find("[Default Values]\r\nOptions.ThreadCount = 4\r\n"), std::string::npos) << file;

  Result get = run("config get options.threadcount", dir.path());
  EXPECT_EQ(get.status, 0);
  EXPECT_EQ(get.out, "4\n");

  // A stored word is taken as itself, even where it is also another word's
  // label in other letters: "LOWEST" is the word under "very low", "lowest"
  // the label of IDLE.
  for (const char* word : {"LOWEST", "lowest", "IDLE", "very low", "idle"}) {
    SCOPED_TRACE(word);
    ASSERT_EQ(run(std::string("config set Options.Priority '") + word + "'", dir.path()).status, 0);
    EXPECT_EQ(run("config get Options.Priority", dir.path()).out,
              std::string(word) == "LOWEST" || std::string(word) == "very low" ? "LOWEST\n" : "IDLE\n");
  }
}

TEST(Cli, ConfigRefusesUnknownKeysAndValuesAndReportsWriteFailures) {
  TempDir dir;
  EXPECT_EQ(run("config get Options.Nothing", dir.path()).status, 2);
  EXPECT_EQ(run("config set Options.Priority warp", dir.path()).status, 2);
  // The configuration file's place is taken by a folder: the write must fail loudly.
  std::filesystem::create_directories(dir / "Tessellarium Standard/TessellariumConfig.txt");
  EXPECT_EQ(run("config set Options.ThreadCount 2", dir.path()).status, 1);
}

}  // namespace
}  // namespace tess
