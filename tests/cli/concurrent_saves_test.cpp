// Two programs writing one file at once: the desktop program's list window
// and `tessellarium list update`, two list windows, two programs changing
// the configuration. Each writer is a process of its own; nothing either
// saved may be lost, and no read may ever meet a torn file.

#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "cli_runner.hpp"
#include "images/foto.hpp"
#include "images/image_files.hpp"
#include "settings/configuration.hpp"
#include "support/test_support.hpp"
#include "tilelist/list_file.hpp"
#include "tilelist/tile_image_list.hpp"

namespace tess {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

constexpr int kSaves = 40;

/// Runs `work` in a child process; its exit status is what the returned
/// function, called once, waits for.
std::function<int()> start_process(const std::function<int()>& work) {
  const pid_t pid = ::fork();
  if (pid == 0) ::_exit(work());
  return [pid] {
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  };
}

/// The list window's part: one folder added and the list saved, `kSaves`
/// times. Exit status 2: a read found a torn or unreadable list.
int add_folders(const fs::path& list_file, const fs::path& folders, const std::string& name) {
  for (int i = 0; i < kSaves; ++i) {
    TileImageList list;
    if (!load_list_file(list, list_file)) return 2;
    (void)list.add_item(FolderKind::include, (folders / (name + std::to_string(i))).string(), true);
    if (!save_list_file(list, list_file)) return 3;
  }
  return 0;
}

/// A configuration change of its own, `kSaves` times.
int set_keys(const fs::path& config_file, const std::string& name) {
  const ConfigFile config(config_file);
  for (int i = 0; i < kSaves; ++i)
    if (!config.set("Both", name + std::to_string(i), "x") || config.read().keys("Both").empty()) return 3;
  return 0;
}

TEST(ConcurrentSaves, TwoProgramsWritingOneFileKeepEveryChange) {
  TempDir dir;
  fs::create_directories(dir / "tiles");
  for (int i = 0; i < 12; ++i) {
    Foto tile;
    tile.try_allocate_fill(64, 48, make_pixel(i * 20, 255 - i * 20, 90));
    ASSERT_TRUE(testing::write_jpeg(dir / "tiles" / ("t" + std::to_string(i) + ".jpg"), tile, testing::JpegSpec()));
  }
  // Empty folders for the list windows to add: a scan finds nothing there.
  for (const char* name : {"a", "b"})
    for (int i = 0; i < kSaves; ++i) fs::create_directories(dir / "added" / (name + std::to_string(i)));
  const fs::path list_file = dir / "tiles.tzc";
  const fs::path config_file = dir / "config.txt";
  const std::string update = "list update " + testing::shell_quoted(list_file.string()) + " --threads 1";

  struct Case {
    const char* name;
    std::function<int()> first;
    std::function<int()> second;
    std::function<void()> check;
  };
  const auto every_folder_kept = [&](std::vector<std::string> names) {
    TileImageList list;
    ASSERT_TRUE(load_list_file(list, list_file));
    for (const std::string& name : names)
      for (int i = 0; i < kSaves; ++i)
        EXPECT_TRUE(list.folders(FolderKind::include).contains((dir / "added" / (name + std::to_string(i))).string() + "/"))
            << name << i << " was lost";
    EXPECT_EQ(list.entry_count(), 12u);
  };
  const Case cases[] = {
      {"list window and list update", [&] { return add_folders(list_file, dir / "added", "a"); },
       [&] {
         for (int i = 0; i < kSaves / 4; ++i)
           if (testing::run_program(dir.path(), update).status != 0) return 4;
         return 0;
       },
       [&] { every_folder_kept({"a"}); }},
      {"two list windows", [&] { return add_folders(list_file, dir / "added", "a"); },
       [&] { return add_folders(list_file, dir / "added", "b"); }, [&] { every_folder_kept({"a", "b"}); }},
      {"configuration", [&] { return set_keys(config_file, "first"); }, [&] { return set_keys(config_file, "second"); },
       [&] {
         const IniFile config = ConfigFile(config_file).read();
         EXPECT_EQ(config.keys("Both").size(), 2u * kSaves);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto r = testing::run_program(dir.path(), "list create " + testing::shell_quoted(list_file.string()) +
                                                  " --include " + testing::shell_quoted((dir / "tiles").string()));
    ASSERT_EQ(r.status, 0) << r.err;
    auto first = start_process(c.first);
    auto second = start_process(c.second);
    EXPECT_EQ(first(), 0);
    EXPECT_EQ(second(), 0);
    c.check();
  }
}

}  // namespace
}  // namespace tess
