// SPDX-License-Identifier: GPL-3.0-or-later
// Whole runs over photo libraries as people have them: pictures carrying
// colour profiles, files of other kinds beside them, and lists made by an
// earlier build.

#include <sys/stat.h>

#include <fcntl.h>

#include <algorithm>
#include <cstdlib>
#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "cli_runner.hpp"
#include "images/foto.hpp"
#include "images/image_files.hpp"
#include "support/test_support.hpp"
#include "tilelist/list_file.hpp"
#include "tilelist/tile_image_list.hpp"

namespace tess {
namespace {

namespace fs = std::filesystem;
using testing::shell_quoted;
using testing::TempDir;
using testing::write_file;

testing::CliOutcome run(const TempDir& dir, const std::string& args) { return testing::run_program(dir.path(), args); }

bool flat_jpeg(const fs::path& path, int w, int h, std::array<std::uint8_t, 3> colour,
               std::vector<std::uint8_t> profile = {}) {
  return testing::write_jpeg(path, testing::JpegSpec(w, h).with_icc_profile(std::move(profile)).with_quality(100),
                             [&](int, std::uint8_t* s) {
                               for (int x = 0; x < w; ++x) std::copy(colour.begin(), colour.end(), s + 3 * x);
                             });
}

std::vector<std::uint8_t> adobe_rgb() {
  std::ifstream in("/usr/share/color/icc/colord/AdobeRGB1998.icc", std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A main image in Adobe RGB is matched by the colours it shows: its
// (200, 100, 50) is sRGB (227, 100, 42), so the tiles of that colour are
// chosen over those holding the numbers as they stand.
TEST(PhotoFormats, ProfiledMainImageIsMatchedByTheColoursItShows) {
  const std::vector<std::uint8_t> profile = adobe_rgb();
  if (profile.empty()) GTEST_SKIP() << "colord-data is not installed";
  TempDir dir;
  fs::create_directories(dir.path() / "tiles");
  for (int i = 0; i < 20; ++i) {
    const auto v = static_cast<std::uint8_t>(i % 3);
    ASSERT_TRUE(flat_jpeg(dir.path() / "tiles" / ("shown" + std::to_string(i) + ".jpg"), 32, 24,
                          {static_cast<std::uint8_t>(227 - v), 100, static_cast<std::uint8_t>(42 + v)}));
    ASSERT_TRUE(flat_jpeg(dir.path() / "tiles" / ("numbers" + std::to_string(i) + ".jpg"), 32, 24,
                          {static_cast<std::uint8_t>(200 - v), 100, static_cast<std::uint8_t>(50 + v)}));
  }
  ASSERT_TRUE(flat_jpeg(dir.path() / "main.jpg", 160, 120, {200, 100, 50}, profile));
  auto r = run(dir, "list create " + shell_quoted((dir.path() / "tiles.tzc").string()) + " --include " +
                        shell_quoted((dir.path() / "tiles").string()));
  ASSERT_EQ(r.status, 0) << r.err;
  r = run(dir, "mosaic " + shell_quoted((dir.path() / "main.jpg").string()) + " --list " +
                   shell_quoted((dir.path() / "tiles.tzc").string()) +
                   " --set MosaicSizeUnit=pixel --set MosaicSizeWidth=320 --set MosaicSizeHeight=240 --set TileSize=4"
                   " --set ColorChange=0 --set FileFormat=png --output " + shell_quoted((dir.path() / "out.png").string()) + " --yes --quiet");
  ASSERT_EQ(r.status, 0) << r.err;
  Foto mosaic;
  ASSERT_TRUE(mosaic.load(dir.path() / "out.png", 0, 0).ok());
  for (const auto& [x, y] : {std::pair{10, 10}, std::pair{160, 120}, std::pair{300, 230}}) {
    const std::uint32_t p = mosaic.at(x, y);
    EXPECT_NEAR(static_cast<int>(pixel_red(p)), 227, 4) << x << "," << y;
    EXPECT_NEAR(static_cast<int>(pixel_blue(p)), 42, 4) << x << "," << y;
  }
}

// A phone's HEIC photo as the main image: the mosaic is made at its
// proportions and follows its colours, a red top and a blue bottom.
TEST(PhotoFormats, HeicMainImageMakesTheMosaic) {
  if (std::system("command -v heif-enc >/dev/null 2>&1") != 0) GTEST_SKIP() << "heif-enc (libheif-examples) is missing";
  TempDir dir;
  ASSERT_TRUE(testing::write_tile_library(dir.path() / "tiles", 60));
  ASSERT_EQ(run(dir, "list create " + shell_quoted((dir.path() / "tiles.tzc").string()) + " --include " +
                         shell_quoted((dir.path() / "tiles").string()))
                .status,
            0);
  ASSERT_TRUE(testing::write_jpeg(dir.path() / "source.jpg", testing::JpegSpec(300, 400), [](int y, std::uint8_t* s) {
    for (int x = 0; x < 300; ++x) {
      s[3 * x] = y < 200 ? 220 : 20;
      s[3 * x + 1] = 30;
      s[3 * x + 2] = y < 200 ? 20 : 220;
    }
  }));
  const fs::path heic = dir.path() / "phone.heic";
  ASSERT_EQ(std::system(("heif-enc -q 90 -o " + shell_quoted(heic.string()) + " " +
                         shell_quoted((dir.path() / "source.jpg").string()) + " >/dev/null 2>&1")
                            .c_str()),
            0);
  const fs::path out = dir.path() / "mosaic.jpg";
  const auto r = run(dir, "mosaic " + shell_quoted(heic.string()) + " --list " +
                              shell_quoted((dir.path() / "tiles.tzc").string()) +
                              " --set MosaicSizeUnit=pixel --set MosaicSizeWidth=300 --set MosaicSizeHeight=400 --set TileSize=10 --output " +
                              shell_quoted(out.string()) + " --yes --quiet");
  ASSERT_EQ(r.status, 0) << r.err;
  Foto mosaic;
  ASSERT_TRUE(mosaic.load(out, 0, 0).ok());
  EXPECT_EQ(mosaic.width(), 300);
  EXPECT_NEAR(mosaic.height(), 400, 30);
  std::uint64_t top_red = 0, bottom_blue = 0, top_blue = 0, bottom_red = 0;
  for (int y = 0; y < mosaic.height(); ++y)
    for (int x = 0; x < mosaic.width(); ++x) {
      const std::uint32_t p = mosaic.at(x, y);
      (y < mosaic.height() / 2 ? top_red : bottom_red) += pixel_red(p);
      (y < mosaic.height() / 2 ? top_blue : bottom_blue) += pixel_blue(p);
    }
  EXPECT_GT(top_red, bottom_red);
  EXPECT_GT(bottom_blue, top_blue);
}

// A main image no decoder reads is refused before any work, with the reason.
TEST(PhotoFormats, MainImageOfAnUnsupportedKindIsRefusedWithTheReason) {
  TempDir dir;
  ASSERT_TRUE(testing::write_tile_library(dir.path() / "tiles", 12));
  ASSERT_EQ(run(dir, "list create " + shell_quoted((dir.path() / "tiles.tzc").string()) + " --include " +
                         shell_quoted((dir.path() / "tiles").string()))
                .status,
            0);
  ASSERT_TRUE(write_file(dir.path() / "drawing.xcf", "gimp xcf v011 and layers"));
  const auto r = run(dir, "mosaic " + shell_quoted((dir.path() / "drawing.xcf").string()) + " --list " +
                              shell_quoted((dir.path() / "tiles.tzc").string()) + " --output " +
                              shell_quoted((dir.path() / "m.jpg").string()) + " --yes");
  EXPECT_EQ(r.status, 2) << r.err;
  EXPECT_NE(r.err.find("drawing.xcf' (unsupported format)"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("Please add an Image using the + button"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(dir.path() / "m.jpg"));
}

// Every file of a picture folder that is not used is accounted for, by
// reason; sidecars and hidden files are not pictures left out.
TEST(PhotoFormats, ListCreationSaysWhatWasLeftOutAndWhy) {
  TempDir dir;
  const fs::path pics = dir.path() / "pics";
  fs::create_directories(pics);
  ASSERT_TRUE(flat_jpeg(pics / "a.jpg", 32, 24, {10, 200, 30}));
  ASSERT_TRUE(flat_jpeg(pics / "b.JFIF", 32, 24, {200, 10, 30}));
  for (const char* name : {"one.xcf", "two.xcf", "clip.mov", "a.jpg.xmp", "IMG_1.AAE", ".hidden.jpg.swp"})
    ASSERT_TRUE(write_file(pics / name, "not a picture"));
  ASSERT_TRUE(write_file(pics / "fake.heic", "neither a HEIF nor anything else"));
  ASSERT_TRUE(write_file(pics / "broken.jpg", "not a JPEG either"));
  const std::string list = (dir.path() / "tiles.tzc").string();
  auto r = run(dir, "list create " + shell_quoted(list) + " --include " + shell_quoted(pics.string()));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("Left out: 4 files of an unsupported type (.xcf 2, .heic 1, .mov 1); 1 damaged."),
            std::string::npos)
      << r.err;
  TileImageList loaded;
  ASSERT_TRUE(load_list_file(loaded, list).ok());
  EXPECT_EQ(loaded.entry_count(), 2u);  // .JFIF is a JPEG ending
  // The side file keeps each file's reason, the kind first.
  const std::string skipped = testing::read_file(list + ".skipped");
  EXPECT_NE(skipped.find("broken.jpg\t"), std::string::npos) << skipped;
  EXPECT_NE(skipped.find("\tdamaged: "), std::string::npos) << skipped;
  EXPECT_NE(skipped.find("\tunsupported format: "), std::string::npos) << skipped;

  // Nothing usable: the message says what the folder held instead.
  fs::remove(pics / "a.jpg");
  fs::remove(pics / "b.JFIF");
  r = run(dir, "list create " + shell_quoted((dir.path() / "none.tzc").string()) + " --include " +
                   shell_quoted(pics.string()));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Please add folders containing JPG/PNG Images! Left out: 4 files of an unsupported type "
                       "(.xcf 2, .heic 1, .mov 1); 1 damaged."),
            std::string::npos)
      << r.err;
}

// `list update` keeps the signature of a file whose size and date are
// unchanged; `--reanalyse` reads every file again.
TEST(PhotoFormats, ReanalyseReadsUnchangedFilesAgain) {
  TempDir dir;
  const fs::path pics = dir.path() / "pics";
  fs::create_directories(pics);
  const fs::path photo = pics / "photo.jpg";
  ASSERT_TRUE(flat_jpeg(photo, 32, 24, {250, 10, 10}));
  ASSERT_TRUE(flat_jpeg(dir.path() / "blue.jpg", 32, 24, {10, 10, 250}));
  ASSERT_TRUE(flat_jpeg(pics / "other.jpg", 32, 24, {10, 250, 10}));
  const std::string list = (dir.path() / "tiles.tzc").string();
  ASSERT_EQ(run(dir, "list create " + shell_quoted(list) + " --include " + shell_quoted(pics.string())).status, 0);

  // The photo becomes blue with the same size and date, as a decoder that
  // now reads its profile would see it.
  std::string red = testing::read_file(photo), blue = testing::read_file(dir.path() / "blue.jpg");
  const std::size_t size = std::max(red.size(), blue.size());
  blue.resize(size, '\0');  // bytes after the end of the picture are never read
  red.resize(size, '\0');
  ASSERT_TRUE(write_file(photo, red));
  struct stat before {};
  ASSERT_EQ(::stat(photo.c_str(), &before), 0);
  ASSERT_EQ(run(dir, "list update " + shell_quoted(list)).status, 0);
  ASSERT_TRUE(write_file(photo, blue));
  const timespec times[2] = {before.st_atim, before.st_mtim};
  ASSERT_EQ(::utimensat(AT_FDCWD, photo.c_str(), times, 0), 0);

  const auto blue_of_photo = [&] {
    TileImageList loaded;
    EXPECT_TRUE(load_list_file(loaded, list).ok());
    const FotoInfo* entry = loaded.find(photo.string());
    return entry == nullptr ? -1 : static_cast<int>(pixel_blue(entry->signature.overall()));
  };
  ASSERT_EQ(run(dir, "list update " + shell_quoted(list)).status, 0);
  EXPECT_LT(blue_of_photo(), 100);  // unchanged as far as the list can tell
  const auto r = run(dir, "list update " + shell_quoted(list) + " --reanalyse");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_GT(blue_of_photo(), 200);
}

// A file found bad by an earlier build, which remembered no kind of failure,
// is tried again by an update: this build may read it. One remembered as
// damaged and unchanged since is not read again.
TEST(PhotoFormats, FilesAnEarlierBuildCouldNotReadAreTriedAgain) {
  TempDir dir;
  const fs::path pics = dir.path() / "pics";
  fs::create_directories(pics);
  ASSERT_TRUE(flat_jpeg(pics / "first.jpg", 32, 24, {10, 200, 30}));
  const std::string list = (dir.path() / "tiles.tzc").string();
  ASSERT_EQ(run(dir, "list create " + shell_quoted(list) + " --include " + shell_quoted(pics.string())).status, 0);
  ASSERT_TRUE(flat_jpeg(pics / "old_reason.jpg", 32, 24, {200, 10, 30}));
  ASSERT_TRUE(flat_jpeg(pics / "known_bad.jpg", 32, 24, {30, 10, 200}));
  std::string side = "# files left out\n";
  for (const auto& [name, reason] : {std::pair{"old_reason.jpg", "Unable to load file"},
                                     std::pair{"known_bad.jpg", "damaged: Unable to load file"}}) {
    struct stat info {};
    ASSERT_EQ(::stat((pics / name).c_str(), &info), 0);
    side += (pics / name).string() + "\t" + std::to_string(info.st_size) + "\t" +
            std::to_string(static_cast<long long>(info.st_mtim.tv_sec) * 1000000000LL + info.st_mtim.tv_nsec) + "\t" +
            reason + "\n";
  }
  ASSERT_TRUE(write_file(list + ".skipped", side));
  const auto r = run(dir, "list update " + shell_quoted(list));
  ASSERT_EQ(r.status, 0) << r.err;
  TileImageList loaded;
  ASSERT_TRUE(load_list_file(loaded, list).ok());
  EXPECT_NE(loaded.find((pics / "old_reason.jpg").string()), nullptr);
  EXPECT_EQ(loaded.find((pics / "known_bad.jpg").string()), nullptr);
}

}  // namespace
}  // namespace tess
