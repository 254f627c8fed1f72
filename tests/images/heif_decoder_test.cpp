// SPDX-License-Identifier: GPL-3.0-or-later
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <libheif/heif.h>

#include "images/foto.hpp"
#include "images/load_failure.hpp"
#include "images/picture_colour.hpp"
#include "images/picture_decoders.hpp"
#include "image_files.hpp"
#include "support/test_support.hpp"

namespace tess {
namespace {

using testing::TempDir;

// A picture written with libheif's own encoders: flat, or split into two
// colours (left and right as stored) so that a turn shows where it went.
struct HeifSpec {
  heif_compression_format format = heif_compression_HEVC;
  int width = 64;
  int height = 64;
  std::uint32_t colour = make_pixel(200, 100, 50);
  std::uint32_t right_colour = 0;  // 0: flat
  int alpha = -1;                  // -1: no alpha channel
  heif_orientation orientation = heif_orientation_normal;
  int thumbnail_box = 0;  // a thumbnail fitting this square, in thumbnail_colour
  std::uint32_t thumbnail_colour = make_pixel(0, 0, 255);
  std::vector<std::uint8_t> icc;
  int primaries = 0;  // with transfer: an nclx description
  int transfer = 0;
};

struct ContextFree {
  void operator()(heif_context* c) const { heif_context_free(c); }
};
struct ImageRelease {
  void operator()(heif_image* i) const { heif_image_release(i); }
};
struct EncoderRelease {
  void operator()(heif_encoder* e) const { heif_encoder_release(e); }
};

std::unique_ptr<heif_image, ImageRelease> make_image(const HeifSpec& spec, std::uint32_t left, std::uint32_t right) {
  heif_image* raw = nullptr;
  const bool alpha = spec.alpha >= 0;
  if (heif_image_create(spec.width, spec.height, heif_colorspace_RGB,
                        alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, &raw)
          .code != heif_error_Ok)
    return nullptr;
  std::unique_ptr<heif_image, ImageRelease> image(raw);
  if (heif_image_add_plane(raw, heif_channel_interleaved, spec.width, spec.height, 8).code != heif_error_Ok)
    return nullptr;
  int stride = 0;
  std::uint8_t* plane = heif_image_get_plane(raw, heif_channel_interleaved, &stride);
  const int channels = alpha ? 4 : 3;
  for (int y = 0; y < spec.height; ++y)
    for (int x = 0; x < spec.width; ++x) {
      const std::uint32_t c = right != 0 && x >= spec.width / 2 ? right : left;
      std::uint8_t* p = plane + static_cast<std::size_t>(y) * stride + static_cast<std::size_t>(x) * channels;
      p[0] = static_cast<std::uint8_t>(pixel_red(c));
      p[1] = static_cast<std::uint8_t>(pixel_green(c));
      p[2] = static_cast<std::uint8_t>(pixel_blue(c));
      if (alpha) p[3] = static_cast<std::uint8_t>(spec.alpha);
    }
  if (!spec.icc.empty() &&
      heif_image_set_raw_color_profile(raw, "prof", spec.icc.data(), spec.icc.size()).code != heif_error_Ok)
    return nullptr;
  if (spec.primaries != 0) {
    heif_color_profile_nclx* nclx = heif_nclx_color_profile_alloc();
    heif_nclx_color_profile_set_color_primaries(nclx, static_cast<std::uint16_t>(spec.primaries));
    heif_nclx_color_profile_set_transfer_characteristics(nclx, static_cast<std::uint16_t>(spec.transfer));
    heif_nclx_color_profile_set_matrix_coefficients(nclx, 6);
    nclx->full_range_flag = 1;
    const bool set = heif_image_set_nclx_color_profile(raw, nclx).code == heif_error_Ok;
    heif_nclx_color_profile_free(nclx);
    if (!set) return nullptr;
  }
  return image;
}

bool write_heif(const std::filesystem::path& path, const HeifSpec& spec) {
  std::unique_ptr<heif_context, ContextFree> context(heif_context_alloc());
  heif_encoder* raw_encoder = nullptr;
  if (heif_context_get_encoder_for_format(context.get(), spec.format, &raw_encoder).code != heif_error_Ok) return false;
  std::unique_ptr<heif_encoder, EncoderRelease> encoder(raw_encoder);
  heif_encoder_set_lossy_quality(raw_encoder, 90);
  // The fastest settings: the tests look at flat colours, not at quality.
  if (spec.format == heif_compression_HEVC) heif_encoder_set_parameter_string(raw_encoder, "preset", "ultrafast");
  if (spec.format == heif_compression_AV1) heif_encoder_set_parameter_integer(raw_encoder, "speed", 9);
  const auto image = make_image(spec, spec.colour, spec.right_colour);
  if (!image) return false;
  heif_encoding_options* options = heif_encoding_options_alloc();
  options->image_orientation = spec.orientation;
  // libheif leaves the coded description out unless told otherwise.
  options->macOS_compatibility_workaround_no_nclx_profile = spec.primaries == 0 ? 1 : 0;
  heif_image_handle* handle = nullptr;
  bool ok = heif_context_encode_image(context.get(), image.get(), raw_encoder, options, &handle).code == heif_error_Ok;
  if (ok && spec.thumbnail_box > 0) {
    const auto thumbnail = make_image(spec, spec.thumbnail_colour, 0);
    heif_image_handle* thumbnail_handle = nullptr;
    ok = thumbnail && heif_context_encode_thumbnail(context.get(), thumbnail.get(), handle, raw_encoder, options,
                                                    spec.thumbnail_box, &thumbnail_handle)
                              .code == heif_error_Ok;
    if (thumbnail_handle != nullptr) heif_image_handle_release(thumbnail_handle);
  }
  if (handle != nullptr) heif_image_handle_release(handle);
  heif_encoding_options_free(options);
  return ok && heif_context_write_to_file(context.get(), path.c_str()).code == heif_error_Ok;
}

bool near(std::uint32_t pixel, std::uint32_t expected, int tolerance = 6) {
  const auto close = [&](std::uint32_t a, std::uint32_t b) {
    return std::abs(static_cast<int>(a) - static_cast<int>(b)) <= tolerance;
  };
  return close(pixel_red(pixel), pixel_red(expected)) && close(pixel_green(pixel), pixel_green(expected)) &&
         close(pixel_blue(pixel), pixel_blue(expected)) &&
         close(pixel_transparency(pixel), pixel_transparency(expected));
}

// The decoder called as the loader calls it, without the colour conversion.
struct Decoded {
  Status status;
  Foto picture;
  PictureColour colour;
};

Decoded decode(const std::filesystem::path& path, int max_w = 0, int max_h = 0) {
  Decoded result;
  std::FILE* file = std::fopen(path.c_str(), "rb");
  const PictureDecoder* decoder = decoder_for(PictureFormat::heif);
  if (decoder == nullptr || file == nullptr) {
    if (file != nullptr) std::fclose(file);
    result.status = Status::failure("no decoder or no file");
    return result;
  }
  result.status = decoder->decode(file, path, max_w, max_h, result.picture, result.colour);
  std::fclose(file);
  return result;
}

// Every occurrence of a box's four-letter type, for patching the fields after it.
std::vector<std::size_t> boxes_of(const std::string& bytes, const char* type) {
  std::vector<std::size_t> found;
  for (std::size_t at = bytes.find(type); at != std::string::npos; at = bytes.find(type, at + 4)) found.push_back(at);
  return found;
}

std::string big_endian(std::uint32_t value) {
  return {static_cast<char>(value >> 24), static_cast<char>(value >> 16), static_cast<char>(value >> 8),
          static_cast<char>(value)};
}

class HeifDecoder : public ::testing::Test {
 protected:
  TempDir dir;
};

TEST_F(HeifDecoder, FlatColourComesBackForBothCodings) {
  struct Case {
    heif_compression_format format;
    const char* name;
  };
  for (const Case& c : {Case{heif_compression_HEVC, "flat.heic"}, Case{heif_compression_AV1, "flat.avif"}}) {
    SCOPED_TRACE(c.name);
    if (!heif_have_decoder_for_format(c.format)) GTEST_SKIP() << "this libheif has no decoder for " << c.name;
    HeifSpec spec;
    spec.format = c.format;
    spec.width = 96;
    spec.height = 64;
    const auto path = dir / c.name;
    ASSERT_TRUE(write_heif(path, spec));
    int w = 0, h = 0;
    ASSERT_TRUE(Foto::read_size(path, w, h));
    EXPECT_EQ(w, 96);
    EXPECT_EQ(h, 64);
    EXPECT_EQ(Foto::load_scale(path, 48, 48), 1);
    Foto picture;
    ASSERT_TRUE(picture.load(path, 0, 0).ok());
    ASSERT_EQ(picture.width(), 96);
    ASSERT_EQ(picture.height(), 64);
    for (const auto& [x, y] : {std::pair{0, 0}, std::pair{95, 63}, std::pair{40, 30}})
      EXPECT_TRUE(near(picture.at(x, y), spec.colour)) << std::hex << picture.at(x, y);
  }
}

TEST_F(HeifDecoder, QuarterTurnSwapsTheSidesInSizeAndPicture) {
  HeifSpec spec;
  spec.width = 128;
  spec.height = 64;
  spec.colour = make_pixel(255, 0, 0);
  spec.right_colour = make_pixel(0, 0, 255);
  spec.orientation = heif_orientation_rotate_90_cw;
  const auto path = dir / "turned.heic";
  ASSERT_TRUE(write_heif(path, spec));
  int w = 0, h = 0;
  ASSERT_TRUE(Foto::read_size(path, w, h));
  EXPECT_EQ(w, 64);
  EXPECT_EQ(h, 128);
  const Decoded d = decode(path);
  ASSERT_TRUE(d.status.ok()) << d.status.message();
  ASSERT_EQ(d.picture.width(), w);
  ASSERT_EQ(d.picture.height(), h);
  // Turned clockwise, the stored left (red) half is seen on top.
  EXPECT_TRUE(near(d.picture.at(32, 8), make_pixel(255, 0, 0), 12)) << std::hex << d.picture.at(32, 8);
  EXPECT_TRUE(near(d.picture.at(32, 120), make_pixel(0, 0, 255), 12)) << std::hex << d.picture.at(32, 120);
}

TEST_F(HeifDecoder, ThumbnailServesSmallRequestsOnly) {
  HeifSpec spec;
  spec.width = 640;
  spec.height = 480;
  spec.colour = make_pixel(0, 200, 0);
  spec.thumbnail_box = 160;  // 160 × 120, blue: shows which picture was decoded
  const auto path = dir / "thumbnail.heic";
  ASSERT_TRUE(write_heif(path, spec));

  const Decoded small = decode(path, 48, 48);
  ASSERT_TRUE(small.status.ok()) << small.status.message();
  EXPECT_EQ(small.picture.width(), 160);
  EXPECT_EQ(small.picture.height(), 120);
  EXPECT_TRUE(near(small.picture.at(80, 60), spec.thumbnail_colour, 12)) << std::hex << small.picture.at(80, 60);

  const Decoded large = decode(path, 200, 200);
  ASSERT_TRUE(large.status.ok()) << large.status.message();
  EXPECT_EQ(large.picture.width(), 640);
  EXPECT_TRUE(near(large.picture.at(320, 240), spec.colour, 12)) << std::hex << large.picture.at(320, 240);

  // Every request the thumbnail serves shares one factor, unlike the picture's.
  const int thumbnail_factor = Foto::load_scale(path, 48, 48);
  EXPECT_GT(thumbnail_factor, 1);
  EXPECT_EQ(Foto::load_scale(path, 160, 120), thumbnail_factor);
  EXPECT_EQ(Foto::load_scale(path, 161, 120), 1);
  EXPECT_EQ(Foto::load_scale(path, 0, 0), 1);
  int w = 0, h = 0;
  ASSERT_TRUE(Foto::read_size(path, w, h));  // the picture's size, not the thumbnail's
  EXPECT_EQ(w, 640);
  EXPECT_EQ(h, 480);
}

TEST_F(HeifDecoder, AlphaBecomesTransparency) {
  HeifSpec spec;
  spec.alpha = 64;
  const auto path = dir / "alpha.heic";
  ASSERT_TRUE(write_heif(path, spec));
  Foto picture;
  ASSERT_TRUE(picture.load(path, 0, 0).ok());
  EXPECT_NEAR(static_cast<int>(pixel_transparency(picture.at(10, 10))), 255 - 64, 4);

  spec.alpha = -1;
  ASSERT_TRUE(write_heif(path, spec));
  ASSERT_TRUE(picture.load(path, 0, 0).ok());
  EXPECT_EQ(pixel_transparency(picture.at(10, 10)), 0u);
}

TEST_F(HeifDecoder, ColourDescriptionIsHandedBack) {
  HeifSpec nclx;
  nclx.primaries = 12;  // Display P3
  nclx.transfer = 13;   // sRGB curve
  ASSERT_TRUE(write_heif(dir / "p3.heic", nclx));
  const Decoded coded = decode(dir / "p3.heic");
  ASSERT_TRUE(coded.status.ok()) << coded.status.message();
  EXPECT_EQ(coded.colour.primaries, 12);
  EXPECT_EQ(coded.colour.transfer, 13);

  HeifSpec icc;
  const auto profile = srgb_icc_profile();
  icc.icc.assign(profile.begin(), profile.end());
  ASSERT_TRUE(write_heif(dir / "icc.heic", icc));
  const Decoded profiled = decode(dir / "icc.heic");
  ASSERT_TRUE(profiled.status.ok()) << profiled.status.message();
  EXPECT_EQ(profiled.colour.icc, icc.icc);
}

TEST_F(HeifDecoder, IsFoundByItsContentsWhateverItsName) {
  HeifSpec spec;
  const auto path = dir / "actually_heic.jpg";
  ASSERT_TRUE(write_heif(path, spec));
  Foto picture;
  const Status status = picture.load(path, 0, 0);
  ASSERT_TRUE(status.ok()) << status.message();
  EXPECT_TRUE(near(picture.at(5, 5), spec.colour));
}

TEST_F(HeifDecoder, BrokenFilesFailAsDamaged) {
  HeifSpec spec;
  spec.width = 256;
  spec.height = 256;
  spec.right_colour = make_pixel(10, 20, 30);
  const auto good = dir / "good.heic";
  ASSERT_TRUE(write_heif(good, spec));
  const std::string bytes = testing::read_file(good);
  ASSERT_EQ(bytes.substr(4, 4), "ftyp");
  const std::string header = bytes.substr(0, static_cast<unsigned char>(bytes[3]));  // the ftyp box alone

  struct Case {
    const char* name;
    std::string contents;
  };
  std::string random;
  for (int i = 0; i < 4000; ++i) random += static_cast<char>((i * 7919 + 13) % 251);
  for (const Case& c : {Case{"cut_in_data.heic", bytes.substr(0, bytes.size() - 200)},
                        Case{"cut_in_boxes.heic", bytes.substr(0, bytes.size() / 4)},
                        Case{"only_ftyp.heic", header}, Case{"garbage.heic", header + random}}) {
    SCOPED_TRACE(c.name);
    const auto path = dir / c.name;
    ASSERT_TRUE(testing::write_file(path, c.contents));
    Foto picture;
    const Status status = picture.load(path, 0, 0);
    EXPECT_FALSE(status.ok());
    EXPECT_EQ(load_failure_of(status), LoadFailure::damaged) << status.message();
    EXPECT_TRUE(picture.empty());
  }
}

TEST_F(HeifDecoder, CodingWithoutDecoderIsUnsupported) {
  const auto path = dir / "vvc.heic";
  ASSERT_TRUE(write_heif(path, HeifSpec{}));
  std::string bytes = testing::read_file(path);
  const auto items = boxes_of(bytes, "hvc1");
  ASSERT_FALSE(items.empty());
  for (const std::size_t at : items) bytes.replace(at, 4, "vvc1");  // the item's coding, as a newer camera writes it
  ASSERT_TRUE(testing::write_file(path, bytes));
  Foto picture;
  const Status status = picture.load(path, 0, 0);
  EXPECT_EQ(load_failure_of(status), LoadFailure::unsupported_format) << status.message();
}

TEST_F(HeifDecoder, HugeDeclaredSizeFailsAtOnce) {
  // Beyond libheif's own limits, and within them but beyond any sane photo.
  for (const std::uint32_t side : {100000u, 40000u, 30000u}) {
    SCOPED_TRACE(side);
    const auto path = dir / "huge.heic";
    ASSERT_TRUE(write_heif(path, HeifSpec{}));
    std::string bytes = testing::read_file(path);
    const auto ispe = boxes_of(bytes, "ispe");
    ASSERT_FALSE(ispe.empty());
    // After the type: version and flags, then width and height.
    for (const std::size_t at : ispe) bytes.replace(at + 8, 8, big_endian(side) + big_endian(side));
    ASSERT_TRUE(testing::write_file(path, bytes));
    const auto start = std::chrono::steady_clock::now();
    for (const int max : {48, 0}) {
      Foto picture;
      const Status status = picture.load(path, max, max);
      EXPECT_FALSE(status.ok());
      EXPECT_EQ(load_failure_of(status), LoadFailure::too_large) << status.message();
      EXPECT_NE(status.message().find(std::to_string(side) + "x" + std::to_string(side)), std::string::npos)
          << status.message();
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  }
}

TEST_F(HeifDecoder, LargePictureAskedSmallIsKeptSmall) {
  HeifSpec spec;
  spec.width = 4352;  // 18 megapixels: beyond what loads whole
  spec.height = 4096;
  const auto path = dir / "large.heic";
  ASSERT_TRUE(write_heif(path, spec));
  const int factor = Foto::load_scale(path, 48, 48);
  EXPECT_GT(factor, 1);
  Foto picture;
  ASSERT_TRUE(picture.load(path, 48, 48).ok());
  EXPECT_EQ(picture.width(), (4352 + factor - 1) / factor);
  EXPECT_EQ(picture.height(), (4096 + factor - 1) / factor);
  EXPECT_GE(picture.width(), 48);
  EXPECT_TRUE(near(picture.at(picture.width() / 2, picture.height() / 2), spec.colour));
  EXPECT_EQ(Foto::load_scale(path, 0, 0), 1);
}

}  // namespace
}  // namespace tess
