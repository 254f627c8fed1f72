// SPDX-License-Identifier: GPL-3.0-or-later
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <tiffio.h>

#include "images/foto.hpp"
#include "images/load_failure.hpp"
#include "support/test_support.hpp"

namespace tess {
namespace {

using testing::TempDir;

struct TiffClose {
  void operator()(TIFF* tif) const { TIFFClose(tif); }
};

// A linear DNG of a camera whose colours are sRGB's own primaries: the left
// half a colour in linear light, the right half at the white level (so that
// the development's automatic brightening leaves the colour where it is).
struct DngSpec {
  int width = 64;
  int height = 48;
  int orientation = 0;  // 0 writes none
  double linear[3] = {0.5, 0.2, 0.05};
  // A JPEG preview of this size in the main directory, the raw picture in
  // a sub-directory, as cameras write them; 0 writes none.
  int preview_w = 0;
  int preview_h = 0;
};

// The preview: flat green, so that it is told from the developed picture.
bool write_preview(TIFF* t, const DngSpec& spec) {
  TIFFSetField(t, TIFFTAG_SUBFILETYPE, FILETYPE_REDUCEDIMAGE);
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, spec.preview_w);
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, spec.preview_h);
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 3);
  TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_JPEG);
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_YCBCR);
  TIFFSetField(t, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
  TIFFSetField(t, TIFFTAG_JPEGTABLESMODE, 0);  // the strip is a JPEG file of its own
  TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, spec.preview_h);
  std::vector<std::uint8_t> row(static_cast<std::size_t>(spec.preview_w) * 3);
  for (std::size_t i = 0; i < row.size(); i += 3) {
    row[i] = 0;
    row[i + 1] = 200;
    row[i + 2] = 0;
  }
  for (int y = 0; y < spec.preview_h; ++y)
    if (TIFFWriteScanline(t, row.data(), static_cast<std::uint32_t>(y), 0) != 1) return false;
  return true;
}

bool write_dng(const std::filesystem::path& path, const DngSpec& spec) {
  std::unique_ptr<TIFF, TiffClose> tif(TIFFOpen(path.c_str(), "w"));
  if (!tif) return false;
  TIFF* t = tif.get();
  static const std::uint8_t kVersion[4] = {1, 4, 0, 0};
  // XYZ (D65) to linear sRGB: a camera that sees as sRGB does.
  static const float kXyzToCamera[9] = {3.2406f, -1.5372f, -0.4986f, -0.9689f, 1.8758f,
                                        0.0415f, 0.0557f,  -0.2040f, 1.0570f};
  static const float kNeutral[3] = {1, 1, 1};
  // The camera's tags, in the directory that opens the file.
  const auto camera_tags = [&] {
    if (spec.orientation > 0) TIFFSetField(t, TIFFTAG_ORIENTATION, spec.orientation);
    TIFFSetField(t, TIFFTAG_MAKE, "Tessellarium");
    TIFFSetField(t, TIFFTAG_MODEL, "Test Camera");
    TIFFSetField(t, TIFFTAG_DNGVERSION, kVersion);
    TIFFSetField(t, TIFFTAG_DNGBACKWARDVERSION, kVersion);
    TIFFSetField(t, TIFFTAG_UNIQUECAMERAMODEL, "Tessellarium Test Camera");
    TIFFSetField(t, TIFFTAG_COLORMATRIX1, 9, kXyzToCamera);
    TIFFSetField(t, TIFFTAG_CALIBRATIONILLUMINANT1, 21);  // D65
    TIFFSetField(t, TIFFTAG_ASSHOTNEUTRAL, 3, kNeutral);
  };
  camera_tags();
  if (spec.preview_w > 0) {
    toff_t sub_directory = 0;
    TIFFSetField(t, TIFFTAG_SUBIFD, 1, &sub_directory);
    if (!write_preview(t, spec) || TIFFWriteDirectory(t) != 1) return false;
  }
  TIFFSetField(t, TIFFTAG_SUBFILETYPE, 0);
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, spec.width);
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, spec.height);
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 16);
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 3);
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, 34892);  // linear raw
  TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
  TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, spec.height);
  if (spec.preview_w == 0) camera_tags();
  std::vector<std::uint16_t> row(static_cast<std::size_t>(spec.width) * 3);
  for (int x = 0; x < spec.width; ++x)
    for (int s = 0; s < 3; ++s)
      row[static_cast<std::size_t>(x) * 3 + s] =
          x < spec.width / 2 ? static_cast<std::uint16_t>(spec.linear[s] * 65535) : 65535;
  for (int y = 0; y < spec.height; ++y)
    if (TIFFWriteScanline(t, row.data(), static_cast<std::uint32_t>(y), 0) != 1) return false;
  return TIFFWriteDirectory(t) == 1;
}

// sRGB's encoding of a linear value, 0 to 255.
int encoded(double linear) {
  const double v = linear <= 0.0031308 ? 12.92 * linear : 1.055 * std::pow(linear, 1 / 2.4) - 0.055;
  return static_cast<int>(v * 255 + 0.5);
}

TEST(Raw, LinearDngDevelopsToItsColours) {
  TempDir dir;
  const DngSpec spec;
  const auto path = dir / "flat.dng";
  ASSERT_TRUE(write_dng(path, spec));
  int width = 0, height = 0;
  ASSERT_TRUE(Foto::read_size(path, width, height));
  Foto foto;
  const Status status = foto.load(path, 0, 0);
  ASSERT_TRUE(status.ok()) << status.message();
  EXPECT_EQ(foto.width(), width);
  EXPECT_EQ(foto.height(), height);
  EXPECT_EQ(Foto::load_scale(path, 0, 0), 1);
  const std::uint32_t colour = foto.at(foto.width() / 8, foto.height() / 2);
  const std::uint32_t white = foto.at(foto.width() - 2, foto.height() / 2);
  // The development's tone curve is not exactly sRGB's: roughly right is enough.
  EXPECT_NEAR(static_cast<int>(pixel_red(colour)), encoded(spec.linear[0]), 20) << std::hex << colour;
  EXPECT_NEAR(static_cast<int>(pixel_green(colour)), encoded(spec.linear[1]), 20) << std::hex << colour;
  EXPECT_NEAR(static_cast<int>(pixel_blue(colour)), encoded(spec.linear[2]), 20) << std::hex << colour;
  EXPECT_EQ(pixel_transparency(colour), 0u);
  EXPECT_GE(pixel_red(white), 240u);
  EXPECT_GE(pixel_blue(white), 240u);
}

TEST(Raw, OrientationTurnsTheDevelopedPictureAndItsSize) {
  TempDir dir;
  DngSpec spec;
  spec.orientation = 6;  // a quarter clockwise: the coloured left half comes out on top
  const auto path = dir / "turned.dng";
  ASSERT_TRUE(write_dng(path, spec));
  int width = 0, height = 0;
  ASSERT_TRUE(Foto::read_size(path, width, height));
  Foto foto;
  ASSERT_TRUE(foto.load(path, 0, 0).ok());
  EXPECT_EQ(foto.width(), width);
  EXPECT_EQ(foto.height(), height);
  EXPECT_LT(foto.width(), foto.height());
  EXPECT_LT(pixel_blue(foto.at(foto.width() / 2, 2)), 100u);
  EXPECT_GE(pixel_blue(foto.at(foto.width() / 2, foto.height() - 3)), 240u);
}

// The preview serves the requests it covers, as seen, and only those; the
// factor tells the two pictures apart.
TEST(Raw, PreviewServesSmallRequests) {
  TempDir dir;
  DngSpec spec;
  spec.preview_w = 48;
  spec.preview_h = 32;
  const auto path = dir / "preview.dng";
  ASSERT_TRUE(write_dng(path, spec));
  Foto foto;
  Status status = foto.load(path, 40, 30);
  ASSERT_TRUE(status.ok()) << status.message();
  EXPECT_EQ(foto.width(), 48);
  EXPECT_EQ(foto.height(), 32);
  const std::uint32_t green = foto.at(20, 16);
  EXPECT_LT(pixel_red(green), 30u);
  EXPECT_GT(pixel_green(green), 170u);
  const int preview_factor = Foto::load_scale(path, 40, 30);
  EXPECT_GT(preview_factor, 1);

  for (const auto& [max_w, max_h] : {std::pair{60, 30}, std::pair{0, 0}, std::pair{40, 0}}) {
    ASSERT_TRUE(foto.load(path, max_w, max_h).ok());
    EXPECT_EQ(foto.width(), 64);
    EXPECT_EQ(foto.height(), 48);
    EXPECT_EQ(Foto::load_scale(path, max_w, max_h), 1);
    EXPECT_GT(pixel_red(foto.at(5, 20)), 150u);  // developed: the raw picture's colour
  }
}

TEST(Raw, FilesLibRawCannotUseFailByKind) {
  TempDir dir;
  // An ordinary TIFF named as a Nikon file: LibRaw knows no camera in it.
  const auto nef = dir / "picture.nef";
  {
    std::unique_ptr<TIFF, TiffClose> tif(TIFFOpen(nef.c_str(), "w"));
    ASSERT_TRUE(tif);
    TIFFSetField(tif.get(), TIFFTAG_IMAGEWIDTH, 16);
    TIFFSetField(tif.get(), TIFFTAG_IMAGELENGTH, 8);
    TIFFSetField(tif.get(), TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tif.get(), TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(tif.get(), TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    std::vector<std::uint8_t> row(48, 100);
    for (std::uint32_t y = 0; y < 8; ++y) ASSERT_EQ(TIFFWriteScanline(tif.get(), row.data(), y, 0), 1);
  }
  Foto foto;
  Status status = foto.load(nef, 0, 0);
  EXPECT_FALSE(status.ok());
  EXPECT_EQ(load_failure_of(status), LoadFailure::camera_not_supported) << status.message();
  EXPECT_TRUE(foto.empty());
  int width = 0, height = 0;
  EXPECT_FALSE(Foto::read_size(nef, width, height));
  EXPECT_EQ(Foto::load_scale(nef, 100, 100), 0);

  // A DNG cut short, and noise behind a RAF signature.
  DngSpec spec;
  const auto cut = dir / "cut.dng";
  ASSERT_TRUE(write_dng(cut, spec));
  ASSERT_TRUE(testing::write_file(cut, testing::read_file(cut).substr(0, 200)));
  status = foto.load(cut, 0, 0);
  EXPECT_FALSE(status.ok());
  const LoadFailure kind = load_failure_of(status);
  EXPECT_TRUE(kind == LoadFailure::damaged || kind == LoadFailure::camera_not_supported) << status.message();

  const auto raf = dir / "noise.raf";
  std::string noise = "FUJIFILMCCD-RAW 0201FF383501";
  for (int i = 0; i < 2000; ++i) noise.push_back(static_cast<char>((i * 7919) & 0xFF));
  ASSERT_TRUE(testing::write_file(raf, noise));
  EXPECT_FALSE(foto.load(raf, 0, 0).ok());
  EXPECT_FALSE(foto.load(raf, 100, 100).ok());
}

}  // namespace
}  // namespace tess
