// SPDX-License-Identifier: GPL-3.0-or-later
// JPEG XL pictures made with libjxl's own encoder: flat colours, alpha, the
// orientation libjxl turns the picture by, and the colour description handed
// back.

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <jxl/encode.h>

#include "decoder_testing.hpp"
#include "image_files.hpp"
#include "images/foto.hpp"
#include "images/foto_budget.hpp"
#include "images/load_failure.hpp"
#include "images/picture_colour.hpp"
#include "images/picture_decoders.hpp"
#include "support/test_support.hpp"

namespace tess {
namespace {

using testing::TempDir;

struct JxlSpec {
  int width = 32;
  int height = 24;
  bool alpha = false;
  bool lossless = true;
  int orientation = 1;
  bool display_p3 = false;
  bool grey = false;
  int resampling = 1;  // coded at 1/n of the size, upsampled when decoded
  std::uint32_t (*colour)(int x, int y, int w, int h) = nullptr;  // 0xAABBGGRR
};

std::string encode(const JxlSpec& spec) {
  JxlEncoder* encoder = JxlEncoderCreate(nullptr);
  JxlBasicInfo info;
  JxlEncoderInitBasicInfo(&info);
  info.xsize = static_cast<std::uint32_t>(spec.width);
  info.ysize = static_cast<std::uint32_t>(spec.height);
  info.bits_per_sample = 8;
  info.num_color_channels = spec.grey ? 1 : 3;
  info.num_extra_channels = spec.alpha ? 1 : 0;
  info.alpha_bits = spec.alpha ? 8 : 0;
  info.uses_original_profile = spec.lossless ? JXL_TRUE : JXL_FALSE;
  info.orientation = static_cast<JxlOrientation>(spec.orientation);
  std::string out;
  if (JxlEncoderSetBasicInfo(encoder, &info) != JXL_ENC_SUCCESS) return out;
  JxlColorEncoding encoding;
  JxlColorEncodingSetToSRGB(&encoding, spec.grey ? JXL_TRUE : JXL_FALSE);
  if (spec.display_p3) encoding.primaries = JXL_PRIMARIES_P3;
  if (JxlEncoderSetColorEncoding(encoder, &encoding) != JXL_ENC_SUCCESS) return out;
  JxlEncoderFrameSettings* settings = JxlEncoderFrameSettingsCreate(encoder, nullptr);
  JxlEncoderSetFrameLossless(settings, spec.lossless ? JXL_TRUE : JXL_FALSE);
  JxlEncoderFrameSettingsSetOption(settings, JXL_ENC_FRAME_SETTING_EFFORT, 1);
  if (spec.resampling > 1) JxlEncoderFrameSettingsSetOption(settings, JXL_ENC_FRAME_SETTING_RESAMPLING, spec.resampling);
  const int channels = (spec.grey ? 1 : 3) + (spec.alpha ? 1 : 0);
  std::vector<std::uint8_t> samples;
  for (int y = 0; y < spec.height; ++y)
    for (int x = 0; x < spec.width; ++x) {
      const std::uint32_t c = spec.colour(x, y, spec.width, spec.height);
      for (int i = 0; i < channels; ++i) samples.push_back(static_cast<std::uint8_t>(c >> (8 * i)));
    }
  const JxlPixelFormat format{static_cast<std::uint32_t>(channels), JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
  if (JxlEncoderAddImageFrame(settings, &format, samples.data(), samples.size()) != JXL_ENC_SUCCESS) return out;
  JxlEncoderCloseInput(encoder);
  std::vector<std::uint8_t> buffer(1 << 16);
  std::size_t used = 0;
  for (;;) {
    std::uint8_t* next = buffer.data() + used;
    std::size_t available = buffer.size() - used;
    const JxlEncoderStatus status = JxlEncoderProcessOutput(encoder, &next, &available);
    used = static_cast<std::size_t>(next - buffer.data());
    if (status == JXL_ENC_NEED_MORE_OUTPUT) {
      buffer.resize(buffer.size() * 2);
      continue;
    }
    if (status == JXL_ENC_SUCCESS) out.assign(reinterpret_cast<const char*>(buffer.data()), used);
    break;
  }
  JxlEncoderDestroy(encoder);
  return out;
}

std::uint32_t flat_orange(int, int, int, int) { return 0xFF3264C8u; }  // 200, 100, 50
std::uint32_t half_clear(int x, int, int w, int) { return x < w / 2 ? 0xFF0000FFu : 0x00FF0000u; }
std::uint32_t left_red_right_blue(int x, int, int w, int) { return x < w / 2 ? 0xFF0000FFu : 0xFFFF0000u; }

TEST(JxlDecoder, FlatColoursComeBackAsSrgb) {
  TempDir dir;
  for (const bool lossless : {true, false}) {
    JxlSpec spec;
    spec.lossless = lossless;
    spec.colour = flat_orange;
    const auto path = dir / (lossless ? "lossless.jxl" : "lossy.jxl");
    const std::string bytes = encode(spec);
    ASSERT_FALSE(bytes.empty());
    ASSERT_TRUE(testing::write_file(path, bytes));
    Foto picture;
    PictureColour colour;
    const Status status = testing::decode_with(PictureFormat::jxl, path, picture, colour);
    ASSERT_TRUE(status.ok()) << status.message();
    ASSERT_EQ(picture.width(), 32);
    ASSERT_EQ(picture.height(), 24);
    const int tolerance = lossless ? 0 : 3;
    EXPECT_TRUE(testing::near_colour(picture.at(0, 0), 200, 100, 50, tolerance)) << std::hex << picture.at(0, 0);
    EXPECT_TRUE(testing::near_colour(picture.at(31, 23), 200, 100, 50, tolerance)) << std::hex << picture.at(31, 23);
    EXPECT_TRUE(colour.icc.empty()) << lossless;
  }
}

TEST(JxlDecoder, GreyComesBackInAllThreeChannels) {
  TempDir dir;
  JxlSpec spec;
  spec.grey = true;
  spec.colour = flat_orange;  // its red byte, 200, is the grey
  const auto path = dir / "grey.jxl";
  ASSERT_TRUE(testing::write_file(path, encode(spec)));
  Foto picture;
  const Status status = picture.load(path, 0, 0);
  ASSERT_TRUE(status.ok()) << status.message();
  EXPECT_TRUE(testing::near_colour(picture.at(4, 4), 200, 200, 200, 0)) << std::hex << picture.at(4, 4);
}

TEST(JxlDecoder, OtherColourSpacesHandTheirProfileOver) {
  TempDir dir;
  JxlSpec spec;
  spec.display_p3 = true;
  spec.colour = flat_orange;
  const auto path = dir / "p3.jxl";
  ASSERT_TRUE(testing::write_file(path, encode(spec)));
  Foto picture;
  PictureColour colour;
  ASSERT_TRUE(testing::decode_with(PictureFormat::jxl, path, picture, colour).ok());
  ASSERT_GT(colour.icc.size(), 128u);
  EXPECT_EQ(std::string(colour.icc.begin() + 36, colour.icc.begin() + 40), "acsp");
  EXPECT_FALSE(colour.srgb);
  // Stored values come back as they are; the loader converts them.
  EXPECT_TRUE(testing::near_colour(picture.at(5, 5), 200, 100, 50, 0)) << std::hex << picture.at(5, 5);
}

TEST(JxlDecoder, AlphaBecomesTransparency) {
  TempDir dir;
  JxlSpec spec;
  spec.alpha = true;
  spec.colour = half_clear;
  const auto path = dir / "alpha.jxl";
  ASSERT_TRUE(testing::write_file(path, encode(spec)));
  Foto picture;
  ASSERT_TRUE(picture.load(path, 0, 0).ok());
  EXPECT_TRUE(testing::near_colour(picture.at(2, 2), 255, 0, 0, 0)) << std::hex << picture.at(2, 2);
  EXPECT_EQ(pixel_transparency(picture.at(30, 2)), 255u);
}

TEST(JxlDecoder, OrientationTurnsThePictureAndItsSize) {
  TempDir dir;
  JxlSpec spec;
  spec.width = 40;
  spec.height = 20;
  spec.orientation = 6;  // a quarter clockwise: the red left half ends on top
  spec.colour = left_red_right_blue;
  const auto path = dir / "turned.jxl";
  ASSERT_TRUE(testing::write_file(path, encode(spec)));
  int width = 0, height = 0;
  ASSERT_TRUE(Foto::read_size(path, width, height));
  EXPECT_EQ(width, 20);
  EXPECT_EQ(height, 40);
  Foto picture;
  ASSERT_TRUE(picture.load(path, 0, 0).ok());
  ASSERT_EQ(picture.width(), 20);
  ASSERT_EQ(picture.height(), 40);
  EXPECT_TRUE(testing::near_colour(picture.at(10, 2), 255, 0, 0, 0)) << std::hex << picture.at(10, 2);
  EXPECT_TRUE(testing::near_colour(picture.at(10, 37), 0, 0, 255, 0)) << std::hex << picture.at(10, 37);
}

TEST(JxlDecoder, LargePictureLoadsReducedNeverBelowTheRequest) {
  TempDir dir;
  JxlSpec spec;
  spec.width = 5000;
  spec.height = 4000;
  spec.lossless = false;
  spec.resampling = 8;  // a large picture made quickly
  spec.colour = flat_orange;
  const auto path = dir / "large.jxl";
  ASSERT_TRUE(testing::write_file(path, encode(spec)));
  const Foto picture = testing::expect_reduced_load(path, 5000, 4000);
  ASSERT_FALSE(picture.empty());
  EXPECT_TRUE(testing::near_colour(picture.at(7, 7), 200, 100, 50, 3)) << std::hex << picture.at(7, 7);
}

TEST(JxlDecoder, BrokenFilesFailAsDamaged) {
  TempDir dir;
  JxlSpec spec;
  spec.width = 64;
  spec.height = 64;
  spec.lossless = false;
  spec.colour = left_red_right_blue;
  const std::string good = encode(spec);
  ASSERT_GT(good.size(), 40u);
  const std::vector<std::pair<const char*, std::string>> cases = {
      {"truncated", good.substr(0, good.size() / 2)},
      {"signature only", good.substr(0, 2)},
      {"garbage", std::string("\xFF\x0A", 2) + std::string(200, '\x93')},
      {"container garbage", std::string("\0\0\0\x0CJXL \r\n\x87\n", 12) + std::string(100, '\x01')},
  };
  for (const auto& [name, bytes] : cases) {
    const auto path = dir / "broken.jxl";
    ASSERT_TRUE(testing::write_file(path, bytes));
    Foto picture;
    const Status status = picture.load(path, 0, 0);
    EXPECT_EQ(load_failure_of(status), LoadFailure::damaged) << name << ": " << status.message();
    EXPECT_TRUE(picture.empty());
  }
}

TEST(JxlDecoder, PictureBeyondTheBudgetIsRefusedBeforeDecoding) {
  TempDir dir;
  JxlSpec spec;
  spec.colour = flat_orange;
  const auto path = dir / "over.jxl";
  ASSERT_TRUE(testing::write_file(path, encode(spec)));
  const std::uint64_t old_limit = decode_budget().limit();
  decode_budget().set_limit(16 << 20);
  Foto picture;
  const Status status = picture.load(path, 0, 0);
  decode_budget().set_limit(old_limit);
  EXPECT_EQ(load_failure_of(status), LoadFailure::too_large) << status.message();
  EXPECT_TRUE(picture.empty());
}

}  // namespace
}  // namespace tess
