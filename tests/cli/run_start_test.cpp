// SPDX-License-Identifier: GPL-3.0-or-later
// How a run starts: the geometry worked out before the run is the one the
// run builds with, for a main image that its EXIF orientation turns.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cli_runner.hpp"
#include "images/foto.hpp"
#include "images/image_files.hpp"
#include "support/test_support.hpp"

namespace tess {
namespace {

namespace fs = std::filesystem;
using testing::shell_quoted;
using testing::TempDir;

TEST(RunStart, AMainImageTurnedByItsExifMakesTheMaskMosaicOfTheUprightPicture) {
  TempDir dir;
  ASSERT_TRUE(testing::write_tile_library(dir / "tiles", 40));
  // Stored 400 × 300 and turned upright (300 × 400) as it loads; the same
  // pixels stored upright, without loss, beside it.
  ASSERT_TRUE(testing::write_jpeg(dir / "turned.jpg", testing::JpegSpec(400, 300).with_orientation(6),
                                  [](int y, std::uint8_t* rgb) { testing::photo_like_row(400, y, rgb); }));
  Foto upright;
  ASSERT_TRUE(upright.load(dir / "turned.jpg", 0, 0));
  ASSERT_EQ(upright.width(), 300);
  ASSERT_EQ(upright.height(), 400);
  ASSERT_TRUE(testing::write_jpeg(dir / "mask.jpg", testing::two_tone(90, 120), testing::JpegSpec().with_quality(100)));
  std::vector<std::vector<std::uint8_t>> rows(400, std::vector<std::uint8_t>(300 * 3));
  for (int y = 0; y < 400; ++y)
    for (int x = 0; x < 300; ++x) {
      const std::uint32_t c = upright.at(x, y);
      rows[y][x * 3u] = static_cast<std::uint8_t>(pixel_red(c));
      rows[y][x * 3u + 1] = static_cast<std::uint8_t>(pixel_green(c));
      rows[y][x * 3u + 2] = static_cast<std::uint8_t>(pixel_blue(c));
    }
  ASSERT_TRUE(testing::write_png(dir / "upright.png", testing::PngSpec(300, 400), rows));

  const auto run = [&](const std::string& args) { return testing::run_program(dir.path(), args); };
  const auto quoted = [&](const std::string& name) { return shell_quoted((dir / name).string()); };
  auto r = run("list create " + quoted("tiles.tzc") + " --include " + quoted("tiles/"));
  ASSERT_EQ(r.status, 0) << r.err;
  // A mask-file size of two mosaic pixels a mask pixel, from the settings.
  for (const char* image : {"turned.jpg", "upright.png"}) {
    SCOPED_TRACE(image);
    r = run("mosaic " + quoted(image) + " --list " + quoted("tiles.tzc") + " --mask " + quoted("mask.jpg") +
            " --set MosaicSizeUnit=pixel --set MosaicSizeWidth=2 --set MosaicSizeHeight=2 --set DuplicateSpacing=0"
            " --output " + quoted(std::string("out/") + image + ".jpg") + " --quiet");
    ASSERT_EQ(r.status, 0) << r.err;
    int w = 0, h = 0;
    ASSERT_TRUE(Foto::read_size(dir / "out" / (std::string(image) + ".jpg"), w, h));
    EXPECT_EQ(w, 180);
    EXPECT_EQ(h, 240);
  }
  EXPECT_EQ(testing::read_file(dir / "out/turned.jpg.jpg"), testing::read_file(dir / "out/upright.png.jpg"));
}

}  // namespace
}  // namespace tess
