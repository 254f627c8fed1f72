#include "video/clip_frames.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "images/foto.hpp"
#include "support/test_support.hpp"
#include "tilelist/foto_info.hpp"

namespace tess {
namespace {

using testing::TempDir;

// A raw clip of `frames` flat grey frames, frame n of level 8 n + 8.
std::filesystem::path make_counter(const TempDir& dir, const std::string& name, int frames) {
  const auto path = dir / name;
  const std::string command = std::string("'") + TESS_FFMPEG_EXE +
                              "' -nostdin -loglevel error -y -f lavfi -i \"color=c=black:s=32x24:r=25,format=gray,"
                              "geq=lum='8+N*8'\" -frames:v " +
                              std::to_string(frames) + " -c:v rawvideo -pix_fmt bgr24 '" + path.string() + "'";
  return std::system(command.c_str()) == 0 ? path : std::filesystem::path{};
}

int level(const Foto& frame) { return static_cast<int>(pixel_green(frame.at(5, 5))); }

TEST(ClipFrames, FramesOfManyClipsWithTheUsedOnesKeptOpen) {
  TempDir dir;
  const auto a = make_counter(dir, "a.avi", 12);
  const auto b = make_counter(dir, "b.avi", 5);
  const auto c = make_counter(dir, "c.avi", 5);
  ASSERT_FALSE(a.empty());
  ASSERT_FALSE(b.empty());
  ASSERT_FALSE(c.empty());
  ClipFrames clips(2);
  Foto frame;
  ASSERT_TRUE(clips.load(a.string(), 7, frame));
  EXPECT_EQ(frame.width(), 32);
  EXPECT_EQ(level(frame), 64);
  ASSERT_TRUE(clips.load(b.string(), 0, frame));
  EXPECT_EQ(level(frame), 8);
  ASSERT_TRUE(clips.load(a.string(), 8, frame));
  EXPECT_EQ(level(frame), 72);
  ASSERT_TRUE(clips.load(c.string(), 99, frame));  // held to the last frame
  EXPECT_EQ(level(frame), 40);
  EXPECT_EQ(clips.open_count(), 2u);
  ASSERT_TRUE(clips.load(b.string(), 4, frame));  // opened again after making way
  EXPECT_EQ(level(frame), 40);
  EXPECT_FALSE(clips.load((dir / "missing.avi").string(), 0, frame));
  EXPECT_TRUE(frame.empty());

  // Tiles of a band ask from several threads at once.
  std::vector<std::thread> threads;
  std::vector<int> levels(8, -1);
  for (int t = 0; t < 8; ++t)
    threads.emplace_back([&, t] {
      Foto mine;
      if (clips.load((t % 2 ? a : c).string(), t % 5, mine)) levels[static_cast<std::size_t>(t)] = level(mine);
    });
  for (auto& thread : threads) thread.join();
  for (int t = 0; t < 8; ++t) EXPECT_EQ(levels[static_cast<std::size_t>(t)], 8 + 8 * (t % 5)) << t;
}

TEST(ClipFrames, ListAnalysisSampleHasLengthRateAndFirstFrame) {
  TempDir dir;
  const auto a = make_counter(dir, "a.avi", 12);
  ASSERT_FALSE(a.empty());
  ClipSample sample;
  ASSERT_TRUE(read_clip_sample(a.string(), kAnalysisLoadSize, sample));
  EXPECT_EQ(sample.frame_count, 12);
  EXPECT_DOUBLE_EQ(sample.frames_per_second, 25.0);
  EXPECT_EQ(level(sample.frame), 8);
  ASSERT_TRUE(testing::write_file(dir / "not.avi", "not a video"));
  EXPECT_FALSE(read_clip_sample((dir / "not.avi").string(), kAnalysisLoadSize, sample));
}

}  // namespace
}  // namespace tess
