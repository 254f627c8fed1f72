#include "video/avi_create.hpp"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/scripted_prompt.hpp"
#include "images/foto.hpp"
#include "support/test_support.hpp"
#include "video/avi_packets.hpp"
#include "video/avi_stream.hpp"

#ifndef TESS_FFMPEG_EXE
#error "TESS_FFMPEG_EXE must name the ffmpeg program"
#endif

namespace tess {
namespace {

using tess::testing::TempDir;

constexpr std::uint32_t kXvid = 'X' | ('V' << 8) | ('I' << 16) | ('D' << 24);
constexpr std::uint32_t k25Fps = 25 * 500;


// The stream fields ffprobe finds in a file, frames counted by decoding them.
std::map<std::string, std::string> probe(const std::filesystem::path& video) {
  const std::filesystem::path ffprobe = std::filesystem::path(TESS_FFMPEG_EXE).parent_path() / "ffprobe";
  const std::string text = testing::command_output(
      "'" + ffprobe.string() +
      "' -v error -select_streams v:0 -count_frames -show_entries "
      "stream=codec_name,codec_tag_string,width,height,r_frame_rate,avg_frame_rate,time_base,nb_read_frames "
      "-of default=noprint_wrappers=1 '" +
      video.string() + "'");
  std::map<std::string, std::string> fields;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    const std::size_t equals = line.find('=');
    if (equals != std::string::npos) fields[line.substr(0, equals)] = line.substr(equals + 1);
    start = end + 1;
  }
  return fields;
}

// Frame `number` of the test clips: a grey level of 20 + 6 × number, with a
// red top-left quarter so that the orientation shows.
Foto test_frame(int width, int height, int number) {
  Foto foto;
  const std::uint32_t grey = 20 + 6 * static_cast<std::uint32_t>(number);
  foto.try_allocate_fill(width, height, make_pixel(grey, grey, grey));
  for (int y = 0; y < height / 2; ++y)
    for (int x = 0; x < width / 2; ++x) foto.at(x, y) = make_pixel(255, 0, 0);
  return foto;
}

TEST(AviCreate, RawVideoIsCutToMultiplesAndReadBackByFfprobe) {
  TempDir dir;
  CAviCreate avi;
  AviFrameFormat format;
  ASSERT_TRUE(avi.create(dir / "raw.avi", 1005, 603, 0, k25Fps, format)) << avi.last_message();
  EXPECT_EQ(format.width, 1000);
  EXPECT_EQ(format.height, 600);
  EXPECT_EQ(format.bits, 24);
  EXPECT_EQ(format.row_bytes, 3000u);
  EXPECT_EQ(format.image_size, 1'800'000u);
  EXPECT_EQ(avi.frame_format().width, 1000);

  // Frames of the uncut size are cut on the right and at the bottom.
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(avi.write(test_frame(1005, 603, i))) << avi.last_message();
  EXPECT_EQ(avi.frames_written(), 3);
  EXPECT_EQ(avi.bytes_written(), 3u * 1'800'000u);
  ASSERT_TRUE(avi.close()) << avi.last_message();
  EXPECT_FALSE(avi.is_open());
  EXPECT_EQ(avi.frames_written(), 0);
  EXPECT_EQ(avi.bytes_written(), 0u);

  auto fields = probe(dir / "raw.avi");
  EXPECT_EQ(fields["codec_name"], "rawvideo");
  EXPECT_EQ(fields["width"], "1000");
  EXPECT_EQ(fields["height"], "600");
  EXPECT_EQ(fields["nb_read_frames"], "3");
  EXPECT_EQ(fields["r_frame_rate"], "25/1");
}

TEST(AviCreate, RawFramesAreStoredBottomUpAndComeBackExactly) {
  TempDir dir;
  const std::filesystem::path path = dir / "frames.avi";
  {
    CAviCreate avi;
    ASSERT_TRUE(avi.create(path, 64, 48, 0, 10 * 500));
    for (int i = 0; i < 4; ++i) ASSERT_TRUE(avi.write(test_frame(64, 48, i)));
    ASSERT_TRUE(avi.close());
  }
  {
    // Dropped without close(), as a stopped run drops it: no file appears.
    CAviCreate avi;
    ASSERT_TRUE(avi.create(dir / "dropped.avi", 64, 48, 0, 10 * 500));
    ASSERT_TRUE(avi.write(test_frame(64, 48, 0)));
  }
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), std::filesystem::directory_iterator{}), 1);
  CAviStream stream;
  ASSERT_TRUE(stream.open(path)) << stream.last_message();
  EXPECT_EQ(stream.frame_count(), 4);
  EXPECT_DOUBLE_EQ(stream.fps(), 10.0);
  for (int i : {2, 0, 3, 1}) {
    Foto frame;
    ASSERT_TRUE(stream.get_frame(i, frame));
    const Foto expected = test_frame(64, 48, i);
    ASSERT_EQ(frame.pixel_count(), expected.pixel_count());
    EXPECT_TRUE(std::equal(frame.pixels(), frame.pixels() + frame.pixel_count(), expected.pixels())) << i;
  }

  // Another reader agrees on where the top is: the first decoded bytes are red.
  const std::string rgb = testing::command_output("'" + std::string(TESS_FFMPEG_EXE) + "' -nostdin -loglevel error -i '" +
                                     path.string() + "' -frames:v 1 -f rawvideo -pix_fmt rgb24 -");
  ASSERT_EQ(rgb.size(), 64u * 48u * 3u);
  EXPECT_EQ(static_cast<unsigned char>(rgb[0]), 255);
  EXPECT_EQ(static_cast<unsigned char>(rgb[1]), 0);
  EXPECT_EQ(static_cast<unsigned char>(rgb[rgb.size() - 3]), 20);
}

TEST(AviCreate, FourccPicksTheCodecAndIsWrittenAsTheTag) {
  TempDir dir;
  const std::filesystem::path path = dir / "xvid.avi";
  CAviCreate avi;
  // 29.97 frames per second.
  ASSERT_TRUE(avi.create(path, 64, 48, kXvid, 14985)) << avi.last_message();
  for (int i = 0; i < 12; ++i) {
    const Foto frame = test_frame(64, 48, i);
    ASSERT_TRUE(avi.write(frame)) << i << avi.last_message();
  }
  EXPECT_EQ(avi.frames_written(), 12);
  EXPECT_GT(avi.bytes_written(), 0u);
  EXPECT_LT(avi.bytes_written(), 12u * 64u * 48u * 3u);
  ASSERT_TRUE(avi.close()) << avi.last_message();

  auto fields = probe(path);
  EXPECT_EQ(fields["codec_name"], "mpeg4");
  EXPECT_EQ(fields["codec_tag_string"], "XVID");
  EXPECT_EQ(fields["nb_read_frames"], "12");
  // The file declares 2997/100; ffprobe's own guess rounds that to the NTSC rate.
  EXPECT_EQ(fields["avg_frame_rate"], "2997/100");
  EXPECT_EQ(fields["time_base"], "100/2997");

  CAviStream stream;
  ASSERT_TRUE(stream.open(path));
  EXPECT_EQ(stream.frame_count(), 12);
  EXPECT_NEAR(stream.fps(), 29.97, 0.001);
  for (int i : {11, 0, 7}) {
    Foto frame;
    ASSERT_TRUE(stream.get_frame(i, frame));
    EXPECT_NEAR(static_cast<int>(pixel_green(frame.at(48, 36))), 20 + 6 * i, 4) << i;
    EXPECT_GT(pixel_red(frame.at(8, 8)), 200u) << i;
  }
}

TEST(AviCreate, RefusedParametersNameTheirStep) {
  TempDir dir;
  ScriptedPrompt prompt;
  CAviCreate avi;
  avi.show_messages(prompt);

  EXPECT_FALSE(avi.create(dir / "no such folder" / "x.avi", 64, 48, 0, k25Fps));
  EXPECT_EQ(avi.last_message(),
            "Unable to create the Video 10 AVIERR_FILEOPEN: Disk error while opening file (8004406F)");
  EXPECT_FALSE(avi.create(dir / "zero.avi", 64, 48, 0, 0));
  EXPECT_EQ(avi.last_message(), "Unable to create the Video 11 AVIERR_BADPARAM (8004406A)");
  const std::uint32_t unknown = 'Q' | ('Q' << 8) | ('Q' << 16) | ('Q' << 24);
  EXPECT_FALSE(avi.create(dir / "unknown.avi", 64, 48, unknown, k25Fps));
  EXPECT_EQ(avi.last_message(),
            "Unable to create the Video 12 AVIERR_NOCOMPRESSOR: A suitable compressor could not be found. "
            "Please install a VFW Codec. (80044071)");
  EXPECT_FALSE(avi.create(dir / "tiny.avi", 7, 48, 0, k25Fps));
  EXPECT_EQ(avi.last_message(), "Unable to create the Video 13 AVIERR_BADSIZE (8004406B)");
  EXPECT_FALSE(avi.is_open());
  // Nothing is left behind by a refused create.
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));

  // Writing needs an open file and a frame of the full size.
  EXPECT_FALSE(avi.write(test_frame(64, 48, 0)));
  EXPECT_EQ(avi.last_message(), "Unable to create the Video 15 AVIERR_BADHANDLE (8004406C)");
  ASSERT_TRUE(avi.create(dir / "small.avi", 64, 48, 0, k25Fps));
  EXPECT_FALSE(avi.write(test_frame(64, 44, 0)));
  EXPECT_EQ(avi.last_message(), "Unable to create the Video 15 AVIERR_BADSIZE (8004406B)");
  std::vector<std::uint8_t> short_rows(64 * 48 * 3 - 1);
  EXPECT_FALSE(avi.write(short_rows.data(), short_rows.size()));
  EXPECT_EQ(avi.frames_written(), 0);

  EXPECT_EQ(prompt.calls().size(), 7u);
  for (const auto& call : prompt.calls()) EXPECT_EQ(call.icon, Icon::error);
}

// A file that may grow to only a few frames: writing beyond fails like a
// full disk. Run in a child process, whose file size limit ends with it.
// Frames are big enough to pass FFmpeg's output buffer at once.
TEST(AviCreate, WriteFailureIsFileWriteAtStep15) {
  TempDir dir;
  const std::filesystem::path path = dir / "full.avi";
  int pipe_ends[2];
  ASSERT_EQ(::pipe(pipe_ends), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(pipe_ends[0]);
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{600'000, 600'000};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    std::string message;
    {
      CAviCreate avi;
      if (avi.create(path, 320, 240, 0, k25Fps)) {
        const Foto frame = test_frame(320, 240, 0);
        for (int i = 0; i < 20 && avi.write(frame); ++i) {
        }
        message = avi.last_message();
        const std::int64_t frames = avi.frames_written();
        (void)avi.close();  // quiet after the failure: the message stays the write's
        if (avi.last_message() != message) message = "close changed it: " + avi.last_message();
        if (frames == 0 || frames >= 5) message += " after " + std::to_string(frames) + " frames";
      } else {
        message = avi.last_message();
      }
    }
    const ssize_t written = ::write(pipe_ends[1], message.data(), message.size());
    ::_exit(written == static_cast<ssize_t>(message.size()) ? 0 : 1);
  }
  ::close(pipe_ends[1]);
  std::string message;
  char buffer[512];
  ssize_t n = 0;
  while ((n = ::read(pipe_ends[0], buffer, sizeof buffer)) > 0) message.append(buffer, static_cast<std::size_t>(n));
  ::close(pipe_ends[0]);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(message,
            "Unable to create the Video 15 AVIERR_FILEWRITE: Disk error while writing file (Disk Full?) (8004406E)");
}

}  // namespace
}  // namespace tess

namespace tess {
namespace {

// The packets of `video` as stored.
std::vector<std::vector<std::uint8_t>> packets_of(const std::filesystem::path& video) {
  std::vector<std::vector<std::uint8_t>> packets;
  AviPacketReader reader;
  if (!reader.open(video)) return packets;
  std::vector<std::uint8_t> data;
  bool key = false;
  while (reader.next(data, key)) packets.push_back(data);
  return packets;
}

TEST(AviCreate, OnlyRawFramesAreStoredTheSameWhateverCameBefore) {
  // Ten busy frames of FFmpeg's test picture, whose sizes keep a bit-rate
  // budget busy; frames 6 to 10 written as a video of their own must be
  // stored as they are in the whole video.
  TempDir dir;
  const std::string command = "'" + std::string(TESS_FFMPEG_EXE) +
                              "' -nostdin -loglevel error -f lavfi -i testsrc=s=160x96:r=25:d=0.4 -vf vflip "
                              "-f rawvideo -pix_fmt bgr24 -";
  const std::string rows = testing::command_output(command);
  const std::size_t frame_bytes = 160 * 96 * 3;
  ASSERT_EQ(rows.size(), 10 * frame_bytes);
  const auto* data = reinterpret_cast<const std::uint8_t*>(rows.data());
  const std::uint32_t mjpg = 'M' | ('J' << 8) | ('P' << 16) | ('G' << 24);
  // Raw frames are; Motion JPEG's bit-rate budget makes a frame depend on
  // those before it, so its parts would not join into the whole video.
  {
    const std::uint32_t fourcc = 0;
    SCOPED_TRACE(fourcc);
    EXPECT_TRUE(frames_encoded_alone(fourcc));
    CAviCreate avi;
    ASSERT_TRUE(avi.create(dir / "whole.avi", 160, 96, fourcc, k25Fps));
    for (int k = 0; k < 10; ++k) ASSERT_TRUE(avi.write(data + k * frame_bytes, frame_bytes));
    ASSERT_TRUE(avi.close());
    ASSERT_TRUE(avi.create(dir / "part.avi", 160, 96, fourcc, k25Fps));
    for (int k = 5; k < 10; ++k) ASSERT_TRUE(avi.write(data + k * frame_bytes, frame_bytes));
    ASSERT_TRUE(avi.close());
    const auto whole = packets_of(dir / "whole.avi");
    const auto part = packets_of(dir / "part.avi");
    ASSERT_EQ(whole.size(), 10u);
    ASSERT_EQ(part.size(), 5u);
    for (int k = 0; k < 5; ++k) EXPECT_TRUE(part[k] == whole[k + 5]) << "frame " << k + 6;
  }
  EXPECT_FALSE(frames_encoded_alone(kXvid));
  EXPECT_FALSE(frames_encoded_alone(mjpg));
}

}  // namespace
}  // namespace tess
