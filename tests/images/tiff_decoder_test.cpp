// SPDX-License-Identifier: GPL-3.0-or-later
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cctype>
#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "decoder_testing.hpp"
#include <tiffio.h>

#include "image_files.hpp"
#include "images/foto.hpp"
#include "images/load_failure.hpp"
#include "images/picture_colour.hpp"
#include "images/picture_decoders.hpp"
#include "support/test_support.hpp"

namespace tess {
namespace {

using testing::TempDir;

// The value of sample s of pixel (x, y), at the file's bit depth.
using SampleValue = std::function<std::uint32_t(std::uint32_t x, std::uint32_t y, int s)>;

struct TiffSpec {
  std::uint32_t width = 8;
  std::uint32_t height = 6;
  int samples = 3;
  int bits = 8;
  int photometric = PHOTOMETRIC_RGB;
  int extra = -1;  // the EXTRASAMPLES value of a last extra sample; -1: none
  int planar = PLANARCONFIG_CONTIG;
  int compression = COMPRESSION_NONE;
  std::uint32_t tile = 0;  // tile side; 0 for strips
  std::uint32_t rows_per_strip = 2;
  int orientation = 0;  // 0 writes none
  std::vector<std::uint8_t> icc;
  bool palette = false;  // 8-bit palette of grey ramps: entry i is (i, 255 - i, 128)
  bool directory_first = false;  // the directory before the data, so a cut file keeps it
  SampleValue value;
};

struct TiffClose {
  void operator()(TIFF* tif) const { TIFFClose(tif); }
};

bool write_page(TIFF* tif, const TiffSpec& spec) {
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, spec.width);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, spec.height);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, spec.samples);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, spec.bits);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, spec.photometric);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, spec.planar);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, spec.compression);
  if (spec.photometric == PHOTOMETRIC_SEPARATED) TIFFSetField(tif, TIFFTAG_INKSET, INKSET_CMYK);
  if (spec.extra >= 0) {
    const std::uint16_t extra = static_cast<std::uint16_t>(spec.extra);
    TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, &extra);
  }
  if (spec.orientation > 0) TIFFSetField(tif, TIFFTAG_ORIENTATION, spec.orientation);
  if (!spec.icc.empty()) TIFFSetField(tif, TIFFTAG_ICCPROFILE, static_cast<std::uint32_t>(spec.icc.size()), spec.icc.data());
  std::vector<std::uint16_t> red(256), green(256), blue(256);
  if (spec.palette) {
    for (int i = 0; i < 256; ++i) {
      red[i] = static_cast<std::uint16_t>(i * 257);
      green[i] = static_cast<std::uint16_t>((255 - i) * 257);
      blue[i] = 128 * 257;
    }
    TIFFSetField(tif, TIFFTAG_COLORMAP, red.data(), green.data(), blue.data());
  }
  const std::uint32_t piece_w = spec.tile > 0 ? spec.tile : spec.width;
  const std::uint32_t piece_h = spec.tile > 0 ? spec.tile : spec.rows_per_strip;
  if (spec.tile > 0) {
    TIFFSetField(tif, TIFFTAG_TILEWIDTH, spec.tile);
    TIFFSetField(tif, TIFFTAG_TILELENGTH, spec.tile);
  } else {
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, spec.rows_per_strip);
  }
  if (spec.directory_first) {
    if (TIFFDeferStrileArrayWriting(tif) != 1 || TIFFWriteCheck(tif, spec.tile > 0, "test") != 1 ||
        TIFFWriteDirectory(tif) != 1 || TIFFSetDirectory(tif, 0) != 1)
      return false;
  }
  const bool contig = spec.planar == PLANARCONFIG_CONTIG;
  const int per_pixel = contig ? spec.samples : 1;
  const std::size_t bytes = static_cast<std::size_t>(spec.bits / 8);
  std::vector<std::uint8_t> piece(piece_w * piece_h * static_cast<std::size_t>(per_pixel) * bytes);
  for (int plane = 0; plane < (contig ? 1 : spec.samples); ++plane) {
    for (std::uint32_t top = 0; top < spec.height; top += piece_h) {
      for (std::uint32_t left = 0; left < spec.width; left += piece_w) {
        std::fill(piece.begin(), piece.end(), 0);
        for (std::uint32_t y = 0; y < piece_h && top + y < spec.height; ++y)
          for (std::uint32_t x = 0; x < piece_w && left + x < spec.width; ++x)
            for (int s = 0; s < per_pixel; ++s) {
              const std::uint32_t v = spec.value(left + x, top + y, contig ? s : plane);
              const std::size_t at = ((y * piece_w + x) * static_cast<std::size_t>(per_pixel) + s) * bytes;
              if (bytes == 1) {
                piece[at] = static_cast<std::uint8_t>(v);
              } else {
                const auto wide = static_cast<std::uint16_t>(v);
                std::memcpy(&piece[at], &wide, 2);
              }
            }
        const std::uint32_t rows = std::min(piece_h, spec.height - top);
        const auto size = static_cast<tmsize_t>(spec.tile > 0 ? piece.size() : piece_w * rows * per_pixel * bytes);
        const auto sample = static_cast<std::uint16_t>(plane);
        const bool ok = spec.tile > 0
                            ? TIFFWriteEncodedTile(tif, TIFFComputeTile(tif, left, top, 0, sample), piece.data(), size) >= 0
                            : TIFFWriteEncodedStrip(tif, TIFFComputeStrip(tif, top, sample), piece.data(), size) >= 0;
        if (!ok) return false;
      }
    }
  }
  return spec.directory_first ? TIFFForceStrileArrayWriting(tif) == 1 : TIFFWriteDirectory(tif) == 1;
}

bool write_tiff(const std::filesystem::path& path, const std::vector<TiffSpec>& pages, bool big = false) {
  std::unique_ptr<TIFF, TiffClose> tif(TIFFOpen(path.c_str(), big ? "w8" : "w"));
  if (!tif) return false;
  for (const TiffSpec& page : pages)
    if (!write_page(tif.get(), page)) return false;
  return true;
}
bool write_tiff(const std::filesystem::path& path, const TiffSpec& spec) {
  return write_tiff(path, std::vector<TiffSpec>{spec});
}

SampleValue flat(std::vector<std::uint32_t> values) {
  return [values](std::uint32_t, std::uint32_t, int s) { return values[static_cast<std::size_t>(s)]; };
}

bool near(std::uint32_t pixel, std::uint32_t expected, int tolerance = 2) {
  auto close = [&](std::uint32_t a, std::uint32_t b) {
    return std::abs(static_cast<int>(a) - static_cast<int>(b)) <= tolerance;
  };
  return close(pixel_red(pixel), pixel_red(expected)) && close(pixel_green(pixel), pixel_green(expected)) &&
         close(pixel_blue(pixel), pixel_blue(expected)) &&
         close(pixel_transparency(pixel), pixel_transparency(expected));
}

std::vector<std::uint8_t> file_bytes(const std::filesystem::path& path) {
  const std::string text = testing::read_file(path);
  return {text.begin(), text.end()};
}

struct LayoutCase {
  const char* name;
  TiffSpec spec;
  std::uint32_t expected;
};

void PrintTo(const LayoutCase& c, std::ostream* os) { *os << c.name; }

class TiffLayouts : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(TiffLayouts, DecodeToTheFlatColourTheyHold) {
  TempDir dir;
  const LayoutCase& c = GetParam();
  const auto path = dir / "picture.tif";
  ASSERT_TRUE(write_tiff(path, c.spec));
  Foto foto;
  const Status status = foto.load(path, 0, 0);
  ASSERT_TRUE(status.ok()) << c.name << ": " << status.message();
  ASSERT_EQ(foto.width(), static_cast<int>(c.spec.width));
  ASSERT_EQ(foto.height(), static_cast<int>(c.spec.height));
  for (const auto& [x, y] : {std::pair{0, 0}, std::pair{foto.width() - 1, foto.height() - 1}, std::pair{3, 2}})
    EXPECT_TRUE(near(foto.at(x, y), c.expected)) << c.name << " at " << x << "," << y << ": " << std::hex
                                                  << foto.at(x, y);
}

TiffSpec layout(int samples, int bits, int photometric, std::vector<std::uint32_t> values) {
  TiffSpec spec;
  spec.samples = samples;
  spec.bits = bits;
  spec.photometric = photometric;
  spec.value = flat(std::move(values));
  return spec;
}

template <typename Change>
TiffSpec with(TiffSpec spec, Change change) {
  change(spec);
  return spec;
}

INSTANTIATE_TEST_SUITE_P(
    Tiff, TiffLayouts,
    ::testing::Values(
        LayoutCase{"rgb8", layout(3, 8, PHOTOMETRIC_RGB, {200, 100, 50}), make_pixel(200, 100, 50)},
        LayoutCase{"rgb16", layout(3, 16, PHOTOMETRIC_RGB, {200 * 257, 100 * 257, 50 * 257}), make_pixel(200, 100, 50)},
        LayoutCase{"grey min-is-black", layout(1, 8, PHOTOMETRIC_MINISBLACK, {60}), make_pixel(60, 60, 60)},
        LayoutCase{"grey min-is-white", layout(1, 8, PHOTOMETRIC_MINISWHITE, {60}), make_pixel(195, 195, 195)},
        LayoutCase{"grey16 min-is-white", layout(1, 16, PHOTOMETRIC_MINISWHITE, {60 * 257}), make_pixel(195, 195, 195)},
        LayoutCase{"palette", with(layout(1, 8, PHOTOMETRIC_PALETTE, {40}), [](TiffSpec& s) { s.palette = true; }),
                   make_pixel(40, 215, 128)},
        LayoutCase{"cmyk naive", layout(4, 8, PHOTOMETRIC_SEPARATED, {0, 255, 255, 0}), make_pixel(255, 0, 0)},
        LayoutCase{"cmyk16 with black", layout(4, 16, PHOTOMETRIC_SEPARATED, {0, 0, 0, 128 * 257}),
                   make_pixel(127, 127, 127)},
        LayoutCase{"cmyk planes", with(layout(4, 8, PHOTOMETRIC_SEPARATED, {255, 0, 255, 0}),
                                       [](TiffSpec& s) { s.planar = PLANARCONFIG_SEPARATE; }),
                   make_pixel(0, 255, 0)},
        LayoutCase{"cmyk tiles", with(layout(4, 8, PHOTOMETRIC_SEPARATED, {255, 255, 0, 0}),
                                      [](TiffSpec& s) {
                                        s.width = 40;
                                        s.height = 20;
                                        s.tile = 16;
                                      }),
                   make_pixel(0, 0, 255)},
        LayoutCase{"cmyk unassociated alpha", with(layout(5, 8, PHOTOMETRIC_SEPARATED, {0, 255, 255, 0, 64}),
                                                   [](TiffSpec& s) { s.extra = EXTRASAMPLE_UNASSALPHA; }),
                   make_pixel(255, 0, 0, 191)},
        LayoutCase{"rgb unassociated alpha", with(layout(4, 8, PHOTOMETRIC_RGB, {200, 100, 50, 128}),
                                                  [](TiffSpec& s) { s.extra = EXTRASAMPLE_UNASSALPHA; }),
                   make_pixel(200, 100, 50, 127)},
        // Stored multiplied by alpha: 100 of 200 at half opacity.
        LayoutCase{"rgb associated alpha", with(layout(4, 8, PHOTOMETRIC_RGB, {100, 50, 25, 128}),
                                                [](TiffSpec& s) { s.extra = EXTRASAMPLE_ASSOCALPHA; }),
                   make_pixel(199, 100, 50, 127)},
        LayoutCase{"rgb16 associated alpha", with(layout(4, 16, PHOTOMETRIC_RGB, {100 * 257, 50 * 257, 0, 128 * 257}),
                                                  [](TiffSpec& s) { s.extra = EXTRASAMPLE_ASSOCALPHA; }),
                   make_pixel(199, 100, 0, 127)},
        LayoutCase{"grey alpha fully transparent", with(layout(2, 8, PHOTOMETRIC_MINISBLACK, {90, 0}),
                                                        [](TiffSpec& s) { s.extra = EXTRASAMPLE_UNASSALPHA; }),
                   kEmptyPixel},
        LayoutCase{"rgb tiles", with(layout(3, 8, PHOTOMETRIC_RGB, {10, 20, 30}),
                                     [](TiffSpec& s) {
                                       s.width = 50;
                                       s.height = 35;
                                       s.tile = 16;
                                     }),
                   make_pixel(10, 20, 30)},
        LayoutCase{"rgb planes deflate", with(layout(3, 8, PHOTOMETRIC_RGB, {10, 20, 30}),
                                              [](TiffSpec& s) {
                                                s.planar = PLANARCONFIG_SEPARATE;
                                                s.compression = COMPRESSION_ADOBE_DEFLATE;
                                              }),
                   make_pixel(10, 20, 30)},
        LayoutCase{"rgb lzw", with(layout(3, 8, PHOTOMETRIC_RGB, {1, 2, 3}),
                                   [](TiffSpec& s) { s.compression = COMPRESSION_LZW; }),
                   make_pixel(1, 2, 3)}),
    [](const ::testing::TestParamInfo<LayoutCase>& info) {
      std::string name = info.param.name;
      for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
      return name;
    });

// Rows and columns must land where they belong, not only a flat colour.
TEST(Tiff, PixelsKeepTheirPlacesInStripsAndTiles) {
  TempDir dir;
  for (const std::uint32_t tile : {0u, 16u}) {
    TiffSpec spec = layout(3, 8, PHOTOMETRIC_RGB, {});
    spec.width = 37;
    spec.height = 23;
    spec.rows_per_strip = 5;
    spec.tile = tile;
    spec.value = [](std::uint32_t x, std::uint32_t y, int s) { return s == 0 ? x : s == 1 ? y : 7u; };
    const auto path = dir / "gradient.tif";
    ASSERT_TRUE(write_tiff(path, spec));
    Foto foto;
    ASSERT_TRUE(foto.load(path, 0, 0).ok());
    for (int y = 0; y < foto.height(); ++y)
      for (int x = 0; x < foto.width(); ++x)
        ASSERT_EQ(foto.at(x, y), make_pixel(static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(y), 7))
            << "tile " << tile << " at " << x << "," << y;
  }
}

TEST(Tiff, CmykProfileTurnsInksIntoColoursAndIsNotPassedOn) {
  const std::filesystem::path profile_path = "/usr/share/color/icc/ghostscript/default_cmyk.icc";
  if (!std::filesystem::exists(profile_path)) GTEST_SKIP() << "no CMYK profile installed";
  TempDir dir;
  const std::vector<std::uint8_t> profile = file_bytes(profile_path);
  const std::uint8_t inks[4] = {20, 180, 200, 10};
  std::uint32_t expected = 0;
  ASSERT_TRUE(cmyk_to_srgb(profile, inks, &expected, 1, false));
  TiffSpec spec = layout(4, 8, PHOTOMETRIC_SEPARATED, {inks[0], inks[1], inks[2], inks[3]});
  spec.icc = profile;
  const auto path = dir / "cmyk.tif";
  ASSERT_TRUE(write_tiff(path, spec));
  Foto foto;
  PictureColour colour;
  ASSERT_TRUE(testing::decode_with(PictureFormat::tiff, path, foto, colour, 0, 0).ok());
  EXPECT_TRUE(near(foto.at(1, 1), expected, 0)) << std::hex << foto.at(1, 1) << " " << expected;
  EXPECT_TRUE(colour.icc.empty());
  // The naive conversion would give something else: the profile did count.
  EXPECT_FALSE(near(foto.at(1, 1), make_pixel(231, 74, 54), 4));
}

TEST(Tiff, RgbProfileIsHandedBack) {
  TempDir dir;
  TiffSpec spec = layout(3, 8, PHOTOMETRIC_RGB, {1, 2, 3});
  const auto srgb = srgb_icc_profile();
  spec.icc.assign(srgb.begin(), srgb.end());
  const auto path = dir / "rgb.tif";
  ASSERT_TRUE(write_tiff(path, spec));
  Foto foto;
  PictureColour colour;
  ASSERT_TRUE(testing::decode_with(PictureFormat::tiff, path, foto, colour, 0, 0).ok());
  EXPECT_EQ(colour.icc, spec.icc);
}

TEST(Tiff, OrientationTurnsThePictureAndItsSize) {
  TempDir dir;
  // Stored 4 wide and 2 high, the top-left pixel red: orientation 6 turns it
  // a quarter clockwise, so it is seen 2 wide and 4 high, red at the top right.
  TiffSpec spec = layout(3, 8, PHOTOMETRIC_RGB, {});
  spec.width = 4;
  spec.height = 2;
  spec.orientation = ORIENTATION_RIGHTTOP;
  spec.value = [](std::uint32_t x, std::uint32_t y, int s) { return x == 0 && y == 0 ? (s == 0 ? 255u : 0u) : 0u; };
  const auto path = dir / "turned.tif";
  ASSERT_TRUE(write_tiff(path, spec));
  int width = 0, height = 0;
  ASSERT_TRUE(Foto::read_size(path, width, height));
  EXPECT_EQ(width, 2);
  EXPECT_EQ(height, 4);
  Foto foto;
  ASSERT_TRUE(foto.load(path, 0, 0).ok());
  ASSERT_EQ(foto.width(), 2);
  ASSERT_EQ(foto.height(), 4);
  EXPECT_EQ(foto.at(1, 0), make_pixel(255, 0, 0));
  EXPECT_EQ(foto.at(0, 0), make_pixel(0, 0, 0));
}

TEST(Tiff, FirstPageOfMany) {
  TempDir dir;
  const auto path = dir / "pages.tif";
  TiffSpec first = layout(3, 8, PHOTOMETRIC_RGB, {255, 0, 0});
  TiffSpec second = layout(3, 8, PHOTOMETRIC_RGB, {0, 0, 255});
  second.width = 20;
  ASSERT_TRUE(write_tiff(path, {first, second}));
  Foto foto;
  ASSERT_TRUE(foto.load(path, 0, 0).ok());
  EXPECT_EQ(foto.width(), 8);
  EXPECT_EQ(foto.at(0, 0), make_pixel(255, 0, 0));
}

TEST(Tiff, BigTiffReads) {
  TempDir dir;
  const auto path = dir / "big.tif";
  ASSERT_TRUE(write_tiff(path, {layout(3, 8, PHOTOMETRIC_RGB, {9, 8, 7})}, true));
  Foto foto;
  ASSERT_TRUE(foto.load(path, 0, 0).ok());
  EXPECT_EQ(foto.at(2, 2), make_pixel(9, 8, 7));
}

// Larger than an ordinary photo and asked for small: shrunk as it is read,
// never below the size asked for, with the factor load_scale names.
TEST(Tiff, LargePictureShrinksWhileRead) {
  TempDir dir;
  TiffSpec spec = layout(1, 8, PHOTOMETRIC_MINISBLACK, {77});
  spec.width = 4200;
  spec.height = 4100;
  spec.rows_per_strip = 64;
  spec.compression = COMPRESSION_ADOBE_DEFLATE;
  const auto path = dir / "large.tif";
  ASSERT_TRUE(write_tiff(path, spec));
  const int factor = Foto::load_scale(path, 500, 400);
  EXPECT_GT(factor, 1);
  EXPECT_EQ(Foto::load_scale(path, 0, 0), 1);
  Foto foto;
  ASSERT_TRUE(foto.load(path, 500, 400).ok());
  EXPECT_EQ(foto.width(), (4200 + factor - 1) / factor);
  EXPECT_EQ(foto.height(), (4100 + factor - 1) / factor);
  EXPECT_GE(foto.width(), 500);
  EXPECT_GE(foto.height(), 400);
  EXPECT_EQ(foto.at(foto.width() - 1, foto.height() - 1), make_pixel(77, 77, 77));
}

// A header declaring 100000 × 100000 pixels in a file of a few hundred
// bytes fails at once, whatever size it is asked for.
TEST(Tiff, HostileHeaderFailsFast) {
  TempDir dir;
  for (const int compression : {COMPRESSION_NONE, COMPRESSION_ADOBE_DEFLATE}) {
    TiffSpec spec = layout(3, 8, PHOTOMETRIC_RGB, {1, 2, 3});
    spec.compression = compression;
    const auto path = dir / "liar.tif";
    ASSERT_TRUE(write_tiff(path, spec));
    std::unique_ptr<TIFF, TiffClose> tif(TIFFOpen(path.c_str(), "r+"));
    ASSERT_TRUE(tif);
    TIFFSetField(tif.get(), TIFFTAG_IMAGEWIDTH, 100000u);
    TIFFSetField(tif.get(), TIFFTAG_IMAGELENGTH, 100000u);
    TIFFSetField(tif.get(), TIFFTAG_ROWSPERSTRIP, 100000u);
    ASSERT_EQ(TIFFRewriteDirectory(tif.get()), 1);
    tif.reset();
    for (const int max : {0, 200}) {
      const auto start = std::chrono::steady_clock::now();
      Foto foto;
      const Status status = foto.load(path, max, max);
      EXPECT_FALSE(status.ok());
      const LoadFailure kind = load_failure_of(status);
      EXPECT_TRUE(kind == LoadFailure::damaged || kind == LoadFailure::too_large) << status.message();
      EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    }
  }
}

TEST(Tiff, TruncatedStripsAreDamaged) {
  TempDir dir;
  for (const int compression : {COMPRESSION_NONE, COMPRESSION_ADOBE_DEFLATE}) {
    TiffSpec spec = layout(3, 8, PHOTOMETRIC_RGB, {});
    spec.width = 64;
    spec.height = 64;
    spec.rows_per_strip = 8;
    spec.compression = compression;
    spec.value = [](std::uint32_t x, std::uint32_t y, int s) { return (x * 7 + y * 13 + static_cast<std::uint32_t>(s) * 5) & 255; };
    spec.directory_first = true;
    const auto path = dir / "cut.tif";
    ASSERT_TRUE(write_tiff(path, spec));
    Foto whole;
    ASSERT_TRUE(whole.load(path, 0, 0).ok());
    const std::size_t size = std::filesystem::file_size(path);
    ASSERT_TRUE(testing::truncate_file(path, size - (compression == COMPRESSION_NONE ? 5000 : 200)));
    Foto foto;
    const Status status = foto.load(path, 0, 0);
    EXPECT_FALSE(status.ok()) << compression;
    EXPECT_EQ(load_failure_of(status), LoadFailure::damaged) << status.message();
  }
}

TEST(Tiff, ReadsAnyBytesWithoutHarm) {
  TempDir dir;
  const auto path = dir / "noise.tif";
  for (unsigned seed = 1; seed <= 20; ++seed) {
    ASSERT_TRUE(testing::write_random_bytes(path, 300, seed));
    ASSERT_TRUE(testing::overwrite_bytes(path, 0, std::string("II*\0", 4)));
    Foto foto;
    int width = 0, height = 0;
    (void)Foto::read_size(path, width, height);
    (void)Foto::load_scale(path, 100, 100);
    EXPECT_FALSE(foto.load(path, 0, 0).ok());
  }
}

}  // namespace
}  // namespace tess
