#include "video/video_timing.hpp"

#include <gtest/gtest.h>

#include <deque>
#include <optional>
#include <vector>

#include "engine/puzzle.hpp"
#include "settings/advanced_options.hpp"
#include "tilelist/foto_info.hpp"
#include "video/fourcc.hpp"

namespace tess {
namespace {

class VideoMosaicTiming : public ::testing::Test {
 protected:
  // One cell per tile, in a row.
  void place(const std::vector<std::pair<int, int>>& clips_and_rates, int pictures = 0) {
    grid.reset(100'000, 10, 1.0, 0, false);
    int x = 0;
    for (const auto& [frames, rate] : clips_and_rates) {
      tiles.emplace_back("clip.avi");
      tiles.back().frame_count = static_cast<std::uint16_t>(frames);
      tiles.back().rate_code = static_cast<std::uint16_t>(rate);
      add(&tiles.back(), x++);
    }
    for (int i = 0; i < pictures; ++i) {
      tiles.emplace_back("photo.jpg");
      add(&tiles.back(), x++);
    }
  }
  void add(const FotoInfo* tile, int x) {
    ASSERT_TRUE(grid.add_cell(CellRect{10 * x, 0, 10, 10}));
    grid.cell(grid.size() - 1).tile = tile;
  }
  VideoTiming timing() { return video_timing(clip_statistics(grid), options); }

  PuzzleGrid grid;
  std::deque<FotoInfo> tiles;
  AdvancedOptions options;
};

TEST_F(VideoMosaicTiming, StatisticsOverThePlacedClips) {
  place({{40, 12'500}, {100, 15'000}, {61, 12'500}, {0, 9'000}, {30, 0}}, 2);
  const ClipStatistics stats = clip_statistics(grid);
  // Neither the clip without frames nor a rate of 0 (a picture) counts.
  EXPECT_EQ(stats.clips, 3);
  EXPECT_EQ(stats.shortest, 40);
  EXPECT_EQ(stats.longest, 100);
  EXPECT_EQ(stats.average, 67);
  EXPECT_EQ(stats.lowest_rate, 12'500);
  EXPECT_EQ(stats.highest_rate, 15'000);
  EXPECT_EQ(stats.frequent_rate, 12'500);
  // A tie goes to the lowest rate.
  place({{40, 15'000}, {40, 12'000}});
  EXPECT_EQ(clip_statistics(grid).frequent_rate, 12'000);
}

TEST_F(VideoMosaicTiming, DefaultsTakeTwiceTheLongestClipAtTheCommonRate) {
  place({{40, 12'500}, {40, 12'500}, {20, 15'000}});
  EXPECT_EQ(timing().frames, 80);
  EXPECT_EQ(timing().rate, 12'500);
  options.set_value(kOptVideoFrameCount, "max * 3");
  options.set_value(kOptVideoFrameRate, "25");
  EXPECT_EQ(timing().frames, 120);
  EXPECT_EQ(timing().rate, 12'500);  // 25 frames a second
  options.set_value(kOptVideoFrameCount, "MIN");
  options.set_value(kOptVideoFrameRate, "FREQ*2");
  EXPECT_EQ(timing().frames, 20);
  EXPECT_EQ(timing().rate, 25'000);
  options.set_value(kOptVideoFrameCount, "AVG*1");
  options.set_value(kOptVideoFrameRate, "MAX*0.5");
  EXPECT_EQ(timing().frames, 33);
  EXPECT_EQ(timing().rate, 7'500);
  options.set_value(kOptVideoFrameCount, "250");
  options.set_value(kOptVideoFrameRate, "min");
  EXPECT_EQ(timing().frames, 250);
  EXPECT_EQ(timing().rate, 12'500);
}

TEST_F(VideoMosaicTiming, PicturesOnlyOrRulesGivingNothingFallBackToTheImageOptions) {
  place({}, 3);
  EXPECT_EQ(timing().frames, 10);
  EXPECT_EQ(timing().rate, 5'000);
  options.set_value(kOptImageFrameCount, "24.9");
  options.set_value(kOptImageFrameRate, "12.5");
  EXPECT_EQ(timing().frames, 24);
  EXPECT_EQ(timing().rate, 6'000);  // whole frames a second
  // Rules that come to nothing, or to a negative length, are no rules.
  place({{40, 12'500}});
  options.set_value(kOptVideoFrameCount, "MAX*0");
  EXPECT_EQ(timing().frames, 24);
  options.set_value(kOptVideoFrameCount, "MAX*-2");
  EXPECT_EQ(timing().frames, 24);
  options.set_value(kOptImageFrameCount, "0");
  options.set_value(kOptImageFrameRate, "nonsense");
  EXPECT_EQ(timing().frames, 10);
  EXPECT_EQ(timing().rate, 5'000);
}

TEST(RateUnits, StreamRatesRoundToTheUnitsTheClipsAreWrittenIn) {
  EXPECT_EQ(rate_units(25, 1), 12'500u);
  EXPECT_EQ(rate_units(30'000, 1'001), 14'985u);  // 14,985.01
  EXPECT_EQ(rate_units(1, 1'001), 1u);            // 0.4995 rounds to nothing, yet a clip has a rate
  EXPECT_EQ(rate_units(1'000'000'000, 1), 4'294'967'295u);
  EXPECT_EQ(rate_units(0, 1), 0u);
  EXPECT_EQ(rate_units(25, 0), 0u);
}

TEST(VideoMosaicFrames, ClipsRestartOrPlayBackAndForth) {
  EXPECT_EQ(reverse_loop_mode(" none "), 0);
  EXPECT_EQ(reverse_loop_mode("Necessary"), 1);
  EXPECT_EQ(reverse_loop_mode("ALL"), 2);
  EXPECT_EQ(reverse_loop_mode("whatever"), 2);

  // Clips of 40 frames in an 80-frame mosaic without reversing: frame 41 shows clip frame 1.
  EXPECT_EQ(tile_frame(41, 40, 80, 0), 0);
  EXPECT_EQ(tile_frame(40, 40, 80, 0), 39);
  // N = 100, L = 30: 1..30 forward, 31..60 back, 61..80 forward over 20, 81..100 back.
  std::vector<std::int64_t> shown;
  for (int k = 1; k <= 100; ++k) shown.push_back(tile_frame(k, 30, 100, 2) + 1);
  for (int k = 1; k <= 30; ++k) EXPECT_EQ(shown[k - 1], k);
  for (int k = 31; k <= 60; ++k) EXPECT_EQ(shown[k - 1], 61 - k);
  for (int k = 61; k <= 80; ++k) EXPECT_EQ(shown[k - 1], k - 60);
  for (int k = 81; k <= 100; ++k) EXPECT_EQ(shown[k - 1], 101 - k);
  // "NECESSARY" reverses only clips not longer than the mosaic.
  EXPECT_EQ(tile_frame(31, 30, 100, 1), 29);
  EXPECT_EQ(tile_frame(31, 200, 100, 1), 30);
  EXPECT_EQ(tile_frame(5, 30, 0, 2), 0);
  EXPECT_EQ(tile_frame(5, 0, 10, 2), 0);
}

TEST(FourCC, KnownCodecsInAnyCaseOtherCodesAsTypedAndUnknownNamesRefused) {
  EXPECT_EQ(parse_fourcc("XVID"), 0x44495658u);  // "X" in the lowest byte
  const std::uint32_t mjpg = 0x47504A4Du;         // "MJPG"
  for (const char* name : {"MJPG", "mjpg", "Mjpg", "mjpeg", "MJPEG", " m j p e g "})
    EXPECT_EQ(read_fourcc(name), std::optional<std::uint32_t>(mjpg)) << name;
  for (const char* name : {"xvid", " X V I D ", "Xvid"}) EXPECT_EQ(parse_fourcc(name), parse_fourcc("XVID")) << name;
  EXPECT_EQ(parse_fourcc("h264"), parse_fourcc("H264"));
  // A code the program has no name for reaches the encoder as typed.
  EXPECT_EQ(parse_fourcc("avc1"), 0x31637661u);
  EXPECT_NE(parse_fourcc("avc1"), parse_fourcc("AVC1"));
  for (const char* none : {"0", "o", "O", "uncompressed", "UnCompressed", ""})
    EXPECT_EQ(read_fourcc(none), std::optional<std::uint32_t>(kFourccUncompressed)) << none;
  for (const char* unknown : {"XVIDS", "abc", "motion-jpeg", "h265x"}) {
    EXPECT_FALSE(read_fourcc(unknown).has_value()) << unknown;
    EXPECT_EQ(parse_fourcc(unknown), kFourccUnknown) << unknown;
  }
  EXPECT_EQ(fourcc_text(mjpg), "MJPG");
}

}  // namespace
}  // namespace tess
