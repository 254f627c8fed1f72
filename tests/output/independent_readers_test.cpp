// The mosaic files as other programs see them: libtiff's own tools for TIFF
// and BigTIFF, ImageMagick for Photoshop and PPM (both installed by
// scripts/install-deps). A file only this program can read back is no use to
// a print shop.

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/scripted_prompt.hpp"
#include "output/ppm_writer.hpp"
#include "output/psd_writer.hpp"
#include "output/row_source.hpp"
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

}  // namespace
}  // namespace tess
