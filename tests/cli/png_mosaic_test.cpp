// PNG mosaics from the command line: the PNG of a placement holds the very
// pixels of the bitmap of that placement, with or without an alpha sample.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/scripted_prompt.hpp"
#include "cli_runner.hpp"
#include "images/foto.hpp"
#include "images/image_files.hpp"
#include "support/test_support.hpp"

namespace tess {
namespace {

namespace fs = std::filesystem;
using testing::shell_quoted;
using testing::TempDir;

// The pixels of a 24-bit bottom-up bitmap, top row first.
std::vector<std::uint32_t> bitmap_pixels(const std::string& file, int width, int height) {
  const std::size_t stride = (static_cast<std::size_t>(width) * 3 + 3) / 4 * 4;
  std::vector<std::uint32_t> pixels;
  if (file.size() != 54 + stride * static_cast<std::size_t>(height)) {
    ADD_FAILURE() << "bitmap of " << file.size() << " bytes";
    return pixels;
  }
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const std::size_t at = 54 + static_cast<std::size_t>(height - 1 - y) * stride + static_cast<std::size_t>(x) * 3;
      pixels.push_back(make_pixel(static_cast<std::uint8_t>(file[at + 2]), static_cast<std::uint8_t>(file[at + 1]),
                                  static_cast<std::uint8_t>(file[at])));
    }
  return pixels;
}

TEST(PngMosaic, HoldsThePixelsOfTheBitmapOfTheSamePlacement) {
  TempDir dir;
  fs::create_directories(dir / "tiles");
  // Tiles with detail, so that a row or a channel out of place shows.
  for (int i = 0; i < 24; ++i)
    ASSERT_TRUE(testing::write_jpeg(dir / "tiles" / ("t" + std::to_string(i) + ".jpg"), testing::JpegSpec(96, 72),
                                    [i](int y, std::uint8_t* rgb) {
                                      testing::photo_like_row(96, y + 7 * i, rgb);
                                      for (int x = 0; x < 96; ++x) rgb[3 * x + i % 3] ^= static_cast<std::uint8_t>(11 * i);
                                    }));
  ASSERT_TRUE(testing::write_jpeg(dir / "photo.jpg", testing::JpegSpec(400, 300),
                                  [](int y, std::uint8_t* rgb) { testing::photo_like_row(400, y, rgb); }));
  const auto quoted = [&dir](const std::string& name) { return shell_quoted((dir / name).string()); };
  const auto run = [&dir](const std::string& args) { return testing::run_program(dir.path(), args); };
  ASSERT_EQ(run("list create " + quoted("tiles.tzc") + " --include " + quoted("tiles/")).status, 0);

  // An odd width, so that the bitmap's rows are padded and the PNG's are not.
  const std::string mosaic = "mosaic " + quoted("photo.jpg") + " --list " + quoted("tiles.tzc") +
                             " --set MosaicSizeUnit=pixel --set MosaicSizeWidth=601 --set MosaicSizeHeight=451"
                             " --set TileSize=12 --set RezIroriz=0 --yes --quiet";
  auto r = run(mosaic + " --set FileFormat=bmp --output " + quoted("m.bmp") + " --save-placement " +
               quoted("placement.txt"));
  ASSERT_EQ(r.status, 0) << r.err;
  int width = 0, height = 0;
  {
    const std::string bmp = testing::read_file(dir / "m.bmp");
    ASSERT_GE(bmp.size(), 54u);
    width = static_cast<int>(static_cast<std::uint8_t>(bmp[18]) | static_cast<std::uint8_t>(bmp[19]) << 8);
    height = static_cast<int>(static_cast<std::uint8_t>(bmp[22]) | static_cast<std::uint8_t>(bmp[23]) << 8);
  }
  const std::vector<std::uint32_t> expected = bitmap_pixels(testing::read_file(dir / "m.bmp"), width, height);
  ASSERT_FALSE(expected.empty());

  for (const bool transparency : {false, true}) {
    SCOPED_TRACE(transparency ? "RGBA" : "RGB");
    const std::string name = transparency ? "m-alpha.png" : "m.png";
    r = run(mosaic + " --set FileFormat=png --set OutputTransparency=" + (transparency ? "1" : "0") + " --output " +
            quoted(name) + " --placement " + quoted("placement.txt"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, (dir / name).string() + "\n");
    const std::string file = testing::read_file(dir / name);
    ASSERT_GT(file.size(), 26u);
    EXPECT_EQ(file[25], transparency ? 6 : 2) << "colour type";
    Foto png;
    ScriptedPrompt prompt;
    ASSERT_TRUE(png.load(dir / name, 0, 0).ok_or_show(prompt));
    ASSERT_EQ(png.width(), width);
    ASSERT_EQ(png.height(), height);
    std::size_t different = 0;
    for (std::size_t i = 0; i < expected.size(); ++i) different += png.pixels()[i] != expected[i] ? 1 : 0;
    EXPECT_EQ(different, 0u) << "of " << expected.size() << " pixels";
  }
}

}  // namespace
}  // namespace tess
