// `tessellarium summary ...`, run as a separate process the way a user runs it.

#include <algorithm>
#include <array>
#include <cstdio>
#include <string>

#include <gtest/gtest.h>
#include <sys/wait.h>

#include "images/image_files.hpp"
#include "cli_runner.hpp"
#include "support/test_support.hpp"
#include "tilelist/list_file.hpp"
#include "tilelist/tile_image_list.hpp"

namespace tess {
namespace {

using testing::TempDir;

using Result = testing::CliOutcome;

class SummaryCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(testing::write_jpeg(m_dir / "photo.jpg", testing::JpegSpec(400, 300), [](int y, std::uint8_t* rgb) {
      testing::photo_like_row(400, y, rgb);
    }));
  }

  // Runs the program with `args` (already shell-quoted) in the test's folder,
  // which is also its settings folder.
  Result run(const std::string& args) const { return testing::run_program(m_dir.path(), args, m_dir.path()); }

  TempDir m_dir;
};

TEST_F(SummaryCommand, PrintsTheSummaryOfARealPicture) {
  Result r = run("summary photo.jpg --set MosaicSizeUnit=cm --set MosaicSizeWidth=42 --set MosaicSizeHeight=29");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  // "Default Settings": 300 PPI, 40 tiles per row, landscape tiles, JPEG at 95.
  EXPECT_EQ(r.out,
            "Mosaic Max Size: 42 x 29 cm\n"
            "Main Image: 400 x 300 pixels\n"
            "Final Mosaic: 38.67 x 29.00 cm = 4567 x 3425 pixels\n"
            "File Size: 7.10 megabytes\n"
            "Tile Size: about 114 x 88 pixels = 10032 pixels\n"
            "Border Size: 0 pixels\n"
            "Resolution: 300 PPI\n"
            "Tile Pattern: 41 x 40 = 1640 tiles\n"
            "Tile Count: 1560 + 0½ + 0¼ = 1560 tiles\n");
}

TEST_F(SummaryCommand, AnUprightPhotographIsMeasuredAsItIsShown) {
  ASSERT_TRUE(testing::write_jpeg(m_dir / "turned.jpg", testing::JpegSpec(400, 300).with_orientation(6),
                                  [](int y, std::uint8_t* rgb) { testing::photo_like_row(400, y, rgb); }));
  Result r = run("summary turned.jpg --set MosaicSizeUnit=pixel --set MosaicSizeWidth=1200 --set "
                 "MosaicSizeHeight=900 --set TileUnit=pixel --set TileSize=100");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("Main Image: 300 x 400 pixels\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Final Mosaic: 900 x 1200 pixels = 900 x 1200 pixels\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Tile Pattern: 9 x 16 = 144 tiles\n"), std::string::npos) << r.out;
}

TEST_F(SummaryCommand, StartsFromASettingsFileSection) {
  ASSERT_TRUE(testing::write_file(m_dir / "poster.txt",
                                  "[Poster]\r\nVersion = 1\r\nMosaicSizeUnit = pixel\r\nMosaicSizeWidth = 12000\r\n"
                                  "MosaicSizeHeight = 9000\r\nTileUnit = tilesxrow\r\nTileSize = 40\r\n"
                                  "Pattern = Portrait\r\nMultiSize2 = 10\r\nFileFormat = bmp\r\n"));
  Result r = run("summary photo.jpg --settings poster.txt --section Poster --set MultiSize4=5");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("Final Mosaic: 12000 x 9000 pixels = 12000 x 9000 pixels\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("File Size: 309.00 megabytes\n"), std::string::npos) << r.out;
  // 53 columns share 75 pixels: most cells are 2 wider.
  EXPECT_NE(r.out.find("Tile Size: about 227 x 300 pixels = 68100 pixels\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Tile Pattern: 54 x 30 = 1620 tiles\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Tile Count: 1352 + 318½ + 316¼ = about 1986 tiles\n"), std::string::npos) << r.out;

  // A file of one section needs no --section; an unknown one is refused.
  EXPECT_EQ(run("summary photo.jpg --settings poster.txt").status, 0);
  Result missing = run("summary photo.jpg --settings poster.txt --section Other");
  EXPECT_EQ(missing.status, 2);
  EXPECT_NE(missing.err.find("Other"), std::string::npos) << missing.err;
  EXPECT_EQ(run("summary photo.jpg --settings absent.txt").status, 2);
}

TEST_F(SummaryCommand, ShowsTheListAndTheVerdict) {
  TileImageList list;
  for (const char* name : {"/tiles/a.jpg", "/tiles/b.jpg", "/tiles/c.jpg"}) {
    FotoInfo entry;
    entry.path = name;
    entry.usable = 1;
    entry.signature.portrait = name[7] == 'c' ? 1 : 0;
    list.insert(entry);
  }
  ASSERT_TRUE(save_list_file(list, m_dir / "tiles.tzc"));
  Result r = run("summary photo.jpg --list tiles.tzc");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("\nList Type: 2(L) + 1(P) images\nAll Parameters are correct :-)\n"), std::string::npos)
      << r.out;

  ASSERT_TRUE(testing::write_file(m_dir / "broken.tzc", "not a list"));
  Result broken = run("summary photo.jpg --list broken.tzc");
  EXPECT_EQ(broken.status, 2);
  EXPECT_EQ(broken.out, "");
  EXPECT_FALSE(broken.err.empty());
}

TEST_F(SummaryCommand, CountsThePiecesASplitCutsTheMosaicInto) {
  const std::string size =
      "summary photo.jpg --set MosaicSizeUnit=pixel --set MosaicSizeWidth=1200 --set MosaicSizeHeight=900 "
      "--set TileUnit=pixel --set TileSize=100";
  struct Case {
    const char* split;
    const char* line;
  };
  // 1200 × 900 cut column by column: a last column or row gets what is left,
  // and a side longer than the mosaic is no cut on that side.
  const Case cases[] = {
      {"500x400", "Split Pieces: 3 x 3 = 9\n"},
      {"600x450", "Split Pieces: 2 x 2 = 4\n"},
      {"500X2000", "Split Pieces: 3 x 1 = 3\n"},
      {"1200x900", "Split Pieces: 1 x 1 = 1\n"},
  };
  for (const Case& c : cases) {
    Result r = run(size + " --split " + c.split);
    ASSERT_EQ(r.status, 0) << c.split << r.err;
    EXPECT_NE(r.out.find("Final Mosaic: 1200 x 900 pixels = 1200 x 900 pixels\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(c.line), std::string::npos) << c.split << "\n" << r.out;
  }
  EXPECT_EQ(run(size).out.find("Split Pieces"), std::string::npos);  // only asked for

  for (const char* refused : {"5x5", "500", "500x", "ax400"}) {
    Result r = run(size + " --split " + refused);
    EXPECT_EQ(r.status, 2) << refused;
    EXPECT_EQ(r.out, "") << refused;
    EXPECT_EQ(r.err.rfind("error: ", 0), 0u) << r.err;
  }
}

TEST_F(SummaryCommand, RefusesBadValuesAndUnreadablePictures) {
  Result r = run("summary photo.jpg --set MosaicSizeWidth=-3");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("MosaicSizeWidth"), std::string::npos) << r.err;

  r = run("summary photo.jpg --set Pattern=Hexagons");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("Pattern"), std::string::npos) << r.err;

  r = run("summary photo.jpg --set NoSuchKey=1");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("NoSuchKey"), std::string::npos) << r.err;

  for (const char* picture : {"missing.jpg", "text.jpg", "."}) {
    ASSERT_TRUE(testing::write_file(m_dir / "text.jpg", "hello"));
    r = run(std::string("summary ") + picture);
    EXPECT_EQ(r.status, 2) << picture;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_NE(r.err.find("error: cannot read the picture"), std::string::npos) << r.err;
  }

  // Values each field accepts that together give no mosaic.
  r = run("summary photo.jpg --set MosaicSizeUnit=tiles");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.out.find("Please specify all the parameters\n"), std::string::npos) << r.out;
  EXPECT_NE(r.err.find("error: a main image of 400 x 300 pixels gives a mosaic of"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("with --set"), std::string::npos) << r.err;

  EXPECT_EQ(run("summary").status, 2);
  EXPECT_EQ(run("summary photo.jpg --section Poster").status, 2);  // --section needs --settings
}

}  // namespace
}  // namespace tess
