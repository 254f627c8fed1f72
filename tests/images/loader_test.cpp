#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <jpeglib.h>
#include <png.h>

#include "base/scripted_prompt.hpp"
#include "image_files.hpp"
#include "images/exif.hpp"
#include "images/foto.hpp"
#include "images/jpeg_decoder.hpp"
#include "support/test_support.hpp"

namespace tess {
namespace {

using testing::JpegSpec;
using testing::PngSpec;
using testing::TempDir;

constexpr std::uint32_t kRed = make_pixel(255, 0, 0);
constexpr std::uint32_t kBlue = make_pixel(0, 0, 255);

// A flat grey picture: quick to encode at any size.
testing::SampleRow flat_grey(int width, std::uint8_t value) {
  return [width, value](int, std::uint8_t* samples) { std::memset(samples, value, static_cast<std::size_t>(width)); };
}

bool near(std::uint32_t pixel, std::uint32_t expected, int tolerance = 3) {
  auto close = [&](std::uint32_t a, std::uint32_t b) {
    return std::abs(static_cast<int>(a) - static_cast<int>(b)) <= tolerance;
  };
  return close(pixel_red(pixel), pixel_red(expected)) && close(pixel_green(pixel), pixel_green(expected)) &&
         close(pixel_blue(pixel), pixel_blue(expected)) && pixel_transparency(pixel) == pixel_transparency(expected);
}

class Loader : public ::testing::Test {
 protected:
  TempDir dir;
  ScriptedPrompt prompt;
};

TEST(JpegScale, NeverDecodesBelowTheMaxima) {
  EXPECT_EQ(jpeg_scale_denominator(4000, 3000, 32, 48), 8);  // q = min(125, 62)
  EXPECT_EQ(jpeg_scale_denominator(100, 100, 48, 48), 2);
  EXPECT_EQ(jpeg_scale_denominator(399, 400, 100, 100), 2);  // q = 3
  EXPECT_EQ(jpeg_scale_denominator(400, 800, 100, 100), 4);
  EXPECT_EQ(jpeg_scale_denominator(800, 799, 100, 100), 4);  // q = 7
  EXPECT_EQ(jpeg_scale_denominator(95, 4000, 48, 48), 1);
  EXPECT_EQ(jpeg_scale_denominator(4000, 3000, 0, 48), 1);  // one maximum missing: no limit
  EXPECT_EQ(jpeg_scale_denominator(4000, 3000, 0, 0), 1);
}

TEST_F(Loader, JpegIsDctScaledForTheMaximaAndTurnedAfterwards) {
  const auto large = dir / "large.jpg";
  ASSERT_TRUE(
      testing::write_jpeg(large, JpegSpec(4000, 3000, 1).with_quality(50).with_orientation(6), flat_grey(4000, 90)));
  Foto picture;
  ASSERT_TRUE(picture.load(large, 48, 32).ok_or_show(prompt));
  EXPECT_EQ(picture.width(), 375);  // decoded at 500 × 375, then turned clockwise
  EXPECT_EQ(picture.height(), 500);

  const auto huge = dir / "huge.jpg";
  ASSERT_TRUE(testing::write_jpeg(huge, JpegSpec(8000, 6000, 1).with_quality(50), flat_grey(8000, 200)));
  ASSERT_TRUE(picture.load(huge, 48, 48).ok_or_show(prompt));
  EXPECT_EQ(picture.width(), 1000);
  EXPECT_EQ(picture.height(), 750);
  EXPECT_TRUE(near(picture.at(500, 400), make_pixel(200, 200, 200)));

  const auto small = dir / "small.jpg";
  ASSERT_TRUE(testing::write_jpeg(small, JpegSpec(100, 100, 1), flat_grey(100, 50)));
  ASSERT_TRUE(picture.load(small, 48, 48).ok_or_show(prompt));
  EXPECT_EQ(picture.width(), 50);
  EXPECT_EQ(picture.height(), 50);
  ASSERT_TRUE(picture.load(small, 0, 0).ok_or_show(prompt));
  EXPECT_EQ(picture.width(), 100);
  EXPECT_TRUE(prompt.messages().empty());
}

TEST_F(Loader, RgbJpegIsOpaqueRgb) {
  Foto source;
  ASSERT_TRUE(source.try_allocate(32, 16));
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 32; ++x)
      source.at(x, y) = x < 16 ? (y < 8 ? make_pixel(200, 30, 40) : make_pixel(20, 220, 90))
                               : (y < 8 ? make_pixel(10, 10, 240) : make_pixel(250, 250, 250));
  const auto path = dir / "rgb.jpg";
  ASSERT_TRUE(testing::write_jpeg(path, source, JpegSpec().with_quality(100)));
  Foto picture;
  ASSERT_TRUE(picture.load(path, 0, 0).ok_or_show(prompt));
  ASSERT_EQ(picture.width(), 32);
  ASSERT_EQ(picture.height(), 16);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 32; ++x) ASSERT_TRUE(near(picture.at(x, y), source.at(x, y))) << x << "," << y;
}

// Colour rows are widened four pixels at a time where the processor can,
// the rest one by one: every width gets exactly the codec's samples, opaque.
TEST_F(Loader, RgbRowsOfEveryWidthKeepTheCodecsSamples) {
  for (const int width : {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 13, 16, 17, 31, 64, 101}) {
    SCOPED_TRACE(width);
    const auto path = dir / "widths.jpg";
    ASSERT_TRUE(testing::write_jpeg(path, JpegSpec(width, 3),
                                    [width](int y, std::uint8_t* row) { testing::photo_like_row(width, y, row); }));
    testing::RawJpeg raw;
    ASSERT_TRUE(testing::read_jpeg_samples(path, raw));
    ASSERT_EQ(raw.components, 3);
    Foto picture;
    ASSERT_TRUE(picture.load(path, 0, 0).ok_or_show(prompt));
    ASSERT_EQ(picture.width(), width);
    for (int y = 0; y < 3; ++y) {
      for (int x = 0; x < width; ++x) {
        const std::uint8_t* s = raw.samples.data() + (static_cast<std::size_t>(y) * width + x) * 3;
        ASSERT_EQ(picture.at(x, y), make_pixel(s[0], s[1], s[2])) << x << "," << y;
      }
    }
  }
}

TEST_F(Loader, GreyJpegFillsAllThreeChannels) {
  const auto path = dir / "grey.jpg";
  ASSERT_TRUE(testing::write_jpeg(path, JpegSpec(40, 24, 1), [](int y, std::uint8_t* s) {
    for (int x = 0; x < 40; ++x) s[x] = static_cast<std::uint8_t>(x * 6 + y);
  }));
  testing::RawJpeg raw;
  ASSERT_TRUE(testing::read_jpeg_samples(path, raw));
  ASSERT_EQ(raw.components, 1);
  Foto picture;
  ASSERT_TRUE(picture.load(path, 0, 0).ok_or_show(prompt));
  for (int y = 0; y < 24; ++y)
    for (int x = 0; x < 40; ++x) {
      const std::uint32_t v = raw.samples[static_cast<std::size_t>(y) * 40 + x];
      ASSERT_EQ(picture.at(x, y), make_pixel(v, v, v)) << x << "," << y;
    }
}

TEST_F(Loader, CmykJpegIsConvertedFromInvertedInk) {
  const auto path = dir / "cmyk.jpg";
  ASSERT_TRUE(testing::write_jpeg(path, JpegSpec(48, 16, 4), [](int y, std::uint8_t* s) {
    for (int x = 0; x < 48; ++x) {
      s[4 * x] = static_cast<std::uint8_t>(x * 5);
      s[4 * x + 1] = static_cast<std::uint8_t>(255 - x * 3);
      s[4 * x + 2] = static_cast<std::uint8_t>(y * 15);
      s[4 * x + 3] = static_cast<std::uint8_t>(x < 24 ? 255 : 128 + y);
    }
  }));
  testing::RawJpeg raw;
  ASSERT_TRUE(testing::read_jpeg_samples(path, raw));
  ASSERT_EQ(raw.components, 4);
  Foto picture;
  ASSERT_TRUE(picture.load(path, 0, 0).ok_or_show(prompt));
  ASSERT_EQ(picture.width(), 48);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 48; ++x) {
      const std::uint8_t* s = &raw.samples[(static_cast<std::size_t>(y) * 48 + x) * 4];
      auto ink = [&](int i) { return std::min<std::uint32_t>((s[i] * s[3] + 127u) / 255u, 255u); };
      ASSERT_EQ(picture.at(x, y), make_pixel(ink(0), ink(1), ink(2))) << x << "," << y;
    }
}

// Where the top-left corner of the stored picture ends up for each EXIF
// orientation, and whether the picture is turned by a quarter.
struct OrientationCase {
  int orientation;
  bool right;
  bool bottom;
  bool quarter;
};

TEST_F(Loader, EveryExifOrientationMovesTheStoredCorner) {
  const OrientationCase cases[] = {{1, false, false, false}, {2, true, false, false}, {3, true, true, false},
                                   {4, false, true, false},  {5, false, false, true}, {6, true, false, true},
                                   {7, true, true, true},    {8, false, true, true},  {9, false, false, false}};
  Foto source;
  ASSERT_TRUE(source.try_allocate_fill(32, 16, kBlue));
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) source.at(x, y) = kRed;
  for (const OrientationCase& c : cases) {
    const auto path = dir / ("turned" + std::to_string(c.orientation) + ".jpg");
    ASSERT_TRUE(testing::write_jpeg(path, source, JpegSpec().with_quality(100).with_orientation(c.orientation)));
    Foto picture;
    ASSERT_TRUE(picture.load(path, 0, 0).ok_or_show(prompt)) << c.orientation;
    ASSERT_EQ(picture.width(), c.quarter ? 16 : 32) << c.orientation;
    ASSERT_EQ(picture.height(), c.quarter ? 32 : 16) << c.orientation;
    const int right = picture.width() - 1, bottom = picture.height() - 1;
    for (const auto& [x, y] : {std::pair{0, 0}, std::pair{right, 0}, std::pair{0, bottom}, std::pair{right, bottom}}) {
      const bool marked = (x == right) == c.right && (y == bottom) == c.bottom;
      EXPECT_TRUE(near(picture.at(x, y), marked ? kRed : kBlue, 12))
          << "orientation " << c.orientation << " corner " << x << "," << y;
    }
  }
}

TEST_F(Loader, ExifQueries) {
  const auto dated = dir / "dated.jpg";
  ASSERT_TRUE(testing::write_jpeg(dated, JpegSpec(8, 8, 1).with_orientation(6).with_date_time("2021:06:15 10:20:30"),
                                  flat_grey(8, 1)));
  EXPECT_EQ(exif_integer_tag(dated, kExifTagOrientation, 0, 1, 8, -1), 6);
  EXPECT_EQ(exif_integer_tag(dated, kExifTagOrientation, kExifAnyIfd, 1, 8, -1), 6);
  EXPECT_EQ(exif_integer_tag(dated, kExifTagOrientation, 1, 1, 8, -1), -1);    // not in IFD 1
  EXPECT_EQ(exif_integer_tag(dated, kExifTagOrientation, 0, 1, 5, -1), -1);    // out of range
  EXPECT_EQ(exif_integer_tag(dated, kExifTagDateTime, 0, -1000, 1000, 7), 7);  // 20 bytes: no integer size
  EXPECT_EQ(exif_date_text(dated), "2021:06:15 10:20:30");

  const auto zero = dir / "zero.jpg";
  ASSERT_TRUE(testing::write_jpeg(zero, JpegSpec(8, 8, 1).with_date_time("0000:00:00 00:00:00"), flat_grey(8, 1)));
  EXPECT_EQ(exif_date_text(zero), "");
  EXPECT_EQ(exif_integer_tag(zero, kExifTagOrientation, 0, 1, 8, -1), -1);  // no orientation entry

  const auto short_date = dir / "short.jpg";
  ASSERT_TRUE(testing::write_jpeg(short_date, JpegSpec(8, 8, 1).with_date_time("2021:06"), flat_grey(8, 1)));
  EXPECT_EQ(exif_date_text(short_date), "");

  const auto plain = dir / "plain.jpg";
  ASSERT_TRUE(testing::write_jpeg(plain, JpegSpec(8, 8, 1), flat_grey(8, 1)));
  EXPECT_EQ(exif_date_text(plain), "");
  EXPECT_EQ(exif_integer_tag(plain, kExifTagOrientation, 0, 1, 8, -1), -1);
  EXPECT_EQ(exif_integer_tag(dir / "missing.jpg", kExifTagOrientation, 0, 1, 8, 3), 3);
}

// --- PNG ----------------------------------------------------------------------

struct PngCase {
  const char* name;
  PngSpec spec;
  std::vector<std::vector<std::uint8_t>> rows;
  std::vector<std::uint32_t> expected;  // row after row
};

std::vector<PngCase> png_cases() {
  std::vector<PngCase> cases;
  cases.push_back({"rgb",
                   PngSpec(2, 2, PNG_COLOR_TYPE_RGB),
                   {{10, 20, 30, 40, 50, 60}, {255, 255, 255, 0, 0, 0}},
                   {make_pixel(10, 20, 30), make_pixel(40, 50, 60), make_pixel(255, 255, 255), make_pixel(0, 0, 0)}});
  cases.push_back({"rgba",
                   PngSpec(3, 1, PNG_COLOR_TYPE_RGB_ALPHA),
                   {{1, 2, 3, 255, 4, 5, 6, 0, 7, 8, 9, 100}},
                   {make_pixel(1, 2, 3, 0), make_pixel(4, 5, 6, 255), make_pixel(7, 8, 9, 155)}});
  cases.push_back({"grey",
                   PngSpec(3, 1, PNG_COLOR_TYPE_GRAY),
                   {{0, 128, 255}},
                   {make_pixel(0, 0, 0), make_pixel(128, 128, 128), make_pixel(255, 255, 255)}});
  cases.push_back({"grey-alpha",
                   PngSpec(2, 1, PNG_COLOR_TYPE_GRAY_ALPHA),
                   {{77, 255, 200, 10}},
                   {make_pixel(77, 77, 77, 0), make_pixel(200, 200, 200, 245)}});
  cases.push_back(
      {"grey-1bit",
       PngSpec(10, 1, PNG_COLOR_TYPE_GRAY, 1),
       {{0b10100000, 0b01000000}},
       {make_pixel(255, 255, 255), 0, make_pixel(255, 255, 255), 0, 0, 0, 0, 0, 0, make_pixel(255, 255, 255)}});
  cases.push_back({"grey-16",
                   PngSpec(2, 1, PNG_COLOR_TYPE_GRAY, 16),
                   {{0x12, 0x34, 0xFE, 0xFF}},
                   {make_pixel(0x12, 0x12, 0x12), make_pixel(0xFE, 0xFE, 0xFE)}});
  cases.push_back({"grey-key",
                   PngSpec(3, 1, PNG_COLOR_TYPE_GRAY).with_colour_key(50, 0, 0),
                   {{50, 51, 50}},
                   {make_pixel(50, 50, 50, 255), make_pixel(51, 51, 51), make_pixel(50, 50, 50, 255)}});
  cases.push_back({"rgb-key",
                   PngSpec(2, 1, PNG_COLOR_TYPE_RGB).with_colour_key(1, 2, 3),
                   {{1, 2, 3, 1, 2, 4}},
                   {make_pixel(1, 2, 3, 255), make_pixel(1, 2, 4)}});
  cases.push_back({"rgb-16",
                   PngSpec(1, 2, PNG_COLOR_TYPE_RGB, 16),
                   {{0xAB, 0xCD, 0x01, 0x02, 0xFF, 0xFF}, {0, 0, 0x80, 0, 0x7F, 0xFF}},
                   {make_pixel(0xAB, 0x01, 0xFF), make_pixel(0, 0x80, 0x7F)}});
  cases.push_back({"rgba-16",
                   PngSpec(1, 1, PNG_COLOR_TYPE_RGB_ALPHA, 16),
                   {{0x10, 0, 0x20, 0, 0x30, 0, 0x40, 0xFF}},
                   {make_pixel(0x10, 0x20, 0x30, 0xFF - 0x40)}});
  const std::vector<std::array<std::uint8_t, 3>> palette = {{{255, 0, 0}}, {{0, 255, 0}}, {{0, 0, 255}}, {{9, 8, 7}}};
  cases.push_back({"palette",
                   PngSpec(4, 1, PNG_COLOR_TYPE_PALETTE).with_palette(palette),
                   {{3, 2, 1, 0}},
                   {make_pixel(9, 8, 7), kBlue, make_pixel(0, 255, 0), kRed}});
  cases.push_back({"palette-2bit",
                   PngSpec(5, 1, PNG_COLOR_TYPE_PALETTE, 2).with_palette(palette),
                   {{0b00011011, 0b10000000}},
                   {kRed, make_pixel(0, 255, 0), kBlue, make_pixel(9, 8, 7), kBlue}});
  cases.push_back({"palette-trns",
                   PngSpec(4, 1, PNG_COLOR_TYPE_PALETTE).with_palette(palette).with_palette_alpha({0, 128}),
                   {{0, 1, 2, 3}},
                   {make_pixel(255, 0, 0, 255), make_pixel(0, 255, 0, 127), kBlue, make_pixel(9, 8, 7)}});
  // Interlaced: every pass must land in its place.
  PngCase interlaced{"interlaced", PngSpec(13, 11, PNG_COLOR_TYPE_RGB).with_interlace(), {}, {}};
  for (int y = 0; y < 11; ++y) {
    std::vector<std::uint8_t> row;
    for (int x = 0; x < 13; ++x) {
      const auto r = static_cast<std::uint8_t>(x * 19), g = static_cast<std::uint8_t>(y * 23),
                 b = static_cast<std::uint8_t>(x * y);
      row.insert(row.end(), {r, g, b});
      interlaced.expected.push_back(make_pixel(r, g, b));
    }
    interlaced.rows.push_back(row);
  }
  cases.push_back(interlaced);
  return cases;
}

TEST_F(Loader, PngOfEveryColourTypeBecomesRgbAndTransparency) {
  for (const PngCase& c : png_cases()) {
    const auto path = dir / (std::string(c.name) + ".png");
    ASSERT_TRUE(testing::write_png(path, c.spec, c.rows)) << c.name;
    Foto picture;
    ASSERT_TRUE(picture.load(path, 1, 1).ok_or_show(prompt)) << c.name;  // the maxima do not apply to PNG
    ASSERT_EQ(picture.width(), c.spec.width) << c.name;
    ASSERT_EQ(picture.height(), c.spec.height) << c.name;
    for (std::size_t i = 0; i < c.expected.size(); ++i)
      EXPECT_EQ(picture.pixels()[i], c.expected[i]) << c.name << " pixel " << i;
    int w = 0, h = 0;
    EXPECT_TRUE(Foto::read_size(path, w, h));
    EXPECT_EQ(w, c.spec.width);
    EXPECT_EQ(h, c.spec.height);
  }
  EXPECT_TRUE(prompt.messages().empty());
}

// --- format choice and reports ------------------------------------------------

TEST_F(Loader, FormatIsChosenBySignatureThenByName) {
  const auto png_named_jpg = dir / "really-a-png.jpg";
  ASSERT_TRUE(testing::write_png(png_named_jpg, PngSpec(1, 1), {{1, 2, 3}}));
  const auto jpg_named_png = dir / "really-a-jpeg.png";
  ASSERT_TRUE(testing::write_jpeg(jpg_named_png, JpegSpec(16, 16, 1), flat_grey(16, 9)));
  Foto picture;
  ASSERT_TRUE(picture.load(png_named_jpg, 0, 0).ok_or_show(prompt));
  EXPECT_EQ(picture.at(0, 0), make_pixel(1, 2, 3));
  ASSERT_TRUE(picture.load(jpg_named_png, 0, 0).ok_or_show(prompt));
  EXPECT_EQ(picture.width(), 16);
  EXPECT_TRUE(prompt.messages().empty());

  // Only a file that cannot be opened goes by its name (case does not matter).
  const auto missing_png = dir / "Missing %d %s.PNG";
  EXPECT_FALSE(picture.load(missing_png, 0, 0).ok_or_show(prompt));
  EXPECT_TRUE(picture.empty());
  const auto missing_jpg = dir / "missing.jpeg";
  EXPECT_FALSE(picture.load(missing_jpg, 0, 0).ok_or_show(prompt));
  ASSERT_EQ(prompt.calls().size(), 2u);
  EXPECT_EQ(prompt.calls()[0].text, "PNG: File " + missing_png.string() + " could not be opened for reading");
  EXPECT_EQ(prompt.calls()[0].icon, Icon::error);
  EXPECT_EQ(prompt.calls()[1].text, "Unable to open file '" + missing_jpg.string() + "'");
  EXPECT_EQ(prompt.calls()[1].icon, Icon::error);
}

TEST_F(Loader, OnlyRegularFilesAreOpened) {
  const auto folder = dir / "folder.jpg";
  std::filesystem::create_directory(folder);
  const auto pipe = dir / "pipe.png";
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  Foto picture;
  EXPECT_FALSE(picture.load(folder, 0, 0).ok_or_show(prompt));
  EXPECT_FALSE(picture.load(pipe, 0, 0).ok_or_show(prompt));  // would wait for a writer if opened
  EXPECT_EQ(prompt.messages(),
            (std::vector<std::string>{"Unable to open file '" + folder.string() + "'",
                                      "PNG: File " + pipe.string() + " could not be opened for reading"}));
  int w = 1, h = 1;
  EXPECT_FALSE(Foto::read_size(pipe, w, h));
  EXPECT_EQ(w, 0);
  EXPECT_EQ(h, 0);
}

// --- headers -----------------------------------------------------------------

TEST_F(Loader, HeadersAreReadWithoutDecoding) {
  const auto per_cm = dir / "per-cm.jpg";
  ASSERT_TRUE(testing::write_jpeg(per_cm, JpegSpec(70, 30).with_density(2, 100, 50),
                                  [](int, std::uint8_t* s) { std::memset(s, 100, 70 * 3); }));
  JpegHeader header;
  ASSERT_TRUE(Foto::read_header(per_cm, header));
  EXPECT_EQ(header.width, 70);
  EXPECT_EQ(header.height, 30);
  EXPECT_EQ(header.pixel_count, 2100);
  EXPECT_EQ(header.components, 3);
  EXPECT_EQ(header.color_space, JCS_YCbCr);
  EXPECT_DOUBLE_EQ(header.dpi_x, 254.0);
  EXPECT_DOUBLE_EQ(header.dpi_y, 127.0);

  const auto per_inch = dir / "per-inch.jpg";
  ASSERT_TRUE(testing::write_jpeg(per_inch, JpegSpec(9, 9, 1).with_density(1, 300, 72), flat_grey(9, 0)));
  ASSERT_TRUE(Foto::read_header(per_inch, header));
  EXPECT_EQ(header.components, 1);
  EXPECT_EQ(header.color_space, JCS_GRAYSCALE);
  EXPECT_DOUBLE_EQ(header.dpi_x, 300.0);
  EXPECT_DOUBLE_EQ(header.dpi_y, 72.0);

  const auto cmyk = dir / "cmyk.jpg";
  ASSERT_TRUE(testing::write_jpeg(cmyk, JpegSpec(8, 8, 4), [](int, std::uint8_t* s) { std::memset(s, 7, 32); }));
  ASSERT_TRUE(Foto::read_header(cmyk, header));
  EXPECT_EQ(header.components, 4);
  EXPECT_EQ(header.color_space, JCS_CMYK);
  EXPECT_EQ(header.dpi_x, 0.0);  // no density given

  int w = 0, h = 0;
  ASSERT_TRUE(Foto::read_size(per_cm, w, h));
  EXPECT_EQ(w, 70);
  EXPECT_EQ(h, 30);

  // PNG has no JPEG header; unreadable files leave everything at zero.
  const auto png = dir / "p.png";
  ASSERT_TRUE(testing::write_png(png, PngSpec(1, 1), {{1, 2, 3}}));
  EXPECT_FALSE(Foto::read_header(png, header));
  EXPECT_EQ(header.width, 0);
  EXPECT_EQ(header.dpi_x, 0.0);
  EXPECT_FALSE(Foto::read_header(dir / "missing.jpg", header));
  ASSERT_TRUE(testing::write_random_bytes(dir / "noise.png", 100, 2));
  EXPECT_FALSE(Foto::read_size(dir / "noise.png", w, h));
  EXPECT_EQ(w, 0);
  EXPECT_EQ(h, 0);
}

// --- video frames ----------------------------------------------------------

struct Dib {
  std::vector<std::uint8_t> bytes;
  void u16(unsigned v) { bytes.insert(bytes.end(), {std::uint8_t(v), std::uint8_t(v >> 8)}); }
  void u32(std::uint32_t v) {
    bytes.insert(bytes.end(), {std::uint8_t(v), std::uint8_t(v >> 8), std::uint8_t(v >> 16), std::uint8_t(v >> 24)});
  }
  Dib(int width, int height, int bits, std::uint32_t colours_used = 0, std::uint32_t compression = 0) {
    u32(40);
    u32(static_cast<std::uint32_t>(width));
    u32(static_cast<std::uint32_t>(height));
    u16(1);
    u16(static_cast<unsigned>(bits));
    u32(compression);
    u32(0);
    u32(2835);
    u32(2835);
    u32(colours_used);
    u32(0);
  }
};

TEST(LoadFrame, TwentyFourBitRowsAreBottomUpAndPadded) {
  Dib dib(3, 2, 24);
  // stored first: the bottom row; each row is 9 bytes of blue, green, red plus 3 of padding
  dib.bytes.insert(dib.bytes.end(), {1, 2, 3, 4, 5, 6, 7, 8, 9, 0xEE, 0xEE, 0xEE});
  dib.bytes.insert(dib.bytes.end(), {10, 20, 30, 40, 50, 60, 70, 80, 90, 0xEE, 0xEE, 0xEE});
  Foto frame;
  ASSERT_TRUE(frame.load_frame(dib.bytes.data(), dib.bytes.size()));
  ASSERT_EQ(frame.width(), 3);
  ASSERT_EQ(frame.height(), 2);
  EXPECT_EQ(frame.at(0, 0), make_pixel(30, 20, 10));
  EXPECT_EQ(frame.at(2, 0), make_pixel(90, 80, 70));
  EXPECT_EQ(frame.at(0, 1), make_pixel(3, 2, 1));
  EXPECT_EQ(frame.at(2, 1), make_pixel(9, 8, 7));

  // One byte short of the last row: refused, nothing read beyond the buffer.
  EXPECT_FALSE(frame.load_frame(dib.bytes.data(), dib.bytes.size() - 1));
  EXPECT_TRUE(frame.empty());
}

TEST(LoadFrame, EightBitIndexesItsColourTable) {
  Dib dib(5, 1, 8, 3);
  dib.bytes.insert(dib.bytes.end(), {10, 20, 30, 0, 40, 50, 60, 0, 70, 80, 90, 0});  // blue, green, red, reserved
  dib.bytes.insert(dib.bytes.end(), {2, 0, 1, 3, 255, 0, 0, 0});                     // 5 indexes + padding
  Foto frame;
  ASSERT_TRUE(frame.load_frame(dib.bytes.data(), dib.bytes.size()));
  ASSERT_EQ(frame.width(), 5);
  EXPECT_EQ(frame.at(0, 0), make_pixel(90, 80, 70));
  EXPECT_EQ(frame.at(1, 0), make_pixel(30, 20, 10));
  EXPECT_EQ(frame.at(2, 0), make_pixel(60, 50, 40));
  EXPECT_EQ(frame.at(3, 0), make_pixel(0, 0, 0));  // beyond the table: black
  EXPECT_EQ(frame.at(4, 0), make_pixel(0, 0, 0));

  // No declared count: a full table of 256 entries precedes the rows.
  Dib full(2, 2, 8);
  for (int i = 0; i < 256; ++i) full.bytes.insert(full.bytes.end(), {std::uint8_t(i), 0, std::uint8_t(255 - i), 0});
  full.bytes.insert(full.bytes.end(), {200, 1, 0, 0, 0, 255, 0, 0});
  ASSERT_TRUE(frame.load_frame(full.bytes.data(), full.bytes.size()));
  EXPECT_EQ(frame.at(0, 1), make_pixel(55, 0, 200));
  EXPECT_EQ(frame.at(1, 1), make_pixel(254, 0, 1));
  EXPECT_EQ(frame.at(1, 0), make_pixel(0, 0, 255));
  EXPECT_FALSE(frame.load_frame(full.bytes.data(), full.bytes.size() - 8));  // table there, rows missing
}

TEST(LoadFrame, RefusesWhatItCannotRead) {
  Foto frame;
  auto refused = [&](const Dib& dib) {
    EXPECT_TRUE(frame.try_allocate_fill(1, 1, 0));
    bool loaded = frame.load_frame(dib.bytes.data(), dib.bytes.size());
    return !loaded && frame.empty();
  };
  Dib padded = Dib(1, 1, 24);
  padded.bytes.resize(padded.bytes.size() + 4);
  EXPECT_TRUE(frame.load_frame(padded.bytes.data(), padded.bytes.size()));
  EXPECT_TRUE(refused(Dib(1, 1, 16)));
  EXPECT_TRUE(refused(Dib(1, 1, 32)));
  Dib top_down(1, -1, 24);
  top_down.bytes.resize(top_down.bytes.size() + 4);
  EXPECT_TRUE(refused(top_down));
  Dib compressed(1, 1, 8, 1, 1);
  compressed.bytes.resize(compressed.bytes.size() + 8);
  EXPECT_TRUE(refused(compressed));
  Dib huge_table(1, 1, 8, 0xFFFFFFFFu);
  huge_table.bytes.resize(huge_table.bytes.size() + 8);
  EXPECT_TRUE(refused(huge_table));
  Dib wide(0x7FFFFFFF, 0x7FFFFFFF, 24);
  EXPECT_TRUE(refused(wide));
  Dib bad_header(1, 1, 24);
  bad_header.bytes[0] = 200;  // header longer than the buffer
  bad_header.bytes.resize(bad_header.bytes.size() + 4);
  EXPECT_TRUE(refused(bad_header));
  EXPECT_FALSE(frame.load_frame(padded.bytes.data(), 39));
  EXPECT_FALSE(frame.load_frame(nullptr, 100));
}

}  // namespace
}  // namespace tess
