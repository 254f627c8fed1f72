// `--progress json`: every progress line of a list or mosaic command is one
// JSON object, and the last one says how the command ended.

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "cli/progress_json.hpp"
#include "cli_runner.hpp"
#include "images/foto.hpp"
#include "images/image_files.hpp"
#include "support/test_support.hpp"

namespace tess {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using testing::shell_quoted;
using testing::TempDir;

// The progress objects of standard error (the lines that begin with "{"),
// each required to parse and to carry every field with its type.
std::vector<json> progress_lines(const std::string& err) {
  std::vector<json> lines;
  std::istringstream in(err);
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line.front() != '{') continue;
    json object;
    try {
      object = json::parse(line);
    } catch (const json::parse_error& e) {
      ADD_FAILURE() << "not JSON: " << line << " (" << e.what() << ")";
      continue;
    }
    EXPECT_TRUE(object.is_object()) << line;
    EXPECT_TRUE(object["state"].is_string()) << line;
    EXPECT_TRUE(object["stage"].is_string()) << line;
    EXPECT_TRUE(object["status"].is_string()) << line;
    EXPECT_TRUE(object["percent"].is_number()) << line;
    EXPECT_TRUE(object["elapsed"].is_number()) << line;
    if (object["percent"].is_number()) {
      EXPECT_GE(object["percent"].get<double>(), 0) << line;
      EXPECT_LE(object["percent"].get<double>(), 100) << line;
    }
    lines.push_back(object);
  }
  return lines;
}

// Only the last line has a final state; neither time nor the figure ever
// runs backwards.
void expect_one_final_line(const std::vector<json>& lines, const std::string& state) {
  ASSERT_FALSE(lines.empty());
  for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
    EXPECT_EQ(lines[i]["state"], "running") << lines[i].dump();
    EXPECT_LE(lines[i]["elapsed"].get<double>(), lines[i + 1]["elapsed"].get<double>());
    EXPECT_LE(lines[i]["percent"].get<double>(), lines[i + 1]["percent"].get<double>())
        << lines[i].dump() << " then " << lines[i + 1].dump();
  }
  EXPECT_EQ(lines.back()["state"], state) << lines.back().dump();
}

TEST(ProgressJson, AnyStatusTextMakesOneLineOfValidJson) {
  ProgressEvent event;
  event.stage = "placement";
  event.percent = 41.2745;
  event.elapsed = 3.52049;
  for (const std::string& status :
       {std::string("Adding Tile# 812"), std::string("quote \" backslash \\ tab \t line\nbreak"),
        std::string("bad UTF-8 \xff\xfe in a path"), std::string("\x01 control"), std::string("Grüße")}) {
    event.status = status;
    const std::string line = progress_json(event);
    EXPECT_EQ(line.find('\n'), std::string::npos) << line;
    const json back = json::parse(line);
    EXPECT_EQ(back["stage"], "placement");
    EXPECT_DOUBLE_EQ(back["percent"].get<double>(), 41.27);
    EXPECT_DOUBLE_EQ(back["elapsed"].get<double>(), 3.52);
    if (status.find('\xff') == std::string::npos) {
      EXPECT_EQ(back["status"], status);
    }
  }
  event.percent = 250;  // figures stay in range
  event.elapsed = -1;
  const json back = json::parse(progress_json(event));
  EXPECT_EQ(back["percent"], 100);
  EXPECT_EQ(back["elapsed"], 0);
}

class ProgressJsonCommands : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(testing::write_tile_library(m_dir / "tiles", 30));
    ASSERT_TRUE(testing::write_photo(m_dir / "photo.jpg"));
  }

  std::string quoted(const std::string& name) const { return shell_quoted((m_dir / name).string()); }
  testing::CliOutcome run(const std::string& args) const { return testing::run_program(m_dir.path(), args); }
  std::string mosaic(const std::string& output, const std::string& more = " --progress json") const {
    return "mosaic " + quoted("photo.jpg") + " --list " + quoted("tiles.tzc") +
           " --set MosaicSizeUnit=pixel --set MosaicSizeWidth=800 --set MosaicSizeHeight=600 --set TileSize=20 "
           "--set RezIroriz=0 --yes --output " +
           output + more;
  }

  TempDir m_dir;
};

TEST_F(ProgressJsonCommands, ListsAndMosaicsReportEveryStageAndEndFinished) {
  auto r = run("list create " + quoted("tiles.tzc") + " --include " + quoted("tiles/") + " --progress json");
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<json> lines = progress_lines(r.err);
  expect_one_final_line(lines, "finished");
  EXPECT_EQ(lines.back()["percent"], 100);
  std::set<std::string> stages;
  for (const json& line : lines) stages.insert(line["stage"].get<std::string>());
  EXPECT_TRUE(stages.count("scan") == 1 && stages.count("analysis") == 1) << r.err;

  r = run("list update " + quoted("tiles.tzc") + " --progress json");
  ASSERT_EQ(r.status, 0) << r.err;
  expect_one_final_line(progress_lines(r.err), "finished");

  r = run(mosaic(quoted("m.jpg")));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(fs::exists(m_dir / "m.jpg"));
  lines = progress_lines(r.err);
  expect_one_final_line(lines, "finished");
  EXPECT_EQ(lines.back()["percent"], 100);
  // Every other line is a message or a question in its usual form.
  std::istringstream in(r.err);
  for (std::string line; std::getline(in, line);)
    if (line.front() != '{') {
      EXPECT_TRUE(line.starts_with("info: ") || line.starts_with("warning: ") || line.starts_with("question: ") ||
                  line.starts_with("answer: "))
          << line;
    }
  stages.clear();
  std::set<std::string> statuses;
  for (const json& line : lines) {
    stages.insert(line["stage"].get<std::string>());
    statuses.insert(line["status"].get<std::string>());
  }
  for (const char* stage : {"starting", "main_image_analysis", "placement", "saving", "freeing_memory"})
    EXPECT_EQ(stages.count(stage), 1u) << stage;
  const std::set<std::string> known = {"starting",        "tile_distance",   "saving",         "cell_building",
                                       "main_image_analysis", "required_images", "priority_images", "freeing_memory",
                                       "placement",       "split_placement"};
  for (const std::string& stage : stages) EXPECT_EQ(known.count(stage), 1u) << stage;
  EXPECT_EQ(statuses.count("Saving Mosaic..."), 1u) << r.err;
}

TEST_F(ProgressJsonCommands, AFailedRunEndsFailedAndBadValuesAreRefused) {
  ASSERT_EQ(run("list create " + quoted("tiles.tzc") + " --include " + quoted("tiles/")).status, 0);
  // A mosaic to be written inside a file cannot be written.
  ASSERT_TRUE(testing::write_file(m_dir / "a file", "not a folder"));
  auto r = run(mosaic(quoted("a file/m.bmp"), " --set FileFormat=bmp --progress json"));
  EXPECT_EQ(r.status, 1) << r.err;
  const std::vector<json> lines = progress_lines(r.err);
  expect_one_final_line(lines, "failed");
  // The reason, not the status of a run that went well.
  ASSERT_FALSE(lines.empty());
  const std::string reason = lines.back()["status"].get<std::string>();
  EXPECT_FALSE(reason.empty());
  EXPECT_NE(reason, "Ok");
  EXPECT_NE(reason.find("a file"), std::string::npos) << reason;
  for (const std::string& args : {mosaic(quoted("m.jpg"), " --progress yaml"), mosaic(quoted("m.jpg"), " --progress json --quiet"),
                                   "list update " + quoted("tiles.tzc") + " --progress JSON"}) {
    SCOPED_TRACE(args);
    r = run(args);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err.rfind("error: ", 0), 0u) << r.err;
    EXPECT_NE(r.err.find("--progress"), std::string::npos) << r.err;
    EXPECT_TRUE(progress_lines(r.err).empty());
  }
  EXPECT_FALSE(fs::exists(m_dir / "m.jpg"));
}

// Runs the program with `args` (quoted for the shell), standard error read
// line by line: `on_line` sees each line and returns true to send the
// program one interrupt, as Ctrl-C does. The lines and the exit status come back.
struct Followed {
  int status = -1;
  std::vector<std::string> lines;
};
Followed follow_program(const fs::path& config_dir, const std::string& args,
                        const std::function<bool(const std::string&)>& on_line) {
  Followed result;
  int fds[2];
  if (::pipe(fds) != 0) return result;
  const std::string command = "exec '" TESS_CLI_EXE "' " + args + " >/dev/null";
  const pid_t child = ::fork();
  if (child == 0) {
    ::dup2(fds[1], STDERR_FILENO);
    ::close(fds[0]);
    ::close(fds[1]);
    ::setenv("TESSELLARIUM_CONFIG_PATH", config_dir.c_str(), 1);
    ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(fds[1]);
  FILE* in = ::fdopen(fds[0], "r");
  bool interrupted = false;
  char* line = nullptr;
  std::size_t capacity = 0;
  for (ssize_t n; (n = ::getline(&line, &capacity, in)) > 0;) {
    std::string text(line, static_cast<std::size_t>(n));
    if (!text.empty() && text.back() == '\n') text.pop_back();
    result.lines.push_back(text);
    if (!interrupted && on_line(text)) {
      ::kill(child, SIGINT);
      interrupted = true;
    }
  }
  std::free(line);
  std::fclose(in);
  int raw = 0;
  ::waitpid(child, &raw, 0);
  result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return result;
}

std::string joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

TEST_F(ProgressJsonCommands, AStoppedRunKeepsTheFigureItReached) {
  ASSERT_EQ(run("list create " + quoted("tiles.tzc") + " --include " + quoted("tiles/")).status, 0);
  // Large enough that the run is still going when the interrupt comes.
  const std::string args = "mosaic " + quoted("photo.jpg") + " --list " + quoted("tiles.tzc") +
                           " --set MosaicSizeUnit=pixel --set MosaicSizeWidth=6000 --set MosaicSizeHeight=4500"
                           " --set TileSize=20 --set RezIroriz=0 --set FileFormat=png --output " +
                           quoted("big.png") + " --yes --progress json";
  const Followed followed = follow_program(m_dir.path(), args, [](const std::string& line) {
    return line.find("\"stage\":\"placement\"") != std::string::npos;
  });
  EXPECT_EQ(followed.status, 1) << joined(followed.lines);
  const std::vector<json> lines = progress_lines(joined(followed.lines));
  expect_one_final_line(lines, "stopped");
  ASSERT_GE(lines.size(), 2u);
  // The last figure stays where the run was; it went beyond the start.
  EXPECT_GT(lines.back()["percent"].get<double>(), 0);
  EXPECT_GE(lines.back()["percent"].get<double>(), lines[lines.size() - 2]["percent"].get<double>());
  EXPECT_LT(lines.back()["percent"].get<double>(), 100);
  EXPECT_FALSE(fs::exists(m_dir / "big.png"));
}

TEST_F(ProgressJsonCommands, WritingAPngShowsItsFigureMoving) {
  ASSERT_EQ(run("list create " + quoted("tiles.tzc") + " --include " + quoted("tiles/")).status, 0);
  const auto r = run("mosaic " + quoted("photo.jpg") + " --list " + quoted("tiles.tzc") +
                     " --set MosaicSizeUnit=pixel --set MosaicSizeWidth=4000 --set MosaicSizeHeight=3000"
                     " --set TileSize=20 --set RezIroriz=0 --set FileFormat=png --output " +
                     quoted("m.png") + " --yes --progress json");
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<json> lines = progress_lines(r.err);
  expect_one_final_line(lines, "finished");
  // Figures between the start of the save and its end, not one jump.
  std::set<double> saving;
  for (std::size_t i = 0; i + 1 < lines.size(); ++i)
    if (lines[i]["stage"] == "saving" && lines[i]["status"] == "Saving Mosaic...")
      saving.insert(lines[i]["percent"].get<double>());
  EXPECT_GE(saving.size(), 5u) << r.err;
}

}  // namespace
}  // namespace tess
