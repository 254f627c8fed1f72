// The mosaic files as other programs see them: libtiff's own tools for TIFF
// and BigTIFF, ImageMagick for Photoshop and PPM, Pillow for the colour
// description (all installed by scripts/install-deps). A file only this program can read back is no use to
// a print shop.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "base/scripted_prompt.hpp"
#include "images/foto.hpp"
#include "images/picture_colour.hpp"
#include "output/format_writers.hpp"
#include "output/jpeg_writer.hpp"
#include "output/output_options.hpp"
#include "output/ppm_writer.hpp"
#include "output/psd_writer.hpp"
#include "output/row_source.hpp"
#include "output/side_images.hpp"
#include "output/tiff_writer.hpp"
#include "tiff_forms.hpp"
#include "support/test_support.hpp"

namespace tess {
namespace {

using testing::TempDir;
using testing::TiffForm;
using testing::write_tiff_as;

// What a command prints on standard output and error, merged.
std::string output_of(const std::string& command) { return testing::command_output(command + " 2>&1"); }

bool has_tool(const char* name) { return output_of(std::string("command -v ") + name).find(name) != std::string::npos; }

// Rows of a width × height picture made on the fly, so a 100,000-pixel-wide
// file needs one row of memory.
class StripeRows final : public RowSource {
 public:
  StripeRows(int width, int height) : m_row(static_cast<std::size_t>(width)), m_height(height) {}
  int width() const override { return static_cast<int>(m_row.size()); }
  int height() const override { return m_height; }
  const std::uint32_t* next_row() override {
    if (m_next >= m_height) return nullptr;
    for (std::size_t x = 0; x < m_row.size(); ++x)
      m_row[x] = 0x12000000u | static_cast<std::uint32_t>(((x / 7) * 40 + m_next * 3) & 0xFFFFFFu);
    ++m_next;
    return m_row.data();
  }
  bool stop_requested() const override { return false; }

 private:
  std::vector<std::uint32_t> m_row;
  int m_height;
  int m_next = 0;
};

std::string tiffinfo_of(const TempDir& dir, const std::string& name, int width, int height, const TiffForm& format) {
  ScriptedPrompt prompt;
  StripeRows rows(width, height);
  const std::string path = (dir / name).string();
  if (!write_tiff_as(rows, path, format, 300, prompt)) return "not written";
  return output_of("tiffinfo '" + path + "'");
}

class IndependentReaders : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* tool : {"tiffinfo", "tiffdump", "identify"})
      ASSERT_TRUE(has_tool(tool)) << tool << " is missing: run scripts/install-deps";
  }
  TempDir dir;
};

TEST_F(IndependentReaders, TiffinfoShowsTheTagsAndRowsPerStrip) {
  const std::string plain = tiffinfo_of(dir, "wide.tiff", 20'000, 40, TiffForm{});
  EXPECT_NE(plain.find("Image Width: 20000 Image Length: 40"), std::string::npos) << plain;
  EXPECT_NE(plain.find("Rows/Strip: 16"), std::string::npos) << plain;
  EXPECT_NE(plain.find("Compression Scheme: None"), std::string::npos) << plain;
  EXPECT_NE(plain.find("Photometric Interpretation: RGB color"), std::string::npos) << plain;
  EXPECT_NE(plain.find("Resolution: 300, 300 pixels/inch"), std::string::npos) << plain;
  EXPECT_NE(plain.find("Software: Tessellarium 3.53.0"), std::string::npos) << plain;

  const std::string widest = tiffinfo_of(dir, "widest.tiff", 100'000, 20, TiffForm{});
  EXPECT_NE(widest.find("Rows/Strip: 1\n"), std::string::npos) << widest;
  TiffForm jpeg;
  jpeg.jpeg = true;
  jpeg.jpeg_quality = 90;
  // JPEG itself stops at 65,500 pixels a side (the size check keeps wider
  // mosaics from this format); the strip is at least 16 rows all the same.
  const std::string compressed = tiffinfo_of(dir, "widest-jpeg.tiff", 65'500, 20, jpeg);
  EXPECT_NE(compressed.find("Rows/Strip: 16"), std::string::npos) << compressed;
  EXPECT_NE(compressed.find("Compression Scheme: JPEG"), std::string::npos) << compressed;
  EXPECT_NE(compressed.find("Photometric Interpretation: YCbCr"), std::string::npos) << compressed;

  const std::string low = tiffinfo_of(dir, "low.tiff", 500, 10, TiffForm{});
  EXPECT_NE(low.find("Rows/Strip: 10"), std::string::npos) << low;
}

TEST_F(IndependentReaders, BigTiffAndAnOpaqueAlphaSample) {
  TiffForm big;
  big.big_tiff = true;
  big.alpha = true;
  const std::string info = tiffinfo_of(dir, "big.tiff", 3, 2, big);
  EXPECT_NE(info.find("Samples/Pixel: 4"), std::string::npos) << info;
  EXPECT_NE(info.find("Extra Samples: 1<unassoc-alpha>"), std::string::npos) << info;
  const std::string header = output_of("tiffdump '" + (dir / "big.tiff").string() + "'");
  EXPECT_NE(header.find("Version: 0x2b <BigTIFF>"), std::string::npos) << header;

  // tiffinfo -d prints the strip's bytes: every fourth is the alpha sample.
  const std::string data = output_of("tiffinfo -d '" + (dir / "big.tiff").string() + "'");
  const auto strip = data.find("Strip 0:");
  ASSERT_NE(strip, std::string::npos) << data;
  std::vector<unsigned> bytes;
  for (std::size_t at = data.find('\n', strip); at < data.size() && bytes.size() < 24;) {
    unsigned value = 0;
    int used = 0;
    if (std::sscanf(data.c_str() + at, " %2x%n", &value, &used) != 1) break;
    bytes.push_back(value);
    at += static_cast<std::size_t>(used);
  }
  ASSERT_EQ(bytes.size(), 24u) << data;
  for (std::size_t i = 3; i < bytes.size(); i += 4) EXPECT_EQ(bytes[i], 255u) << i;
}

TEST_F(IndependentReaders, ImageMagickReadsPhotoshopAndPixmaps) {
  ScriptedPrompt prompt;
  StripeRows psd_rows(31, 17);
  ASSERT_TRUE(write_psd_rows(psd_rows, dir / "m.psd", {.dpi = 300}, prompt));
  StripeRows psb_rows(33, 5);
  ASSERT_TRUE(write_psb_rows(psb_rows, dir / "m.psb", {}, prompt));
  StripeRows ppm_rows(29, 13);
  ASSERT_TRUE(write_ppm_rows(ppm_rows, dir / "m.ppm", {}, prompt));
  EXPECT_NE(output_of("identify '" + (dir / "m.psd").string() + "'").find("PSD 31x17"), std::string::npos);
  EXPECT_NE(output_of("identify '" + (dir / "m.psb").string() + "'").find("PSD 33x5"), std::string::npos);
  EXPECT_NE(output_of("identify '" + (dir / "m.ppm").string() + "'").find("PPM 29x13"), std::string::npos);
  // Decoded, not only listed: pixel (7, 1) is red 1 × 40 + 1 × 3.
  const std::string pixel = output_of("convert '" + (dir / "m.psd").string() + "' -format '%[pixel:p{7,1}]' info:");
  EXPECT_NE(pixel.find("srgb(43,0,0)"), std::string::npos) << pixel;
}


// --- the sRGB description ------------------------------------------------------

// Opens each file named after it with Pillow and leaves beside it the profile
// it found (FILE.icc, empty when none) and the pixels as RGB (FILE.rgb);
// prints the sRGB chunk's intent, or None.
constexpr const char* kPillowDump = R"(
import sys
from PIL import Image
for path in sys.argv[1:]:
    with Image.open(path) as im:
        open(path + '.icc', 'wb').write(im.info.get('icc_profile') or b'')
        open(path + '.rgb', 'wb').write(im.convert('RGB').tobytes())
        print(im.info.get('srgb'))
)";

/// A Python with Pillow, or empty.
std::string python_with_pillow() {
  for (const char* python : {"python3", "/usr/bin/python3"})
    if (testing::command_output(std::string(python) + " -c 'import PIL.Image; print(1)' 2>/dev/null") == "1\n")
      return python;
  return {};
}

// Smooth ramps that JPEG keeps within a few levels, red, green and blue
// different everywhere so that a swapped channel shows.
Foto ramps(int width, int height) {
  Foto foto;
  EXPECT_TRUE(foto.try_allocate(width, height));
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      foto.at(x, y) = make_pixel(static_cast<std::uint32_t>(40 + 4 * x), static_cast<std::uint32_t>(30 + 5 * y),
                                 static_cast<std::uint32_t>(200 - 2 * x - y));
  return foto;
}

// Every picture file the program writes tells colour-managed readers that it
// is sRGB, with the profile itself or PNG's sRGB chunk, and other programs
// decode the same pixels as before. Pillow reads JPEG, PNG, TIFF and PSD;
// ImageMagick reads the large Photoshop form, and tiffinfo names the tag.
TEST_F(IndependentReaders, EveryPictureFileSaysItIsSrgb) {
  const std::string python = python_with_pillow();
  ASSERT_FALSE(python.empty()) << "python3 with Pillow is missing: run scripts/install-deps";
  const std::span<const std::uint8_t> srgb = srgb_icc_profile();
  ASSERT_GT(srgb.size(), 128u);
  const std::string profile(srgb.begin(), srgb.end());
  const Foto picture = ramps(48, 32);
  const std::string script = (dir / "dump.py").string();
  ASSERT_TRUE(testing::write_file(script, kPillowDump));

  enum class Reader { pillow, magick };
  enum class Colour { profile, srgb_chunk, none };
  struct Case {
    std::string name;
    std::function<bool(const std::string& path, Prompt&)> write;
    Reader reader;
    Colour colour;
    int tolerance;  ///< per channel; 0 for the lossless formats
    bool grey = false;
  };
  const auto through_table = [&](FormatWriter writer, WriteOptions options) {
    return [&picture, writer, options](const std::string& path, Prompt& prompt) {
      FotoRowSource rows(picture);
      return write_picture(writer, rows, path, options, prompt);
    };
  };
  OutputOptions tile_options;
  tile_options.format = OutputFormatCode::jpg;
  tile_options.jpeg_quality = 95;
  const std::string tile_path = individual_tile_path(dir.path().string(), 48, 32, "tile", OutputFormatCode::jpg);
  const std::vector<Case> cases = {
      {"m.jpg", through_table(FormatWriter::jpeg, {.dpi = 300, .jpeg_quality = 95}), Reader::pillow, Colour::profile,
       8},
      {"m.png", through_table(FormatWriter::png, {}), Reader::pillow, Colour::srgb_chunk, 0},
      {"alpha.png", through_table(FormatWriter::png, {.alpha = AlphaSample::from_transparency}), Reader::pillow,
       Colour::srgb_chunk, 0},
      {"m.tiff", through_table(FormatWriter::tiff, {.dpi = 300}), Reader::pillow, Colour::profile, 0},
      {"big.tiff", through_table(FormatWriter::tiff, {.alpha = AlphaSample::opaque, .big_tiff = true}),
       Reader::pillow, Colour::profile, 0},
      // Strips compressed side by side, each in a TIFF of its own in memory.
      {"jpeg.tiff", through_table(FormatWriter::tiff_jpeg, {.jpeg_quality = 95, .threads = 3}), Reader::pillow,
       Colour::profile, 8},
      {"m.psd", through_table(FormatWriter::psd, {.dpi = 72}), Reader::pillow, Colour::profile, 0},
      {"m.psb", through_table(FormatWriter::psb, {}), Reader::magick, Colour::profile, 0},
      {tile_path.substr(dir.path().string().size() + 1),
       [&](const std::string&, Prompt&) { return save_individual_tile(picture, dir.path().string(), 48, 32, "tile",
                                                                       tile_options, 0); },
       Reader::pillow, Colour::profile, 8},
      // One channel: an RGB profile would not describe it.
      {"grey.jpg",
       [&](const std::string& path, Prompt& prompt) { return write_jpeg_image(picture, path, false, 95, 0, prompt); },
       Reader::pillow, Colour::none, 8, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedPrompt prompt;
    const std::string path = (dir / c.name).string();
    ASSERT_TRUE(c.write(path, prompt));
    EXPECT_TRUE(prompt.messages().empty());
    std::string srgb_chunk;
    if (c.reader == Reader::pillow) {
      srgb_chunk = output_of(python + " '" + script + "' '" + path + "'");
    } else {
      // The profile as ImageMagick finds it, and the pixels without any conversion.
      const std::string verbose = output_of("identify -verbose '" + path + "'");
      EXPECT_NE(verbose.find("Profile-icc: " + std::to_string(srgb.size()) + " bytes"), std::string::npos) << verbose;
      output_of("convert '" + path + "' 'icc:" + path + ".icc'");
      output_of("convert '" + path + "' -depth 8 'rgb:" + path + ".rgb'");
      srgb_chunk = "None\n";
    }
    const std::string found = testing::read_file(path + ".icc");
    EXPECT_TRUE(found == (c.colour == Colour::profile ? profile : std::string()))
        << found.size() << " bytes of profile";
    EXPECT_EQ(srgb_chunk, c.colour == Colour::srgb_chunk ? "0\n" : "None\n");  // 0: perceptual
    if (c.name.ends_with(".tiff")) {
      const std::string info = output_of("tiffinfo '" + path + "'");
      EXPECT_NE(info.find("ICC Profile: <present>, " + std::to_string(srgb.size()) + " bytes"), std::string::npos)
          << info;
    }

    const std::string rgb = testing::read_file(path + ".rgb");
    ASSERT_EQ(rgb.size(), static_cast<std::size_t>(3 * picture.width() * picture.height()));
    int worst = 0;
    for (int y = 0; y < picture.height(); ++y)
      for (int x = 0; x < picture.width(); ++x) {
        const std::uint32_t p = picture.at(x, y);
        int want[3] = {static_cast<int>(pixel_red(p)), static_cast<int>(pixel_green(p)),
                       static_cast<int>(pixel_blue(p))};
        if (c.grey) {
          const int grey = static_cast<int>(0.587 * want[1] + 0.299 * want[0] + 0.114 * want[2]);
          want[0] = want[1] = want[2] = grey;
        }
        for (int k = 0; k < 3; ++k) {
          const auto got = static_cast<std::uint8_t>(rgb[3 * (static_cast<std::size_t>(y) * picture.width() + x) + k]);
          worst = std::max(worst, std::abs(got - want[k]));
        }
      }
    EXPECT_LE(worst, c.tolerance);
  }
}

}  // namespace
}  // namespace tess
