#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "base/scripted_prompt.hpp"
#include "images/foto.hpp"
#include "jpeg_markers.hpp"
#include "output/bmp_writer.hpp"
#include "output/jpeg_writer.hpp"
#include "output/png_writer.hpp"
#include "output/ppm_writer.hpp"
#include "output/row_source.hpp"
#include "support/test_support.hpp"

namespace tess {
namespace {

namespace fs = std::filesystem;
using testing::read_file;
using testing::TempDir;

// Smooth ramps, so JPEG keeps the colours close, with the three channels
// different everywhere, so any swapped channel shows; byte 3 is set to make
// sure no writer lets it into a file.
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

std::uint32_t rgb(std::uint32_t pixel) { return pixel & 0xFFFFFFu; }

std::uint32_t le32(const std::string& bytes, std::size_t at) {
  return static_cast<std::uint32_t>(static_cast<std::uint8_t>(bytes[at])) |
         static_cast<std::uint32_t>(static_cast<std::uint8_t>(bytes[at + 1])) << 8 |
         static_cast<std::uint32_t>(static_cast<std::uint8_t>(bytes[at + 2])) << 16 |
         static_cast<std::uint32_t>(static_cast<std::uint8_t>(bytes[at + 3])) << 24;
}
std::uint32_t le16(const std::string& bytes, std::size_t at) {
  return static_cast<std::uint32_t>(static_cast<std::uint8_t>(bytes[at])) |
         static_cast<std::uint32_t>(static_cast<std::uint8_t>(bytes[at + 1])) << 8;
}

std::uint32_t rgb_at(const std::string& bytes, std::size_t at) {
  return make_pixel(static_cast<std::uint8_t>(bytes[at]), static_cast<std::uint8_t>(bytes[at + 1]),
                    static_cast<std::uint8_t>(bytes[at + 2]));
}

// The pixels of a BMP, parsed byte by byte: header checked, rows turned back
// top first, padding required to be zero.
std::vector<std::uint32_t> parse_bmp(const std::string& file, int width, int height) {
  const std::size_t stride = (static_cast<std::size_t>(width) * 3 + 3) / 4 * 4;
  EXPECT_EQ(file.substr(0, 2), "BM");
  EXPECT_EQ(le32(file, 2), file.size());
  EXPECT_EQ(le32(file, 6), 0u);  // reserved words
  EXPECT_EQ(le32(file, 10), 54u);
  EXPECT_EQ(le32(file, 14), 40u);
  EXPECT_EQ(le32(file, 18), static_cast<std::uint32_t>(width));
  EXPECT_EQ(le32(file, 22), static_cast<std::uint32_t>(height));
  EXPECT_EQ(le16(file, 26), 1u);
  EXPECT_EQ(le16(file, 28), 24u);
  EXPECT_EQ(le32(file, 30), 0u);
  EXPECT_EQ(le32(file, 34), stride * height);
  for (std::size_t at = 38; at < 54; at += 4) EXPECT_EQ(le32(file, at), 0u) << at;
  std::vector<std::uint32_t> pixels;
  if (file.size() != 54 + stride * height) {
    ADD_FAILURE() << "file size " << file.size();
    return pixels;
  }
  for (int y = 0; y < height; ++y) {
    const std::size_t row = 54 + static_cast<std::size_t>(height - 1 - y) * stride;
    for (int x = 0; x < width; ++x) {
      const std::size_t at = row + static_cast<std::size_t>(x) * 3;
      pixels.push_back(make_pixel(static_cast<std::uint8_t>(file[at + 2]), static_cast<std::uint8_t>(file[at + 1]),
                                  static_cast<std::uint8_t>(file[at])));
    }
    for (std::size_t at = row + static_cast<std::size_t>(width) * 3; at < row + stride; ++at)
      EXPECT_EQ(file[at], '\0') << "padding of row " << y;
  }
  return pixels;
}

std::vector<std::uint32_t> parse_rgb(const std::string& file, std::size_t offset, int width, int height) {
  std::vector<std::uint32_t> pixels;
  if (file.size() != offset + static_cast<std::size_t>(width) * height * 3) {
    ADD_FAILURE() << "file size " << file.size();
    return pixels;
  }
  for (std::size_t at = offset; at < file.size(); at += 3) pixels.push_back(rgb_at(file, at));
  return pixels;
}

// JPEG and PNG files, read back through the program's own decoders.
std::vector<std::uint32_t> load_picture(const fs::path& path, int width, int height) {
  Foto foto;
  ScriptedPrompt silent;
  if (!foto.load(path, 0, 0) || foto.width() != width || foto.height() != height) {
    ADD_FAILURE() << path.filename() << " did not load at " << width << "x" << height;
    return {};
  }
  return {foto.pixels(), foto.pixels() + foto.pixel_count()};
}

struct WriterCase {
  const char* name;
  const char* extension;
  std::function<bool(RowSource&, const fs::path&, Prompt&)> write;
  std::function<std::vector<std::uint32_t>(const fs::path&, int, int)> read;
  int tolerance;  // per channel
};

std::vector<WriterCase> every_writer() {
  return {
      {"JPEG", ".jpg", [](RowSource& s, const fs::path& p, Prompt& pr) { return write_jpeg_rows(s, p, {.jpeg_quality = 100}, pr); },
       load_picture, 8},
      {"PNG", ".png",
       [](RowSource& s, const fs::path& p, Prompt& pr) { return write_png_rows(s, p, {}, pr); },
       load_picture, 0},
      {"BMP", ".bmp", [](RowSource& s, const fs::path& p, Prompt& pr) { return write_bmp_rows(s, p, {}, pr); },
       [](const fs::path& p, int w, int h) { return parse_bmp(read_file(p), w, h); }, 0},
      {"PPM", ".ppm", [](RowSource& s, const fs::path& p, Prompt& pr) { return write_ppm_rows(s, p, {}, pr); },
       [](const fs::path& p, int w, int h) {
         const std::string file = read_file(p);
         EXPECT_EQ(file.substr(0, kPixmapHeaderSize), pixmap_header(w, h));
         return parse_rgb(file, kPixmapHeaderSize, w, h);
       },
       0},
      {"RAW", ".raw", [](RowSource& s, const fs::path& p, Prompt& pr) { return write_raw_rows(s, p, {}, pr); },
       [](const fs::path& p, int w, int h) { return parse_rgb(read_file(p), 0, w, h); }, 0},
  };
}

bool within(std::uint32_t a, std::uint32_t b, int tolerance) {
  for (int shift = 0; shift < 24; shift += 8) {
    const int d = static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF);
    if (std::abs(d) > tolerance) return false;
  }
  return true;
}

// Gives `rows` rows of a picture, then ends; `stop` says whether that end
// is a stop request or a failure to produce the row.
class ShortSource final : public RowSource {
 public:
  ShortSource(const Foto& foto, int rows, bool stop) : m_foto(foto), m_rows(rows), m_stop(stop) {}
  int width() const override { return m_foto.width(); }
  int height() const override { return m_foto.height(); }
  const std::uint32_t* next_row() override {
    if (m_next >= m_rows) {
      m_ended = true;
      return nullptr;
    }
    return m_foto.row(m_next++);
  }
  bool stop_requested() const override { return m_stop && m_ended; }
  int rows_taken() const { return m_next; }

 private:
  const Foto& m_foto;
  int m_rows;
  bool m_stop;
  int m_next = 0;
  bool m_ended = false;
};

class Writers : public ::testing::Test {
 protected:
  TempDir dir;
  ScriptedPrompt prompt;
};

TEST_F(Writers, EveryWriterGivesBackThePictureItWasGiven) {
  for (const auto& [width, height] : std::vector<std::pair<int, int>>{{37, 23}, {1, 1}, {2, 5}, {3, 4}, {64, 16}}) {
    const Foto picture = test_picture(width, height);
    for (const WriterCase& writer : every_writer()) {
      SCOPED_TRACE(std::string(writer.name) + " " + std::to_string(width) + "x" + std::to_string(height));
      const fs::path path = dir / ("picture" + std::to_string(width) + writer.extension);
      FotoRowSource source(picture);
      ASSERT_TRUE(writer.write(source, path, prompt));
      const std::vector<std::uint32_t> pixels = writer.read(path, width, height);
      ASSERT_EQ(pixels.size(), picture.pixel_count());
      for (std::size_t i = 0; i < pixels.size(); ++i)
        ASSERT_TRUE(within(rgb(pixels[i]), rgb(picture.pixels()[i]), writer.tolerance))
            << "pixel " << i << ": " << std::hex << pixels[i] << " for " << picture.pixels()[i];
    }
  }
  EXPECT_TRUE(prompt.calls().empty());
}

TEST_F(Writers, JpegStoresQualityDensityAndGrey) {
  const Foto picture = test_picture(40, 30);
  FotoRowSource source(picture);
  ASSERT_TRUE(write_jpeg_rows(source, dir / "dpi.jpg", {.dpi = 300, .jpeg_quality = 90}, prompt));
  JpegHeader header;
  ASSERT_TRUE(Foto::read_header(dir / "dpi.jpg", header));
  EXPECT_EQ(header.width, 40);
  EXPECT_EQ(header.height, 30);
  EXPECT_EQ(header.components, 3);
  EXPECT_DOUBLE_EQ(header.dpi_x, 300);
  EXPECT_DOUBLE_EQ(header.dpi_y, 300);

  ASSERT_TRUE(write_jpeg_image(picture, dir / "plain.jpg", true, 100, 0, prompt));
  ASSERT_TRUE(Foto::read_header(dir / "plain.jpg", header));
  EXPECT_EQ(header.dpi_x, 0);  // no density given: none claimed

  Foto grey_source;
  grey_source.try_allocate_fill(16, 8, make_pixel(200, 100, 50));
  ASSERT_TRUE(write_jpeg_image(grey_source, dir / "grey.jpg", false, 100, 0, prompt));
  ASSERT_TRUE(Foto::read_header(dir / "grey.jpg", header));
  EXPECT_EQ(header.components, 1);
  const std::vector<std::uint32_t> grey = load_picture(dir / "grey.jpg", 16, 8);
  ASSERT_FALSE(grey.empty());
  // 0.587 * 100 + 0.299 * 200 + 0.114 * 50 = 124.2
  EXPECT_TRUE(within(rgb(grey[0]), make_pixel(124, 124, 124), 1)) << std::hex << grey[0];
  EXPECT_TRUE(prompt.calls().empty());
}

// A picture encoded row by row into memory is the file write_jpeg_image()
// writes, picture after picture through one encoder, with the profile or,
// without it, the same file less its profile markers; a missing row fails.
TEST_F(Writers, AStreamedJpegIsTheWrittenOneByteForByte) {
  JpegStreamEncoder encoder;
  for (const auto& [width, height, quality] : {std::tuple{37, 23, 95}, std::tuple{256, 256, 70}, std::tuple{1, 1, 95}}) {
    SCOPED_TRACE(::testing::Message() << width << " x " << height);
    const Foto picture = test_picture(width, height);
    ASSERT_TRUE(write_jpeg_image(picture, dir / "whole.jpg", true, quality, 0, prompt));
    const std::string written = read_file(dir / "whole.jpg");
    for (const bool profile : {true, false}) {
      ASSERT_TRUE(encoder.start(width, height, quality, profile));
      for (int y = 0; y < height; ++y) ASSERT_TRUE(encoder.write_row(picture.row(y)));
      std::string bytes;
      ASSERT_TRUE(encoder.finish(bytes));
      int removed = 0;
      EXPECT_TRUE(bytes == (profile ? written : testing::without_icc_markers(written, &removed))) << profile;
      if (!profile) {
        EXPECT_EQ(removed, 1);
      }
    }
  }
  const Foto picture = test_picture(20, 10);
  ASSERT_TRUE(encoder.start(20, 10, 95, true));
  ASSERT_TRUE(encoder.write_row(picture.row(0)));
  std::string bytes;
  EXPECT_FALSE(encoder.finish(bytes));
  EXPECT_FALSE(encoder.write_row(picture.row(1)));  // finished: rows wait for a new start
  ASSERT_TRUE(encoder.start(20, 10, 95, true));     // and it still serves the next picture
  for (int y = 0; y < 10; ++y) ASSERT_TRUE(encoder.write_row(picture.row(y)));
  EXPECT_TRUE(encoder.finish(bytes));
  EXPECT_TRUE(prompt.calls().empty());
}

std::uint32_t be32(const std::string& bytes, std::size_t at) {
  return static_cast<std::uint32_t>(static_cast<std::uint8_t>(bytes[at])) << 24 |
         static_cast<std::uint32_t>(static_cast<std::uint8_t>(bytes[at + 1])) << 16 |
         static_cast<std::uint32_t>(static_cast<std::uint8_t>(bytes[at + 2])) << 8 |
         static_cast<std::uint32_t>(static_cast<std::uint8_t>(bytes[at + 3]));
}

// Mosaic rows never hand their transparency byte to a file: an alpha sample
// is opaque. A whole picture may keep its transparency as alpha; the
// resolution is stored in pixels per metre only when there is one.
TEST_F(Writers, PngAlphaAndResolution) {
  const Foto picture = test_picture(30, 20);  // transparency 0x5A everywhere
  struct Case {
    const char* name;
    std::function<bool(const fs::path&)> write;
    int colour_type;  // 2 RGB, 6 RGBA
    std::uint32_t transparency;
    std::uint32_t per_metre;  // 0: no pHYs chunk
  };
  const std::vector<Case> cases = {
      {"rows", [&](const fs::path& p) { FotoRowSource s(picture); return write_png_rows(s, p, {}, prompt); }, 2, 0,
       0},
      {"rows with alpha",
       [&](const fs::path& p) {
         FotoRowSource s(picture);
         return write_png_rows(s, p, {.dpi = 300, .alpha = AlphaSample::opaque, .png_compression = 9}, prompt);
       },
       6, 0, 11811},
      {"picture", [&](const fs::path& p) { return write_png_picture(picture, p, prompt); }, 2, 0, 0},
      {"picture with transparency", [&](const fs::path& p) { return write_png_picture(picture, p, prompt, true); }, 6,
       0x5A, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path path = dir / (std::string(c.name) + ".png");
    ASSERT_TRUE(c.write(path));
    const std::string file = read_file(path);
    ASSERT_GT(file.size(), 33u);
    EXPECT_EQ(file.substr(12, 4), "IHDR");
    EXPECT_EQ(be32(file, 16), 30u);
    EXPECT_EQ(be32(file, 20), 20u);
    EXPECT_EQ(file[24], 8);  // bit depth
    EXPECT_EQ(file[25], c.colour_type);
    // Marked as sRGB by the chunk alone (perceptual intent), no profile.
    const std::size_t srgb = file.find("sRGB");
    ASSERT_NE(srgb, std::string::npos);
    EXPECT_EQ(be32(file, srgb - 4), 1u);
    EXPECT_EQ(file[srgb + 4], 0);
    EXPECT_EQ(file.find("iCCP"), std::string::npos);
    const std::size_t phys = file.find("pHYs");
    if (c.per_metre == 0) {
      EXPECT_EQ(phys, std::string::npos);
    } else {
      ASSERT_NE(phys, std::string::npos);
      EXPECT_EQ(be32(file, phys + 4), c.per_metre);
      EXPECT_EQ(be32(file, phys + 8), c.per_metre);
      EXPECT_EQ(file[phys + 12], 1);  // metres
    }
    const std::vector<std::uint32_t> pixels = load_picture(path, 30, 20);
    ASSERT_EQ(pixels.size(), picture.pixel_count());
    for (std::size_t i = 0; i < pixels.size(); ++i)
      ASSERT_EQ(pixels[i], rgb(picture.pixels()[i]) | c.transparency << 24) << i;
  }
  EXPECT_TRUE(prompt.calls().empty());
}

TEST_F(Writers, BmpRowsArePaddedToFourBytes) {
  for (int width : {1, 2, 3, 4, 5}) {
    const Foto picture = test_picture(width, 3);
    ASSERT_TRUE(write_bmp_image(picture, dir / "odd.bmp", prompt));
    const std::string file = read_file(dir / "odd.bmp");
    const std::size_t stride = (static_cast<std::size_t>(width) * 3 + 3) / 4 * 4;
    EXPECT_EQ(file.size(), 54 + stride * 3) << width;
    EXPECT_EQ(parse_bmp(file, width, 3).front(), rgb(picture.at(0, 0)));
  }
  EXPECT_EQ(read_file(dir / "odd.bmp").size(), 54u + 16 * 3);
  Foto one;
  one.try_allocate_fill(1, 1, make_pixel(1, 2, 3));
  ASSERT_TRUE(write_bmp_image(one, dir / "one.bmp", prompt));
  const std::string file = read_file(dir / "one.bmp");
  ASSERT_EQ(file.size(), 58u);
  EXPECT_EQ(file.substr(54), std::string("\x03\x02\x01\x00", 4));
}

TEST_F(Writers, PixmapHeaderIsAlwaysOneHundredBytes) {
  const std::string small = pixmap_header(1, 1);
  EXPECT_EQ(small.size(), 100u);
  EXPECT_EQ(small.rfind("P6\n# Created by Tessellarium Version 3.53.0 ", 0), 0u);
  EXPECT_EQ(small.substr(small.size() - 9), "\n1 1\n255\n");
  EXPECT_EQ(small.find_first_not_of(' ', 43), small.size() - 9);
  EXPECT_EQ(pixmap_header(2147483647, 2147483647).size(), 100u);

  Foto one;
  one.try_allocate_fill(1, 1, make_pixel(9, 8, 7));
  FotoRowSource source(one);
  ASSERT_TRUE(write_ppm_rows(source, dir / "one.ppm", {}, prompt));
  EXPECT_EQ(read_file(dir / "one.ppm"), small + "\x09\x08\x07");
}

TEST_F(Writers, ASourceThatEndsEarlyFailsEveryWriter) {
  const Foto picture = test_picture(20, 10);
  for (const WriterCase& writer : every_writer()) {
    for (const bool stop : {true, false}) {
      SCOPED_TRACE(std::string(writer.name) + (stop ? " stopped" : " failed"));
      prompt.clear();
      const fs::path path = dir / (std::string("short") + writer.extension);
      ShortSource source(picture, 4, stop);
      EXPECT_FALSE(writer.write(source, path, prompt));
      EXPECT_EQ(source.rows_taken(), 4);
      // A half-written picture is never left behind looking finished.
      EXPECT_FALSE(fs::exists(path));
      if (stop)
        EXPECT_TRUE(prompt.calls().empty());
      else
        EXPECT_EQ(prompt.messages(), std::vector<std::string>{"Unable to save file '" + path.string() + "'"});
    }
  }
}

TEST_F(Writers, AStopTestEndsAFotoSource) {
  const Foto picture = test_picture(8, 8);
  int polls = 0;
  FotoRowSource source(picture, [&polls] { return ++polls > 3; });
  EXPECT_FALSE(write_bmp_rows(source, dir / "stopped.bmp", {}, prompt));
  EXPECT_TRUE(source.stop_requested());
  EXPECT_TRUE(prompt.calls().empty());
  EXPECT_FALSE(fs::exists(dir / "stopped.bmp"));
}

TEST_F(Writers, UnwritablePathsAreReportedWithTheirName) {
  // A "%s" in a file name is data, never a format.
  const fs::path path = dir / "missing folder" / "100%s mosaic";
  const Foto picture = test_picture(4, 4);
  FotoRowSource jpeg_rows(picture);
  EXPECT_FALSE(write_jpeg_rows(jpeg_rows, path.string() + ".jpg", {.jpeg_quality = 95}, prompt));
  EXPECT_FALSE(write_bmp_image(picture, path.string() + ".bmp", prompt));
  FotoRowSource ppm_rows(picture);
  EXPECT_FALSE(write_ppm_rows(ppm_rows, path.string() + ".ppm", {}, prompt));
  EXPECT_FALSE(write_png_picture(picture, path.string() + ".png", prompt));
  // The system's reason follows in words, beside the path; the JPEG writer keeps its number too.
  const std::string missing = ". No such file or directory: " + path.string();
  EXPECT_EQ(prompt.messages(), (std::vector<std::string>{
                                   "Unable to save file '" + path.string() + ".jpg'. Error 2: No such file or directory: " +
                                       path.string() + ".jpg",
                                   "Unable to save file '" + path.string() + ".bmp'" + missing + ".bmp",
                                   "Unable to save file '" + path.string() + ".ppm'" + missing + ".ppm",
                                   "Unable to save file '" + path.string() + ".png'" + missing + ".png",
                               }));
  for (const ScriptedPrompt::Call& call : prompt.calls()) EXPECT_EQ(call.icon, Icon::error);
}

TEST_F(Writers, AFullDiskIsAFailure) {
  const fs::path full = "/dev/full";
  if (!fs::exists(full)) GTEST_SKIP() << "no /dev/full here";
  const Foto picture = test_picture(300, 200);
  for (const WriterCase& writer : every_writer()) {
    SCOPED_TRACE(writer.name);
    prompt.clear();
    FotoRowSource source(picture);
    EXPECT_FALSE(writer.write(source, full, prompt));
    EXPECT_EQ(prompt.messages(),
              std::vector<std::string>{"Unable to save file '/dev/full'. No space left on device: /dev/full"});
    EXPECT_TRUE(fs::exists(full));  // a device is never removed
  }
}

TEST_F(Writers, AnEmptyPictureIsAReportedFailure) {
  const Foto empty;
  EXPECT_FALSE(write_bmp_image(empty, dir / "empty.bmp", prompt));
  EXPECT_FALSE(write_jpeg_image(empty, dir / "empty.jpg", true, 95, 0, prompt));
  EXPECT_FALSE(write_png_picture(empty, dir / "empty.png", prompt));
  EXPECT_EQ(prompt.messages().size(), 3u);
  EXPECT_FALSE(fs::exists(dir / "empty.png"));
  EXPECT_FALSE(fs::exists(dir / "empty.bmp"));
  EXPECT_FALSE(fs::exists(dir / "empty.jpg"));
}

}  // namespace
}  // namespace tess
