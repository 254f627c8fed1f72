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
    if (!load_list_file(loaded, list.string(), prompt)) return paths;
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

}  // namespace
}  // namespace tess
