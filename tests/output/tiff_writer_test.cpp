#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <tiffio.h>

#include "base/scripted_prompt.hpp"
#include "images/foto.hpp"
#include "images/picture_colour.hpp"
#include "output/row_source.hpp"
#include "output/tiff_writer.hpp"
#include "tiff_forms.hpp"
#include "support/test_support.hpp"

namespace tess {
namespace {

namespace fs = std::filesystem;
using testing::read_file;
using testing::TempDir;
using testing::TiffForm;
using testing::write_tiff_as;

// Smooth ramps so JPEG keeps colours close, with the channels different
// everywhere so a swap shows; byte 3 is set so a leak into the file shows.
Foto test_picture(int width, int height) {
  Foto foto;
  foto.try_allocate(width, height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      foto.at(x, y) = make_pixel(static_cast<std::uint32_t>(std::min(255, 3 * x)),
                                 static_cast<std::uint32_t>(std::min(255, 5 * y)),
                                 static_cast<std::uint32_t>(64 + (x + y) % 3), 0x5A);
  return foto;
}

struct TiffCloser {
  void operator()(TIFF* tif) const { TIFFClose(tif); }
};
using TiffPtr = std::unique_ptr<TIFF, TiffCloser>;

TiffPtr open_for_reading(const fs::path& path) { return TiffPtr(TIFFOpen(path.c_str(), "r")); }

// Every pixel as the library's RGBA reader sees it, top row first, in the
// Foto layout (red in byte 0).
std::vector<std::uint32_t> read_rgba(TIFF* tif, int width, int height) {
  std::vector<std::uint32_t> raster(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
  EXPECT_EQ(TIFFReadRGBAImageOriented(tif, static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height),
                                      raster.data(), ORIENTATION_TOPLEFT, 0),
            1);
  return raster;
}

int max_channel_difference(std::uint32_t a, std::uint32_t b) {
  int most = 0;
  for (int shift = 0; shift < 24; shift += 8)
    most = std::max(most, std::abs(static_cast<int>((a >> shift) & 0xFFu) - static_cast<int>((b >> shift) & 0xFFu)));
  return most;
}

std::uint32_t tag32(TIFF* tif, ttag_t tag) {
  std::uint32_t value = 0;
  EXPECT_EQ(TIFFGetField(tif, tag, &value), 1) << tag;
  return value;
}
std::uint16_t tag16(TIFF* tif, ttag_t tag) {
  std::uint16_t value = 0;
  EXPECT_EQ(TIFFGetField(tif, tag, &value), 1) << tag;
  return value;
}

TEST(TiffRowsPerStrip, AboutAMegabyteInMultiplesOfSixteen) {
  EXPECT_EQ(tiff_rows_per_strip(20'000, 50'000, 3, false), 16);
  EXPECT_EQ(tiff_rows_per_strip(20'000, 50'000, 3, true), 16);
  EXPECT_EQ(tiff_rows_per_strip(100'000, 50'000, 3, false), 1);
  EXPECT_EQ(tiff_rows_per_strip(100'000, 50'000, 3, true), 16);
  EXPECT_EQ(tiff_rows_per_strip(5'000, 50'000, 3, false), 64);  // 66 rounded down
  EXPECT_EQ(tiff_rows_per_strip(5'000, 50'000, 4, false), 48);  // 50 rounded down
  EXPECT_EQ(tiff_rows_per_strip(100, 10, 3, false), 10);
  EXPECT_EQ(tiff_rows_per_strip(100'000, 10, 3, true), 10);
  EXPECT_EQ(tiff_rows_per_strip(0, 10, 3, false), 0);
}

// Classic and BigTIFF, with and without compression and alpha: header, tags
// and pixels as another reader of the file sees them.
TEST(TiffWriter, RoundTripsInEveryLayout) {
  TempDir dir;
  const int width = 37;  // odd sizes: no whole JPEG block either way
  const int height = 23;
  const Foto foto = test_picture(width, height);
  for (const bool big : {false, true})
    for (const bool jpeg : {false, true})
      for (const bool alpha : {false, true}) {
        SCOPED_TRACE(::testing::Message() << "big " << big << " jpeg " << jpeg << " alpha " << alpha);
        const fs::path path = dir / "out.tif";
        ScriptedPrompt prompt;
        FotoRowSource source(foto);
        ASSERT_TRUE(write_tiff_as(source, path, TiffForm{big, jpeg, 90, alpha}, 300, prompt));
        EXPECT_TRUE(prompt.messages().empty());

        const std::string bytes = read_file(path);
        ASSERT_GE(bytes.size(), 8u);
        EXPECT_EQ(bytes.substr(0, 2), "II");
        EXPECT_EQ(static_cast<int>(static_cast<std::uint8_t>(bytes[2])), big ? 43 : 42);

        TiffPtr tif = open_for_reading(path);
        ASSERT_TRUE(tif);
        const int samples = alpha && !jpeg ? 4 : 3;
        EXPECT_EQ(tag32(tif.get(), TIFFTAG_IMAGEWIDTH), 37u);
        EXPECT_EQ(tag32(tif.get(), TIFFTAG_IMAGELENGTH), 23u);
        EXPECT_EQ(tag16(tif.get(), TIFFTAG_BITSPERSAMPLE), 8);
        EXPECT_EQ(tag16(tif.get(), TIFFTAG_SAMPLESPERPIXEL), samples);
        EXPECT_EQ(tag16(tif.get(), TIFFTAG_COMPRESSION), jpeg ? COMPRESSION_JPEG : COMPRESSION_NONE);
        EXPECT_EQ(tag16(tif.get(), TIFFTAG_PHOTOMETRIC), jpeg ? PHOTOMETRIC_YCBCR : PHOTOMETRIC_RGB);
        EXPECT_EQ(tag16(tif.get(), TIFFTAG_PLANARCONFIG), PLANARCONFIG_CONTIG);
        EXPECT_EQ(tag16(tif.get(), TIFFTAG_RESOLUTIONUNIT), RESUNIT_INCH);
        EXPECT_EQ(tag32(tif.get(), TIFFTAG_ROWSPERSTRIP), 23u);
        EXPECT_EQ(tag32(tif.get(), TIFFTAG_SUBFILETYPE), 0u);
        float resolution = 0;
        ASSERT_EQ(TIFFGetField(tif.get(), TIFFTAG_XRESOLUTION, &resolution), 1);
        EXPECT_FLOAT_EQ(resolution, 300.0f);
        ASSERT_EQ(TIFFGetField(tif.get(), TIFFTAG_YRESOLUTION, &resolution), 1);
        EXPECT_FLOAT_EQ(resolution, 300.0f);
        const char* software = nullptr;
        ASSERT_EQ(TIFFGetField(tif.get(), TIFFTAG_SOFTWARE, &software), 1);
        EXPECT_STREQ(software, "Tessellarium 3.53.0");
        std::uint32_t profile_size = 0;
        const std::uint8_t* profile = nullptr;
        ASSERT_EQ(TIFFGetField(tif.get(), TIFFTAG_ICCPROFILE, &profile_size, &profile), 1);
        const std::span<const std::uint8_t> srgb = srgb_icc_profile();
        EXPECT_TRUE(std::equal(profile, profile + profile_size, srgb.begin(), srgb.end()));
        if (samples == 4) {
          std::uint16_t count = 0;
          std::uint16_t* kinds = nullptr;
          ASSERT_EQ(TIFFGetField(tif.get(), TIFFTAG_EXTRASAMPLES, &count, &kinds), 1);
          ASSERT_EQ(count, 1);
          EXPECT_EQ(kinds[0], EXTRASAMPLE_UNASSALPHA);
        }

        const std::vector<std::uint32_t> pixels = read_rgba(tif.get(), width, height);
        int worst = 0;
        for (int y = 0; y < height; ++y)
          for (int x = 0; x < width; ++x) {
            const std::uint32_t got = pixels[static_cast<std::size_t>(y * width + x)];
            EXPECT_EQ(got >> 24, 255u);
            worst = std::max(worst, max_channel_difference(got, foto.at(x, y)));
          }
        EXPECT_LE(worst, jpeg ? 12 : 0);

        // And as the program itself loads pictures.
        Foto loaded;
        ASSERT_TRUE(loaded.load(path, 0, 0).ok());
        ASSERT_EQ(loaded.width(), width);
        ASSERT_EQ(loaded.height(), height);
        worst = 0;
        for (int y = 0; y < height; ++y)
          for (int x = 0; x < width; ++x) {
            EXPECT_EQ(pixel_transparency(loaded.at(x, y)), 0u);
            worst = std::max(worst, max_channel_difference(loaded.at(x, y), foto.at(x, y)));
          }
        EXPECT_LE(worst, jpeg ? 12 : 0);
      }
}

// The stored samples themselves: red, green, blue, then an alpha of 255.
TEST(TiffWriter, AlphaSampleIsOpaqueEverywhere) {
  TempDir dir;
  const Foto foto = test_picture(19, 5);
  ScriptedPrompt prompt;
  FotoRowSource source(foto);
  ASSERT_TRUE(write_tiff_as(source, dir / "a.tif", TiffForm{false, false, 75, true}, 72, prompt));
  TiffPtr tif = open_for_reading(dir / "a.tif");
  ASSERT_TRUE(tif);
  std::vector<std::uint8_t> line(static_cast<std::size_t>(TIFFScanlineSize(tif.get())));
  ASSERT_EQ(line.size(), 19u * 4);
  for (std::uint32_t y = 0; y < 5; ++y) {
    ASSERT_EQ(TIFFReadScanline(tif.get(), line.data(), y, 0), 1);
    for (int x = 0; x < 19; ++x) {
      const std::uint32_t p = foto.at(x, static_cast<int>(y));
      const std::size_t at = static_cast<std::size_t>(x) * 4;
      EXPECT_EQ(line[at], pixel_red(p));
      EXPECT_EQ(line[at + 1], pixel_green(p));
      EXPECT_EQ(line[at + 2], pixel_blue(p));
      EXPECT_EQ(line[at + 3], 255);
    }
  }
}

// Taller than one strip, so several strips are written, the last one short;
// with JPEG every strip but the last is a whole number of 16-row blocks.
TEST(TiffWriter, WritesSeveralStripsAndZeroDpi) {
  TempDir dir;
  const int width = 5'000;
  const int height = 150;
  const Foto foto = test_picture(width, height);
  for (const bool jpeg : {false, true}) {
    SCOPED_TRACE(jpeg ? "jpeg" : "uncompressed");
    ScriptedPrompt prompt;
    FotoRowSource source(foto);
    ASSERT_TRUE(write_tiff_as(source, dir / "s.tif", TiffForm{false, jpeg, 75, false}, 0, prompt));
    TiffPtr tif = open_for_reading(dir / "s.tif");
    ASSERT_TRUE(tif);
    EXPECT_EQ(tag32(tif.get(), TIFFTAG_ROWSPERSTRIP), 64u);
    EXPECT_EQ(TIFFNumberOfStrips(tif.get()), 3u);
    float resolution = -1;
    ASSERT_EQ(TIFFGetField(tif.get(), TIFFTAG_XRESOLUTION, &resolution), 1);
    EXPECT_EQ(resolution, 0.0f);
    const std::vector<std::uint32_t> pixels = read_rgba(tif.get(), width, height);
    // The bottom row comes from the last, short strip.
    for (int x = 0; x < width; x += 97)
      EXPECT_LE(max_channel_difference(pixels[static_cast<std::size_t>((height - 1) * width + x)],
                                       foto.at(x, height - 1)),
                jpeg ? 12 : 0);
  }
}

// JPEG strips compressed on several threads are the bytes one thread makes,
// in classic and BigTIFF files, over several batches of strips and a short
// last strip; a stop in the middle still leaves nothing behind.
TEST(TiffWriter, StripsCompressedSideBySideMakeTheSameFile) {
  TempDir dir;
  const int width = 3'000;
  const int height = 1'250;  // strips of 96 rows: 14, the last one of 2
  const Foto foto = test_picture(width, height);
  for (const bool big : {false, true}) {
    SCOPED_TRACE(big ? "BigTIFF" : "TIFF");
    ScriptedPrompt prompt;
    FotoRowSource one_source(foto);
    ASSERT_TRUE(write_tiff_as(one_source, dir / "one.tif", TiffForm{big, true, 80, false, 1}, 72, prompt));
    const std::string one = read_file(dir / "one.tif");
    for (const int threads : {2, 3}) {
      FotoRowSource source(foto);
      ASSERT_TRUE(write_tiff_as(source, dir / "many.tif", TiffForm{big, true, 80, false, threads}, 72, prompt));
      EXPECT_TRUE(read_file(dir / "many.tif") == one) << threads << " threads";
    }
    int rows = 0;
    FotoRowSource stopping(foto, [&rows] { return ++rows > 900; });
    EXPECT_FALSE(write_tiff_as(stopping, dir / "stopped.tif", TiffForm{big, true, 80, false, 2}, 72, prompt));
    EXPECT_FALSE(fs::exists(dir / "stopped.tif"));
    EXPECT_EQ(prompt.messages().size(), 1u);
  }
  TiffPtr tif = open_for_reading(dir / "many.tif");
  ASSERT_TRUE(tif);
  EXPECT_EQ(TIFFNumberOfStrips(tif.get()), 14u);
  const std::vector<std::uint32_t> pixels = read_rgba(tif.get(), width, height);
  for (int y = 0; y < height; y += 101)
    for (int x = 0; x < width; x += 331)
      EXPECT_LE(max_channel_difference(pixels[static_cast<std::size_t>(y * width + x)], foto.at(x, y)), 12);
}

// Rows that end early leave no file behind and are always reported, a stop
// included.
TEST(TiffWriter, RowsEndingEarlyFailAndRemoveTheFile) {
  TempDir dir;
  const Foto foto = test_picture(40, 40);
  const fs::path path = dir / "stopped.tif";
  for (const bool jpeg : {false, true}) {
    int rows = 0;
    ScriptedPrompt prompt;
    FotoRowSource source(foto, [&rows] { return ++rows > 20; });
    EXPECT_FALSE(write_tiff_as(source, path, TiffForm{false, jpeg, 75, false}, 72, prompt));
    EXPECT_TRUE(source.stop_requested());
    EXPECT_EQ(prompt.messages(), std::vector<std::string>{"Unable to save file '" + path.string() + "'"});
    EXPECT_FALSE(fs::exists(path));
  }

  // A source with fewer rows than it promised.
  class ShortSource final : public RowSource {
   public:
    int width() const override { return 8; }
    int height() const override { return 8; }
    const std::uint32_t* next_row() override { return ++m_rows <= 3 ? m_row.data() : nullptr; }
    bool stop_requested() const override { return false; }

   private:
    std::vector<std::uint32_t> m_row = std::vector<std::uint32_t>(8, 0x123456u);
    int m_rows = 0;
  } short_source;
  ScriptedPrompt prompt;
  EXPECT_FALSE(write_tiff_as(short_source, path, TiffForm{}, 72, prompt));
  EXPECT_EQ(prompt.messages().size(), 1u);
  EXPECT_FALSE(fs::exists(path));
}

TEST(TiffWriter, EmptyPictureIsRefused) {
  TempDir dir;
  Foto empty;
  FotoRowSource source(empty);
  ScriptedPrompt prompt;
  EXPECT_FALSE(write_tiff_as(source, dir / "e.tif", TiffForm{}, 72, prompt));
  EXPECT_EQ(prompt.messages().size(), 1u);
  EXPECT_FALSE(fs::exists(dir / "e.tif"));
}

// Library failures carry the library's own words after ". Error: ".
TEST(TiffWriter, ReportsTheLibrarysMessage) {
  TempDir dir;
  const Foto foto = test_picture(16, 16);
  {
    const fs::path path = dir / "missing" / "out.tif";
    ScriptedPrompt prompt;
    FotoRowSource source(foto);
    EXPECT_FALSE(write_tiff_as(source, path, TiffForm{}, 72, prompt));
    ASSERT_EQ(prompt.messages().size(), 1u);
    const std::string message = prompt.messages()[0];
    EXPECT_EQ(message.rfind("Unable to save file '", 0), 0u) << message;
    EXPECT_NE(message.find(". Error: "), std::string::npos) << message;
    EXPECT_NE(message.find("No such file or directory"), std::string::npos) << message;
  }
  if (fs::exists("/dev/full")) {
    // The device takes the open but refuses every byte; it must survive,
    // also when JPEG strips of several threads are refused.
    const Foto strips = test_picture(3'000, 300);
    for (const TiffForm format : {TiffForm{}, TiffForm{false, true, 75, false, 2}}) {
      ScriptedPrompt prompt;
      FotoRowSource source(format.jpeg ? strips : foto);
      EXPECT_FALSE(write_tiff_as(source, "/dev/full", format, 72, prompt));
      ASSERT_EQ(prompt.messages().size(), 1u);
      EXPECT_NE(prompt.messages()[0].find(". Error: "), std::string::npos) << prompt.messages()[0];
      EXPECT_TRUE(fs::exists("/dev/full"));
    }
  }
  for (const int threads : {1, 2}) {
    // Wider than a JPEG segment may be: the codec refuses it.
    const Foto wide = test_picture(70'000, 40);
    const fs::path path = dir / "wide.tif";
    ScriptedPrompt prompt;
    FotoRowSource source(wide);
    EXPECT_FALSE(write_tiff_as(source, path, TiffForm{false, true, 75, false, threads}, 72, prompt));
    ASSERT_EQ(prompt.messages().size(), 1u) << threads;
    EXPECT_NE(prompt.messages()[0].find(". Error: "), std::string::npos) << prompt.messages()[0];
    EXPECT_FALSE(fs::exists(path));
  }
}

// Each file hears only its own library errors, even while another thread's
// file fails at the same time.
TEST(TiffWriter, ConcurrentFilesKeepTheirErrorsApart) {
  TempDir dir;
  const Foto foto = test_picture(64, 64);
  std::vector<std::string> good_messages;
  std::vector<std::string> bad_messages;
  bool good_result = false;
  int bad_failures = 0;
  std::thread good([&] {
    for (int i = 0; i < 20 && (i == 0 || good_result); ++i) {
      ScriptedPrompt prompt;
      FotoRowSource source(foto);
      good_result = write_tiff_as(source, dir / "good.tif", TiffForm{false, true, 75, false}, 72, prompt);
      const auto messages = prompt.messages();
      good_messages.insert(good_messages.end(), messages.begin(), messages.end());
    }
  });
  std::thread bad([&] {
    for (int i = 0; i < 20; ++i) {
      ScriptedPrompt prompt;
      FotoRowSource source(foto);
      if (!write_tiff_as(source, dir / "no" / "bad.tif", TiffForm{}, 72, prompt)) ++bad_failures;
      const auto messages = prompt.messages();
      bad_messages.insert(bad_messages.end(), messages.begin(), messages.end());
    }
  });
  good.join();
  bad.join();
  EXPECT_TRUE(good_result);
  EXPECT_TRUE(good_messages.empty());
  EXPECT_EQ(bad_failures, 20);
  EXPECT_EQ(bad_messages.size(), 20u);
}

}  // namespace
}  // namespace tess
