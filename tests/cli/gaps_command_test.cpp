// `tessellarium list gaps`, run as a user runs it on photos the test paints:
// a warm-coloured library lacks blue and green; a blue sky is the part of a
// picture it cannot match, until blue photos join the list.

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <regex>
#include <string>

#include <gtest/gtest.h>

#include "base/scripted_prompt.hpp"
#include "cli_runner.hpp"
#include "images/foto.hpp"
#include "images/image_files.hpp"
#include "support/test_support.hpp"

namespace tess {
namespace {

namespace fs = std::filesystem;
using testing::shell_quoted;
using testing::TempDir;

/// A photo-like JPEG: `colour` with a soft diagonal shading and a little grain.
bool photo(const fs::path& path, std::uint32_t colour, int seed) {
  return testing::write_jpeg(path, testing::JpegSpec(64, 48), [&](int y, std::uint8_t* rgb) {
    for (int x = 0; x < 64; ++x) {
      const int shade = (x + y) / 8 - 7 + ((x * 7 + y * 13 + seed) % 5) - 2;
      rgb[3 * x] = static_cast<std::uint8_t>(std::clamp<int>(pixel_red(colour) + shade, 0, 255));
      rgb[3 * x + 1] = static_cast<std::uint8_t>(std::clamp<int>(pixel_green(colour) + shade, 0, 255));
      rgb[3 * x + 2] = static_cast<std::uint8_t>(std::clamp<int>(pixel_blue(colour) + shade, 0, 255));
    }
  });
}

/// The share the report prints for the image, in percent; -1 when missing.
double unmatched_percent(const std::string& out) {
  std::smatch m;
  if (!std::regex_search(out, m, std::regex(R"(Unmatched within dE 10: ([0-9.]+) %)"))) return -1;
  return std::stod(m[1].str());
}

/// The lines of the "Largest holes:" block.
std::string holes_block(const std::string& out) {
  const auto start = out.find("Largest holes:");
  if (start == std::string::npos) return {};
  std::string block;
  std::size_t at = out.find('\n', start) + 1;
  while (at < out.size() && out.compare(at, 2, "  ") == 0) {
    const auto line_end = out.find('\n', at);
    block += out.substr(at, line_end - at) + "\n";
    at = line_end + 1;
  }
  return block;
}

class GapsCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(m_dir / "warm");
    int seed = 0;
    // Reds, oranges, yellows and browns, light and dark.
    for (std::uint32_t r : {110u, 170u, 220u, 250u})
      for (std::uint32_t g : {30u, 80u, 130u, 190u})
        if (g < r)
          for (std::uint32_t b : {10u, 40u}) {
            ++seed;
            ASSERT_TRUE(photo(m_dir / "warm" / ("w" + std::to_string(seed) + ".jpg"), make_pixel(r, g, b), seed));
          }
    // A blue sky over brown ground: the sky is the top 70 %.
    ASSERT_TRUE(testing::write_jpeg(m_dir / "sky.jpg", testing::JpegSpec(320, 240), [](int y, std::uint8_t* rgb) {
      for (int x = 0; x < 320; ++x) {
        const bool sky = y < 168;
        rgb[3 * x] = static_cast<std::uint8_t>(sky ? 60 + y / 3 : 175 - (x % 10));
        rgb[3 * x + 1] = static_cast<std::uint8_t>(sky ? 110 + y / 3 : 130);
        rgb[3 * x + 2] = static_cast<std::uint8_t>(sky ? 230 : 40);
      }
    }));
    ASSERT_EQ(run("list create " + quoted("warm.tzc") + " --include " + quoted("warm")).status, 0);
  }

  testing::CliOutcome run(const std::string& args) {
    return testing::run_program(m_config.path(), args, m_dir.path());
  }
  std::string quoted(const std::string& name) const { return shell_quoted((m_dir / name).string()); }
  std::string with_sky(const std::string& list, const std::string& output) {
    return "list gaps " + quoted(list) + " --image " + quoted("sky.jpg") + " --output " + quoted(output) +
           " --set MosaicSizeUnit=pixel --set MosaicSizeWidth=640 --set MosaicSizeHeight=480 --set TileSize=20";
  }

  TempDir m_config;
  TempDir m_dir;
};

TEST_F(GapsCommand, AWarmListLacksBlueAndGreenAndCannotMatchTheSkyUntilBluePhotosJoin) {
  // 1. The list alone: its report beside it by default.
  const testing::CliOutcome alone = run("list gaps " + quoted("warm.tzc"));
  ASSERT_EQ(alone.status, 0) << alone.err;
  const std::string holes = holes_block(alone.out);
  EXPECT_NE(holes.find("blue"), std::string::npos) << alone.out;
  EXPECT_NE(holes.find("green"), std::string::npos) << alone.out;
  const fs::path beside = m_dir / "warm gaps";
  EXPECT_TRUE(fs::is_regular_file(beside / "gap-report.html"));
  EXPECT_TRUE(fs::is_regular_file(beside / "gap-coverage.png"));
  EXPECT_FALSE(fs::exists(beside / "gap-heat-map.png"));

  // 2. With the sky: most of the picture is out of reach, and the heat map
  // is hot over the sky and cool over the ground.
  const testing::CliOutcome before = run(with_sky("warm.tzc", "report"));
  ASSERT_EQ(before.status, 0) << before.err;
  const double share_before = unmatched_percent(before.out);
  EXPECT_GT(share_before, 60.0) << before.out;
  const auto add_block = before.out.substr(before.out.find("Colours to add:"));
  EXPECT_NE(add_block.find("blue"), std::string::npos) << before.out;
  Foto heat;
  ScriptedPrompt quiet;
  ASSERT_TRUE(heat.load(m_dir / "report/gap-heat-map.png", 0, 0));
  const std::uint32_t sky = heat.at(heat.width() / 2, heat.height() / 4);
  const std::uint32_t ground = heat.at(heat.width() / 2 + 3, heat.height() * 9 / 10);
  EXPECT_GT(pixel_red(sky), pixel_green(sky) + 40) << std::hex << sky;
  EXPECT_GT(pixel_green(ground), pixel_red(ground)) << std::hex << ground;
  const std::string page = testing::read_file(m_dir / "report/gap-report.html");
  EXPECT_NE(page.find("gap-heat-map.png"), std::string::npos);
  EXPECT_NE(page.find("sky.jpg"), std::string::npos);

  // 3. Blue photos join the list: the share falls, into the same folder.
  fs::create_directories(m_dir / "warm/blue");
  for (int i = 0; i < 8; ++i)
    ASSERT_TRUE(photo(m_dir / "warm/blue" / ("b" + std::to_string(i) + ".jpg"),
                      make_pixel(60 + 12 * i, 110 + 12 * i, 230), 100 + i));
  ASSERT_EQ(run("list update " + quoted("warm.tzc")).status, 0);
  const testing::CliOutcome after = run(with_sky("warm.tzc", "report"));
  ASSERT_EQ(after.status, 0) << after.err;
  EXPECT_LT(unmatched_percent(after.out), share_before / 3) << after.out;
}

TEST_F(GapsCommand, RefusesWhatItCannotReadAndNeverReplacesAnotherFile) {
  // A list that is not there, or no list at all: bad input.
  const testing::CliOutcome missing = run("list gaps " + quoted("nope.tzc"));
  EXPECT_EQ(missing.status, 2);
  EXPECT_FALSE(missing.err.empty());
  ASSERT_TRUE(testing::write_file(m_dir / "junk.tzc", "not a list"));
  EXPECT_EQ(run("list gaps " + quoted("junk.tzc")).status, 2);
  // Parameters without a picture to lay them on, and a picture that is none.
  EXPECT_EQ(run("list gaps " + quoted("warm.tzc") + " --set TileSize=20").status, 2);
  EXPECT_EQ(run("list gaps " + quoted("warm.tzc") + " --image " + quoted("junk.tzc")).status, 2);

  // A folder holding someone's file of the report's name is left alone.
  fs::create_directories(m_dir / "theirs");
  ASSERT_TRUE(testing::write_file(m_dir / "theirs/gap-coverage.png", "mine"));
  const testing::CliOutcome refused = run("list gaps " + quoted("warm.tzc") + " --output " + quoted("theirs"));
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.err.find("gap-coverage.png"), std::string::npos) << refused.err;
  EXPECT_EQ(testing::read_file(m_dir / "theirs/gap-coverage.png"), "mine");
  EXPECT_FALSE(fs::exists(m_dir / "theirs/gap-report.html"));

  // Its own earlier report is replaced, and a stale heat map goes with it.
  ASSERT_EQ(run(with_sky("warm.tzc", "ours")).status, 0);
  ASSERT_TRUE(fs::exists(m_dir / "ours/gap-heat-map.png"));
  ASSERT_EQ(run("list gaps " + quoted("warm.tzc") + " --output " + quoted("ours")).status, 0);
  EXPECT_FALSE(fs::exists(m_dir / "ours/gap-heat-map.png"));
  EXPECT_EQ(testing::read_file(m_dir / "ours/gap-report.html").find("gap-heat-map.png"), std::string::npos);
}

}  // namespace
}  // namespace tess
