#include "video/avi_stream.hpp"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/scripted_prompt.hpp"
#include "images/foto.hpp"
#include "support/test_support.hpp"

#ifndef TESS_FFMPEG_EXE
#error "TESS_FFMPEG_EXE must name the ffmpeg program"
#endif

namespace tess {
namespace {

using tess::testing::TempDir;

constexpr int kFrames = 30;
constexpr int kWidth = 64;
constexpr int kHeight = 48;

// Frame N of a counter video is a flat grey of level N × 8, so every decoded
// frame tells which frame it is, through any lossy codec.
const char* const kCounterSource = "color=c=black:s=64x48:r=25,format=gray,geq=lum='N*8'";

// Runs the ffmpeg program on a lavfi source; the arguments are fixed texts.
bool make_video(const std::string& source, const std::string& options, const std::filesystem::path& path) {
  const std::string command = std::string("'") + TESS_FFMPEG_EXE + "' -nostdin -loglevel error -y -f lavfi -i \"" +
                              source + "\" " + options + " '" + path.string() + "'";
  return std::system(command.c_str()) == 0;
}

int grey_level(const Foto& foto) {
  std::uint64_t sum = 0;
  for (std::size_t i = 0; i < foto.pixel_count(); ++i) sum += pixel_green(foto.pixels()[i]);
  return static_cast<int>(sum / foto.pixel_count());
}

// The videos are made once per test program run: each takes a tenth of a second.
class VideoFiles : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    s_dir = new TempDir;
    const std::string counter_frames = " -frames:v " + std::to_string(kFrames) + " -pix_fmt yuv420p";
    s_made = make_video(kCounterSource, "-c:v mpeg4 -vtag XVID -g 10" + counter_frames, path("counter.avi")) &&
             make_video(kCounterSource, "-c:v libx264 -g 10 -bf 2" + counter_frames, path("counter.mp4")) &&
             make_video(kCounterSource, "-c:v libx264 -g 10 -bf 2" + counter_frames, path("counter.mkv")) &&
             // Top half red, bottom half blue, stored raw.
             make_video("color=c=blue:s=64x48:r=10",
                        "-vf drawbox=x=0:y=0:w=64:h=24:color=red:t=fill -frames:v 3 -c:v rawvideo -pix_fmt bgr24",
                        path("halves.avi"));
  }
  static void TearDownTestSuite() {
    delete s_dir;
    s_dir = nullptr;
  }
  void SetUp() override { ASSERT_TRUE(s_made) << "the ffmpeg program could not make the test videos"; }

  static std::filesystem::path path(const std::string& name) { return s_dir->path() / name; }

  static inline TempDir* s_dir = nullptr;
  static inline bool s_made = false;
};

using Bitmaps = std::vector<std::vector<std::uint8_t>>;

Bitmaps read_in_order(const std::filesystem::path& video) {
  CAviStream stream;
  Bitmaps bitmaps;
  if (!stream.open(video)) return bitmaps;
  for (int i = 0; i < stream.frame_count(); ++i) {
    bitmaps.emplace_back();
    if (!stream.decode_frame(i, bitmaps.back())) bitmaps.back().clear();
  }
  return bitmaps;
}

TEST_F(VideoFiles, StreamInformationOfEveryContainer) {
  for (const char* name : {"counter.avi", "counter.mp4", "counter.mkv"}) {
    SCOPED_TRACE(name);
    CAviStream stream;
    ASSERT_TRUE(stream.open(path(name))) << stream.last_message();
    EXPECT_TRUE(stream.is_open());
    // The AVI and MP4 declare their count; the MKV's comes from its duration.
    EXPECT_EQ(stream.frame_count(), kFrames);
    EXPECT_EQ(stream.rate().num, 25);
    EXPECT_EQ(stream.rate().den, 1);
    EXPECT_DOUBLE_EQ(stream.fps(), 25.0);
    EXPECT_EQ(stream.width(), kWidth);
    EXPECT_EQ(stream.height(), kHeight);
    EXPECT_EQ(stream.frame_rect(), (FrameRect{0, 0, kWidth, kHeight}));
    const ExtractionDefaults defaults = extraction_defaults(stream, false);
    EXPECT_EQ(defaults.crop, stream.frame_rect());
    EXPECT_EQ(defaults.last, kFrames - 1);
    EXPECT_EQ(defaults.count, kFrames);

    // The count is the real one: the last frame is there, one more is not.
    Foto last;
    ASSERT_TRUE(stream.get_frame(kFrames - 1, last));
    EXPECT_NEAR(grey_level(last), (kFrames - 1) * 8, 3);
    Foto beyond;
    EXPECT_FALSE(stream.get_frame(kFrames, beyond));
    EXPECT_TRUE(beyond.empty());
    EXPECT_EQ(stream.last_message(), "Unable to read frame nr.31. Error 1");

    stream.close();
    EXPECT_FALSE(stream.is_open());
    EXPECT_EQ(stream.frame_count(), 0);
  }
}

TEST_F(VideoFiles, FrameNIsTheSameFrameWhateverWasReadBefore) {
  for (const char* name : {"counter.avi", "counter.mp4", "counter.mkv"}) {
    SCOPED_TRACE(name);
    // Read front to back, every frame is the one its number says.
    const Bitmaps in_order = read_in_order(path(name));
    ASSERT_EQ(in_order.size(), static_cast<std::size_t>(kFrames));
    for (int i = 0; i < kFrames; ++i) {
      Foto foto;
      ASSERT_TRUE(foto.load_frame(in_order[i].data(), in_order[i].size())) << i;
      EXPECT_NEAR(grey_level(foto), i * 8, 3) << i;
    }

    // Backwards, across key frames, repeated, after a later frame: identical.
    CAviStream stream;
    ASSERT_TRUE(stream.open(path(name)));
    for (int i : {17, 3, 29, 16, 17, 18, 0, 9, 10, 11, 28, 5, 5, 27, 12}) {
      std::vector<std::uint8_t> bitmap;
      ASSERT_TRUE(stream.decode_frame(i, bitmap)) << i;
      EXPECT_EQ(bitmap, in_order[i]) << i;
    }
    // And as the first frame read.
    CAviStream fresh;
    ASSERT_TRUE(fresh.open(path(name)));
    std::vector<std::uint8_t> bitmap;
    ASSERT_TRUE(fresh.decode_frame(19, bitmap));
    EXPECT_EQ(bitmap, in_order[19]);
  }
}

TEST_F(VideoFiles, FramesArriveTopRowFirstAndCropped) {
  CAviStream stream;
  ASSERT_TRUE(stream.open(path("halves.avi")));
  EXPECT_EQ(stream.frame_count(), 3);
  Foto whole;
  ASSERT_TRUE(stream.get_frame(1, whole));
  ASSERT_EQ(whole.width(), kWidth);
  ASSERT_EQ(whole.height(), kHeight);
  EXPECT_GT(pixel_red(whole.at(0, 0)), 200u);
  EXPECT_LT(pixel_blue(whole.at(0, 0)), 50u);
  EXPECT_GT(pixel_blue(whole.at(63, 47)), 200u);
  EXPECT_LT(pixel_red(whole.at(63, 47)), 50u);
  EXPECT_EQ(pixel_transparency(whole.at(5, 5)), 0u);

  // A rectangle across the border: four red rows above four blue ones.
  Foto cut;
  ASSERT_TRUE(stream.get_frame(1, FrameRect{10, 20, 30, 8}, cut));
  ASSERT_EQ(cut.width(), 30);
  ASSERT_EQ(cut.height(), 8);
  for (int y = 0; y < 8; ++y) {
    EXPECT_EQ(cut.at(0, y), whole.at(10, 20 + y)) << y;
    EXPECT_EQ(cut.at(29, y), whole.at(39, 20 + y)) << y;
  }

  // Right up to the frame's edge is fine; one pixel more is error 3.
  ASSERT_TRUE(stream.get_frame(0, FrameRect{4, 8, 60, 40}, cut));
  EXPECT_EQ(cut.at(59, 39), whole.at(63, 47));
  EXPECT_FALSE(stream.get_frame(0, FrameRect{4, 8, 61, 40}, cut));
  EXPECT_TRUE(cut.empty());
  EXPECT_EQ(stream.last_message(), "Unable to read frame nr.1. Error 3");
}

TEST_F(VideoFiles, FailuresNameTheStepAndTheCode) {
  ScriptedPrompt prompt;
  CAviStream stream;
  stream.show_messages(prompt);

  EXPECT_FALSE(stream.open(path("missing.avi")));
  EXPECT_FALSE(stream.is_open());
  EXPECT_EQ(stream.last_message(),
            "Unable to read the Video 01 AVIERR_FILEOPEN: Disk error while opening file (8004406F)");

  ASSERT_TRUE(tess::testing::write_file(path("garbage.avi"), std::string(5000, 'x')));
  EXPECT_FALSE(stream.open(path("garbage.avi")));
  EXPECT_EQ(stream.last_message(),
            "Unable to read the Video 01 AVIERR_BADFORMAT: Corrupt file or unrecognized format (80044066)");

  // A file with sound only has no video stream to open.
  ASSERT_TRUE(make_video("sine=frequency=440:duration=0.2", "-c:a pcm_s16le", path("sound.wav")));
  EXPECT_FALSE(stream.open(path("sound.wav")));
  EXPECT_EQ(stream.last_message(),
            "Unable to read the Video 01 AVIERR_BADFORMAT: Corrupt file or unrecognized format (80044066)");

  // A failed open releases the stream that was open before.
  ASSERT_TRUE(stream.open(path("halves.avi")));
  EXPECT_FALSE(stream.open(path("missing.avi")));
  Foto foto;
  EXPECT_FALSE(stream.get_frame(0, foto));
  EXPECT_EQ(stream.last_message(), "Unable to read frame nr.1. Error 1");

  const auto calls = prompt.calls();
  ASSERT_EQ(calls.size(), 5u);
  for (const auto& call : calls) EXPECT_EQ(call.icon, Icon::error);
  EXPECT_EQ(calls.back().text, "Unable to read frame nr.1. Error 1");

  // Without the flag the message is only kept.
  stream.keep_messages_only();
  EXPECT_FALSE(stream.open(path("missing.avi")));
  EXPECT_EQ(prompt.calls().size(), 5u);
}

// A file name is only ever a file name, even where it reads like one of
// FFmpeg's protocols.
TEST_F(VideoFiles, NamesThatLookLikeProtocolsAreFiles) {
  std::filesystem::copy_file(path("halves.avi"), path("crypto:halves.avi"));
  const std::filesystem::path before = std::filesystem::current_path();
  std::filesystem::current_path(s_dir->path());
  CAviStream stream;
  const bool opened = stream.open("crypto:halves.avi");
  std::filesystem::current_path(before);
  EXPECT_TRUE(opened) << stream.last_message();
  EXPECT_EQ(stream.frame_count(), 3);
}

TEST(CropCheck, RectangleMustLieInsideTheFrame) {
  const std::string refused =
      "Internal Error: The specified Position/Size is bigger than the size of a single Frame";
  EXPECT_EQ(crop_error(FrameRect{0, 0, 640, 480}, 640, 480), "");
  EXPECT_EQ(crop_error(FrameRect{40, 30, 600, 450}, 640, 480), "");
  EXPECT_EQ(crop_error(FrameRect{41, 30, 600, 450}, 640, 480), refused);
  EXPECT_EQ(crop_error(FrameRect{40, 31, 600, 450}, 640, 480), refused);
  EXPECT_EQ(crop_error(FrameRect{-1, 0, 10, 10}, 640, 480), refused);
  EXPECT_EQ(crop_error(FrameRect{0, 0, 0, 10}, 640, 480), refused);
  EXPECT_EQ(crop_error(FrameRect{0, 0, 10, -5}, 640, 480), refused);
  // A huge offset does not wrap around.
  EXPECT_EQ(crop_error(FrameRect{INT64_MAX, 0, 10, 10}, 640, 480), refused);
}

TEST(ExtractionDefaultsFromStream, WholeFrameAllFramesAndClampedCount) {
  ExtractionDefaults images = extraction_defaults(642, 483, 7200, false);
  EXPECT_EQ(images.crop, (FrameRect{0, 0, 642, 483}));
  EXPECT_EQ(images.first, 0);
  EXPECT_EQ(images.last, 7199);
  EXPECT_EQ(images.count, 5000);
  EXPECT_EQ(images.prefix, "FR");

  ExtractionDefaults clips = extraction_defaults(642, 483, 30, true);
  EXPECT_EQ(clips.crop, (FrameRect{0, 0, 640, 480}));
  EXPECT_EQ(clips.last, 29);
  EXPECT_EQ(clips.count, 30);

  ExtractionDefaults empty = extraction_defaults(64, 48, 0, false);
  EXPECT_EQ(empty.last, 0);
  EXPECT_EQ(empty.count, 1);
}

}  // namespace
}  // namespace tess
