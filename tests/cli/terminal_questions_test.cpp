// SPDX-License-Identifier: GPL-3.0-or-later
// A question of a mosaic run waits for the user on a terminal, takes --yes
// or --no as its answer, and with neither and no terminal refuses the run
// before anything is written.

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "cli_runner.hpp"
#include "images/image_files.hpp"
#include "support/test_support.hpp"

namespace tess {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

// Few tiles for many cells at the default spacing: the run asks whether to
// go on with cells left empty, before it does anything else.
const std::vector<std::string> kAskingRun = {
    "mosaic",       "photo.jpg", "--list", "tiles.tzc", "--set", "MosaicSizeUnit=pixel", "--set", "MosaicSizeWidth=400",
    "--set",        "MosaicSizeHeight=300", "--set", "TileSize=40", "--set", "RezIroriz=0", "--output", "m.jpg"};
constexpr const char* kQuestion = "Not all tiles in your Mosaic will be filled";
constexpr const char* kFillHint = "[Y/n]";  // the fill question goes on by default

std::string joined(const std::vector<std::string>& args) {
  std::string line;
  for (const std::string& arg : args) line += " " + testing::shell_quoted(arg);
  return line;
}

struct TerminalOutcome {
  int status = -1;     ///< exit status; -1 when it did not exit normally in time
  std::string output;  ///< everything the terminal showed, the typed echo included
};

// Runs the program in `dir` on a pseudo-terminal and types the next of
// `typed` each time the output shows `cue` once more. A run that still
// waits after a minute is killed: it would hang the test otherwise.
TerminalOutcome run_on_terminal(const fs::path& dir, const std::vector<std::string>& args, const std::string& cue,
                                const std::vector<std::string>& typed) {
  TerminalOutcome outcome;
  int master = -1;
  const pid_t child = ::forkpty(&master, nullptr, nullptr, nullptr);
  if (child < 0) return outcome;
  if (child == 0) {
    ::setenv("TESSELLARIUM_CONFIG_PATH", dir.c_str(), 1);
    if (::chdir(dir.c_str()) != 0) ::_exit(127);
    std::vector<char*> argv;
    std::string program = TESS_CLI_EXE;
    argv.push_back(program.data());
    std::vector<std::string> copies = args;
    for (std::string& arg : copies) argv.push_back(arg.data());
    argv.push_back(nullptr);
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
  }
  std::size_t answered = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
  for (;;) {
    pollfd ready{master, POLLIN, 0};
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(child, SIGKILL);
      break;
    }
    if (::poll(&ready, 1, 200) <= 0) continue;
    char buffer[4096];
    const ssize_t n = ::read(master, buffer, sizeof buffer);
    if (n <= 0) break;  // EIO: the program has ended and closed the terminal
    outcome.output.append(buffer, static_cast<std::size_t>(n));
    std::size_t cues = 0;
    for (std::size_t at = outcome.output.find(cue); at != std::string::npos; at = outcome.output.find(cue, at + 1))
      ++cues;
    while (answered < typed.size() && answered < cues) {
      const std::string& line = typed[answered++];
      if (::write(master, line.data(), line.size()) != static_cast<ssize_t>(line.size())) break;
    }
  }
  int raw = 0;
  if (::waitpid(child, &raw, 0) == child && WIFEXITED(raw)) outcome.status = WEXITSTATUS(raw);
  ::close(master);
  return outcome;
}

class TerminalQuestions : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(testing::write_tile_library(m_dir / "tiles", 8));
    ASSERT_TRUE(testing::write_photo(m_dir / "photo.jpg"));
    const auto r = testing::run_program(m_dir.path(), "list create tiles.tzc --include tiles", m_dir.path());
    ASSERT_EQ(r.status, 0) << r.err;
  }

  TempDir m_dir;
};

TEST_F(TerminalQuestions, WithoutATerminalTheRunIsRefusedBeforeAnythingIsWritten) {
  // A mosaic size of 1 x 1 pixels makes a mask-file mosaic: with no mask
  // given, the run asks for one as it starts.
  auto mask_run = kAskingRun;
  for (const char* set : {"MosaicSizeWidth=1", "MosaicSizeHeight=1"}) {
    mask_run.push_back("--set");
    mask_run.push_back(set);
  }
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {kAskingRun, kQuestion},  // asked by the run's plan
      {mask_run, "Maskfiles"},  // asked once the run has started
  };
  for (const auto& [args, question] : cases) {
    const auto r = testing::run_program(m_dir.path(), joined(args), m_dir.path());
    EXPECT_EQ(r.status, 2) << question << "\n" << r.err;
    const auto error = r.err.find("error: ");
    ASSERT_NE(error, std::string::npos) << r.err;
    const std::string line = r.err.substr(error, r.err.find('\n', error) - error);
    EXPECT_NE(line.find(question), std::string::npos) << line;
    EXPECT_NE(line.find("--yes or --no"), std::string::npos) << line;
    EXPECT_EQ(r.err.find("error: ", error + 1), std::string::npos) << "one error line only:\n" << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_FALSE(fs::exists(m_dir / "m.jpg")) << question;
  }
}

TEST_F(TerminalQuestions, YesAndNoAnswerWithoutATerminal) {
  auto no = kAskingRun;
  no.push_back("--no");
  const auto declined = testing::run_program(m_dir.path(), joined(no), m_dir.path());
  EXPECT_EQ(declined.status, 1) << declined.err;
  EXPECT_FALSE(fs::exists(m_dir / "m.jpg"));

  auto yes = kAskingRun;
  yes.push_back("--yes");
  const auto taken = testing::run_program(m_dir.path(), joined(yes), m_dir.path());
  EXPECT_EQ(taken.status, 0) << taken.err;
  EXPECT_TRUE(fs::exists(m_dir / "m.jpg"));
  EXPECT_EQ(taken.err.find("open the destination folder"), std::string::npos) << taken.err;
}

TEST_F(TerminalQuestions, OnATerminalTheTypedAnswerIsTaken) {
  struct Case {
    std::vector<std::string> typed;
    int status;
    bool written;
    const char* also_shown;  // besides the question, or null
  };
  const std::vector<Case> cases = {
      {{"n\n"}, 1, false, nullptr},
      {{"no\n"}, 1, false, nullptr},
      {{"maybe\n", "Y\n"}, 0, true, "please answer"},  // asked again until the answer is one it offers
      {{"\n"}, 0, true, nullptr},                       // an empty line takes the default
      {{"\x04"}, 2, false, "--yes or --no"},             // the input ends: nobody is left to answer
  };
  for (const Case& c : cases) {
    fs::remove(m_dir / "m.jpg");
    const TerminalOutcome r = run_on_terminal(m_dir.path(), kAskingRun, kFillHint, c.typed);
    const std::string typed = testing::shell_quoted(c.typed.front());
    EXPECT_EQ(r.status, c.status) << typed << "\n" << r.output;
    EXPECT_NE(r.output.find(kQuestion), std::string::npos) << r.output;
    EXPECT_EQ(fs::exists(m_dir / "m.jpg"), c.written) << typed << "\n" << r.output;
    if (c.also_shown != nullptr) {
      EXPECT_NE(r.output.find(c.also_shown), std::string::npos) << typed << "\n" << r.output;
    }
    EXPECT_EQ(r.output.find("open the destination folder"), std::string::npos) << r.output;
  }
}

}  // namespace
}  // namespace tess
