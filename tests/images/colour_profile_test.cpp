// SPDX-License-Identifier: GPL-3.0-or-later
// Pictures come out in sRGB whatever colour space their file declares: each
// expected colour was computed independently, with Pillow's ImageCms (Little
// CMS) and the relative colorimetric intent, from the same profile and
// samples (tests/images/reference_colours.py prints them again). HEIF is
// coded lossy even at its best quality: its colours are within the same
// 3 levels.

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <lcms2.h>

#include "image_files.hpp"
#include "images/foto.hpp"
#include "images/load_failure.hpp"
#include "images/picture_colour.hpp"
#include "support/test_support.hpp"

namespace tess {
namespace {

using testing::JpegSpec;
using testing::PngSpec;
using testing::TempDir;

const std::filesystem::path kProfiles = "/usr/share/color/icc";

std::vector<std::uint8_t> file_bytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A Display P3 profile made from its primaries, as phones describe it.
std::vector<std::uint8_t> display_p3_profile() {
  const cmsCIExyY white{0.3127, 0.3290, 1.0};
  const cmsCIExyYTRIPLE primaries{{0.680, 0.320, 1.0}, {0.265, 0.690, 1.0}, {0.150, 0.060, 1.0}};
  const cmsFloat64Number srgb_curve[5] = {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045};
  cmsToneCurve* curve = cmsBuildParametricToneCurve(nullptr, 4, srgb_curve);
  cmsToneCurve* curves[3] = {curve, curve, curve};
  cmsHPROFILE profile = cmsCreateRGBProfile(&white, &primaries, curves);
  cmsFreeToneCurve(curve);
  cmsUInt32Number size = 0;
  cmsSaveProfileToMem(profile, nullptr, &size);
  std::vector<std::uint8_t> bytes(size);
  cmsSaveProfileToMem(profile, bytes.data(), &size);
  cmsCloseProfile(profile);
  return bytes;
}

// PNG and JPEG are written here; TIFF, WebP and HEIF are made from the PNG
// by independent writers (Pillow, heif-enc, cjxl), which carry its profile over.
enum class Kind { jpeg_rgb, jpeg_grey, jpeg_cmyk, png_rgb, png_grey, tiff_rgb, webp_rgb, heif_rgb, jxl_rgb };

struct ProfileCase {
  const char* name;
  Kind kind;
  std::string profile;  // a file under kProfiles, "p3" for the one built here, "srgb" for ours
  std::array<std::uint8_t, 4> samples;  // as the file stores them (CMYK inverted, as Adobe writes it)
  std::array<int, 3> expected;
};

const ProfileCase kCases[] = {
    {"jpeg_adobe_rgb", Kind::jpeg_rgb, "colord/AdobeRGB1998.icc", {200, 100, 50}, {227, 100, 42}},
    {"jpeg_prophoto", Kind::jpeg_rgb, "colord/ProPhotoRGB.icc", {200, 100, 50}, {255, 80, 47}},
    {"jpeg_swapped_red_green", Kind::jpeg_rgb, "colord/SwappedRedAndGreen.icc", {200, 100, 50}, {100, 200, 50}},
    {"jpeg_display_p3", Kind::jpeg_rgb, "p3", {200, 100, 50}, {215, 93, 31}},
    {"jpeg_grey", Kind::jpeg_grey, "Gray.icc", {100}, {168, 168, 168}},
    {"jpeg_cmyk", Kind::jpeg_cmyk, "ghostscript/default_cmyk.icc", {204, 102, 51, 229}, {188, 118, 79}},
    {"jpeg_srgb_unchanged", Kind::jpeg_rgb, "srgb", {200, 100, 50}, {200, 100, 50}},
    {"png_adobe_rgb", Kind::png_rgb, "colord/AdobeRGB1998.icc", {30, 180, 90}, {0, 181, 83}},
    {"png_display_p3", Kind::png_rgb, "p3", {30, 180, 90}, {0, 183, 78}},
    {"png_grey", Kind::png_grey, "ghostscript/sgray.icc", {100}, {119, 119, 119}},
    {"tiff_adobe_rgb", Kind::tiff_rgb, "colord/AdobeRGB1998.icc", {200, 100, 50}, {227, 100, 42}},
    {"webp_prophoto", Kind::webp_rgb, "colord/ProPhotoRGB.icc", {200, 100, 50}, {255, 80, 47}},
    {"heif_swapped_red_green", Kind::heif_rgb, "colord/SwappedRedAndGreen.icc", {200, 100, 50}, {100, 200, 50}},
    {"heif_display_p3", Kind::heif_rgb, "p3", {30, 180, 90}, {0, 183, 78}},
    {"jxl_adobe_rgb", Kind::jxl_rgb, "colord/AdobeRGB1998.icc", {30, 180, 90}, {0, 181, 83}},
};

// The command that turns the PNG at `png` into `out` for the kinds made by
// another program, and what to tell when that program is missing.
std::pair<std::string, const char*> converter(Kind kind, const std::string& png, const std::string& out) {
  if (kind == Kind::heif_rgb) return {"heif-enc -q 100 -o '" + out + "' '" + png + "'", "heif-enc (libheif-examples)"};
  if (kind == Kind::jxl_rgb) return {"cjxl -d 0 '" + png + "' '" + out + "'", "cjxl (libjxl-tools)"};
  const std::string options = kind == Kind::webp_rgb ? ", lossless=True" : "";
  return {"/usr/bin/python3 -c \"from PIL import Image; p = Image.open('" + png + "'); p.save('" + out +
              "', icc_profile=p.info['icc_profile']" + options + ")\"",
          "python3-pil"};
}

class ProfiledPicture : public ::testing::TestWithParam<ProfileCase> {
 protected:
  TempDir dir;
};

TEST_P(ProfiledPicture, ComesOutInSrgb) {
  const ProfileCase& c = GetParam();
  std::vector<std::uint8_t> profile;
  if (c.profile == "p3") {
    profile = display_p3_profile();
  } else if (c.profile == "srgb") {
    const auto ours = srgb_icc_profile();
    profile.assign(ours.begin(), ours.end());
  } else {
    if (!std::filesystem::exists(kProfiles / c.profile)) GTEST_SKIP() << "profile not installed: " << c.profile;
    profile = file_bytes(kProfiles / c.profile);
  }
  ASSERT_FALSE(profile.empty());
  const int components = c.kind == Kind::jpeg_cmyk ? 4 : (c.kind == Kind::jpeg_grey || c.kind == Kind::png_grey) ? 1 : 3;
  const int width = 24, height = 16;
  const bool png = c.kind == Kind::png_rgb || c.kind == Kind::png_grey;
  const bool made_elsewhere = c.kind >= Kind::tiff_rgb;
  std::filesystem::path path = dir.path() / (std::string(c.name) + (png || made_elsewhere ? ".png" : ".jpg"));
  if (png || made_elsewhere) {
    std::vector<std::vector<std::uint8_t>> rows(height);
    for (auto& row : rows)
      for (int x = 0; x < width; ++x) row.insert(row.end(), c.samples.begin(), c.samples.begin() + components);
    ASSERT_TRUE(testing::write_png(path, PngSpec(width, height, components == 1 ? 0 : 2).with_icc_profile(profile), rows));
  } else {
    ASSERT_TRUE(testing::write_jpeg(path, JpegSpec(width, height, components).with_icc_profile(profile).with_quality(100),
                                    [&](int, std::uint8_t* samples) {
                                      for (int x = 0; x < width; ++x)
                                        for (int k = 0; k < components; ++k) samples[x * components + k] = c.samples[k];
                                    }));
  }
  if (made_elsewhere) {
    const char* ending = c.kind == Kind::tiff_rgb   ? ".tif"
                         : c.kind == Kind::webp_rgb ? ".webp"
                         : c.kind == Kind::jxl_rgb  ? ".jxl"
                                                    : ".heic";
    const std::filesystem::path made = dir.path() / (std::string(c.name) + ending);
    const auto [command, tool] = converter(c.kind, path.string(), made.string());
    if (std::system((command + " >/dev/null 2>&1").c_str()) != 0) GTEST_SKIP() << tool << " could not write " << made;
    path = made;
  }
  Foto picture;
  ASSERT_TRUE(picture.load(path, 0, 0).ok());
  const std::uint32_t pixel = picture.at(width / 2, height / 2);
  const int tolerance = c.profile == "srgb" ? 0 : 3;
  EXPECT_NEAR(static_cast<int>(pixel_red(pixel)), c.expected[0], tolerance);
  EXPECT_NEAR(static_cast<int>(pixel_green(pixel)), c.expected[1], tolerance);
  EXPECT_NEAR(static_cast<int>(pixel_blue(pixel)), c.expected[2], tolerance);
  EXPECT_EQ(pixel_transparency(pixel), 0u);
}

INSTANTIATE_TEST_SUITE_P(Profiles, ProfiledPicture, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

// gAMA and cHRM: a gamma of 2.2 with sRGB's primaries (or none) is sRGB in
// intent and stays as it is; a linear picture is encoded as sRGB.
TEST(DescribedPng, GammaOtherThanSrgbIsConverted) {
  TempDir dir;
  const std::vector<std::vector<std::uint8_t>> rows(8, std::vector<std::uint8_t>(8 * 3, 128));
  const std::array<double, 8> srgb_primaries{0.3127, 0.3290, 0.64, 0.33, 0.30, 0.60, 0.15, 0.06};
  struct GammaCase {
    double gamma;
    std::optional<std::array<double, 8>> chromaticities;
    int expected;
  };
  // 128 in linear light is 0.502, which sRGB encodes as 1.055 × 0.502^(1/2.4) - 0.055 = 0.736.
  for (const GammaCase& g : {GammaCase{1 / 2.2, std::nullopt, 128}, GammaCase{1 / 2.2, srgb_primaries, 128},
                             GammaCase{1.0, std::nullopt, 188}}) {
    const auto path = dir.path() / "gamma.png";
    ASSERT_TRUE(testing::write_png(path, PngSpec(8, 8, 2).with_gamma(g.gamma, g.chromaticities), rows));
    Foto picture;
    ASSERT_TRUE(picture.load(path, 0, 0).ok());
    EXPECT_NEAR(static_cast<int>(pixel_green(picture.at(3, 3))), g.expected, 1) << "gamma " << g.gamma;
  }
}

// cICP names its primaries and transfer by their codes, and wins over any
// other description the file also carries for older readers.
TEST(DescribedPng, CodedPrimariesAndTransferAreConverted) {
  TempDir dir;
  const std::vector<std::vector<std::uint8_t>> rows(8, [] {
    std::vector<std::uint8_t> row;
    for (int x = 0; x < 8; ++x) row.insert(row.end(), {30, 180, 90});
    return row;
  }());
  PngSpec spec(8, 8, 2);
  spec.cicp = std::array<std::uint8_t, 4>{12, 13, 0, 1};  // Display P3, sRGB curve
  spec.file_gamma = 1 / 2.2;
  const auto path = dir.path() / "coded.png";
  ASSERT_TRUE(testing::write_png(path, spec, rows));
  Foto picture;
  ASSERT_TRUE(picture.load(path, 0, 0).ok());
  // As the Display P3 profile of the table above gives it.
  const std::uint32_t pixel = picture.at(4, 4);
  EXPECT_NEAR(static_cast<int>(pixel_red(pixel)), 0, 3);
  EXPECT_NEAR(static_cast<int>(pixel_green(pixel)), 183, 3);
  EXPECT_NEAR(static_cast<int>(pixel_blue(pixel)), 78, 3);
}

// A PNG turned by its eXIf chunk is straightened, and its size is told as seen.
TEST(DescribedPng, ExifOrientationTurnsThePicture) {
  TempDir dir;
  // 4 × 2: the left column red, the rest blue.
  std::vector<std::vector<std::uint8_t>> rows(2);
  for (auto& row : rows)
    for (int x = 0; x < 4; ++x) row.insert(row.end(), {std::uint8_t(x == 0 ? 255 : 0), 0, std::uint8_t(x == 0 ? 0 : 255)});
  const auto path = dir.path() / "turned.png";
  ASSERT_TRUE(testing::write_png(path, PngSpec(4, 2, 2).with_orientation(6), rows));
  int width = 0, height = 0;
  ASSERT_TRUE(Foto::read_size(path, width, height));
  EXPECT_EQ(width, 2);
  EXPECT_EQ(height, 4);
  Foto picture;
  ASSERT_TRUE(picture.load(path, 0, 0).ok());
  ASSERT_EQ(picture.width(), 2);
  ASSERT_EQ(picture.height(), 4);
  // Orientation 6 turns clockwise: the left column becomes the top row.
  EXPECT_EQ(picture.at(0, 0), make_pixel(255, 0, 0));
  EXPECT_EQ(picture.at(1, 0), make_pixel(255, 0, 0));
  EXPECT_EQ(picture.at(0, 3), make_pixel(0, 0, 255));
}

// What kind of failure a file that cannot be used is, whatever it is named.
TEST(LoadFailureKinds, TellUnsupportedDamagedAndUnreadable) {
  TempDir dir;
  const auto jpeg = dir.path() / "photo.jpg";
  ASSERT_TRUE(testing::write_jpeg(jpeg, JpegSpec(16, 16), [](int, std::uint8_t* s) { std::fill(s, s + 48, 90); }));
  // A JPEG named as a PNG is a JPEG: the contents decide.
  const auto renamed = dir.path() / "photo.png";
  std::filesystem::copy_file(jpeg, renamed);
  Foto picture;
  EXPECT_TRUE(picture.load(renamed, 0, 0).ok());
  // Debian's libjpeg decodes 8-bit samples only: a 12-bit frame is refused as a format.
  const auto deep = dir.path() / "deep.jpg";
  std::filesystem::copy_file(jpeg, deep);
  const std::string bytes = testing::read_file(deep);
  const std::size_t frame = testing::find_jpeg_marker(bytes, 0xC0);
  ASSERT_NE(frame, std::string::npos);
  ASSERT_TRUE(testing::overwrite_bytes(deep, frame + 4, std::string(1, '\x0C')));
  const Status twelve_bit = picture.load(deep, 0, 0);
  EXPECT_EQ(load_failure_of(twelve_bit), LoadFailure::unsupported_format);
  EXPECT_NE(twelve_bit.message().find("12-bit"), std::string::npos) << twelve_bit.message();

  ASSERT_TRUE(testing::write_file(dir.path() / "drawing.xcf", "gimp xcf file\0\0\0\0 of some layers"));
  ASSERT_TRUE(testing::write_file(dir.path() / "broken.jpg", "this is no picture at all"));
  ASSERT_TRUE(testing::truncate_file(jpeg, 300));
  struct KindCase {
    const char* file;
    LoadFailure kind;
    const char* reason;
  };
  for (const KindCase& k : {KindCase{"drawing.xcf", LoadFailure::unsupported_format, "unsupported format"},
                            KindCase{"broken.jpg", LoadFailure::damaged, "damaged"},
                            KindCase{"photo.jpg", LoadFailure::damaged, "damaged"},
                            KindCase{"missing.heic", LoadFailure::unreadable, "No such file or directory"}}) {
    const Status status = picture.load(dir.path() / k.file, 48, 48);
    EXPECT_EQ(load_failure_of(status), k.kind) << k.file << ": " << status.message();
    EXPECT_EQ(load_failure_reason(status), k.reason) << k.file;
    EXPECT_FALSE(status.message().empty()) << k.file;
    EXPECT_TRUE(picture.empty());
  }
}

}  // namespace
}  // namespace tess
