// The command-line program, run as a separate process the way a user runs it.

#include <array>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>
#include <sys/wait.h>

#include "support/test_support.hpp"

namespace tess {
namespace {

using testing::TempDir;

struct Result {
  int status = -1;
  std::string out;
};

// Runs the program with `args` (already shell-quoted), capturing standard output.
Result run(const std::string& args, const std::string& env = "") {
  std::string command = env + " '" TESS_CLI_EXE "' " + args + " 2>/dev/null";
  Result r;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return r;
  std::array<char, 4096> buffer{};
  size_t n;
  while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) r.out.append(buffer.data(), n);
  int raw = ::pclose(pipe);
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return r;
}

TEST(Cli, PrintsVersion) {
  Result r = run("--version");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "Tessellarium 3.53.0\n");
}

TEST(Cli, BadUsageExitsWithTwo) {
  EXPECT_EQ(run("--no-such-option").status, 2);
  EXPECT_EQ(run("").status, 2);
  EXPECT_EQ(run("config").status, 2);
}

TEST(Cli, ConfigSetPersistsInTheSettingsFolder) {
  TempDir dir;
  std::string env = "TESSELLARIUM_CONFIG_PATH='" + dir.path().string() + "'";
  ASSERT_EQ(run("config set Options.ThreadCount 4", env).status, 0);

  Result show = run("config show", env);
  ASSERT_EQ(show.status, 0);
  int lines = 0;
  for (char c : show.out) lines += c == '\n';
  EXPECT_EQ(lines, 29);
  EXPECT_NE(show.out.find("Options.ThreadCount = 4\n"), std::string::npos) << show.out;
  EXPECT_NE(show.out.find("Options.MemoryMaxSizeMB = 1500\n"), std::string::npos);

  std::string file = testing::read_file(dir / "Tessellarium Standard/TessellariumConfig.txt");
  EXPECT_NE(file.find("[Default Values]\r\nOptions.ThreadCount = 4\r\n"), std::string::npos) << file;

  Result get = run("config get options.threadcount", env);
  EXPECT_EQ(get.status, 0);
  EXPECT_EQ(get.out, "4\n");
}

TEST(Cli, ConfigRefusesUnknownKeysAndValuesAndReportsWriteFailures) {
  TempDir dir;
  std::string env = "TESSELLARIUM_CONFIG_PATH='" + dir.path().string() + "'";
  EXPECT_EQ(run("config get Options.Nothing", env).status, 2);
  EXPECT_EQ(run("config set Options.Priority warp", env).status, 2);
  // The configuration file's place is taken by a folder: the write must fail loudly.
  std::filesystem::create_directories(dir / "Tessellarium Standard/TessellariumConfig.txt");
  EXPECT_EQ(run("config set Options.ThreadCount 2", env).status, 1);
}

}  // namespace
}  // namespace tess
