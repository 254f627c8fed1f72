#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/scripted_prompt.hpp"
#include "images/foto.hpp"
#include "images/picture_colour.hpp"
#include "output/psd_writer.hpp"
#include "output/row_source.hpp"
#include "size_only_source.hpp"
#include "support/test_support.hpp"

namespace tess {
namespace {

namespace fs = std::filesystem;
using testing::read_file;
using testing::SizeOnlySource;
using testing::TempDir;

// Three channels that differ everywhere, so a swapped or shifted plane
// shows; byte 3 is set so that it would show too if it leaked.
Foto test_picture(int width, int height) {
  Foto foto;
  foto.try_allocate(width, height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      foto.at(x, y) = make_pixel(static_cast<std::uint32_t>(x * 7 + y) & 0xFF,
                                 static_cast<std::uint32_t>(y * 11 + 3) & 0xFF,
                                 static_cast<std::uint32_t>(x + 2 * y + 100) & 0xFF, 0xA5);
  return foto;
}

// Either form, as the writer table picks it.
bool write_photoshop_rows(RowSource& source, const fs::path& path, bool big, int dpi, Prompt& prompt) {
  return big ? write_psb_rows(source, path, {.dpi = dpi}, prompt) : write_psd_rows(source, path, {.dpi = dpi}, prompt);
}

std::uint32_t byte_at(const std::string& bytes, std::size_t at) { return static_cast<std::uint8_t>(bytes[at]); }
std::uint32_t be16(const std::string& bytes, std::size_t at) {
  return byte_at(bytes, at) << 8 | byte_at(bytes, at + 1);
}
std::uint32_t be32(const std::string& bytes, std::size_t at) { return be16(bytes, at) << 16 | be16(bytes, at + 2); }

// The profile resource's data with its pad byte.
std::size_t padded_profile_size() { return (srgb_icc_profile().size() + 1) & ~std::size_t{1}; }

// Checks every field before the pixels; returns where the pixels start.
std::size_t check_header(const std::string& file, int width, int height, bool big, std::uint32_t dpi) {
  const std::span<const std::uint8_t> profile = srgb_icc_profile();
  EXPECT_EQ(file.substr(0, 4), "8BPS");
  EXPECT_EQ(be16(file, 4), big ? 2u : 1u);
  for (std::size_t at = 6; at < 12; ++at) EXPECT_EQ(byte_at(file, at), 0u) << at;
  EXPECT_EQ(be16(file, 12), 3u);
  EXPECT_EQ(be32(file, 14), static_cast<std::uint32_t>(height));
  EXPECT_EQ(be32(file, 18), static_cast<std::uint32_t>(width));
  EXPECT_EQ(be16(file, 22), 8u);
  EXPECT_EQ(be16(file, 24), 3u);
  EXPECT_EQ(be32(file, 26), 0u);
  EXPECT_EQ(be32(file, 30), 74u + 12u + padded_profile_size());
  EXPECT_EQ(file.substr(34, 4), "8BIM");
  EXPECT_EQ(be16(file, 38), 1008u);
  EXPECT_EQ(be16(file, 40), 0u);
  EXPECT_EQ(be32(file, 42), 34u);
  EXPECT_EQ(byte_at(file, 46), 32u);
  EXPECT_EQ(file.substr(47, 32), "Mosaic created with Tessellarium");
  EXPECT_EQ(byte_at(file, 79), 0u);
  EXPECT_EQ(file.substr(80, 4), "8BIM");
  EXPECT_EQ(be16(file, 84), 1005u);
  EXPECT_EQ(be16(file, 86), 0u);
  EXPECT_EQ(be32(file, 88), 16u);
  EXPECT_EQ(be32(file, 92), dpi * 65536u);
  EXPECT_EQ(be16(file, 96), 1u);
  EXPECT_EQ(be16(file, 98), 1u);
  EXPECT_EQ(be32(file, 100), dpi * 65536u);
  EXPECT_EQ(be16(file, 104), 1u);
  EXPECT_EQ(be16(file, 106), 1u);
  // The sRGB profile as it is, its odd length (if odd) padded with a zero.
  EXPECT_EQ(file.substr(108, 4), "8BIM");
  EXPECT_EQ(be16(file, 112), 1039u);
  EXPECT_EQ(be16(file, 114), 0u);
  EXPECT_EQ(be32(file, 116), profile.size());
  EXPECT_EQ(file.substr(120, profile.size()), std::string(profile.begin(), profile.end()));
  if (profile.size() % 2 != 0) {
    EXPECT_EQ(byte_at(file, 120 + profile.size()), 0u);
  }
  std::size_t at = 120 + padded_profile_size();
  EXPECT_EQ(be32(file, at), 0u);
  if (big) {
    EXPECT_EQ(be32(file, at + 4), 0u);
  }
  at += big ? 8 : 4;
  EXPECT_EQ(be16(file, at), 0u);
  return at + 2;
}

// Reads the three planes back into pixels; byte 3 stays 0.
std::vector<std::uint32_t> read_planes(const std::string& file, std::size_t start, int width, int height) {
  const std::size_t plane = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  std::vector<std::uint32_t> pixels;
  if (file.size() != start + 3 * plane) {
    ADD_FAILURE() << "file size " << file.size();
    return pixels;
  }
  for (std::size_t i = 0; i < plane; ++i)
    pixels.push_back(make_pixel(byte_at(file, start + i), byte_at(file, start + plane + i),
                                byte_at(file, start + 2 * plane + i)));
  return pixels;
}

std::vector<std::uint32_t> rgb_pixels(const Foto& foto) {
  std::vector<std::uint32_t> pixels;
  for (int y = 0; y < foto.height(); ++y)
    for (int x = 0; x < foto.width(); ++x) pixels.push_back(foto.at(x, y) & 0xFFFFFFu);
  return pixels;
}

// Gives `rows` rows, then ends, by a stop request or by failing.
class ShortSource final : public RowSource {
 public:
  ShortSource(const Foto& foto, int rows, bool stop) : m_foto(foto), m_rows(rows), m_stop(stop) {}
  int width() const override { return m_foto.width(); }
  int height() const override { return m_foto.height(); }
  const std::uint32_t* next_row() override {
    if (m_next == m_rows) {
      m_ended = true;
      return nullptr;
    }
    return m_foto.row(m_next++);
  }
  bool stop_requested() const override { return m_stop && m_ended; }

 private:
  const Foto& m_foto;
  int m_rows;
  bool m_stop;
  int m_next = 0;
  bool m_ended = false;
};

TEST(PhotoshopWriter, OnePixelGivesTheExactSmallestFile) {
  TempDir dir;
  const Foto picture = test_picture(1, 1);
  for (const bool big : {false, true}) {
    SCOPED_TRACE(big ? "PSB" : "PSD");
    ScriptedPrompt prompt;
    FotoRowSource source(picture);
    const fs::path path = dir.path() / (big ? "one.psb" : "one.psd");
    ASSERT_TRUE(write_photoshop_rows(source, path, big, 72, prompt));
    EXPECT_TRUE(prompt.messages().empty());
    const std::string file = read_file(path);
    // The profile resource: 12 bytes and the padded profile.
    const std::size_t profile = 12 + padded_profile_size();
    EXPECT_EQ(file.size(), (big ? 121u : 117u) + profile);
    const std::size_t start = check_header(file, 1, 1, big, 72);
    EXPECT_EQ(start, (big ? 118u : 114u) + profile);
    EXPECT_EQ(read_planes(file, start, 1, 1), rgb_pixels(picture));
  }
}

// Odd sides, a row wider than the write buffer and a zero resolution.
TEST(PhotoshopWriter, PlanesReadBackForOddSizesInBothForms) {
  TempDir dir;
  struct Case {
    int width, height, dpi;
  };
  for (const Case c : {Case{7, 5, 300}, Case{1, 9, 0}, Case{13, 1, 96}, Case{2051, 3, 150}}) {
    const Foto picture = test_picture(c.width, c.height);
    for (const bool big : {false, true}) {
      SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + (big ? " PSB" : " PSD"));
      ScriptedPrompt prompt;
      FotoRowSource source(picture);
      const fs::path path = dir.path() / "picture.psd";
      ASSERT_TRUE(write_photoshop_rows(source, path, big, c.dpi, prompt));
      EXPECT_TRUE(prompt.messages().empty());
      const std::string file = read_file(path);
      const std::size_t start = check_header(file, c.width, c.height, big, static_cast<std::uint32_t>(c.dpi));
      EXPECT_EQ(read_planes(file, start, c.width, c.height), rgb_pixels(picture));
    }
  }
}

TEST(PhotoshopWriter, ResolutionIsHeldToWhatTheFieldCarries) {
  TempDir dir;
  const Foto picture = test_picture(2, 2);
  ScriptedPrompt prompt;
  FotoRowSource high(picture);
  ASSERT_TRUE(write_photoshop_rows(high, dir.path() / "high.psd", false, 70000, prompt));
  EXPECT_EQ(be32(read_file(dir.path() / "high.psd"), 92), 0xFFFF0000u);
  FotoRowSource negative(picture);
  ASSERT_TRUE(write_photoshop_rows(negative, dir.path() / "negative.psd", false, -5, prompt));
  EXPECT_EQ(be32(read_file(dir.path() / "negative.psd"), 92), 0u);
}

TEST(PhotoshopWriter, SidesUpToTheLimitAreWritten) {
  TempDir dir;
  const int side = max_photoshop_side(false);
  ASSERT_EQ(side, 30'000);
  const Foto picture = test_picture(side, 1);
  ScriptedPrompt prompt;
  FotoRowSource source(picture);
  ASSERT_TRUE(write_photoshop_rows(source, dir.path() / "wide.psd", false, 72, prompt));
  const std::string file = read_file(dir.path() / "wide.psd");
  EXPECT_EQ(read_planes(file, check_header(file, side, 1, false, 72), side, 1), rgb_pixels(picture));
}

TEST(PhotoshopWriter, ASourceThatEndsEarlyFailsAndLeavesNoFile) {
  TempDir dir;
  const Foto picture = test_picture(6, 8);
  const fs::path path = dir.path() / "short.psd";
  for (const bool stop : {true, false}) {
    SCOPED_TRACE(stop ? "stopped" : "failed");
    ScriptedPrompt prompt;
    ShortSource source(picture, 3, stop);
    EXPECT_FALSE(write_photoshop_rows(source, path, false, 72, prompt));
    if (stop)
      EXPECT_TRUE(prompt.messages().empty());
    else
      EXPECT_EQ(prompt.messages(), std::vector<std::string>{"Unable to save file '" + path.string() + "'"});
    EXPECT_FALSE(fs::exists(path));
  }

  ScriptedPrompt prompt;
  int asked = 0;
  FotoRowSource stopping(picture, [&asked] { return ++asked > 2; });
  EXPECT_FALSE(write_photoshop_rows(stopping, path, true, 72, prompt));
  EXPECT_TRUE(stopping.stop_requested());
  EXPECT_TRUE(prompt.messages().empty());
  EXPECT_FALSE(fs::exists(path));
}

TEST(PhotoshopWriter, UnwritablePlacesAreReported) {
  TempDir dir;
  const Foto picture = test_picture(3, 3);
  const fs::path missing = dir.path() / "no such folder" / "mosaic.psd";
  ScriptedPrompt prompt;
  FotoRowSource source(picture);
  EXPECT_FALSE(write_photoshop_rows(source, missing, false, 72, prompt));
  // The system's reason follows, beside the path.
  EXPECT_EQ(prompt.messages(), std::vector<std::string>{"Unable to save file '" + missing.string() +
                                                        "'. No such file or directory: " + missing.string()});

  const fs::path full = "/dev/full";
  if (!fs::exists(full)) GTEST_SKIP() << "no /dev/full here";
  ScriptedPrompt full_prompt;
  FotoRowSource full_source(picture);
  EXPECT_FALSE(write_photoshop_rows(full_source, full, true, 72, full_prompt));
  EXPECT_EQ(full_prompt.messages(),
            std::vector<std::string>{"Unable to save file '/dev/full'. No space left on device: /dev/full"});
  EXPECT_TRUE(fs::exists(full));
}

TEST(PhotoshopWriter, AnEmptyPictureIsAReportedFailure) {
  TempDir dir;
  ScriptedPrompt prompt;
  SizeOnlySource source(0, 5);
  const fs::path path = dir.path() / "empty.psd";
  EXPECT_FALSE(write_photoshop_rows(source, path, false, 72, prompt));
  EXPECT_EQ(prompt.messages().size(), 1u);
  EXPECT_FALSE(fs::exists(path));
}

}  // namespace
}  // namespace tess
