// `tessellarium mosaic`, run as a separate process on a tile library and a
// main image the test writes itself.

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <utility>
#include <filesystem>
#include <map>
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

class MosaicCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(testing::write_tile_library(m_dir / "tiles", 60));
    ASSERT_TRUE(testing::write_photo(m_dir / "photo.jpg"));
    auto r = run("list create " + quoted("tiles.tzc") + " --include " + quoted("tiles/"));
    ASSERT_EQ(r.status, 0) << r.err;
  }

  std::string quoted(const std::string& name) const { return shell_quoted((m_dir / name).string()); }
  testing::CliOutcome run(const std::string& args) const { return testing::run_program(m_dir.path(), args); }

  static constexpr const char* kSmall =
      " --set MosaicSizeUnit=pixel --set MosaicSizeWidth=800 --set MosaicSizeHeight=600 --set TileSize=20";

  TempDir m_dir;
};

TEST_F(MosaicCommand, WritesTheMosaicWhereItWasAskedFor) {
  auto r = run("mosaic " + quoted("photo.jpg") + " --list " + quoted("tiles.tzc") + kSmall + " --output " +
               quoted("out/mosaic.jpg") + " --quiet");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, (m_dir / "out/mosaic.jpg").string() + "\n");
  int w = 0, h = 0;
  ASSERT_TRUE(Foto::read_size(m_dir / "out/mosaic.jpg", w, h));
  EXPECT_EQ(w, 800);
  EXPECT_EQ(h, 600);
}

TEST_F(MosaicCommand, BmpMosaicIsAReadableBitmapOfTheMosaicSize) {
  auto r = run("mosaic " + quoted("photo.jpg") + " --list " + quoted("tiles.tzc") + kSmall +
               " --set FileFormat=bmp --output " + quoted("m.bmp") + " --quiet");
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string bmp = testing::read_file(m_dir / "m.bmp");
  ASSERT_GE(bmp.size(), 54u);
  EXPECT_EQ(bmp.substr(0, 2), "BM");
  EXPECT_EQ(bmp.size(), 54u + 800u * 3u * 600u);
}

// The colour of the quadrant holding (x, y) of a w × h picture.
std::uint32_t quadrant_colour(int x, int y, int w, int h) {
  static const std::uint32_t kColours[4] = {make_pixel(200, 30, 30), make_pixel(30, 170, 40), make_pixel(40, 60, 190),
                                            make_pixel(220, 210, 40)};
  return kColours[(x < w / 2 ? 0 : 1) + (y < h / 2 ? 0 : 2)];
}

TEST_F(MosaicCommand, EveryCellTracksTheMainImageAndRawAndPpmHaveTheirSizes) {
  // A main image of four coloured quadrants and tiles near those colours.
  Foto main;
  ASSERT_TRUE(main.try_allocate(400, 300));
  for (int y = 0; y < 300; ++y)
    for (int x = 0; x < 400; ++x) main.at(x, y) = quadrant_colour(x, y, 400, 300);
  ASSERT_TRUE(testing::write_jpeg(m_dir / "quadrants.jpg", main, testing::JpegSpec().with_quality(95)));
  for (int i = 0; i < 16; ++i) {
    const std::uint32_t c = quadrant_colour(i % 2 == 0 ? 0 : 399, i % 4 < 2 ? 0 : 299, 400, 300);
    const int d = (i / 4) * 6 - 9;
    Foto tile;
    tile.try_allocate_fill(64, 48,
                       make_pixel(std::clamp(static_cast<int>(pixel_red(c)) + d, 0, 255),
                                  std::clamp(static_cast<int>(pixel_green(c)) - d, 0, 255),
                                  std::clamp(static_cast<int>(pixel_blue(c)) + d, 0, 255)));
    ASSERT_TRUE(testing::write_jpeg(m_dir / "tiles" / ("q" + std::to_string(i) + ".jpg"), tile,
                                    testing::JpegSpec().with_quality(95)));
  }
  ASSERT_EQ(run("list update " + quoted("tiles.tzc")).status, 0);

  // Duplicates may lie side by side, so every cell can take a tile of its colour.
  auto r = run("mosaic " + quoted("quadrants.jpg") + " --list " + quoted("tiles.tzc") + kSmall +
               " --set DuplicateSpacing=0 --set FileFormat=ppm --output " + quoted("q.ppm") + " --yes --quiet");
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string ppm = testing::read_file(m_dir / "q.ppm");
  ASSERT_EQ(ppm.size(), 100u + 800u * 600u * 3u);  // the 100-byte header and the geometry's final size
  EXPECT_EQ(ppm.substr(0, 3), "P6\n");
  EXPECT_EQ(ppm.substr(100 - 13, 13), "\n800 600\n255\n");

  // 20 tiles per row on 800 pixels: cells of 40 × 30. Each cell's mean colour
  // must be close to the main image's colour under it.
  int far = 0;
  for (int cy = 0; cy < 20; ++cy) {
    for (int cx = 0; cx < 20; ++cx) {
      long sum[3] = {0, 0, 0};
      for (int y = cy * 30; y < cy * 30 + 30; ++y)
        for (int x = cx * 40; x < cx * 40 + 40; ++x)
          for (int c = 0; c < 3; ++c)
            sum[c] += static_cast<unsigned char>(ppm[100 + (static_cast<std::size_t>(y) * 800 + x) * 3 + c]);
      const std::uint32_t expected = quadrant_colour(cx * 40 + 20, cy * 30 + 15, 800, 600);
      const long want[3] = {pixel_red(expected), pixel_green(expected), pixel_blue(expected)};
      long diff = 0;
      for (int c = 0; c < 3; ++c) diff += std::labs(sum[c] / 1200 - want[c]);
      if (diff > 60) ++far;
    }
  }
  EXPECT_EQ(far, 0);

  r = run("mosaic " + quoted("quadrants.jpg") + " --list " + quoted("tiles.tzc") + kSmall +
          " --set DuplicateSpacing=0 --set FileFormat=raw --output " + quoted("q.raw") + " --yes --quiet");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(std::filesystem::file_size(m_dir / "q.raw"), 800u * 600u * 3u);
}

TEST_F(MosaicCommand, CtrlCStopsTheRunWithStoppedAndOne) {
  // Ctrl-C once the run reports progress (a fixed delay raced the start-up on
  // a loaded machine, where the default action then killed the program), on a
  // mosaic far too large to finish before it.
  const std::string err_file = (m_dir.path() / "stderr.txt").string();
  const std::string press_ctrl_c =
      "E=" + shell_quoted(err_file) +
      " sh -c 'env \"$@\" & p=$!; i=0; until grep -q Completed \"$E\" 2>/dev/null || [ $i -ge 600 ]; do sleep 0.05;"
      " i=$((i+1)); done; kill -INT $p; wait $p' sh";
  auto r = testing::run_program(m_dir.path(),
                                "mosaic " + quoted("photo.jpg") + " --list " + quoted("tiles.tzc") +
                                    " --set MosaicSizeUnit=pixel --set MosaicSizeWidth=16000 --set MosaicSizeHeight=12000"
                                    " --set TileSize=250 --output " + quoted("big.jpg"),
                                {}, press_ctrl_c);
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_NE(r.err.find("Stopped!"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(m_dir / "big.jpg"));  // no half-written mosaic is left behind
}

TEST_F(MosaicCommand, BadUsageIsRefusedWithTwo) {
  EXPECT_EQ(run("mosaic " + quoted("photo.jpg") + " " + quoted("photo.jpg") + " --list " + quoted("tiles.tzc") +
                " --output " + quoted("x.jpg"))
                .status,
            2);  // --output with two images
  EXPECT_EQ(run("mosaic " + quoted("photo.jpg")).status, 2);                                   // no list
  EXPECT_EQ(run("mosaic " + quoted("nothing.jpg") + " --list " + quoted("tiles.tzc")).status, 2);  // no picture
  EXPECT_EQ(run("mosaic " + quoted("photo.jpg") + " --list " + quoted("tiles.tzc") + " --set Pattern=99").status, 2);
  EXPECT_EQ(run("mosaic " + quoted("photo.jpg") + " --list " + quoted("tiles.tzc") + " --split 10").status, 2);
}

TEST_F(MosaicCommand, SplitPiecesIndividualTilesAndMaskFilesLandBesideTheMosaic) {
  auto r = run("mosaic " + quoted("photo.jpg") + " --list " + quoted("tiles.tzc") + kSmall +
               " --set IndividualTiles=1 --set CreateMaskFile=1 --split 300x250 --output " + quoted("out/m.jpg") +
               " --quiet");
  ASSERT_EQ(r.status, 0) << r.err;
  for (const char* piece : {"01x01", "02x01", "03x01", "01x02", "02x02", "03x02", "01x03", "02x03", "03x03"}) {
    int w = 0, h = 0;
    ASSERT_TRUE(Foto::read_size(m_dir / ("out/m" + std::string(piece) + ".jpg"), w, h)) << piece;
    EXPECT_EQ(w, piece[4] == '3' ? 200 : 300) << piece;
    EXPECT_EQ(h, piece[1] == '3' ? 100 : 250) << piece;
  }
  // 20 tiles of 40 × 30 a row, 20 rows: one file per tile, each tile once.
  std::size_t tiles = 0;
  // Beside them, the mark that makes the folder the program's own.
  EXPECT_TRUE(fs::is_regular_file(m_dir / "out/m Tile Images/.tessellarium"));
  for (const auto& entry : fs::directory_iterator(m_dir / "out/m Tile Images")) {
    const std::string name = entry.path().filename().string();
    if (name == ".tessellarium") continue;
    EXPECT_EQ(name.rfind("Tile_x", 0), 0u) << name;
    int w = 0, h = 0;
    ASSERT_TRUE(Foto::read_size(entry.path(), w, h)) << name;
    EXPECT_EQ(w, 40);
    EXPECT_EQ(h, 30);
    ++tiles;
  }
  EXPECT_EQ(tiles, 400u);
  // The last tile of the last row, named after its picture "t<n>.jpg".
  EXPECT_TRUE(std::any_of(fs::directory_iterator(m_dir / "out/m Tile Images"), fs::directory_iterator(),
                          [](const fs::directory_entry& e) {
                            return e.path().filename().string().rfind("Tile_x0000760_y0000570__t", 0) == 0;
                          }));
  for (const char* side : {"out/m MaskFile.jpg", "out/m Score.jpg"}) {
    int w = 0, h = 0;
    ASSERT_TRUE(Foto::read_size(m_dir / side, w, h)) << side;
    EXPECT_EQ(w, 800);
    EXPECT_EQ(h, 600);
  }
  EXPECT_EQ(fs::file_size(m_dir / "out/m MaskFile.bmp"), 54u + 800u * 3u * 600u);
}

TEST_F(MosaicCommand, SplitSizesTheSplitWindowRefusesAreUsageErrors) {
  auto r = run("mosaic " + quoted("photo.jpg") + " --list " + quoted("tiles.tzc") + kSmall + " --split 10x500");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("Valid values between 10 and 1,000,000 pixel."), std::string::npos) << r.err;
  EXPECT_EQ(run("mosaic " + quoted("photo.jpg") + " --list " + quoted("tiles.tzc") + kSmall + " --split 99999999999x20")
                .status,
            2);
  // A piece wider than JPEG readers like is the user's call: --no declines.
  r = run("mosaic " + quoted("photo.jpg") + " --list " + quoted("tiles.tzc") + kSmall + " --split 40000x20 --no");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Are you sure that you want to create split pieces with such a size?"), std::string::npos)
      << r.err;
}

TEST_F(MosaicCommand, UnwritableDestinationFailsWithOne) {
  ASSERT_TRUE(testing::write_file(m_dir / "blocker", "a file where a folder should be"));
  auto r = run("mosaic " + quoted("photo.jpg") + " --list " + quoted("tiles.tzc") + kSmall + " --output " +
               quoted("blocker/m.jpg") + " --quiet");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("error:"), std::string::npos) << r.err;
  EXPECT_EQ(r.out, "");
}

// A mask of four flat patches split by white lines, as a user paints one.
std::vector<std::vector<std::uint8_t>> four_patch_mask(int w, int h) {
  std::vector<std::vector<std::uint8_t>> rows(static_cast<std::size_t>(h), std::vector<std::uint8_t>(w * 3u));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const bool line = x == w / 2 || y == h / 2;
      const std::uint32_t c = line ? make_pixel(255, 255, 255) : quadrant_colour(x, y, w, h);
      rows[y][x * 3u] = static_cast<std::uint8_t>(pixel_red(c));
      rows[y][x * 3u + 1] = static_cast<std::uint8_t>(pixel_green(c));
      rows[y][x * 3u + 2] = static_cast<std::uint8_t>(pixel_blue(c));
    }
  return rows;
}

// The value of the report's summary line "<key>:,<value>".
std::string report_value(const std::string& report, const std::string& key) {
  const auto at = report.find(key + ":,");
  if (at == std::string::npos) return "?";
  const auto begin = at + key.size() + 2;
  return report.substr(begin, report.find_first_of("\r\n", begin) - begin);
}

TEST_F(MosaicCommand, ExperimentalFillsEveryCellWithItsOwnTileAndBeatsHighQuality) {
  // Fewer cells than tiles, no duplicates: every cell gets a different
  // picture, and the best assignment scores no worse than High Quality's.
  const auto average_score = [&](const std::string& processing) {
    fs::remove_all(m_dir / "out");
    auto r = run("mosaic " + quoted("photo.jpg") + " --list " + quoted("tiles.tzc") +
                 " --set MosaicSizeUnit=pixel --set MosaicSizeWidth=160 --set MosaicSizeHeight=120"
                 " --set TileSize=7"
                 " --set TileDuplication=1 --set DuplicateSpacing=0 --set TextReport=1 --set MosaicProcessing=" +
                 processing + " --output " + quoted("out/m.jpg") + " --quiet");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(fs::exists(m_dir / "out/m.jpg"));
    const std::string report = testing::read_file(m_dir / "out/m Text Report.csv");
    const std::string filled = report_value(report, "Tiles with a image");
    EXPECT_EQ(report_value(report, "Tiles without a image"), "0") << report;
    EXPECT_EQ(report_value(report, "Unique number of images used as tiles"), filled);
    const std::string average = report_value(report, "Average Tile Quality");
    return std::stol(average.substr(average.rfind(',') + 1));
  };
  const long experimental = average_score("standard1");
  EXPECT_LE(experimental, average_score("standard"));
}

TEST_F(MosaicCommand, MaskOptionsMakeAMaskFileMosaic) {
  ASSERT_TRUE(testing::write_png(m_dir / "mask.png", testing::PngSpec(200, 150), four_patch_mask(200, 150)));
  fs::create_directories(m_dir / "masks");
  fs::copy_file(m_dir / "mask.png", m_dir / "masks/a.png");
  fs::copy_file(m_dir / "mask.png", m_dir / "masks/b.png");
  for (const std::string& option : {"--mask " + quoted("mask.png"), "--mask-folder " + quoted("masks")}) {
    SCOPED_TRACE(option);
    fs::remove_all(m_dir / "out");
    auto r = run("mosaic " + quoted("photo.jpg") + " --list " + quoted("tiles.tzc") + " " + option +
                 " --set TextReport=1 --set DuplicateSpacing=0 --output " + quoted("out/m.jpg") + " --quiet");
    ASSERT_EQ(r.status, 0) << r.err;
    // The mask gives the mosaic its size and its four cells.
    std::size_t mosaics = 0;
    for (const auto& entry : fs::directory_iterator(m_dir / "out")) {
      const std::string name = entry.path().filename().string();
      if (name.size() < 4 || name.substr(name.size() - 4) != ".jpg") continue;
      int w = 0, h = 0;
      ASSERT_TRUE(Foto::read_size(entry.path(), w, h)) << name;
      EXPECT_EQ(w, 200) << name;
      EXPECT_EQ(h, 150) << name;
      ++mosaics;
    }
    // A folder of two masks makes two mosaics; the named file takes each one's label.
    EXPECT_EQ(mosaics, option[6] == '-' ? 2u : 1u);
    if (option[6] == '-') {
      EXPECT_TRUE(fs::exists(m_dir / "out/m M01 Mosaic.jpg"));
      EXPECT_TRUE(fs::exists(m_dir / "out/m M02 Mosaic.jpg"));
    }
    bool found_report = false;
    for (const auto& entry : fs::directory_iterator(m_dir / "out")) {
      const std::string name = entry.path().filename().string();
      if (name.find("Text Report.csv") == std::string::npos) continue;
      found_report = true;
      const std::string report = testing::read_file(entry.path());
      EXPECT_NE(report_value(report, "MaskFile").find(".png"), std::string::npos) << report;
    }
    EXPECT_TRUE(found_report);
  }
  // A size named on the command line contradicts the mask.
  auto r = run("mosaic " + quoted("photo.jpg") + " --list " + quoted("tiles.tzc") + " --mask " + quoted("mask.png") +
               kSmall);
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("error: --mask"), std::string::npos) << r.err;
}

TEST_F(MosaicCommand, MasksThatGiveNoCellsAreRefusedBeforeAnythingIsWritten) {
  const auto flat = [](int w, int h, std::uint8_t grey) {
    return std::vector<std::vector<std::uint8_t>>(static_cast<std::size_t>(h), std::vector<std::uint8_t>(w * 3u, grey));
  };
  ASSERT_TRUE(testing::write_png(m_dir / "white.png", testing::PngSpec(64, 48), flat(64, 48, 255)));
  ASSERT_TRUE(testing::write_png(m_dir / "black.png", testing::PngSpec(64, 48), flat(64, 48, 0)));
  ASSERT_TRUE(testing::write_file(m_dir / "empty.png", ""));
  ASSERT_TRUE(testing::write_png(m_dir / "truncated.png", testing::PngSpec(200, 150), four_patch_mask(200, 150)));
  ASSERT_TRUE(testing::truncate_file(m_dir / "truncated.png", 300));
  ASSERT_TRUE(testing::write_png(m_dir / "huge.png", testing::PngSpec(200, 150), four_patch_mask(200, 150)));
  ASSERT_TRUE(testing::set_png_header_size(m_dir / "huge.png", 1'000'000, 1'000'000));
  fs::create_directories(m_dir / "mixed");
  ASSERT_TRUE(testing::write_png(m_dir / "mixed/a.png", testing::PngSpec(200, 150), four_patch_mask(200, 150)));
  fs::copy_file(m_dir / "white.png", m_dir / "mixed/b.png");
  fs::create_directories(m_dir / "none");

  for (const std::string& option :
       {"--mask " + quoted("white.png"), "--mask " + quoted("black.png"), "--mask " + quoted("empty.png"),
        "--mask " + quoted("truncated.png"), "--mask " + quoted("huge.png"), "--mask " + quoted("missing.png"),
        "--mask-folder " + quoted("mixed"), "--mask-folder " + quoted("none")}) {
    SCOPED_TRACE(option);
    auto r = run("mosaic " + quoted("photo.jpg") + " --list " + quoted("tiles.tzc") + " " + option +
                 " --set TextReport=1 --set CreateMaskFile=1 --output " + quoted("out/m.jpg") + " --yes");
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_NE(r.err.find("error:"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(m_dir / "out") && !fs::is_empty(m_dir / "out"));
  }
}

TEST_F(MosaicCommand, PriorityMapAloneSelectsTheCustomPriorities) {
  // Black on the left half: the highest priority there, the lowest on the right.
  std::vector<std::vector<std::uint8_t>> rows(150, std::vector<std::uint8_t>(200 * 3u, 255));
  for (auto& row : rows) std::fill(row.begin(), row.begin() + 100 * 3, 0);
  ASSERT_TRUE(testing::write_png(m_dir / "map.png", testing::PngSpec(200, 150), rows));
  auto r = run("mosaic " + quoted("photo.jpg") + " --list " + quoted("tiles.tzc") + kSmall + " --priority-map " +
               quoted("map.png") + " --set TextReport=1 --output " + quoted("out/m.jpg") + " --quiet");
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string report = testing::read_file(m_dir / "out/m Text Report.csv");
  EXPECT_EQ(report_value(report, "Tile Area Priority"), "CUSTOM_PRIORITY") << report;
  // Tile rows: "Left,Top,...,Tile Quality,Tile Priority,...": a left cell outranks a right one.
  const auto priority_of = [&report](const std::string& left_top) {
    const auto at = report.find("\n" + left_top + ",");
    if (at == std::string::npos) return -1.0;
    std::string line = report.substr(at + 1, report.find('\n', at + 1) - at - 1);
    // The ninth column.
    std::size_t column = 0, begin = 0;
    for (std::size_t i = 0; i < line.size() && column < 8; ++i)
      if (line[i] == '"') {
        i = line.find('"', i + 1);
      } else if (line[i] == ',') {
        ++column;
        begin = i + 1;
      }
    return std::stod(line.substr(begin));
  };
  EXPECT_GT(priority_of("0,0"), priority_of("760,0")) << report;

  // Settings that want the custom area but no map: refused up front.
  r = run("mosaic " + quoted("photo.jpg") + " --list " + quoted("tiles.tzc") + kSmall +
          " --set Advanced.Options.TilePriorityArea=CUSTOM_PRIORITY --output " + quoted("c.jpg"));
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("error: the settings ask for the custom tile priority area"), std::string::npos) << r.err;
  // An unreadable map is refused before anything is written.
  r = run("mosaic " + quoted("photo.jpg") + " --list " + quoted("tiles.tzc") + kSmall + " --priority-map " +
          quoted("nothing.png") + " --output " + quoted("d.jpg"));
  EXPECT_EQ(r.status, 2);
  EXPECT_FALSE(fs::exists(m_dir / "d.jpg"));
}

// Saving over an earlier mosaic and its side files with a file-size limit
// too small for the new mosaic: the limit is an ordinary write failure, and
// every earlier file stays byte for byte, with no temporary left beside them.
TEST_F(MosaicCommand, ASaveCutByTheSizeLimitKeepsTheEarlierFiles) {
  const std::string args = "mosaic " + quoted("photo.jpg") + " --list " + quoted("tiles.tzc") + kSmall +
                           " --set FileFormat=bmp --set TextReport=1 --set CreateMaskFile=1"
                           " --set MosaicProcessing=faster --set Advanced.Options.TileListSave=1 --output " +
                           quoted("out/m.bmp") + " --quiet";
  auto r = run(args);
  ASSERT_EQ(r.status, 0) << r.err;
  std::map<std::string, std::string> earlier;
  for (const auto& entry : fs::directory_iterator(m_dir / "out"))
    earlier[entry.path().filename().string()] = testing::read_file(entry.path());
  // The mosaic, its web folder, report, settings, tile list, two masks and the score image.
  ASSERT_EQ(earlier.size(), 8u);

  // 1.4 MB of bitmap against a limit of 200 KiB.
  r = testing::run_program(m_dir.path(), args, {}, "ulimit -f 400;");
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_NE(r.err.find("Unable to save file '" + (m_dir / "out/m.bmp").string() + "'"), std::string::npos) << r.err;
  std::map<std::string, std::string> after;
  for (const auto& entry : fs::directory_iterator(m_dir / "out"))
    after[entry.path().filename().string()] = testing::read_file(entry.path());
  ASSERT_EQ(after.size(), earlier.size());  // no temporary, nothing lost
  // The two bitmaps are cut by the limit; the smaller files fit it and may be written anew whole.
  for (const char* name : {"m.bmp", "m MaskFile.bmp"}) {
    EXPECT_EQ(after[name].size(), earlier[name].size()) << name;
    EXPECT_TRUE(after[name] == earlier[name]) << name;
  }
}

TEST_F(MosaicCommand, ASideFileThatCannotBeWrittenIsReportedAndTheRunFails) {
  // Something in the way of one side file: a folder of its name, a file where
  // a folder goes, or a tiles folder that takes no files.
  struct Case {
    const char* name;
    const char* settings;
    const char* blocker;
    bool folder;  ///< the blocker is a folder, else a file
  };
  const Case cases[] = {
      {"settings copy", " --set TextReport=1", "out/m Settings.txt", true},
      {"text report", " --set TextReport=1", "out/m Text Report.csv", true},
      {"tile list", " --set MosaicProcessing=faster --set Advanced.Options.TileListSave=1", "out/m Tile List.txt",
       true},
      {"mask image", " --set CreateMaskFile=1", "out/m MaskFile.jpg", true},
      {"score image", " --set CreateMaskFile=1", "out/m Score.jpg", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(m_dir / "out");
    fs::create_directories(m_dir / "out");
    if (c.folder)
      fs::create_directories(m_dir / c.blocker);
    else
      ASSERT_TRUE(testing::write_file(m_dir / c.blocker, "in the way"));
    auto r = run("mosaic " + quoted("photo.jpg") + " --list " + quoted("tiles.tzc") + kSmall + " --set RezIroriz=0" +
                 c.settings + " --output " + quoted("out/m.jpg") + " --quiet");
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("error:"), std::string::npos) << r.err;
    EXPECT_TRUE(fs::exists(m_dir / "out/m.jpg"));  // the mosaic itself stands
  }
  // Where the web mosaic's or the individual tiles' folder goes, something
  // that is not the program's: a file, a link to a folder that takes no
  // files. Nothing is written; the run is refused before any work.
  const Case foreign[] = {
      {"web mosaic over a file", " --set RezIroriz=1", "out/m RezIroriz", false},
      {"individual tiles into a link", " --set IndividualTiles=1", "out/m Tile Images", true},
  };
  for (const Case& c : foreign) {
    SCOPED_TRACE(c.name);
    fs::remove_all(m_dir / "out");
    fs::create_directories(m_dir / "out");
    if (c.folder)
      fs::create_directory_symlink("/proc/self", m_dir / c.blocker);
    else
      ASSERT_TRUE(testing::write_file(m_dir / c.blocker, "in the way"));
    auto r = run("mosaic " + quoted("photo.jpg") + " --list " + quoted("tiles.tzc") + kSmall + " --set RezIroriz=0" +
                 c.settings + " --output " + quoted("out/m.jpg") + " --quiet");
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_NE(r.err.find("was not written by Tessellarium"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(m_dir / "out/m.jpg"));
    if (!c.folder) {
      EXPECT_EQ(testing::read_file(m_dir / c.blocker), "in the way");
    }
  }
}

TEST_F(MosaicCommand, ThePrintedPathsAreTheFilesWritten) {
  struct Case {
    const char* name;
    const char* settings;
    std::size_t files;
  };
  const Case cases[] = {
      {"one file", "", 1},
      {"split pieces", " --split 300x250", 9},
      {"a picture a frame", " --set FileFormat=video_jpg --set Advanced.DivarAdadir.FrameCountFromImage=3", 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(m_dir / "out");
    auto r = run("mosaic " + quoted("photo.jpg") + " --list " + quoted("tiles.tzc") + kSmall + " --set RezIroriz=0" +
                 c.settings + " --output " + quoted("out/m.jpg") + " --quiet");
    ASSERT_EQ(r.status, 0) << r.err;
    std::size_t printed = 0;
    for (std::size_t start = 0, end; (end = r.out.find('\n', start)) != std::string::npos; start = end + 1) {
      EXPECT_TRUE(fs::is_regular_file(r.out.substr(start, end - start))) << r.out.substr(start, end - start);
      ++printed;
    }
    EXPECT_EQ(printed, c.files) << r.out;
  }
}

TEST_F(MosaicCommand, TheSummaryShowsTheTilesTheRunBuilds) {
  // The summary's tile count and size against the cells a run writes to its
  // tile list file ("Tile<left>x<top>-<width>x<height>=<picture>").
  const char* const cases[] = {
      " --set \"Pattern=Mixed (1:1)\"",
      " --set TileSize=22",  // rows that do not fit whole: the leftover is shared out
      " --set \"Pattern=Parquet (1:1)\"",
  };
  for (const char* settings : cases) {
    SCOPED_TRACE(settings);
    fs::remove_all(m_dir / "out");
    const std::string common = kSmall + std::string(settings);
    auto summary = run("summary " + quoted("photo.jpg") + common);
    ASSERT_EQ(summary.status, 0) << summary.err;
    auto r = run("mosaic " + quoted("photo.jpg") + " --list " + quoted("tiles.tzc") + common +
                 " --set RezIroriz=0 --set MosaicProcessing=faster --set Advanced.Options.TileListSave=1 --output " +
                 quoted("out/m.jpg") + " --quiet");
    ASSERT_EQ(r.status, 0) << r.err;

    std::map<std::pair<long, long>, long> sizes;  // long side first
    long cells = 0;
    const std::string list = testing::read_file(m_dir / "out/m Tile List.txt");
    for (std::size_t start = 0, end; (end = list.find('\n', start)) != std::string::npos; start = end + 1) {
      long x = 0, y = 0, w = 0, h = 0;
      if (std::sscanf(list.c_str() + start, "Tile%ldx%ld-%ldx%ld=", &x, &y, &w, &h) != 4) continue;
      ++cells;
      ++sizes[{std::max(w, h), std::min(w, h)}];
    }
    ASSERT_GT(cells, 0) << list;
    EXPECT_NE(summary.out.find("= " + std::to_string(cells) + " tiles\n"), std::string::npos)
        << summary.out << cells << " cells built";
    const std::size_t at = summary.out.find("Tile Size: ");
    ASSERT_NE(at, std::string::npos);
    const bool about = summary.out.compare(at + 11, 6, "about ") == 0;
    long w = 0, h = 0;
    ASSERT_EQ(std::sscanf(summary.out.c_str() + at + (about ? 17 : 11), "%ld x %ld", &w, &h), 2) << summary.out;
    const auto common_size = std::max_element(sizes.begin(), sizes.end(),
                                              [](const auto& a, const auto& b) { return a.second < b.second; });
    EXPECT_EQ(common_size->first, std::make_pair(std::max(w, h), std::min(w, h))) << summary.out;
    EXPECT_EQ(about, sizes.size() > 1) << summary.out;
  }
}

}  // namespace
}  // namespace tess

namespace tess {
namespace {

/// The pixels of a PPM written by the program (a 100-byte header).
std::string ppm_pixels(const fs::path& file, int& width, int& height) {
  const std::string ppm = testing::read_file(file);
  if (ppm.size() < 100 || std::sscanf(ppm.c_str() + 87, "\n%d %d", &width, &height) != 2) return {};
  return ppm.substr(100);
}

TEST_F(MosaicCommand, PiecesWrittenByFourProcessesFromOnePlacementMakeTheWholeMosaic) {
  // Halves and quarters too: the pieces' runs must cut their cells as the placement says.
  const std::string common = "mosaic " + quoted("photo.jpg") + " --list " + quoted("tiles.tzc") + kSmall +
                             " --set FileFormat=ppm --set RezIroriz=0 --set TileDuplication=0 --set DuplicateSpacing=2"
                             " --set MultiSize2=10 --set MultiSize4=5 --set ColorChange=30 --quiet";
  ASSERT_EQ(run(common + " --output " + quoted("whole/m.ppm") + " --save-placement " + quoted("placement.txt")).status,
            0);
  // Nine pieces, column by column: 01x01 02x01 03x01 01x02 ...
  const char* names[] = {"01x01", "02x01", "03x01", "01x02", "02x02", "03x02", "01x03", "02x03", "03x03"};
  for (const auto& [first, last] : {std::pair{1, 2}, {3, 5}, {6, 6}, {7, 9}}) {
    const std::string folder = "part" + std::to_string(first);
    const auto r = run(common + " --split 300x250 --pieces " + std::to_string(first) + "-" + std::to_string(last) +
                       " --placement " + quoted("placement.txt") + " --output " + quoted(folder + "/m.ppm"));
    ASSERT_EQ(r.status, 0) << r.err;
    for (int n = 1; n <= 9; ++n)
      EXPECT_EQ(fs::exists(m_dir / folder / ("m" + std::string(names[n - 1]) + ".ppm")), n >= first && n <= last)
          << folder << " piece " << n;
  }
  // Put together, the pieces are the mosaic rendered whole.
  int width = 0, height = 0;
  const std::string whole = ppm_pixels(m_dir / "whole/m.ppm", width, height);
  ASSERT_EQ(width, 800);
  ASSERT_EQ(height, 600);
  std::string joined(whole.size(), '\0');
  for (int n = 1; n <= 9; ++n) {
    const int column = (n - 1) / 3, row = (n - 1) % 3;
    const int folder_of[] = {1, 1, 3, 3, 3, 6, 7, 7, 7};
    int w = 0, h = 0;
    const std::string piece = ppm_pixels(
        m_dir / ("part" + std::to_string(folder_of[n - 1])) / ("m" + std::string(names[n - 1]) + ".ppm"), w, h);
    ASSERT_EQ(piece.size(), static_cast<std::size_t>(w) * h * 3) << n;
    for (int y = 0; y < h; ++y)
      joined.replace((static_cast<std::size_t>(row * 250 + y) * 800 + column * 300) * 3, static_cast<std::size_t>(w) * 3,
                     piece, static_cast<std::size_t>(y) * w * 3, static_cast<std::size_t>(w) * 3);
  }
  EXPECT_TRUE(joined == whole) << "the pieces differ from the whole mosaic";

  // A placement naming one cell more, as a larger mosaic's would.
  ASSERT_TRUE(testing::write_file(m_dir / "larger.txt",
                                  testing::read_file(m_dir / "placement.txt") + "Tile900x900-40x30 = \r\n"));
  const struct {
    std::string options;
    int status;
    std::string message;
  } refused[] = {
      {" --pieces 1-2", 2, "--pieces needs --split"},
      {" --split 300x250 --pieces 3", 2, "is not FIRST-LAST"},
      {" --split 300x250 --pieces 0-2", 2, "is not FIRST-LAST"},
      {" --split 300x250 --pieces 2-1", 2, "is not FIRST-LAST"},
      {" --split 300x250 --pieces 1-2 --set RezIroriz=1", 2, "cannot write a web mosaic"},
      // Past the end: refused before any tile is placed, with the pieces there are.
      {" --split 300x250 --pieces 9-10", 2, "error: --pieces 9-10: the mosaic has 9 split pieces, 1-9"},
      {" --split 900x700 --pieces 1-1", 2, "leave the mosaic of 800x600 pixels in one piece"},
      {" --placement " + quoted("none.txt"), 2, "no such placement file"},
      {" --placement " + quoted("photo.jpg"), 1, "Unable to open file"},
      {" --placement " + quoted("placement.txt") + " --set TileSize=25", 2, "was made for other cells"},
      {" --placement " + quoted("larger.txt"), 1, "cells, this mosaic has"},
      {" --save-placement " + quoted("p.txt") + " --mask-folder " + quoted("tiles"), 2, "are of one mosaic"},
  };
  for (const auto& c : refused) {
    const auto r = run(common + c.options + " --output " + quoted("refused/m.ppm"));
    EXPECT_EQ(r.status, c.status) << c.options;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << c.options << ": " << r.err;
    EXPECT_FALSE(fs::exists(m_dir / "refused/m03x03.ppm")) << c.options;
  }
}

// A placement is rendered only for the main image, list and cells it was
// made for; anything else is refused before a file is written.
TEST_F(MosaicCommand, APlacementIsRenderedOnlyForTheRunItWasMadeFor) {
  const std::string common = " --list " + quoted("tiles.tzc") + kSmall + " --set FileFormat=ppm --set RezIroriz=0";
  auto r = run("mosaic " + quoted("photo.jpg") + common + " --output " + quoted("first.ppm") + " --save-placement " +
               quoted("p.txt") + " --quiet");
  ASSERT_EQ(r.status, 0) << r.err;
  // Another picture of the very same size, and a list of other pictures.
  Foto other;
  ASSERT_TRUE(other.try_allocate_fill(400, 300, make_pixel(10, 200, 90)));
  ASSERT_TRUE(testing::write_jpeg(m_dir / "other.jpg", other, testing::JpegSpec().with_quality(90)));
  ASSERT_TRUE(testing::write_tile_library(m_dir / "tiles2", 40));
  ASSERT_EQ(run("list create " + quoted("other.tzc") + " --include " + quoted("tiles2/")).status, 0);

  const struct {
    std::string image;
    std::string options;
    std::string message;
  } refused[] = {
      {"other.jpg", common, "was made for another main image (photo.jpg, 400 × 300): this run's is other.jpg, 400 × 300"},
      {"photo.jpg", " --list " + quoted("other.tzc") + kSmall + " --set FileFormat=ppm --set RezIroriz=0",
       "was made for another Tile Images List (tiles.tzc)"},
      {"photo.jpg", common + " --set TileSize=25", "was made for other cells"},
      {"photo.jpg", common + " --set MosaicSizeWidth=1200 --set MosaicSizeHeight=900", "was made for other cells"},
  };
  for (const auto& c : refused) {
    r = run("mosaic " + quoted(c.image) + c.options + " --placement " + quoted("p.txt") + " --output " +
            quoted("refused.ppm") + " --yes --quiet");
    EXPECT_EQ(r.status, 2) << c.options;
    // The first error says what differs (a question may come before it).
    const auto error = r.err.find("error: ");
    ASSERT_NE(error, std::string::npos) << r.err;
    const std::string expected = "error: the placement '" + (m_dir / "p.txt").string() + "' " + c.message;
    EXPECT_TRUE(r.err.substr(error).starts_with(expected)) << c.options << ": " << r.err;
    EXPECT_FALSE(fs::exists(m_dir / "refused.ppm")) << c.options;
  }

  // The same run renders it: the very mosaic placed before.
  r = run("mosaic " + quoted("photo.jpg") + common + " --placement " + quoted("p.txt") + " --output " +
          quoted("again.ppm") + " --quiet");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err.find("warning"), std::string::npos) << r.err;
  EXPECT_TRUE(testing::read_file(m_dir / "again.ppm") == testing::read_file(m_dir / "first.ppm"));

  // A placement that does not say what it was made for (an older one) is
  // rendered as it stands, with a warning.
  std::string text = testing::read_file(m_dir / "p.txt");
  const auto cells = text.find("[TileList]");
  ASSERT_NE(cells, std::string::npos);
  ASSERT_TRUE(testing::write_file(m_dir / "old.txt", "\xEF\xBB\xBF" + text.substr(cells)));
  r = run("mosaic " + quoted("photo.jpg") + common + " --placement " + quoted("old.txt") + " --output " +
          quoted("old.ppm") + " --quiet");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("warning: the placement '" + (m_dir / "old.txt").string() + "' does not say"),
            std::string::npos)
      << r.err;
  EXPECT_TRUE(testing::read_file(m_dir / "old.ppm") == testing::read_file(m_dir / "first.ppm"));
}

// Files keep the extension of the name given when it stands for their
// format, split pieces included; another extension gives way to the format's.
TEST_F(MosaicCommand, FilesAndSplitPiecesKeepTheExtensionGiven) {
  const std::string common = "mosaic " + quoted("photo.jpg") + " --list " + quoted("tiles.tzc") + kSmall +
                             " --set RezIroriz=0 --quiet";
  auto r = run(common + " --set FileFormat=tiff --split 400x300 --output " + quoted("split/mural.tif"));
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(m_dir / "split")) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"mural01x01.tif", "mural01x02.tif", "mural02x01.tif", "mural02x02.tif"}));
  EXPECT_NE(r.out.find((m_dir / "split/mural01x01.tif").string() + "\n"), std::string::npos) << r.out;

  const struct {
    std::string format;
    std::string given;
    std::string written;
  } cases[] = {
      {"tiff", "m.TIF", "m.TIF"},
      {"jpg", "m.jpeg", "m.jpeg"},
      {"png", "m.PNG", "m.PNG"},
      {"png", "m.jpg", "m.png"},
  };
  for (const auto& c : cases) {
    r = run(common + " --set FileFormat=" + c.format + " --output " + quoted("whole/" + c.given));
    ASSERT_EQ(r.status, 0) << c.given << ": " << r.err;
    EXPECT_EQ(r.out, (m_dir / "whole" / c.written).string() + "\n") << c.given;
    EXPECT_TRUE(fs::exists(m_dir / "whole" / c.written)) << c.given;
    fs::remove_all(m_dir / "whole");
  }
}

}  // namespace
}  // namespace tess
