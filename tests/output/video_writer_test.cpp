#include "output/video_writer.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "base/scripted_prompt.hpp"
#include "images/foto.hpp"
#include "output/row_source.hpp"
#include "support/test_support.hpp"

namespace tess {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

// Frames of one colour each, frame k a little brighter than frame k - 1.
class FrameSource final : public RowSource {
 public:
  FrameSource(int width, int height) : m_row(static_cast<std::size_t>(width)), m_height(height) {}
  bool begin(std::int64_t frame) {
    m_frame = frame;
    m_next = 0;
    ++m_begun;
    return true;
  }
  int width() const override { return static_cast<int>(m_row.size()); }
  int height() const override { return m_height; }
  const std::uint32_t* next_row() override {
    if (m_next >= m_height) return nullptr;
    ++m_next;
    const auto level = static_cast<std::uint8_t>(20 * m_frame);
    std::fill(m_row.begin(), m_row.end(), make_pixel(level, 0, 255 - level));
    return m_row.data();
  }
  bool stop_requested() const override { return false; }
  int begun() const { return m_begun; }

 private:
  std::vector<std::uint32_t> m_row;
  int m_height;
  std::int64_t m_frame = 0;
  int m_next = 0;
  int m_begun = 0;
};

std::string frames_in(const fs::path& file) {
  return testing::command_output(
      "ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames,width -of csv=p=0 '" +
      file.string() + "'");
}

TEST(VideoWriter, LongVideosGoOnInNumberedContinuationFiles) {
  TempDir dir;
  ScriptedPrompt prompt;
  FrameSource source(21, 10);  // written 16 × 8: 384 bytes a frame
  const std::string base = (dir / "movie").string();
  const BeginFrame begin = [&](std::int64_t k) { return source.begin(k); };
  ASSERT_TRUE(write_avi_rows(source, base, 0, 12'500, 5, begin, prompt, 2 * 384 + 100));
  EXPECT_TRUE(prompt.calls().empty());
  EXPECT_EQ(source.begun(), 5);
  EXPECT_EQ(frames_in(base + ".avi"), "16,2\n");
  EXPECT_EQ(frames_in(base + "__002.avi"), "16,2\n");
  EXPECT_EQ(frames_in(base + "__003.avi"), "16,1\n");
  EXPECT_FALSE(fs::exists(base + "__004.avi"));
}

TEST(VideoWriter, PartsJoinedBreakIntoContinuationFilesWhereTheWholeVideoDoes) {
  TempDir dir;
  ScriptedPrompt prompt;
  FrameSource source(21, 10);  // written 16 × 8: 384 bytes a frame
  std::vector<std::int64_t> begun;
  const BeginFrame begin = [&](std::int64_t k) {
    begun.push_back(k);
    return source.begin(k);
  };
  const std::uint64_t limit = 2 * 384 + 100;
  const std::string whole = (dir / "whole").string();
  ASSERT_TRUE(write_avi_rows(source, whole, 0, 12'500, 5, begin, prompt, limit));
  // Parts are never continued, however small the limit would be.
  begun.clear();
  ASSERT_TRUE(write_avi_part_rows(source, (dir / "a").string(), 0, 12'500, 1, 3, 5, begin, prompt));
  ASSERT_TRUE(write_avi_part_rows(source, (dir / "b").string(), 0, 12'500, 4, 5, 5, begin, prompt));
  EXPECT_EQ(begun, (std::vector<std::int64_t>{1, 2, 3, 4, 5}));
  EXPECT_EQ(frames_in(dir / "a.avi"), "16,3\n");
  std::string refusal;
  EXPECT_EQ(join_avi_parts({(dir / "a.avi").string(), (dir / "b.avi").string()}, (dir / "joined").string(), prompt,
                           refusal, limit),
            JoinOutcome::joined)
      << refusal;
  EXPECT_TRUE(prompt.calls().empty());
  for (const char* suffix : {".avi", "__002.avi", "__003.avi"})
    EXPECT_TRUE(testing::read_file(dir / ("joined" + std::string(suffix))) ==
                testing::read_file(whole + suffix))
        << suffix;
  EXPECT_FALSE(fs::exists(dir / "joined__004.avi"));
}

TEST(VideoWriter, FramesAsPicturesAreNumberedFromOne) {
  TempDir dir;
  ScriptedPrompt prompt;
  FrameSource source(12, 7);
  const std::string base = (dir / "still").string();
  EXPECT_EQ(video_frame_file(base, 1), base + "__000000001.jpg");
  ASSERT_TRUE(write_video_frames(source, base, 1, 3, [&](std::int64_t k) { return source.begin(k); }, prompt));
  for (int k = 1; k <= 3; ++k) {
    Foto frame;
    ASSERT_TRUE(frame.load(video_frame_file(base, k), 0, 0).ok_or_show(prompt)) << k;
    EXPECT_EQ(frame.width(), 12);
    EXPECT_NEAR(static_cast<int>(pixel_red(frame.at(5, 3))), 20 * k, 3);
  }
  // A folder that is not there ends the writer at the first frame, reported.
  EXPECT_FALSE(write_video_frames(source, (dir / "gone/f").string(), 1, 3,
                                  [&](std::int64_t k) { return source.begin(k); }, prompt));
  EXPECT_FALSE(prompt.messages().empty());
}

TEST(VideoWriter, FailuresAreReportedAndStopTheWriter) {
  TempDir dir;
  ScriptedPrompt prompt;
  FrameSource source(16, 8);
  EXPECT_FALSE(write_avi_rows(source, (dir / "no/such/folder/m").string(), 0, 0, 3,
                              [&](std::int64_t k) { return source.begin(k); }, prompt));
  ASSERT_EQ(prompt.messages().size(), 1u);
  EXPECT_EQ(prompt.messages()[0].rfind("Unable to create the Video 10 ", 0), 0u) << prompt.messages()[0];
  // A frame the source cannot start ends the video there.
  prompt.clear();
  EXPECT_FALSE(write_avi_rows(source, (dir / "short").string(), 0, 0, 3,
                              [&](std::int64_t k) { return k < 2 && source.begin(k); }, prompt));
}

}  // namespace
}  // namespace tess
