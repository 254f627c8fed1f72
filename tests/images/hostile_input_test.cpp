// Damaged, truncated and lying files: every load must fail with its message,
// leave the picture empty, and neither crash, hang nor take the machine's
// memory.

#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <png.h>

#include "base/scripted_prompt.hpp"
#include "image_files.hpp"
#include "images/foto.hpp"
#include "support/test_support.hpp"

namespace tess {
namespace {

using testing::JpegSpec;
using testing::PngSpec;
using testing::TempDir;

std::string unable_to_load(const std::filesystem::path& path) { return "Unable to load file '" + path.string() + "'"; }

long peak_memory_kib() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

class HostileInput : public ::testing::Test {
 protected:
  // Loads `path` and expects exactly `message` and an empty picture.
  void expect_failure(const std::filesystem::path& path, int max_w, int max_h, const std::string& message) {
    ScriptedPrompt prompt;
    Foto picture;
    ASSERT_TRUE(picture.try_allocate_fill(2, 2, 0));
    EXPECT_FALSE(picture.load(path, max_w, max_h).ok_or_show(prompt)) << path;
    EXPECT_TRUE(picture.empty());
    EXPECT_EQ(prompt.messages(), std::vector<std::string>{message}) << path;
    for (const auto& call : prompt.calls()) EXPECT_EQ(call.icon, Icon::error);
  }

  std::filesystem::path photo_jpeg(const std::string& name, JpegSpec spec) {
    const auto path = dir / name;
    spec.components = 3;
    const int width = spec.width;
    EXPECT_TRUE(
        testing::write_jpeg(path, spec, [width](int y, std::uint8_t* s) { testing::photo_like_row(width, y, s); }));
    return path;
  }

  std::filesystem::path photo_png(const std::string& name, int width, int height) {
    std::vector<std::vector<std::uint8_t>> rows(static_cast<std::size_t>(height));
    for (int y = 0; y < height; ++y) {
      rows[static_cast<std::size_t>(y)].resize(static_cast<std::size_t>(width) * 3);
      testing::photo_like_row(width, y, rows[static_cast<std::size_t>(y)].data());
    }
    const auto path = dir / name;
    EXPECT_TRUE(testing::write_png(path, PngSpec(width, height), rows));
    return path;
  }

  TempDir dir;
};

TEST_F(HostileInput, EmptyFilesAndNoise) {
  ASSERT_TRUE(testing::write_file(dir / "empty.jpg", ""));
  ASSERT_TRUE(testing::write_file(dir / "empty.png", ""));
  expect_failure(dir / "empty.jpg", 0, 0, unable_to_load(dir / "empty.jpg"));
  // Without the signature the name does not count: the JPEG decoder refuses it.
  expect_failure(dir / "empty.png", 0, 0, unable_to_load(dir / "empty.png"));
  for (unsigned seed = 1; seed <= 20; ++seed) {
    const auto noise = dir / ("noise" + std::to_string(seed) + ".jpg");
    ASSERT_TRUE(testing::write_random_bytes(noise, 50 + seed * 97, seed));
    expect_failure(noise, 48, 48, unable_to_load(noise));
  }
  // A JPEG start followed by noise.
  const auto start = dir / "start.jpg";
  ASSERT_TRUE(testing::write_random_bytes(start, 4000, 99));
  ASSERT_TRUE(testing::overwrite_bytes(start, 0, "\xFF\xD8\xFF\xDB"));
  expect_failure(start, 0, 0, unable_to_load(start));
}

TEST_F(HostileInput, JpegWhoseDataEndsEarlyFails) {
  const std::pair<std::string, JpegSpec> variants[] = {{"baseline", JpegSpec(320, 240)},
                                                       {"progressive", JpegSpec(320, 240).with_progressive()},
                                                       {"arithmetic", JpegSpec(320, 240).with_arithmetic()},
                                                       {"subsampled", JpegSpec(320, 240).with_subsampled_chroma()}};
  for (const auto& [name, spec] : variants) {
    const auto whole = photo_jpeg(name + ".jpg", spec);
    ScriptedPrompt prompt;
    Foto picture;
    ASSERT_TRUE(picture.load(whole, 48, 48).ok_or_show(prompt)) << name;
    EXPECT_EQ(picture.width(), 80);  // q = min(6, 5): a quarter
    EXPECT_EQ(picture.height(), 60);
    EXPECT_TRUE(prompt.messages().empty());

    const auto cut = dir / ("cut-" + name + ".jpg");
    const std::string data = testing::read_file(whole);
    ASSERT_TRUE(testing::write_file(cut, data.substr(0, data.size() * 2 / 3)));
    expect_failure(cut, 0, 0, unable_to_load(cut));
    expect_failure(cut, 48, 48, unable_to_load(cut));
  }
  const auto whole = dir / "baseline.jpg";
  const std::size_t size = testing::read_file(whole).size();
  const auto header_only = dir / "header-only.jpg";
  ASSERT_TRUE(testing::write_file(header_only, testing::read_file(whole).substr(0, 700)));
  expect_failure(header_only, 0, 0, unable_to_load(header_only));
  EXPECT_GT(size, 700u);
}

TEST_F(HostileInput, CorruptJpegDataFailsButHarmlessWarningsAreTolerated) {
  // A marker in the middle of the entropy-coded data: the rest of the rows
  // would be grey.
  const auto broken = photo_jpeg("broken.jpg", JpegSpec(256, 256));
  std::string data = testing::read_file(broken);
  const std::size_t scan = testing::find_jpeg_marker(data, 0xDA);
  ASSERT_NE(scan, std::string::npos);
  ASSERT_TRUE(testing::overwrite_bytes(broken, scan + (data.size() - scan) / 2, std::string("\xFF\xD9", 2)));
  expect_failure(broken, 0, 0, unable_to_load(broken));

  // Stray bytes between the data and the end marker only draw a warning.
  const auto padded = photo_jpeg("padded.jpg", JpegSpec(64, 64));
  data = testing::read_file(padded);
  data.insert(data.size() - 2, std::string(40, '\x11'));
  ASSERT_TRUE(testing::write_file(padded, data));
  ScriptedPrompt prompt;
  Foto picture;
  EXPECT_TRUE(picture.load(padded, 0, 0).ok_or_show(prompt));
  EXPECT_EQ(picture.width(), 64);
  EXPECT_TRUE(prompt.messages().empty());
}

// Past what the header's blocks can take, nothing belongs to the picture:
// the decoder stops there rather than read on for an end marker.
TEST_F(HostileInput, JpegDataRunningOnPastWhatItsHeaderAllowsFails) {
  const std::pair<std::string, JpegSpec> variants[] = {{"baseline", JpegSpec(64, 64)},
                                                       {"progressive", JpegSpec(16, 16).with_progressive()}};
  for (const auto& [name, spec] : variants) {
    const auto long_tail = photo_jpeg("long-tail-" + name + ".jpg", spec);
    std::string data = testing::read_file(long_tail);
    data.insert(data.size() - 2, std::string(std::size_t{16} << 20, '\x11'));
    ASSERT_TRUE(testing::write_file(long_tail, data));
    expect_failure(long_tail, 0, 0, unable_to_load(long_tail));
    int width = 0, height = 0;
    EXPECT_TRUE(Foto::read_size(long_tail, width, height)) << name;  // the header alone is fine
    EXPECT_EQ(width, spec.width) << name;
  }
}

// Hundreds of scans only keep the decoder busy; a plain progressive file is fine.
TEST_F(HostileInput, JpegWithEndlessScansFails) {
  const auto plain = photo_jpeg("progressive.jpg", JpegSpec(64, 48).with_progressive());
  const auto endless = photo_jpeg("endless.jpg", JpegSpec(64, 48).with_scan_per_coefficient());
  ScriptedPrompt prompt;
  Foto picture;
  Foto reference;
  ASSERT_TRUE(picture.load(plain, 0, 0).ok_or_show(prompt));
  ASSERT_TRUE(reference.load(photo_jpeg("baseline.jpg", JpegSpec(64, 48)), 0, 0).ok_or_show(prompt));
  EXPECT_EQ(picture.width(), 64);
  EXPECT_EQ(picture.height(), 48);
  int largest_difference = 0;
  for (std::size_t i = 0; i < picture.pixel_count(); ++i)
    for (int shift : {0, 8, 16, 24})
      largest_difference =
          std::max(largest_difference, std::abs(static_cast<int>((picture.pixels()[i] >> shift) & 0xFF) -
                                                static_cast<int>((reference.pixels()[i] >> shift) & 0xFF)));
  EXPECT_LE(largest_difference, 8);
  EXPECT_TRUE(prompt.messages().empty());
  expect_failure(endless, 0, 0, unable_to_load(endless));
}

TEST_F(HostileInput, JpegWithTwoComponentsFails) {
  const auto two = dir / "two.jpg";
  ASSERT_TRUE(testing::write_jpeg(two, JpegSpec(16, 16, 2), [](int, std::uint8_t* s) { std::memset(s, 80, 32); }));
  expect_failure(two, 0, 0, unable_to_load(two));
  JpegHeader header;
  EXPECT_TRUE(Foto::read_header(two, header));  // the header itself is fine
  EXPECT_EQ(header.components, 2);
}

// A small file whose frame header claims 60,000 × 60,000 pixels.
TEST_F(HostileInput, JpegHeaderClaimingAHugePictureFailsWithoutTakingMemory) {
  const long before = peak_memory_kib();
  for (const bool progressive : {false, true}) {
    const auto liar =
        photo_jpeg(progressive ? "liar-progressive.jpg" : "liar.jpg", JpegSpec(256, 256).with_progressive(progressive));
    ASSERT_TRUE(testing::set_jpeg_frame_size(liar, 60000, 60000));
    int w = 0, h = 0;
    ASSERT_TRUE(Foto::read_size(liar, w, h));
    ASSERT_EQ(w, 60000);
    expect_failure(liar, 48, 48, unable_to_load(liar));  // DCT-scaled to 7,500 × 7,500
    expect_failure(liar, 0, 0, unable_to_load(liar));    // whole: 14.4 GB of pixels
  }
  EXPECT_LT(peak_memory_kib() - before, 256L * 1024);
}

TEST_F(HostileInput, TruncatedAndDamagedPngFail) {
  const auto whole = photo_png("whole.png", 200, 150);
  const std::string data = testing::read_file(whole);

  const auto cut = dir / "cut.png";
  ASSERT_TRUE(testing::write_file(cut, data.substr(0, data.size() / 2)));
  expect_failure(cut, 0, 0, "PNG: Error during read_image");

  const auto header_cut = dir / "header-cut.png";
  ASSERT_TRUE(testing::write_file(header_cut, data.substr(0, 20)));
  expect_failure(header_cut, 0, 0, "PNG: Error during init_io");

  const auto signature_only = dir / "signature.jpg";
  ASSERT_TRUE(testing::write_file(signature_only, data.substr(0, 8)));
  expect_failure(signature_only, 0, 0, "PNG: Error during init_io");

  const std::size_t idat = testing::find_png_chunk(data, "IDAT");
  ASSERT_NE(idat, std::string::npos);
  const std::uint32_t idat_length = (std::uint32_t(std::uint8_t(data[idat])) << 24) |
                                    (std::uint32_t(std::uint8_t(data[idat + 1])) << 16) |
                                    (std::uint32_t(std::uint8_t(data[idat + 2])) << 8) | std::uint8_t(data[idat + 3]);
  const auto bad_data_crc = dir / "bad-data-crc.png";
  std::string damaged = data;
  damaged[idat + 8 + idat_length] ^= 0x5A;
  ASSERT_TRUE(testing::write_file(bad_data_crc, damaged));
  expect_failure(bad_data_crc, 0, 0, "PNG: Error during read_image");

  const auto bad_header_crc = dir / "bad-header-crc.png";
  damaged = data;
  damaged[29] ^= 0x01;
  ASSERT_TRUE(testing::write_file(bad_header_crc, damaged));
  expect_failure(bad_header_crc, 0, 0, "PNG: Error during init_io");

  const auto noise = dir / "noise.png";
  ASSERT_TRUE(testing::write_random_bytes(noise, 3000, 5));
  ASSERT_TRUE(testing::overwrite_bytes(noise, 0, data.substr(0, 8)));
  expect_failure(noise, 0, 0, "PNG: Error during init_io");
}

TEST_F(HostileInput, PngHeaderClaimingAHugePictureFailsBeforeAllocating) {
  const long before = peak_memory_kib();
  const auto liar = photo_png("liar.png", 64, 64);
  ASSERT_TRUE(testing::set_png_header_size(liar, 100000, 100000));
  int w = 0, h = 0;
  ASSERT_TRUE(Foto::read_size(liar, w, h));
  EXPECT_EQ(w, 100000);
  // 30 GB of samples cannot come out of a file of a few kilobytes.
  expect_failure(liar, 0, 0, "PNG: Error during read_image");

  // Beyond what libpng accepts at all.
  const auto too_wide = photo_png("too-wide.png", 64, 64);
  ASSERT_TRUE(testing::set_png_header_size(too_wide, 2000000, 1));
  expect_failure(too_wide, 0, 0, "PNG: Error during init_io");
  EXPECT_LT(peak_memory_kib() - before, 256L * 1024);
}

// A 1-bit picture whose file is large enough to hold it, but whose pixels
// would not fit the machine's memory: refused through the out-of-memory
// report.
TEST_F(HostileInput, PngLargerThanTheMachineIsOutOfMemory) {
  const double pixels = static_cast<double>(pixel_memory_limit()) / 4.0;
  const auto side = static_cast<std::uint32_t>(std::ceil(std::sqrt(pixels))) + 1;
  if (side > 1000000) GTEST_SKIP() << "this machine holds any picture libpng accepts";
  const auto liar = dir / "deep.png";
  ASSERT_TRUE(testing::write_png(liar, PngSpec(8, 1, PNG_COLOR_TYPE_GRAY, 1), {{0xAA}}));
  ASSERT_TRUE(testing::set_png_header_size(liar, side, side));
  const std::uint64_t raw = static_cast<std::uint64_t>(side) * (1 + (side + 7) / 8);
  ASSERT_TRUE(testing::append_bytes(liar, std::string(raw / 1000, '\0')));

  const std::string message = out_of_memory_text(static_cast<int>(side), static_cast<int>(side)) + "!";
  ScriptedPrompt prompt;
  Foto picture;
  EXPECT_FALSE(picture.load(liar, 0, 0).ok_or_show(prompt));
  EXPECT_TRUE(picture.empty());
  EXPECT_EQ(prompt.messages(), std::vector<std::string>{message});
}

}  // namespace
}  // namespace tess
