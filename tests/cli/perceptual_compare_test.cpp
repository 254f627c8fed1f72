// SPDX-License-Identifier: GPL-3.0-or-later
// Whole runs with the perceptual comparison: it chooses the tile that looks
// closest where red, green and blue distances disagree, it serves every
// placement mode with the colour change, variants and duplicate rules, and
// it refuses what it cannot honour.

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>

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

testing::CliOutcome run(const TempDir& dir, const std::string& args) { return testing::run_program(dir.path(), args); }

bool flat_jpeg(const fs::path& path, int w, int h, std::array<std::uint8_t, 3> colour) {
  return testing::write_jpeg(path, testing::JpegSpec(w, h).with_quality(100), [&](int, std::uint8_t* s) {
    for (int x = 0; x < w; ++x) std::copy(colour.begin(), colour.end(), s + 3 * x);
  });
}

std::string q(const fs::path& path) { return shell_quoted(path.string()); }

std::string mosaic_args(const TempDir& dir, const fs::path& out, const std::string& settings) {
  return "mosaic " + q(dir.path() / "main.jpg") + " --list " + q(dir.path() / "tiles.tzc") +
         " --set MosaicSizeUnit=pixel --set MosaicSizeWidth=320 --set MosaicSizeHeight=240 --set TileSize=8"
         " --set FileFormat=png" + settings + " --output " + q(out) + " --yes --quiet";
}

// A blue (60, 140, 200) main image and two kinds of tile: (61, 160, 196),
// nearer in red, green and blue (25 levels apart in all) but a clearly
// greener blue to the eye (CIEDE2000 10), and (27, 134, 216), further in
// levels (55) but nearly the same blue (CIEDE2000 3). The comparisons on
// levels take the first; the perceptual one the second.
TEST(PerceptualCompare, ChoosesTheTileThatLooksClosestWhereLevelsDisagree) {
  TempDir dir;
  fs::create_directories(dir.path() / "tiles");
  for (int i = 0; i < 6; ++i) {
    ASSERT_TRUE(flat_jpeg(dir.path() / "tiles" / ("levels" + std::to_string(i) + ".jpg"), 32, 24, {61, 160, 196}));
    ASSERT_TRUE(flat_jpeg(dir.path() / "tiles" / ("looks" + std::to_string(i) + ".jpg"), 32, 24, {27, 134, 216}));
  }
  ASSERT_TRUE(flat_jpeg(dir.path() / "main.jpg", 160, 120, {60, 140, 200}));
  auto r = run(dir, "list create " + q(dir.path() / "tiles.tzc") + " --include " + q(dir.path() / "tiles"));
  ASSERT_EQ(r.status, 0) << r.err;

  struct Case {
    const char* compare;
    int green;  // of the tile every cell shows
  };
  for (const Case& c : {Case{"best", 160}, Case{"weaker", 160}, Case{"stronger", 160}, Case{"perceptual", 134}}) {
    const fs::path out = dir.path() / (std::string(c.compare) + ".png");
    r = run(dir, mosaic_args(dir, out,
                             std::string(" --set ColorChange=0 --set TileDuplication=0 --set DuplicateSpacing=0"
                                         " --set ImageCompare=") +
                                 c.compare));
    ASSERT_EQ(r.status, 0) << c.compare << ": " << r.err;
    Foto mosaic;
    ASSERT_TRUE(mosaic.load(out, 0, 0).ok()) << c.compare;
    for (const auto& [x, y] : {std::pair{5, 5}, std::pair{160, 120}, std::pair{315, 235}})
      EXPECT_NEAR(static_cast<int>(pixel_green(mosaic.at(x, y))), c.green, 3) << c.compare << " at " << x << "," << y;
  }
}

// Every placement mode with the perceptual comparison, with and without the
// colour change, every variant and a duplicate rule: each run makes its
// mosaic and fills every cell with a tile.
TEST(PerceptualCompare, ServesEveryPlacementModeWithColourChangeVariantsAndDuplicateRules) {
  TempDir dir;
  ASSERT_TRUE(testing::write_tile_library(dir.path() / "tiles", 200));
  ASSERT_TRUE(testing::write_jpeg(dir.path() / "main.jpg", testing::JpegSpec(160, 120), [](int y, std::uint8_t* s) {
    for (int x = 0; x < 160; ++x) {
      s[3 * x] = static_cast<std::uint8_t>(x * 255 / 159);
      s[3 * x + 1] = static_cast<std::uint8_t>(y * 2);
      s[3 * x + 2] = static_cast<std::uint8_t>(255 - x);
    }
  }));
  auto r = run(dir, "list create " + q(dir.path() / "tiles.tzc") + " --include " + q(dir.path() / "tiles"));
  ASSERT_EQ(r.status, 0) << r.err;
  for (const char* processing : {"standard", "faster", "standard1", "standard2", "sequential", "random"}) {
    for (const char* rules : {" --set ColorChange=0 --set TileDuplication=0 --set DuplicateSpacing=2",
                              " --set ColorChange=30 --set TileDuplication=1 --set DuplicateSpacing=0"
                              " --set TileVariants=127"}) {
      const std::string mode = processing;
      // The Experimental modes place each picture once and take no spacing.
      if (mode.starts_with("standard") && mode != "standard" && std::string(rules).find("Spacing=2") != std::string::npos)
        continue;
      SCOPED_TRACE(mode + rules);
      // The stored form of a variant mask is the mask plus one: 127 is all of them.
      const fs::path out = dir.path() / "out.png";
      r = run(dir, mosaic_args(dir, out, std::string(" --set ImageCompare=perceptual --set MosaicProcessing=") +
                                             processing + rules));
      ASSERT_EQ(r.status, 0) << r.err;
      Foto mosaic;
      ASSERT_TRUE(mosaic.load(out, 0, 0).ok());
      EXPECT_EQ(mosaic.width(), 320);
    }
  }
}

// Channel priorities have no meaning for lightness and colour axes: a run
// asking for both is refused with the reason, and writes nothing.
TEST(PerceptualCompare, ChannelPrioritiesAreRefusedWithTheReason) {
  TempDir dir;
  ASSERT_TRUE(testing::write_tile_library(dir.path() / "tiles", 20));
  ASSERT_TRUE(flat_jpeg(dir.path() / "main.jpg", 160, 120, {60, 140, 200}));
  auto r = run(dir, "list create " + q(dir.path() / "tiles.tzc") + " --include " + q(dir.path() / "tiles"));
  ASSERT_EQ(r.status, 0) << r.err;
  const fs::path out = dir.path() / "out.png";
  r = run(dir, mosaic_args(dir, out, " --set ImageCompare=perceptual --set Advanced.ImageCompare.ProrityRed=2"));
  EXPECT_NE(r.status, 0);
  EXPECT_NE((r.out + r.err).find("perceptual comparison"), std::string::npos) << r.out << r.err;
  EXPECT_FALSE(fs::exists(out));
}

}  // namespace
}  // namespace tess
