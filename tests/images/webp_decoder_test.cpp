// SPDX-License-Identifier: GPL-3.0-or-later
// WebP pictures made with libwebp's own encoder, wrapped by hand in the
// extended container where a test needs an ICC profile, an EXIF orientation
// or an animation.

#include <sys/resource.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <webp/encode.h>

#include "decoder_testing.hpp"
#include "image_files.hpp"
#include "images/foto.hpp"
#include "images/load_failure.hpp"
#include "images/picture_colour.hpp"
#include "images/picture_decoders.hpp"
#include "support/test_support.hpp"

namespace tess {
namespace {

using testing::TempDir;

std::vector<std::uint8_t> rgba_picture(int width, int height, std::uint32_t (*colour)(int x, int y, int w, int h)) {
  std::vector<std::uint8_t> rgba(static_cast<std::size_t>(width) * height * 4);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const std::uint32_t c = colour(x, y, width, height);
      std::uint8_t* p = rgba.data() + (static_cast<std::size_t>(y) * width + x) * 4;
      p[0] = c & 0xFF;
      p[1] = (c >> 8) & 0xFF;
      p[2] = (c >> 16) & 0xFF;
      p[3] = (c >> 24) & 0xFF;  // alpha here, as libwebp takes it
    }
  return rgba;
}

std::string encode(int width, int height, std::uint32_t (*colour)(int, int, int, int), bool lossless) {
  const std::vector<std::uint8_t> rgba = rgba_picture(width, height, colour);
  std::uint8_t* output = nullptr;
  const std::size_t size = lossless ? WebPEncodeLosslessRGBA(rgba.data(), width, height, width * 4, &output)
                                    : WebPEncodeRGBA(rgba.data(), width, height, width * 4, 90, &output);
  std::string bytes(reinterpret_cast<const char*>(output), size);
  WebPFree(output);
  return bytes;
}

std::string le24(std::uint32_t v) { return {static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF), static_cast<char>((v >> 16) & 0xFF)}; }
std::string le32(std::uint32_t v) { return le24(v) + static_cast<char>(v >> 24); }

std::string chunk(const std::string& fourcc, const std::string& payload) {
  std::string c = fourcc + le32(static_cast<std::uint32_t>(payload.size())) + payload;
  if (payload.size() % 2 != 0) c += '\0';
  return c;
}

std::string riff(const std::string& chunks) { return "RIFF" + le32(static_cast<std::uint32_t>(4 + chunks.size())) + "WEBP" + chunks; }

// The picture chunks of a simple file (ALPH and VP8, or VP8L), without its VP8X.
std::string image_chunks(const std::string& webp) {
  std::string out;
  for (std::size_t at = 12; at + 8 <= webp.size();) {
    const std::string fourcc = webp.substr(at, 4);
    const std::uint32_t size = static_cast<std::uint8_t>(webp[at + 4]) | static_cast<std::uint8_t>(webp[at + 5]) << 8 |
                               static_cast<std::uint8_t>(webp[at + 6]) << 16 |
                               static_cast<std::uint32_t>(static_cast<std::uint8_t>(webp[at + 7])) << 24;
    const std::size_t whole = 8 + size + (size % 2);
    if (fourcc != "VP8X") out += webp.substr(at, whole);
    at += whole;
  }
  return out;
}

std::string vp8x(std::uint8_t flags, int width, int height) {
  return chunk("VP8X", std::string(1, static_cast<char>(flags)) + std::string(3, '\0') + le24(width - 1) + le24(height - 1));
}

constexpr std::uint8_t kIccFlag = 0x20, kAlphaFlag = 0x10, kExifFlag = 0x08, kAnimationFlag = 0x02;

// A little-endian TIFF block with one IFD holding the orientation.
std::string exif_orientation_block(int orientation) {
  std::string tiff = std::string("II*\0", 4) + le32(8);
  tiff += std::string("\x01\x00", 2);                                      // one entry
  tiff += std::string("\x12\x01\x03\x00", 4) + le32(1) + le32(orientation);  // 274, SHORT, 1
  tiff += le32(0);
  return tiff;
}

std::uint32_t flat_orange(int, int, int, int) { return 0xFF3264C8u; }   // 200, 100, 50 opaque
std::uint32_t half_clear(int x, int, int w, int) { return x < w / 2 ? 0xFF0000FFu : 0x00000000u; }
std::uint32_t left_red_right_blue(int x, int, int w, int) { return x < w / 2 ? 0xFF0000FFu : 0xFFFF0000u; }
std::uint32_t flat_green(int, int, int, int) { return 0xFF00C800u; }
std::uint32_t flat_blue(int, int, int, int) { return 0xFFFF0000u; }

TEST(WebpDecoder, FlatColoursComeBackLossyAndLossless) {
  TempDir dir;
  for (const bool lossless : {false, true}) {
    const auto path = dir / (lossless ? "lossless.webp" : "lossy.webp");
    ASSERT_TRUE(testing::write_file(path, encode(64, 48, flat_orange, lossless)));
    Foto picture;
    ASSERT_TRUE(picture.load(path, 0, 0).ok()) << path;
    ASSERT_EQ(picture.width(), 64);
    ASSERT_EQ(picture.height(), 48);
    const int tolerance = lossless ? 0 : 4;
    EXPECT_TRUE(testing::near_colour(picture.at(0, 0), 200, 100, 50, tolerance)) << std::hex << picture.at(0, 0);
    EXPECT_TRUE(testing::near_colour(picture.at(63, 47), 200, 100, 50, tolerance)) << std::hex << picture.at(63, 47);
  }
}

TEST(WebpDecoder, AlphaBecomesTransparency) {
  TempDir dir;
  for (const bool lossless : {false, true}) {
    const auto path = dir / (lossless ? "alpha-lossless.webp" : "alpha-lossy.webp");
    ASSERT_TRUE(testing::write_file(path, encode(32, 16, half_clear, lossless)));
    Foto picture;
    ASSERT_TRUE(picture.load(path, 0, 0).ok());
    EXPECT_TRUE(testing::near_colour(picture.at(2, 8), 255, 0, 0, lossless ? 0 : 6)) << std::hex << picture.at(2, 8);
    EXPECT_EQ(pixel_transparency(picture.at(30, 8)), 255u);
  }
}

TEST(WebpDecoder, ProfileAndOrientationFromTheContainer) {
  TempDir dir;
  const auto path = dir / "turned.webp";
  const auto profile = srgb_icc_profile();
  const std::string icc(reinterpret_cast<const char*>(profile.data()), profile.size());
  // 40 × 20, red on the left: orientation 6 turns it a quarter clockwise,
  // so the red half ends on top of a 20 × 40 picture.
  const std::string body = vp8x(kIccFlag | kExifFlag, 40, 20) + chunk("ICCP", icc) +
                           image_chunks(encode(40, 20, left_red_right_blue, true)) +
                           chunk("EXIF", exif_orientation_block(6));
  ASSERT_TRUE(testing::write_file(path, riff(body)));

  int width = 0, height = 0;
  ASSERT_TRUE(Foto::read_size(path, width, height));
  EXPECT_EQ(width, 20);
  EXPECT_EQ(height, 40);

  Foto picture;
  PictureColour colour;
  ASSERT_TRUE(testing::decode_with(PictureFormat::webp, path, picture, colour).ok());
  EXPECT_EQ(std::string(colour.icc.begin(), colour.icc.end()), icc);
  ASSERT_EQ(picture.width(), 20);
  ASSERT_EQ(picture.height(), 40);
  EXPECT_TRUE(testing::near_colour(picture.at(10, 2), 255, 0, 0, 0)) << std::hex << picture.at(10, 2);
  EXPECT_TRUE(testing::near_colour(picture.at(10, 37), 0, 0, 255, 0)) << std::hex << picture.at(10, 37);

  // The maxima bound the picture as seen: a request of 10 × 20 is the
  // whole picture's shape, not the stored one's.
  EXPECT_EQ(Foto::load_scale(path, 10, 20), 1);
}

TEST(WebpDecoder, AnimationGivesItsFirstFrameOnTheCanvas) {
  TempDir dir;
  const auto path = dir / "animated.webp";
  // The first frame covers 10 × 8 at (10, 6) of a 30 × 20 canvas; the second
  // covers everything and must not show.
  const auto frame = [](int x, int y, int w, int h, std::uint32_t (*colour)(int, int, int, int)) {
    const std::string header = le24(x / 2) + le24(y / 2) + le24(w - 1) + le24(h - 1) + le24(100) + std::string(1, '\x02');
    return chunk("ANMF", header + image_chunks(encode(w, h, colour, true)));
  };
  const std::string body = vp8x(kAnimationFlag | kAlphaFlag, 30, 20) + chunk("ANIM", le32(0xFFFFFFFF) + std::string(2, '\0')) +
                           frame(10, 6, 10, 8, flat_green) + frame(0, 0, 30, 20, flat_blue);
  ASSERT_TRUE(testing::write_file(path, riff(body)));

  int width = 0, height = 0;
  ASSERT_TRUE(Foto::read_size(path, width, height));
  EXPECT_EQ(width, 30);
  EXPECT_EQ(height, 20);
  Foto picture;
  ASSERT_TRUE(picture.load(path, 0, 0).ok());
  ASSERT_EQ(picture.width(), 30);
  ASSERT_EQ(picture.height(), 20);
  EXPECT_TRUE(testing::near_colour(picture.at(12, 8), 0, 200, 0, 0)) << std::hex << picture.at(12, 8);
  EXPECT_EQ(pixel_transparency(picture.at(2, 2)), 255u);
  EXPECT_EQ(pixel_transparency(picture.at(25, 18)), 255u);
  EXPECT_EQ(Foto::load_scale(path, 10, 10), 1);
}

TEST(WebpDecoder, LargePictureLoadsReducedNeverBelowTheRequest) {
  TempDir dir;
  const auto path = dir / "large.webp";
  ASSERT_TRUE(testing::write_file(path, encode(5000, 4000, flat_orange, false)));
  int width = 0, height = 0;
  ASSERT_TRUE(Foto::read_size(path, width, height));
  EXPECT_EQ(width, 5000);
  EXPECT_EQ(height, 4000);

  const int factor = Foto::load_scale(path, 500, 400);
  EXPECT_GT(factor, 1);
  Foto reduced;
  ASSERT_TRUE(reduced.load(path, 500, 400).ok());
  EXPECT_EQ(reduced.width(), (5000 + factor - 1) / factor);
  EXPECT_EQ(reduced.height(), (4000 + factor - 1) / factor);
  EXPECT_GE(reduced.width(), 500);
  EXPECT_TRUE(testing::near_colour(reduced.at(reduced.width() / 2, reduced.height() / 2), 200, 100, 50, 4));
  // Asked for nearly all of it, or for all of it, it loads whole.
  EXPECT_EQ(Foto::load_scale(path, 4000, 3000), 1);
  EXPECT_EQ(Foto::load_scale(path, 0, 0), 1);
}

TEST(WebpDecoder, WebpNamedAsJpegLoadsAsWebp) {
  TempDir dir;
  const auto path = dir / "photo.jpg";
  ASSERT_TRUE(testing::write_file(path, encode(16, 8, flat_orange, true)));
  Foto picture;
  ASSERT_TRUE(picture.load(path, 0, 0).ok());
  EXPECT_EQ(picture.width(), 16);
  EXPECT_TRUE(testing::near_colour(picture.at(3, 3), 200, 100, 50, 0));
}

TEST(WebpDecoder, BrokenFilesFailAsDamaged) {
  TempDir dir;
  const std::string good = encode(64, 48, left_red_right_blue, false);
  struct Case {
    const char* name;
    std::string bytes;
  };
  const std::vector<Case> cases = {
      {"truncated", good.substr(0, good.size() / 2)},
      {"header only", good.substr(0, 20)},
      {"garbage", riff(std::string(200, '\x5A'))},
      {"no chunks", riff("")},
      {"empty canvas", riff(vp8x(0, 1, 1))},
  };
  for (const Case& c : cases) {
    const auto path = dir / (std::string(c.name) + ".webp");
    ASSERT_TRUE(testing::write_file(path, c.bytes));
    Foto picture;
    const Status status = picture.load(path, 0, 0);
    EXPECT_FALSE(status.ok()) << c.name;
    EXPECT_EQ(load_failure_of(status), LoadFailure::damaged) << c.name << ": " << status.message();
    EXPECT_TRUE(picture.empty());
  }
}

TEST(WebpDecoder, HugeClaimsFailWithoutTakingTheirMemory) {
  TempDir dir;
  rusage before{};
  getrusage(RUSAGE_SELF, &before);
  // A lossless header claiming 16384 × 16384 with nothing after it, and an
  // extended header claiming the largest canvas over a tiny picture.
  std::string vp8l = "\x2F";
  const std::uint32_t bits = (16383u) | (16383u << 14) | (1u << 28);
  vp8l += le32(bits) + std::string(8, '\0');
  const std::string files[] = {
      riff(chunk("VP8L", vp8l)),
      riff(vp8x(0, 1 << 24, 1 << 24) + image_chunks(encode(4, 4, flat_orange, true))),
  };
  int index = 0;
  for (const std::string& bytes : files) {
    const auto path = dir / ("huge" + std::to_string(index++) + ".webp");
    ASSERT_TRUE(testing::write_file(path, bytes));
    Foto picture;
    const Status status = picture.load(path, 0, 0);
    EXPECT_FALSE(status.ok()) << path;
    const LoadFailure failure = load_failure_of(status);
    EXPECT_TRUE(failure == LoadFailure::damaged || failure == LoadFailure::too_large) << status.message();
  }
  rusage after{};
  getrusage(RUSAGE_SELF, &after);
  EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 256 * 1024) << "KiB";
}

}  // namespace
}  // namespace tess
