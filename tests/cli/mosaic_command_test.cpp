// `tessellarium mosaic`, run as a separate process on a tile library and a
// main image the test writes itself.

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

class MosaicCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(m_dir / "tiles");
    // 60 uniform tiles of many colours.
    for (int i = 0; i < 60; ++i) {
      Foto tile;
      tile.allocate_fill(64, 48, make_pixel((i * 37) % 256, (i * 91) % 256, (i * 53) % 256));
      ASSERT_TRUE(testing::write_jpeg(m_dir / "tiles" / ("t" + std::to_string(i) + ".jpg"), tile,
                                      testing::JpegSpec().with_quality(95)));
    }
    ASSERT_TRUE(testing::write_jpeg(m_dir / "photo.jpg", testing::JpegSpec(400, 300), [](int y, std::uint8_t* rgb) {
      testing::photo_like_row(400, y, rgb);
    }));
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

TEST_F(MosaicCommand, UnwritableDestinationFailsWithOne) {
  ASSERT_TRUE(testing::write_file(m_dir / "blocker", "a file where a folder should be"));
  auto r = run("mosaic " + quoted("photo.jpg") + " --list " + quoted("tiles.tzc") + kSmall + " --output " +
               quoted("blocker/m.jpg") + " --quiet");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("error:"), std::string::npos) << r.err;
  EXPECT_EQ(r.out, "");
}

}  // namespace
}  // namespace tess
