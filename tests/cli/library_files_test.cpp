// SPDX-License-Identifier: GPL-3.0-or-later
// What a real photo library brings to `list create`, `list update` and
// `mosaic --tiles`: files that claim far more than was ever written, files
// found bad that must not be read again while unchanged, and folders the
// user may not read. The program runs as a child process, as a user runs it.

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <chrono>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/scripted_prompt.hpp"
#include "cli_runner.hpp"
#include "images/foto.hpp"
#include "images/image_files.hpp"
#include "support/test_support.hpp"
#include "tilelist/list_file.hpp"

namespace tess {
namespace {

namespace fs = std::filesystem;
using testing::read_file;
using testing::shell_quoted;
using testing::TempDir;
using testing::write_file;

// A run that reads the holes of a sparse file does not end in minutes: the
// limit turns such a run into a failure (status 124) instead of a stalled test.
constexpr const char* kHangLimit = "timeout 60 env";
constexpr std::uintmax_t kHoleBytes = std::uintmax_t{32} << 30;

class LibraryFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(m_dir / "tiles");
    for (int i = 0; i < 6; ++i) ASSERT_TRUE(good_jpeg(m_dir / "tiles" / ("t" + std::to_string(i) + ".jpg"), i));
  }

  static bool good_jpeg(const fs::path& path, int seed, int w = 48, int h = 36) {
    Foto tile;
    return tile.try_allocate_fill(w, h, make_pixel((seed * 37) % 256, (seed * 91) % 256, (seed * 53) % 256)) &&
           testing::write_jpeg(path, tile, testing::JpegSpec().with_quality(90));
  }

  std::string quoted(const std::string& name) const { return shell_quoted((m_dir / name).string()); }
  /// Runs the program with its cache folder inside the test's folder; `wrapper`
  /// is a command that runs `env` with the program's environment after it.
  testing::CliOutcome run(const std::string& args, const std::string& wrapper = kHangLimit) const {
    return testing::run_program(m_dir.path(), args, {}, "XDG_CACHE_HOME=" + quoted("cache") + " " + wrapper);
  }

  /// The lines of the error file, its byte order mark and line ends taken off.
  std::set<std::string> error_file_lines(const std::string& list) const {
    const std::string text = read_file(m_dir / (list + ".imageErrors.txt"));
    std::set<std::string> lines;
    for (std::size_t at = text.starts_with("\xEF\xBB\xBF") ? 3 : 0; at < text.size();) {
      const std::size_t end = text.find("\r\n", at);
      if (end == std::string::npos) break;
      lines.insert(text.substr(at, end - at));
      at = end + 2;
    }
    return lines;
  }

  std::set<std::string> listed(const std::string& list) const { return listed_in(m_dir / list); }

  std::string tile(const std::string& name) const { return (m_dir / "tiles" / name).string(); }

  static std::set<std::string> listed_in(const fs::path& list) {
    TileImageList loaded;
    ScriptedPrompt prompt;
    std::set<std::string> paths;
    if (!load_list_file(loaded, list.string()).ok_or_show(prompt)) return paths;
    for (const auto& [path, entry] : loaded.entries()) paths.insert(entry.path);
    return paths;
  }

  struct FileStampText {
    std::string size;
    std::string time;
  };
  /// A file's size and modification time in nanoseconds, as text.
  static FileStampText stamp_of(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return {};
    return {std::to_string(info.st_size),
            std::to_string(static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec)};
  }

  TempDir m_dir;
};

// --- bounded reads -----------------------------------------------------------

/// A JPEG without its end marker, then gigabytes of holes: a decoder that
/// looks for the marker reads zeros until the end of the file.
bool holed_jpeg(const fs::path& path, bool progressive) {
  Foto picture;
  if (!picture.try_allocate_fill(40, 30, make_pixel(200, 120, 40)) ||
      !testing::write_jpeg(path, picture, testing::JpegSpec().with_progressive(progressive)))
    return false;
  const std::string bytes = read_file(path);
  std::error_code error;
  return testing::truncate_file(path, bytes.size() - 2) && (fs::resize_file(path, kHoleBytes, error), !error);
}

/// A PNG whose picture data is cut short, then gigabytes of holes.
bool holed_png(const fs::path& path) {
  std::vector<std::vector<std::uint8_t>> rows(30, std::vector<std::uint8_t>(40 * 3, 90));
  if (!testing::write_png(path, testing::PngSpec(40, 30), rows)) return false;
  const std::string bytes = read_file(path);
  std::error_code error;
  return testing::truncate_file(path, testing::find_png_chunk(bytes, "IDAT") + 12) &&
         (fs::resize_file(path, kHoleBytes, error), !error);
}

TEST_F(LibraryFiles, BoundedReadsSparsePicturesAreNamedBadWithoutTheirHolesBeingRead) {
  ASSERT_TRUE(holed_jpeg(m_dir / "tiles" / "holed.jpg", false));
  ASSERT_TRUE(holed_jpeg(m_dir / "tiles" / "holed-progressive.jpg", true));
  ASSERT_TRUE(holed_png(m_dir / "tiles" / "holed.png"));

  const auto created = run("list create " + quoted("tiles.tzc") + " --include " + quoted("tiles/"));
  ASSERT_EQ(created.status, 0) << created.err;
  EXPECT_EQ(error_file_lines("tiles.tzc"),
            (std::set<std::string>{tile("holed-progressive.jpg"), tile("holed.jpg"), tile("holed.png")}));
  EXPECT_EQ(listed("tiles.tzc").size(), 6u);

  // The same file as the main image is refused, not read for minutes.
  const auto mosaic = run("mosaic " + quoted("tiles/holed.jpg") + " --list " + quoted("tiles.tzc") + " --output " +
                          quoted("out/m.jpg") + " --quiet");
  EXPECT_NE(mosaic.status, 124) << mosaic.err;
  EXPECT_NE(mosaic.status, 0) << mosaic.err;
  EXPECT_FALSE(fs::exists(m_dir / "out" / "m.jpg"));
}

// --- files found bad ----------------------------------------------------------

/// The lines of a list's file of pictures left out, by path.
std::map<std::string, std::vector<std::string>> skipped_lines(const fs::path& file) {
  std::map<std::string, std::vector<std::string>> lines;
  const std::string text = read_file(file);
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = text.find('\n', at);
    if (end == std::string::npos) break;
    const std::string line = text.substr(at, end - at);
    at = end + 1;
    if (line.starts_with("#")) continue;
    std::vector<std::string> fields;
    for (std::size_t from = 0;;) {
      const std::size_t tab = line.find('\t', from);
      fields.push_back(line.substr(from, tab - from));
      if (tab == std::string::npos) break;
      from = tab + 1;
    }
    lines[fields.front()] = fields;
  }
  return lines;
}

/// Makes `path` a valid picture of exactly its present size and time: only
/// reading it would tell that it changed.
bool heal_in_place(const fs::path& path) {
  const auto time = fs::last_write_time(path);
  const std::uintmax_t size = fs::file_size(path);
  Foto picture;
  if (!picture.try_allocate_fill(40, 30, make_pixel(10, 200, 90)) ||
      !testing::write_jpeg(path, picture, testing::JpegSpec().with_quality(90)))
    return false;
  std::string bytes = read_file(path);
  if (bytes.size() > size) return false;
  bytes.resize(size, '\0');  // after the end marker: never read
  if (!write_file(path, bytes)) return false;
  fs::last_write_time(path, time);
  return true;
}

constexpr std::size_t kBadFileSize = 6000;

TEST_F(LibraryFiles, FilesFoundBadAreNotReadAgainWhileUnchanged) {
  // Once through `list update`, once through `mosaic --tiles`.
  for (const bool tiles_option : {false, true}) {
    SCOPED_TRACE(tiles_option ? "--tiles" : "list update");
    const fs::path folder = m_dir / (tiles_option ? "tiles2" : "tiles");
    fs::create_directories(folder);
    for (int i = 0; i < 4 && tiles_option; ++i)
      ASSERT_TRUE(good_jpeg(folder / ("t" + std::to_string(i) + ".jpg"), i));
    const fs::path bad = folder / "bad.jpg";
    const fs::path tabbed = folder / "tab\tin name.jpg";
    ASSERT_TRUE(write_file(bad, "\xFF\xD8 not a picture" + std::string(kBadFileSize, 'x')));
    ASSERT_TRUE(write_file(tabbed, "\xFF\xD8 not a picture either"));
    ASSERT_TRUE(testing::write_jpeg(m_dir / "main.jpg", testing::JpegSpec(200, 150),
                                    [](int y, std::uint8_t* rgb) { testing::photo_like_row(200, y, rgb); }));

    fs::path list = m_dir / "tiles.tzc";
    const std::string pass = tiles_option ? "mosaic " + quoted("main.jpg") + " --tiles " + shell_quoted(folder.string()) +
                                                " --set MosaicSizeUnit=pixel --set MosaicSizeWidth=200"
                                                " --set MosaicSizeHeight=150 --set TileSize=25 --set FileFormat=bmp"
                                                " --set DuplicateSpacing=1 --output " + quoted("m.bmp")
                                          : "list update " + quoted("tiles.tzc");
    auto r = run(tiles_option ? pass : "list create " + quoted("tiles.tzc") + " --include " + quoted("tiles/"));
    ASSERT_EQ(r.status, 0) << r.err;
    if (tiles_option) {
      std::error_code error;
      for (const auto& entry : fs::directory_iterator(m_dir / "cache/Tessellarium/Tile Lists", error))
        if (entry.path().extension() == ".tzc") list = entry.path();
    }
    const fs::path side_file = list.string() + ".skipped";
    auto lines = skipped_lines(side_file);
    ASSERT_EQ(lines.size(), 1u) << "a name with a tab in it is left out of the file";
    ASSERT_EQ(lines.count(bad.string()), 1u);
    EXPECT_EQ(lines[bad.string()].size(), 4u);
    EXPECT_EQ(lines[bad.string()][1], std::to_string(fs::file_size(bad)));
    EXPECT_NE(lines[bad.string()][3].find("Unable to load file"), std::string::npos) << lines[bad.string()][3];
    const std::set<std::string> both_bad{bad.string(), tabbed.string()};
    const auto errors = [&] {
      const std::string text = read_file(list.string() + ".imageErrors.txt");
      std::set<std::string> paths;
      for (std::size_t at = 3; at < text.size();) {
        const std::size_t end = text.find("\r\n", at);
        paths.insert(text.substr(at, end - at));
        at = end + 2;
      }
      return paths;
    };
    EXPECT_EQ(errors(), both_bad);

    // Healed with its size and time kept: it is not read, so it stays out.
    ASSERT_TRUE(heal_in_place(bad));
    r = run(pass);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(listed_in(list).count(bad.string()), 0u) << "a file found bad was read again while unchanged";
    EXPECT_EQ(errors(), both_bad);
    EXPECT_EQ(skipped_lines(side_file).count(bad.string()), 1u);

    // Its time moves on: it is read again and listed.
    fs::last_write_time(bad, fs::last_write_time(bad) + std::chrono::seconds(2));
    r = run(pass);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(listed_in(list).count(bad.string()), 1u) << r.err;
    EXPECT_EQ(skipped_lines(side_file).count(bad.string()), 0u);
    EXPECT_EQ(errors(), std::set<std::string>{tabbed.string()});
  }
}

TEST_F(LibraryFiles, ADamagedOrHostileSkipFileIsPassedOverLineByLine) {
  ASSERT_TRUE(write_file(m_dir / "tiles" / "bad.jpg", "\xFF\xD8 not a picture"));
  auto r = run("list create " + quoted("tiles.tzc") + " --include " + quoted("tiles/"));
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string t0 = tile("t0.jpg");
  FileStampText stamp = stamp_of(t0);
  const std::string hostile = std::string("garbage\n\x01\x02\xFF\tx\ty\tz\n") + std::string(200000, 'a') + "\n" +
                              "relative/t1.jpg\t1\t2\tr\n" + tile("t2.jpg") + "\t-5\tzz\tr\n" +
                              tile("t3.jpg") + "\t99999999999999999999999\t1\tr\n" +
                              // A picture the list holds, at its very stamp: it stays listed.
                              t0 + "\t" + stamp.size + "\t" + stamp.time + "\tsaid to be bad\n" +
                              tile("t4.jpg") + "\t" + stamp_of(tile("t4.jpg")).size;  // cut short
  ASSERT_TRUE(write_file(m_dir / "tiles.tzc.skipped", hostile));
  // A new picture whose name the file gives with another stamp is read.
  ASSERT_TRUE(good_jpeg(m_dir / "tiles" / "new.jpg", 9));
  r = run("list update " + quoted("tiles.tzc"));
  ASSERT_EQ(r.status, 0) << r.err;
  const auto paths = listed("tiles.tzc");
  EXPECT_EQ(paths.size(), 7u) << r.err;
  EXPECT_EQ(paths.count(t0), 1u);
  EXPECT_EQ(paths.count(tile("new.jpg")), 1u);
  EXPECT_EQ(error_file_lines("tiles.tzc"), std::set<std::string>{tile("bad.jpg")});
}

// --- folders -------------------------------------------------------------------

// Root reads any folder: its runs are made to go without that right, so a
// folder of mode 000 is as closed to them as to any other user.
std::string without_override_rights() {
  if (::geteuid() != 0) return "env";
  return "setpriv --bounding-set -dac_override,-dac_read_search -- env";
}

class LockedFolder {
 public:
  explicit LockedFolder(fs::path path) : m_path(std::move(path)) { fs::permissions(m_path, fs::perms::none); }
  ~LockedFolder() { fs::permissions(m_path, fs::perms::owner_all); }
  LockedFolder(const LockedFolder&) = delete;
  LockedFolder& operator=(const LockedFolder&) = delete;

 private:
  fs::path m_path;
};

TEST_F(LibraryFiles, FoldersThatCannotBeReadAreReportedAndKeepTheirEntries) {
  fs::create_directories(m_dir / "tiles" / "locked");
  for (int i = 0; i < 4; ++i) ASSERT_TRUE(good_jpeg(m_dir / "tiles" / "locked" / ("l" + std::to_string(i) + ".jpg"), 20 + i));
  auto r = run("list create " + quoted("tiles.tzc") + " --include " + quoted("tiles/"), without_override_rights());
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_EQ(listed("tiles.tzc").size(), 10u);

  const LockedFolder locked(m_dir / "tiles" / "locked");
  const std::string probe = without_override_rights() + " ls " + quoted("tiles/locked") + " >/dev/null 2>&1";
  if (std::system(probe.c_str()) == 0) GTEST_SKIP() << "this user reads a folder of mode 000";
  const std::string folder = tile("locked/");

  // An update keeps what the list knew of the folder, and says so.
  r = run("list update " + quoted("tiles.tzc"), without_override_rights());
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("warning: Folder '" + folder + "' could not be read (Permission denied): its 4 entries are "
                       "kept as the list had them"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(listed("tiles.tzc").size(), 10u);
  EXPECT_EQ(error_file_lines("tiles.tzc"), std::set<std::string>{folder});

  // A list made anew cannot know what the folder holds.
  r = run("list create " + quoted("fresh.tzc") + " --include " + quoted("tiles/"), without_override_rights());
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("warning: Folder '" + folder + "' could not be read (Permission denied): no picture in it is "
                       "listed, and how many it holds cannot be told"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(listed("fresh.tzc").size(), 6u);
  EXPECT_EQ(error_file_lines("fresh.tzc"), std::set<std::string>{folder});

  // A picture named on its own inside the folder is out of reach, not missing.
  r = run("list create " + quoted("one.tzc") + " --include " + quoted("tiles/locked/l0.jpg"), without_override_rights());
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("cannot be read: Permission denied"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace tess
