// SPDX-License-Identifier: GPL-3.0-or-later
// Bitmaps built byte by byte: every header form, pixel layout and row order,
// colour spaces, and headers that lie about sizes and offsets.

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

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

std::string le16(std::uint32_t v) { return {static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF)}; }
std::string le32(std::uint32_t v) { return le16(v & 0xFFFF) + le16(v >> 16); }

struct BmpSpec {
  std::uint32_t header_size = 40;
  int width = 3;
  int height = 2;
  bool top_down = false;
  int bits = 24;
  std::uint32_t compression = 0;
  std::vector<std::uint32_t> masks;  // red, green, blue (and alpha): in the header or after a plain one
  std::vector<std::uint32_t> palette;  // 0xRRGGBB
  std::uint32_t colour_space = 0;
  std::string profile;
  std::function<std::string(int y)> row;  // the stored bytes of picture row y (top first), unpadded
};

std::string build(const BmpSpec& spec) {
  const bool core = spec.header_size == 12;
  std::string info = le32(spec.header_size);
  if (core) {
    info += le16(spec.width) + le16(spec.height) + le16(1) + le16(spec.bits);
  } else {
    info += le32(spec.width) + le32(static_cast<std::uint32_t>(spec.top_down ? -spec.height : spec.height));
    info += le16(1) + le16(spec.bits) + le32(spec.compression) + le32(0) + le32(2835) + le32(2835);
    info += le32(static_cast<std::uint32_t>(spec.palette.size())) + le32(0);
  }
  std::string after_header;
  if (spec.header_size >= 52) {
    for (std::size_t i = 0; i < 4; ++i) info += le32(i < spec.masks.size() ? spec.masks[i] : 0);
    info += le32(spec.colour_space) + std::string(48, '\0');  // end points and gammas
    info += le32(4);  // intent; the profile's offset and size follow
  } else {
    for (const std::uint32_t mask : spec.masks) after_header += le32(mask);
  }
  std::string palette;
  for (const std::uint32_t c : spec.palette) {
    palette += {static_cast<char>(c & 0xFF), static_cast<char>((c >> 8) & 0xFF), static_cast<char>(c >> 16)};
    if (!core) palette += '\0';
  }
  std::string rows;
  for (int i = 0; i < spec.height; ++i) {
    std::string row = spec.row(spec.top_down ? i : spec.height - 1 - i);
    row.resize((row.size() + 3) / 4 * 4, '\0');
    rows += row;
  }
  const std::size_t data_offset = 14 + spec.header_size + after_header.size() + palette.size();
  if (spec.header_size >= 52) {
    // Written in the longest layout, then cut to the header's own length.
    info += le32(static_cast<std::uint32_t>(data_offset + rows.size() - 14));
    info += le32(static_cast<std::uint32_t>(spec.profile.size())) + le32(0);
    info.resize(spec.header_size);
  }
  std::string file = "BM" + le32(static_cast<std::uint32_t>(data_offset + rows.size() + spec.profile.size())) + le32(0);
  file += le32(static_cast<std::uint32_t>(data_offset)) + info + after_header + palette + rows + spec.profile;
  return file;
}

// The picture every layout case stores: red, green, blue over white, black, grey.
const std::uint32_t kExpected[6] = {make_pixel(255, 0, 0),     make_pixel(0, 255, 0), make_pixel(0, 0, 255),
                                    make_pixel(255, 255, 255), make_pixel(0, 0, 0),   make_pixel(128, 128, 128)};
const std::vector<std::uint32_t> kSixColours = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF, 0x000000, 0x808080};

std::string bgr_row(int y, int bytes_per_pixel, char fourth = '\0') {
  std::string row;
  for (int x = 0; x < 3; ++x) {
    const std::uint32_t c = kExpected[y * 3 + x];
    row += {static_cast<char>(pixel_blue(c)), static_cast<char>(pixel_green(c)), static_cast<char>(pixel_red(c))};
    if (bytes_per_pixel == 4) row += fourth;
  }
  return row;
}

TEST(BmpDecoder, EveryPixelLayoutComesBackTopRowFirst) {
  struct Case {
    const char* name;
    BmpSpec spec;
    std::vector<std::uint32_t> expected;  // when not kExpected
  };
  BmpSpec base;
  std::vector<Case> cases;
  {
    BmpSpec s = base;
    s.row = [](int y) { return bgr_row(y, 3); };
    cases.push_back({"24-bit bottom-up", s, {}});
    s.top_down = true;
    cases.push_back({"24-bit top-down", s, {}});
  }
  {
    BmpSpec s = base;
    s.bits = 8;
    s.palette = kSixColours;
    s.row = [](int y) { return std::string{static_cast<char>(3 * y), static_cast<char>(3 * y + 1), static_cast<char>(3 * y + 2)}; };
    cases.push_back({"8-bit palette", s, {}});
    s.header_size = 12;
    cases.push_back({"8-bit palette, core header", s, {}});
    s.header_size = 40;
    s.bits = 4;
    s.row = [](int y) { return y == 0 ? std::string("\x01\x20", 2) : std::string("\x34\x50", 2); };
    cases.push_back({"4-bit palette", s, {}});
    s.bits = 1;
    s.palette = {0x000000, 0xFFFFFF};
    s.row = [](int y) { return std::string(1, y == 0 ? '\xA0' : '\x40'); };
    cases.push_back({"1-bit palette", s,
                     {make_pixel(255, 255, 255), make_pixel(0, 0, 0), make_pixel(255, 255, 255), make_pixel(0, 0, 0),
                      make_pixel(255, 255, 255), make_pixel(0, 0, 0)}});
  }
  // 16-bit: full, none and half of each 5-bit channel.
  const std::vector<std::uint32_t> sixteen = {make_pixel(255, 0, 0), make_pixel(0, 255, 0), make_pixel(0, 0, 255),
                                              make_pixel(255, 255, 255), make_pixel(0, 0, 0), make_pixel(132, 132, 132)};
  {
    BmpSpec s = base;
    s.bits = 16;
    s.row = [](int y) {
      const std::uint32_t v[6] = {0x7C00, 0x03E0, 0x001F, 0x7FFF, 0x0000, 0x4210};
      return le16(v[3 * y]) + le16(v[3 * y + 1]) + le16(v[3 * y + 2]);
    };
    cases.push_back({"16-bit 5-5-5", s, sixteen});
    s.compression = 3;
    s.masks = {0xF800, 0x07E0, 0x001F};
    s.row = [](int y) {
      const std::uint32_t v[6] = {0xF800, 0x07E0, 0x001F, 0xFFFF, 0x0000, 0x8410};
      return le16(v[3 * y]) + le16(v[3 * y + 1]) + le16(v[3 * y + 2]);
    };
    std::vector<std::uint32_t> six_bit_green = sixteen;
    six_bit_green[5] = make_pixel(132, 130, 132);  // 32 of 63
    cases.push_back({"16-bit 5-6-5 masks after the header", s, six_bit_green});
  }
  {
    BmpSpec s = base;
    s.bits = 32;
    s.row = [](int y) { return bgr_row(y, 4, '\x00'); };
    cases.push_back({"32-bit plain: the fourth byte is no alpha", s, {}});
    s.compression = 3;
    s.header_size = 124;
    s.masks = {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000};
    s.row = [](int y) { return bgr_row(y, 4, y == 0 ? '\xFF' : '\x00'); };
    std::vector<std::uint32_t> alpha(std::begin(kExpected), std::end(kExpected));
    for (int i = 3; i < 6; ++i) alpha[i] |= 0xFF000000u;
    cases.push_back({"32-bit V5 masks with alpha", s, alpha});
    s.header_size = 40;
    s.compression = 6;
    cases.push_back({"32-bit alpha masks after the header", s, alpha});
    s.header_size = 56;
    s.compression = 3;
    cases.push_back({"32-bit V3 masks with alpha", s, alpha});
  }

  TempDir dir;
  for (const Case& c : cases) {
    const auto path = dir / "case.bmp";
    ASSERT_TRUE(testing::write_file(path, build(c.spec)));
    int width = 0, height = 0;
    ASSERT_TRUE(Foto::read_size(path, width, height)) << c.name;
    EXPECT_EQ(width, 3) << c.name;
    EXPECT_EQ(height, 2) << c.name;
    Foto picture;
    const Status status = picture.load(path, 0, 0);
    ASSERT_TRUE(status.ok()) << c.name << ": " << status.message();
    ASSERT_EQ(picture.width(), 3);
    ASSERT_EQ(picture.height(), 2);
    for (int i = 0; i < 6; ++i) {
      const std::uint32_t expected = c.expected.empty() ? kExpected[i] : c.expected[static_cast<std::size_t>(i)];
      EXPECT_EQ(picture.at(i % 3, i / 3), expected) << c.name << ", pixel " << i << std::hex << " got " << picture.at(i % 3, i / 3);
    }
  }
}

TEST(BmpDecoder, ColourSpaceAndEmbeddedProfileAreHandedOver) {
  TempDir dir;
  const auto path = dir / "colour.bmp";
  BmpSpec spec;
  spec.header_size = 124;
  spec.row = [](int y) { return bgr_row(y, 3); };
  spec.colour_space = 0x4D424544;  // 'MBED'
  spec.profile = "a profile of sorts, handed over as stored";
  ASSERT_TRUE(testing::write_file(path, build(spec)));
  Foto picture;
  PictureColour colour;
  ASSERT_TRUE(testing::decode_with(PictureFormat::bmp, path, picture, colour).ok());
  EXPECT_EQ(std::string(colour.icc.begin(), colour.icc.end()), spec.profile);
  EXPECT_EQ(picture.at(0, 0), kExpected[0]);

  spec.header_size = 108;
  spec.colour_space = 0x73524742;  // 'sRGB'
  spec.profile.clear();
  ASSERT_TRUE(testing::write_file(path, build(spec)));
  PictureColour srgb;
  ASSERT_TRUE(testing::decode_with(PictureFormat::bmp, path, picture, srgb).ok());
  EXPECT_TRUE(srgb.srgb);
  EXPECT_TRUE(srgb.icc.empty());
}

TEST(BmpDecoder, LargeBitmapLoadsReducedNeverBelowTheRequest) {
  TempDir dir;
  const auto path = dir / "large.bmp";
  BmpSpec spec;
  spec.width = 5000;
  spec.height = 4000;
  spec.bits = 1;
  spec.palette = {0x000000, 0xFF8000};
  // Orange on the left, black on the right.
  const std::string row = std::string(2500 / 8, '\xFF') + std::string("\xF0", 1) + std::string(2500 / 8, '\0');
  spec.row = [&row](int) { return row; };
  ASSERT_TRUE(testing::write_file(path, build(spec)));
  const Foto picture = testing::expect_reduced_load(path, 5000, 4000);
  ASSERT_FALSE(picture.empty());
  EXPECT_EQ(picture.at(3, 3), make_pixel(255, 128, 0));
  EXPECT_EQ(picture.at(picture.width() - 3, 3), make_pixel(0, 0, 0));
}

TEST(BmpDecoder, CompressedBitmapsAreUnsupported) {
  TempDir dir;
  for (const std::uint32_t compression : {1u, 2u, 4u, 5u, 99u}) {
    BmpSpec spec;
    spec.compression = compression;
    spec.bits = compression == 2 ? 4 : 8;
    spec.palette = kSixColours;
    spec.row = [](int) { return std::string(3, '\0'); };
    const auto path = dir / "compressed.bmp";
    ASSERT_TRUE(testing::write_file(path, build(spec)));
    Foto picture;
    const Status status = picture.load(path, 0, 0);
    EXPECT_EQ(load_failure_of(status), LoadFailure::unsupported_format) << compression << ": " << status.message();
  }
}

TEST(BmpDecoder, LyingHeadersFailAsDamagedBeforeAllocating) {
  BmpSpec spec;
  spec.row = [](int y) { return bgr_row(y, 3); };
  const std::string good = build(spec);
  const auto patched = [&good](std::size_t at, const std::string& bytes) {
    std::string file = good;
    file.replace(at, bytes.size(), bytes);
    return file;
  };
  const std::vector<std::pair<const char*, std::string>> cases = {
      {"rows cut off", good.substr(0, good.size() - 5)},
      {"data offset past the end", patched(10, le32(0x7FFFFFF0))},
      {"data offset inside the header", patched(10, le32(2))},
      {"huge width and height", patched(18, le32(0x00FFFFFF) + le32(0x00FFFFFF))},
      {"width beyond any bitmap", patched(18, le32(0x7FFFFFFF))},
      {"most negative height", patched(22, le32(0x80000000))},
      {"zero width", patched(18, le32(0))},
      {"unknown header size", patched(14, le32(1000000))},
      {"unknown bit depth", patched(28, le16(7))},
      {"masks at 24 bits", patched(30, le32(3))},
      {"header only", good.substr(0, 20)},
      {"garbage", "BM" + std::string(100, '\xEE')},
  };
  TempDir dir;
  for (const auto& [name, bytes] : cases) {
    const auto path = dir / "lying.bmp";
    ASSERT_TRUE(testing::write_file(path, bytes));
    Foto picture;
    const Status status = picture.load(path, 0, 0);
    EXPECT_EQ(load_failure_of(status), LoadFailure::damaged) << name << ": " << status.message();
    EXPECT_TRUE(picture.empty()) << name;
    int width = 0, height = 0;
    EXPECT_FALSE(Foto::read_size(path, width, height)) << name;
  }
}

}  // namespace
}  // namespace tess
