// SPDX-License-Identifier: GPL-3.0-or-later
// GIF pictures written with giflib's encoder: the first frame on its logical
// screen, palettes, the transparent index and interlacing.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <gif_lib.h>
#include <gtest/gtest.h>

#include "decoder_testing.hpp"

#include "image_files.hpp"
#include "images/foto.hpp"
#include "images/load_failure.hpp"
#include "support/test_support.hpp"

namespace tess {
namespace {

using testing::TempDir;

struct GifFrame {
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
  bool interlaced = false;
  int transparent = -1;                  // -1: no graphic control extension
  std::vector<GifColorType> local_map;  // empty: the global one
  std::function<int(int x, int y)> index;
};

// The rows are handed over in the order the file keeps them: an interlaced
// frame in its four passes.
std::vector<int> file_row_order(int height, bool interlaced) {
  std::vector<int> rows;
  if (!interlaced) {
    for (int y = 0; y < height; ++y) rows.push_back(y);
    return rows;
  }
  for (const auto& [start, step] : {std::pair{0, 8}, std::pair{4, 8}, std::pair{2, 4}, std::pair{1, 2}})
    for (int y = start; y < height; y += step) rows.push_back(y);
  return rows;
}

bool write_gif(const std::filesystem::path& path, int screen_w, int screen_h, const std::vector<GifColorType>& global,
               const std::vector<GifFrame>& frames) {
  int error = 0;
  GifFileType* gif = EGifOpenFileName(path.c_str(), false, &error);
  if (gif == nullptr) return false;
  EGifSetGifVersion(gif, true);
  ColorMapObject* global_map = global.empty() ? nullptr : GifMakeMapObject(static_cast<int>(global.size()), global.data());
  bool ok = EGifPutScreenDesc(gif, screen_w, screen_h, 8, 0, global_map) == GIF_OK;
  for (const GifFrame& frame : frames) {
    if (!ok) break;
    if (frame.transparent >= 0) {
      GraphicsControlBlock control{};
      control.TransparentColor = frame.transparent;
      control.DisposalMode = DISPOSAL_UNSPECIFIED;
      GifByteType extension[4];
      const std::size_t length = EGifGCBToExtension(&control, extension);
      ok = EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, static_cast<int>(length), extension) == GIF_OK;
    }
    ColorMapObject* local =
        frame.local_map.empty() ? nullptr
                                : GifMakeMapObject(static_cast<int>(frame.local_map.size()), frame.local_map.data());
    ok = ok && EGifPutImageDesc(gif, frame.left, frame.top, frame.width, frame.height, frame.interlaced, local) == GIF_OK;
    std::vector<GifPixelType> line(static_cast<std::size_t>(frame.width));
    for (const int y : file_row_order(frame.height, frame.interlaced)) {
      if (!ok) break;
      for (int x = 0; x < frame.width; ++x) line[static_cast<std::size_t>(x)] = static_cast<GifPixelType>(frame.index(x, y));
      ok = EGifPutLine(gif, line.data(), frame.width) == GIF_OK;
    }
    if (local != nullptr) GifFreeMapObject(local);
  }
  ok = EGifCloseFile(gif, &error) == GIF_OK && ok;
  if (global_map != nullptr) GifFreeMapObject(global_map);
  return ok;
}

const std::vector<GifColorType> kPalette = {{0, 0, 0}, {10, 200, 30}, {250, 0, 0}, {0, 0, 250}};

constexpr std::uint32_t rgb(int r, int g, int b) {
  return make_pixel(static_cast<std::uint32_t>(r), static_cast<std::uint32_t>(g), static_cast<std::uint32_t>(b));
}

Foto load_ok(const std::filesystem::path& path, int max_w = 0, int max_h = 0) {
  Foto picture;
  const Status status = picture.load(path, max_w, max_h);
  EXPECT_TRUE(status.ok()) << status.message();
  return picture;
}

TEST(GifDecoder, FlatFrameComesBackInItsPaletteColour) {
  TempDir dir;
  const auto path = dir / "flat.gif";
  ASSERT_TRUE(write_gif(path, 20, 10, kPalette, {{0, 0, 20, 10, false, -1, {}, [](int, int) { return 1; }}}));
  int width = 0, height = 0;
  ASSERT_TRUE(Foto::read_size(path, width, height));
  EXPECT_EQ(width, 20);
  EXPECT_EQ(height, 10);
  const Foto picture = load_ok(path);
  ASSERT_EQ(picture.width(), 20);
  ASSERT_EQ(picture.height(), 10);
  EXPECT_EQ(picture.at(0, 0), rgb(10, 200, 30));
  EXPECT_EQ(picture.at(19, 9), rgb(10, 200, 30));
}

TEST(GifDecoder, UncoveredScreenAndTransparentIndexAreTransparent) {
  TempDir dir;
  const auto path = dir / "partial.gif";
  // A 10 × 8 frame at (5, 4) of a 30 × 20 screen, its first column in the
  // transparent index 0; only the first of two frames shows.
  GifFrame first{5, 4, 10, 8, false, 0, {}, [](int x, int) { return x == 0 ? 0 : 2; }};
  GifFrame second{0, 0, 30, 20, false, -1, {}, [](int, int) { return 3; }};
  ASSERT_TRUE(write_gif(path, 30, 20, kPalette, {first, second}));
  const Foto picture = load_ok(path);
  ASSERT_EQ(picture.width(), 30);
  ASSERT_EQ(picture.height(), 20);
  EXPECT_EQ(picture.at(6, 5), rgb(250, 0, 0));
  EXPECT_EQ(picture.at(14, 11), rgb(250, 0, 0));
  EXPECT_EQ(pixel_transparency(picture.at(5, 5)), 255u);   // transparent index
  EXPECT_EQ(pixel_transparency(picture.at(0, 0)), 255u);   // outside the frame
  EXPECT_EQ(pixel_transparency(picture.at(15, 5)), 255u);  // right of it
  EXPECT_EQ(pixel_transparency(picture.at(6, 12)), 255u);  // below it
}

TEST(GifDecoder, LocalColourMapWinsOverTheGlobalOne) {
  TempDir dir;
  const auto path = dir / "local.gif";
  const std::vector<GifColorType> local = {{1, 2, 3}, {100, 110, 120}};
  ASSERT_TRUE(write_gif(path, 8, 8, kPalette, {{0, 0, 8, 8, false, -1, local, [](int, int) { return 1; }}}));
  EXPECT_EQ(load_ok(path).at(4, 4), rgb(100, 110, 120));
}

TEST(GifDecoder, InterlacedRowsLandInTheirPlaces) {
  TempDir dir;
  const auto path = dir / "interlaced.gif";
  ASSERT_TRUE(write_gif(path, 6, 19, kPalette, {{0, 0, 6, 19, true, -1, {}, [](int, int y) { return y % 4; }}}));
  const Foto picture = load_ok(path);
  ASSERT_EQ(picture.height(), 19);
  for (int y = 0; y < 19; ++y) {
    const GifColorType& c = kPalette[static_cast<std::size_t>(y % 4)];
    EXPECT_EQ(picture.at(3, y), rgb(c.Red, c.Green, c.Blue)) << "row " << y;
  }
}

TEST(GifDecoder, LargeScreenLoadsReducedNeverBelowTheRequest) {
  TempDir dir;
  const auto path = dir / "large.gif";
  // The left half of the screen covered in red, the right half empty.
  ASSERT_TRUE(write_gif(path, 5000, 4000, kPalette, {{0, 0, 2500, 4000, false, -1, {}, [](int, int) { return 2; }}}));
  const Foto picture = testing::expect_reduced_load(path, 5000, 4000);
  ASSERT_FALSE(picture.empty());
  EXPECT_EQ(picture.at(10, 10), rgb(250, 0, 0));
  EXPECT_EQ(pixel_transparency(picture.at(picture.width() - 10, 10)), 255u);
}

TEST(GifDecoder, BrokenAndHostileFilesFailQuickly) {
  TempDir dir;
  const auto good_path = dir / "good.gif";
  ASSERT_TRUE(write_gif(good_path, 64, 64, kPalette, {{0, 0, 64, 64, false, -1, {}, [](int x, int y) { return (x * 7 + y * 3) % 4; }}}));
  const std::string good = testing::read_file(good_path);
  // A screen of 65535 × 65535 with a frame as large and a few bytes of data,
  // and one with no frame at all.
  std::string huge_frame = good;
  const std::size_t descriptor = huge_frame.find('\x2C', 13 + 3 * 4);
  ASSERT_NE(descriptor, std::string::npos);
  huge_frame.replace(6, 4, "\xFF\xFF\xFF\xFF");
  huge_frame.replace(descriptor + 5, 4, "\xFF\xFF\xFF\xFF");
  struct Case {
    const char* name;
    std::string bytes;
    LoadFailure failure;
  };
  const std::vector<Case> cases = {
      {"truncated", good.substr(0, good.size() / 2), LoadFailure::damaged},
      {"header only", good.substr(0, 13), LoadFailure::damaged},
      {"garbage", "GIF89a" + std::string(300, '\x17'), LoadFailure::damaged},
      {"no frame", good.substr(0, 13 + 3 * 4) + ";", LoadFailure::damaged},
      {"huge frame", huge_frame, LoadFailure::damaged},
  };
  for (const Case& c : cases) {
    const auto path = dir / (std::string(c.name) + ".gif");
    ASSERT_TRUE(testing::write_file(path, c.bytes));
    for (const int side : {0, 100}) {
      Foto picture;
      const Status status = picture.load(path, side, side);
      EXPECT_FALSE(status.ok()) << c.name;
      EXPECT_EQ(load_failure_of(status), c.failure) << c.name << ": " << status.message();
      EXPECT_TRUE(picture.empty());
    }
  }
}

}  // namespace
}  // namespace tess
