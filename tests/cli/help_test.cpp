// SPDX-License-Identifier: GPL-3.0-or-later
// The help of every command, the version, misspelt commands, and the manual
// pages and shell completions written at build time: what the help shows
// must be what the pages and the completions offer.

#include <filesystem>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/version.hpp"
#include "cli/help_format.hpp"
#include "cli_runner.hpp"
#include "support/test_support.hpp"

namespace tess {
namespace {

namespace fs = std::filesystem;
using testing::shell_quoted;
using testing::TempDir;
using Result = testing::CliOutcome;

const fs::path kDocs = TESS_CLI_DOCS_DIR;

Result run(const std::string& args) {
  TempDir config;
  return testing::run_program(config.path(), args);
}

// The names listed under "Commands:" in a help text.
std::vector<std::string> listed_commands(const std::string& help) {
  std::vector<std::string> names;
  std::istringstream lines(help.substr(std::min(help.find("\nCommands:\n"), help.size())));
  std::string line;
  std::getline(lines, line);
  std::getline(lines, line);  // "Commands:"
  while (std::getline(lines, line) && line.starts_with("  ")) {
    if (line[2] != ' ') names.push_back(line.substr(2, line.find(' ', 2) - 2));
  }
  return names;
}

// Every command of the program, as the help leads to it: "", "mosaic", "list create", ...
std::vector<std::string> command_paths() {
  std::vector<std::string> paths{""};
  for (std::size_t i = 0; i < paths.size(); ++i)
    for (const std::string& name : listed_commands(run(paths[i] + " --help").out))
      paths.push_back(paths[i].empty() ? name : paths[i] + " " + name);
  return paths;
}

// The options under "Options:" in a help text.
std::set<std::string> help_options(const std::string& help) {
  std::set<std::string> options;
  const std::size_t start = help.find("\nOptions:\n");
  if (start == std::string::npos) return options;
  const std::size_t end = std::min(help.find("\n\n", start + 1), help.size());
  static const std::regex kOption("(^|[ ,])(--?[a-z][a-z0-9-]*)");
  std::istringstream lines(help.substr(start, end - start));
  for (std::string line; std::getline(lines, line);) {
    // The option's names come before its description's column.
    const std::string names = line.substr(0, std::min<std::size_t>(line.size(), 29));
    for (std::sregex_iterator it(names.begin(), names.end(), kOption), last; it != last; ++it)
      options.insert((*it)[2]);
  }
  return options;
}

// Runs the bash completion on `words` with the cursor on the last of them,
// in `folder`; gives the candidates, one a line.
std::string bash_complete(const std::vector<std::string>& words, const fs::path& folder = fs::temp_directory_path()) {
  std::string array;
  for (const std::string& word : words) array += " " + shell_quoted(word);
  const std::string script = "source " + shell_quoted((kDocs / "completions" / "tessellarium").string()) +
                             "; COMP_WORDS=(" + array + "); COMP_CWORD=" + std::to_string(words.size() - 1) +
                             "; _tessellarium; for word in \"${COMPREPLY[@]}\"; do echo \"$word\"; done";
  return testing::command_output("cd " + shell_quoted(folder.string()) + " && bash -c " + shell_quoted(script));
}

std::vector<std::string> split_words(const std::string& text) {
  std::vector<std::string> words;
  std::istringstream in(text);
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

// The part of `text` from `start` to the next `end` (or to its end).
std::string section(const std::string& text, const std::string& start, const std::string& end) {
  const std::size_t from = text.find(start);
  if (from == std::string::npos) return {};
  return text.substr(from, text.find(end, from + start.size()) - from);
}

std::string roff_escaped(const std::string& option) { return std::regex_replace(option, std::regex("-"), "\\-"); }

TEST(Help, EveryCommandHasUsageValueWordsAndTheHelpFlagInTheGnuForm) {
  const std::vector<std::string> paths = command_paths();
  ASSERT_GE(paths.size(), 20u);  // 7 commands, 16 under them
  for (const std::string& path : paths) {
    SCOPED_TRACE(path);
    const Result r = run(path + " --help");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.rfind("Usage: tessellarium " + (path.empty() ? "" : path + " "), 0), 0u) << r.out;
    EXPECT_NE(r.out.find("\n  -h, --help" + std::string(18, ' ') + "Print this help and exit\n"), std::string::npos)
        << r.out;
    // CLI11's own words are gone: every value has a word saying what it takes.
    for (const char* word : {" TEXT", " INT", "REQUIRED", "Subcommands", "SUBCOMMAND", "[1 - 5000]", "Positionals"})
      EXPECT_EQ(r.out.find(word), std::string::npos) << word << " in\n" << r.out;
    // The automatic settings are named as the settings list names them.
    const std::string text = std::regex_replace(r.out, std::regex("\n +"), " ");
    EXPECT_EQ(std::regex_replace(text, std::regex("\\(Default Settings\\)"), "").find("Default"), std::string::npos)
        << r.out;
    EXPECT_EQ(r.out.find("Report bugs to: ") != std::string::npos, *kBugReportAddress != '\0') << r.out;
  }
}

TEST(Help, MosaicNamesWhatEachOptionTakesItsDefaultsAndExamples) {
  const Result r = run("mosaic --help");
  ASSERT_EQ(r.status, 0);
  // Descriptions are wrapped: they are read with their blanks made one.
  const std::string text = std::regex_replace(r.out, std::regex("\n +"), " ");
  EXPECT_NE(text.find("instead of \"(Default Settings)\""), std::string::npos) << text;
  for (const char* expected : {"Usage: tessellarium mosaic [OPTION]... IMAGE...\n", "\n      --list=FILE ",
                               "\n      --tiles=DIR ", "\n      --set=KEY=VALUE ", "\n      --split=WxH ",
                               "\n      --pieces=FIRST-LAST ", "\n      --frames=FIRST-LAST ",
                               "\n      --progress=text|json ", "(default: text)", "\n      --yes ",
                               "\nExamples:\n  tessellarium mosaic --list "})
    EXPECT_NE(r.out.find(expected), std::string::npos) << expected << " in\n" << r.out;
  EXPECT_LE(r.out.find("\n      --no-wait "), r.out.find("\n  -h, --help")) << "the help flag comes last";
  // Lines fit a terminal of 80 columns; an example's command line is kept whole to be copied.
  std::istringstream lines(r.out);
  for (std::string line; std::getline(lines, line);)
    if (!line.starts_with("  tessellarium ")) {
      EXPECT_LE(line.size(), 79u) << line;
    }

  const Result extract = run("extract --help");
  EXPECT_NE(extract.out.find("--first=N "), std::string::npos) << extract.out;
  EXPECT_NE(extract.out.find("counted from 1"), std::string::npos) << extract.out;
  EXPECT_NE(extract.out.find("--mode=clips|jpg|bmp"), std::string::npos) << extract.out;
}

TEST(Help, VersionIsInTheGnuFormWithTheLicence) {
  const Result r = run("--version");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.rfind(std::string("Tessellarium ") + kVersionText + "\nCopyright (C) ", 0), 0u) << r.out;
  EXPECT_NE(r.out.find("\nLicense GPLv3+: GNU GPL version 3 or later <https://gnu.org/licenses/gpl.html>.\n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("There is NO WARRANTY, to the extent permitted by law.\n"), std::string::npos) << r.out;
}

TEST(Help, UnknownCommandsAreNamedWithTheNearestOne) {
  const struct {
    std::string args;
    std::string error;
  } cases[] = {
      {"mosiac photo.jpg --list tiles.tzc --output x.jpg", "error: unknown command 'mosiac'; did you mean 'mosaic'?\n"},
      {"--quiet sumary photo.jpg", "error: unknown command 'sumary'; did you mean 'summary'?\n"},
      {"lst show tiles.tzc", "error: unknown command 'lst'; did you mean 'list'?\n"},
      {"ext movie.avi", "error: unknown command 'ext'; did you mean 'extract'?\n"},
      {"list crate tiles.tzc", "error: unknown list command 'crate'; did you mean 'create'?\n"},
      {"settings shwo posters", "error: unknown settings command 'shwo'; did you mean 'show'?\n"},
      {"frobnicate", "error: unknown command 'frobnicate' (try 'tessellarium --help')\n"},
      {"video split a.avi", "error: unknown video command 'split' (try 'tessellarium video --help')\n"},
      {"list", "error: 'tessellarium list' needs one of its commands: create, update, merge, show, gaps "
               "(try 'tessellarium list --help')\n"},
  };
  for (const auto& c : cases) {
    const Result r = run(c.args);
    EXPECT_EQ(r.status, 2) << c.args;
    EXPECT_EQ(r.err, c.error) << c.args;
  }
  // A command's own arguments are not taken for commands.
  EXPECT_EQ(run("settings show list").err.find("unknown"), std::string::npos);
}

TEST(Help, EditDistanceCountsSwapsOfNeighboursAsOneEdit) {
  const struct {
    const char* a;
    const char* b;
    std::size_t distance;
  } cases[] = {{"mosaic", "mosaic", 0}, {"mosiac", "mosaic", 1}, {"lst", "list", 1},     {"", "list", 4},
               {"kitten", "sitting", 3}, {"ca", "abc", 3},        {"config", "", 6}};
  for (const auto& c : cases) {
    EXPECT_EQ(edit_distance(c.a, c.b), c.distance) << c.a << " / " << c.b;
    EXPECT_EQ(edit_distance(c.b, c.a), c.distance) << c.b << " / " << c.a;
  }
}

TEST(CliDocs, EveryOptionOfTheHelpIsInTheManPageAndEachCompletion) {
  const std::string zsh = testing::read_file(kDocs / "completions" / "_tessellarium");
  const std::string fish = testing::read_file(kDocs / "completions" / "tessellarium.fish");
  ASSERT_FALSE(zsh.empty());
  ASSERT_FALSE(fish.empty());
  for (const std::string& path : command_paths()) {
    SCOPED_TRACE(path);
    const std::vector<std::string> words = split_words(path);
    const std::set<std::string> options = help_options(run(path + " --help").out);
    ASSERT_FALSE(options.empty());

    // The page of the command (or of the command it belongs to), in the section of a sub-command.
    const std::string page = testing::read_file(kDocs / "man" / (words.empty() ? "tessellarium.1" : "tessellarium-" + words[0] + ".1"));
    ASSERT_FALSE(page.empty());
    const std::string part = words.size() > 1 ? section(page, ".SS \"tessellarium " + roff_escaped(path) + "\"", "\n.S")
                                              : section(page, ".SH SYNOPSIS", ".SH \"EXIT STATUS\"");
    ASSERT_FALSE(part.empty());
    // The zsh function and the fish lines of the command.
    std::string function = "_tessellarium";
    for (const std::string& word : words) function += "_" + word;
    const std::string zsh_part = section(zsh, "\n" + function + "() {\n", "\n}\n");
    ASSERT_FALSE(zsh_part.empty());
    const std::string fish_when =
        "complete -c tessellarium -n '__tessellarium_is \\'tessellarium" + (path.empty() ? "" : " " + path) + "\\''";

    // Bash offers exactly the options of the help after a dash.
    std::vector<std::string> line{"tessellarium"};
    line.insert(line.end(), words.begin(), words.end());
    line.push_back("-");
    const std::vector<std::string> offered = split_words(bash_complete(line));
    EXPECT_EQ(std::set<std::string>(offered.begin(), offered.end()), options);

    for (const std::string& option : options) {
      SCOPED_TRACE(option);
      EXPECT_NE(part.find("\\fB" + roff_escaped(option) + "\\fR"), std::string::npos) << part;
      EXPECT_TRUE(std::regex_search(zsh_part, std::regex("[{,'*)]" + option + "[=\\[,}]"))) << zsh_part;
      const std::string fish_flag = option.starts_with("--") ? " -l " + option.substr(2) : " -s " + option.substr(1);
      EXPECT_TRUE(std::regex_search(fish, std::regex(std::regex_replace(fish_when, std::regex("[\\\\|()\\[\\]*+?.^$]"),
                                                                          "\\$&") +
                                                     ".*" + fish_flag + " ")))
          << fish_when << fish_flag;
    }
  }
}

TEST(CliDocs, ManPagesHaveEverySectionAndRenderCleanly) {
  for (const auto& entry : fs::directory_iterator(kDocs / "man")) {
    if (entry.path().extension() != ".1") continue;
    SCOPED_TRACE(entry.path().filename().string());
    const std::string page = testing::read_file(entry.path());
    for (const char* heading : {".SH NAME\n", ".SH SYNOPSIS\n", ".SH DESCRIPTION\n", ".SH \"EXIT STATUS\"\n",
                                ".SH ENVIRONMENT\n", ".B TESSELLARIUM_CONFIG_PATH\n", ".B XDG_CONFIG_HOME\n",
                                ".B XDG_CACHE_HOME\n", ".SH FILES\n", ".SH \"SEE ALSO\"\n"})
      EXPECT_NE(page.find(heading), std::string::npos) << heading;
    EXPECT_TRUE(page.find(".SH OPTIONS\n") != std::string::npos || page.find(".SH COMMANDS\n") != std::string::npos);
    // The installed page is the same, compressed.
    EXPECT_EQ(testing::command_output("gzip -dc " + shell_quoted(entry.path().string() + ".gz")), page);
    // groff finds nothing to warn about.
    EXPECT_EQ(testing::command_output("groff -man -Tutf8 -ww -z " + shell_quoted(entry.path().string()) + " 2>&1"), "");
  }
  EXPECT_NE(testing::read_file(kDocs / "man" / "tessellarium-mosaic.1").find(".SH EXAMPLES\n"), std::string::npos);
}

TEST(CliDocs, BashCompletesCommandsOptionsAndTheirValues) {
  TempDir dir;
  fs::create_directories(dir / "pics");
  ASSERT_TRUE(testing::write_file(dir / "pictures.txt", "x"));
  ASSERT_TRUE(testing::write_file(dir / "tiles.tzc", "x"));
  const struct {
    std::vector<std::string> words;
    std::string offered;
  } cases[] = {
      {{"tessellarium", "mo"}, "mosaic\n"},
      {{"tessellarium", "--ver"}, "--version\n"},
      {{"tessellarium", "mosaic", "--li"}, "--list\n"},
      {{"tessellarium", "list", "cr"}, "create\n"},
      {{"tessellarium", "settings", "l"}, "list\n"},
      {{"tessellarium", "settings", "list", "-"}, "-h\n--help\n"},
      {{"tessellarium", "list", "create", "x.tzc", "--sh"}, "--shard\n"},
      {{"tessellarium", "extract", "movie.avi", "--mode", "j"}, "jpg\n"},
      {{"tessellarium", "mosaic", "--progress", ""}, "text\njson\n"},
      {{"tessellarium", "mosaic", "--tiles", "pi"}, "pics\n"},
      {{"tessellarium", "mosaic", "--list", "ti"}, "tiles.tzc\n"},
      {{"tessellarium", "mosaic", "--list", "=", "ti"}, "tiles.tzc\n"},
      {{"tessellarium", "mosaic", "--set", "ti"}, ""},
      {{"tessellarium", "mosaic", "ti"}, "tiles.tzc\n"},
      {{"tessellarium", "config", "set", "Options.ThreadCount", ""}, ""},
  };
  for (const auto& c : cases) {
    std::string line;
    for (const std::string& word : c.words) line += word + " ";
    EXPECT_EQ(bash_complete(c.words, dir.path()), c.offered) << line;
  }
}

}  // namespace
}  // namespace tess
