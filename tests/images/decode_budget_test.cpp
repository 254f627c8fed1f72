// SPDX-License-Identifier: GPL-3.0-or-later
// The decoding budget every load shares, and PNGs shrunk while they are read.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <png.h>

#include "base/scripted_prompt.hpp"
#include "image_files.hpp"
#include "images/foto.hpp"
#include "images/foto_budget.hpp"
#include "support/test_support.hpp"

namespace tess {
namespace {

using namespace std::chrono_literals;
using testing::TempDir;

// Waits until `done` is set, or gives up after ten seconds.
bool becomes_true(const std::atomic<bool>& done) {
  for (int i = 0; i < 2000 && !done.load(); ++i) std::this_thread::sleep_for(5ms);
  return done.load();
}

TEST(DecodeBudget, RefusesAtOnceWhatCanNeverFitAndWaitsForTheRest) {
  DecodeBudget budget(100);
  EXPECT_FALSE(budget.take(101));  // never fits: refused, nothing waited for
  ASSERT_TRUE(budget.take(60));

  // 50 more do not fit beside 60: the second load waits until the first ends.
  std::atomic<bool> second_in{false};
  std::thread second([&] {
    if (budget.take(50)) second_in = true;
  });
  std::this_thread::sleep_for(50ms);
  EXPECT_FALSE(second_in.load());
  budget.give_back(60);
  EXPECT_TRUE(becomes_true(second_in));
  second.join();
  EXPECT_EQ(budget.in_use(), 50u);

  // A load waiting when the budget is lowered below its need is refused
  // rather than left waiting for ever.
  std::atomic<bool> third_done{false};
  std::atomic<bool> third_in{false};
  std::thread third([&] {
    third_in = budget.take(60);
    third_done = true;
  });
  std::this_thread::sleep_for(50ms);
  EXPECT_FALSE(third_done.load());
  budget.set_limit(40);
  EXPECT_TRUE(becomes_true(third_done));
  third.join();
  EXPECT_FALSE(third_in.load());

  // A charge is given back with its load, and taken only once.
  budget.give_back(50);
  budget.set_limit(100);
  {
    DecodeCharge charge(budget);
    ASSERT_TRUE(charge.take(70));
    EXPECT_FALSE(charge.take(10));
    EXPECT_EQ(budget.in_use(), 70u);
  }
  EXPECT_EQ(budget.in_use(), 0u);
}

TEST(DecodeBudget, AutomaticBudgetIsAQuarterOfTheAvailableMemory) {
  const std::uint64_t automatic = automatic_decode_budget();
  EXPECT_GT(automatic, 0u);
  EXPECT_LE(automatic, pixel_memory_limit() / 4 + 1);
  EXPECT_EQ(DecodeBudget().limit(), automatic);
}

// Sets the process's budget for the scope.
class ScopedBudget {
 public:
  explicit ScopedBudget(std::uint64_t bytes) : m_old(decode_budget().limit()) { decode_budget().set_limit(bytes); }
  ~ScopedBudget() { decode_budget().set_limit(m_old); }
  ScopedBudget(const ScopedBudget&) = delete;
  ScopedBudget& operator=(const ScopedBudget&) = delete;

 private:
  std::uint64_t m_old;
};

// A picture larger than the whole budget is refused with the loader's
// out-of-memory text before anything is decoded or allocated; one that fits
// loads as before and gives its share back.
TEST(DecodeBudget, LoadsAreRefusedBeyondTheBudgetAndGiveTheirShareBack) {
  TempDir dir;
  const auto bomb = dir / "arith.jpg";
  ASSERT_TRUE(testing::write_jpeg(bomb, testing::JpegSpec(16, 16, 1).with_arithmetic(),
                                  [](int, std::uint8_t* grey) { std::fill_n(grey, 16, std::uint8_t{128}); }));
  ASSERT_TRUE(testing::set_jpeg_frame_size(bomb, 65000, 65000));
  const auto photo = dir / "photo.jpg";
  ASSERT_TRUE(testing::write_jpeg(photo, testing::JpegSpec(400, 300),
                                  [](int y, std::uint8_t* rgb) { testing::photo_like_row(400, y, rgb); }));
  const auto png = dir / "photo.png";
  std::vector<std::vector<std::uint8_t>> rows(300, std::vector<std::uint8_t>(400 * 3));
  for (int y = 0; y < 300; ++y) testing::photo_like_row(400, y, rows[static_cast<std::size_t>(y)].data());
  ASSERT_TRUE(testing::write_png(png, testing::PngSpec(400, 300), rows));

  ScopedBudget budget(1'000'000);  // holds 400 × 300 pixels and libjpeg's rows, not 520 × 520
  const auto start = std::chrono::steady_clock::now();
  ScriptedPrompt prompt;
  Foto picture;
  EXPECT_FALSE(picture.load(bomb, 0, 0).ok_or_show(prompt));
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
  EXPECT_EQ(prompt.messages(),
            std::vector<std::string>{out_of_memory_text(65000, 65000) + "!!"});

  for (const auto& path : {photo, png}) {
    SCOPED_TRACE(path.string());
    ScriptedPrompt quiet;
    EXPECT_TRUE(picture.load(path, 0, 0));
    EXPECT_EQ(picture.width(), 400);
    EXPECT_TRUE(quiet.messages().empty());
    EXPECT_EQ(decode_budget().in_use(), 0u);
  }
  const auto larger = dir / "larger.jpg";
  ASSERT_TRUE(testing::write_jpeg(larger, testing::JpegSpec(520, 520),
                                  [](int y, std::uint8_t* rgb) { testing::photo_like_row(520, y, rgb); }));
  ScriptedPrompt refused;
  EXPECT_FALSE(picture.load(larger, 0, 0).ok_or_show(refused));
  EXPECT_EQ(refused.messages(), std::vector<std::string>{out_of_memory_text(520, 520) + "!!"});
  EXPECT_TRUE(picture.load(larger, 260, 260).ok_or_show(refused));  // halved by the DCT, it fits
  EXPECT_EQ(picture.width(), 260);
}

// A PNG too large to load whole for a small size is shrunk while its rows are
// read: each pixel is the mean of its block of the whole picture (colours
// weighted by opacity), the last blocks of a side being the partial ones.
TEST(PngReducedLoad, EachPixelIsTheMeanOfItsBlockOfTheWholePicture) {
  TempDir dir;
  // Just over 64 MiB of pixels when whole, with odd sides and every opacity.
  const int width = 8201, height = 2101;
  // Grey and alpha: half the bytes of colour to write and read back.
  std::vector<std::vector<std::uint8_t>> rows(static_cast<std::size_t>(height));
  std::vector<std::uint8_t> rgb(static_cast<std::size_t>(width) * 3);
  for (int y = 0; y < height; ++y) {
    testing::photo_like_row(width, y, rgb.data());
    auto& row = rows[static_cast<std::size_t>(y)];
    row.resize(static_cast<std::size_t>(width) * 2);
    for (int x = 0; x < width; ++x) {
      row[2 * static_cast<std::size_t>(x)] = rgb[3 * static_cast<std::size_t>(x) + static_cast<std::size_t>(y % 3)];
      row[2 * static_cast<std::size_t>(x) + 1] = static_cast<std::uint8_t>(x % 7 == 0 ? 0 : (x * 13 + y * 7) % 256);
    }
  }
  struct Case {
    const char* name;
    bool interlaced;
    int factor;  // the smallest that brings the picture (and for an interlaced file its sums) within 64 MiB
  };
  for (const Case& c : {Case{"plain.png", false, 2}, Case{"interlaced.png", true, 4}}) {
    SCOPED_TRACE(c.name);
    const auto path = dir / c.name;
    testing::PngSpec spec(width, height, PNG_COLOR_TYPE_GRAY_ALPHA, 8);
    if (c.interlaced) spec.with_interlace();
    ASSERT_TRUE(testing::write_png(path, spec, rows));
    EXPECT_EQ(Foto::load_scale(path, 48, 48), c.factor);
    EXPECT_EQ(Foto::load_scale(path, 0, 0), 1);
    EXPECT_EQ(Foto::load_scale(path, width / 2 + 1, 100), 1);  // never below the size asked for

    ScriptedPrompt prompt;
    Foto whole, reduced;
    ASSERT_TRUE(whole.load(path, 0, 0).ok_or_show(prompt));
    ASSERT_TRUE(reduced.load(path, 48, 48).ok_or_show(prompt));
    const int f = c.factor;
    ASSERT_EQ(reduced.width(), (width + f - 1) / f);
    ASSERT_EQ(reduced.height(), (height + f - 1) / f);
    int wrong = 0;
    for (int by = 0; by < reduced.height(); ++by) {
      for (int bx = 0; bx < reduced.width(); ++bx) {
        std::uint64_t sum[4] = {0, 0, 0, 0}, count = 0;
        for (int y = by * f; y < std::min(height, by * f + f); ++y) {
          for (int x = bx * f; x < std::min(width, bx * f + f); ++x) {
            const std::uint32_t p = whole.at(x, y);
            const std::uint64_t opacity = 255 - pixel_transparency(p);
            sum[0] += pixel_red(p) * opacity;
            sum[1] += pixel_green(p) * opacity;
            sum[2] += pixel_blue(p) * opacity;
            sum[3] += opacity;
            ++count;
          }
        }
        const auto mean = [&](std::uint64_t s) { return static_cast<std::uint32_t>((s + sum[3] / 2) / sum[3]); };
        const std::uint32_t expected =
            sum[3] == 0 ? kEmptyPixel
                        : make_pixel(mean(sum[0]), mean(sum[1]), mean(sum[2]),
                                     255 - static_cast<std::uint32_t>((sum[3] + count / 2) / count));
        if (reduced.at(bx, by) != expected && ++wrong <= 3)
          ADD_FAILURE() << "pixel " << bx << "," << by << ": " << std::hex << reduced.at(bx, by) << " not " << expected;
      }
    }
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(decode_budget().in_use(), 0u);
  }
}

// A JPEG that even the DCT's eighth leaves larger than an ordinary photo is
// shrunk further while its rows are read: it costs its reduced size, not the
// eighth's (4,500 × 4,500, 81 MB, more than the whole budget here), and each
// pixel is the mean of its block of the eighth.
TEST(JpegReducedLoad, BeyondTheDctScaleAPictureCostsOnlyItsReducedSize) {
  TempDir dir;
  const auto liar = dir / "grey36000.jpg";
  ASSERT_TRUE(testing::write_arithmetic_liar(liar, 36000));
  EXPECT_EQ(Foto::load_scale(liar, 48, 48), 16);
  EXPECT_EQ(Foto::load_scale(liar, 3000, 3000), 8);  // never below the size asked for
  EXPECT_EQ(Foto::load_scale(liar, 0, 0), 1);

  ScriptedPrompt prompt;
  Foto eighth, reduced;
  {
    ScopedBudget budget(60'000'000);
    ASSERT_TRUE(reduced.load(liar, 48, 48).ok_or_show(prompt)) << (prompt.messages().empty() ? "" : prompt.messages().front());
    EXPECT_FALSE(eighth.load(liar, 3000, 3000).ok_or_show(prompt));  // the eighth itself does not fit
    EXPECT_EQ(decode_budget().in_use(), 0u);
  }
  ASSERT_TRUE(eighth.load(liar, 3000, 3000).ok_or_show(prompt));
  ASSERT_EQ(eighth.width(), 4500);
  ASSERT_EQ(reduced.width(), 2250);
  ASSERT_EQ(reduced.height(), 2250);
  int wrong = 0;
  for (int y = 0; y < reduced.height(); ++y)
    for (int x = 0; x < reduced.width(); ++x) {
      std::uint32_t sum = 0;
      for (int dy = 0; dy < 2; ++dy)
        for (int dx = 0; dx < 2; ++dx) sum += pixel_red(eighth.at(2 * x + dx, 2 * y + dy));
      const std::uint32_t mean = (sum + 2) / 4;
      if (reduced.at(x, y) != make_pixel(mean, mean, mean) && ++wrong <= 3)
        ADD_FAILURE() << "pixel " << x << "," << y << ": " << std::hex << reduced.at(x, y);
    }
  EXPECT_EQ(wrong, 0);
}

}  // namespace
}  // namespace tess
