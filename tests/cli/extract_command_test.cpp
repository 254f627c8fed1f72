// `tessellarium extract ...`, run as a separate process the way a user runs it,
// on videos made with the ffmpeg program.

#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>

#include <gtest/gtest.h>

extern "C" {
#include <libavutil/macros.h>
#include <libavutil/version.h>
}

#include "cli_runner.hpp"
#include "images/foto.hpp"
#include "support/test_support.hpp"

namespace tess {
namespace {

using testing::TempDir;
using Result = testing::CliOutcome;

// 20 frames of 64 × 48: green for frames 0..9, then a hard cut to grey levels
// 90 and 102 in turn, similar enough to form one scene.
constexpr const char* kVideoSource =
    "color=c=black:s=64x48:r=25,format=gray,geq=lum='if(lt(N,10),200,90+12*mod(N,2))'";

class ExtractCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string command = "ffmpeg -nostdin -loglevel error -y -f lavfi -i \"" + std::string(kVideoSource) +
                                "\" -frames:v 20 -c:v rawvideo -pix_fmt bgr24 " +
                                testing::shell_quoted((m_dir / "movie.avi").string());
    ASSERT_EQ(std::system(command.c_str()), 0) << "the ffmpeg program could not make the test video";
  }

  Result run(const std::string& args) const { return testing::run_program(m_dir.path(), args, m_dir.path()); }

  std::set<std::string> names_in(const std::string& folder) const {
    std::set<std::string> names;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(m_dir / folder, ec))
      names.insert(entry.path().filename().string());
    return names;
  }

  TempDir m_dir;
};

// The final status: the last of the progress lines on a pipe.
std::string last_line(const std::string& err) {
  if (err.empty() || err.back() != '\n') return err;
  const auto start = err.rfind('\n', err.size() - 2);
  return err.substr(start == std::string::npos ? 0 : start + 1);
}

TEST_F(ExtractCommand, WritesEvenlySpacedJpegFramesBesideTheVideo) {
  Result r = run("extract movie.avi --mode jpg --count 4 --first 3 --last 18");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "movie_FRAMES1 Image\n");  // beside the video as it was named
  EXPECT_EQ(last_line(r.err), "Extracted 4 Images.\n");
  // Step (18 − 3 + 1) / 4 = 4: frames 3, 7, 11 and 15, counted from 1 as the names count them.
  EXPECT_EQ(names_in("movie_FRAMES1 Image"),
            (std::set<std::string>{"FR000003.jpg", "FR000007.jpg", "FR000011.jpg", "FR000015.jpg"}));
  int width = 0, height = 0;
  ASSERT_TRUE(Foto::read_size(m_dir / "movie_FRAMES1 Image" / "FR000003.jpg", width, height));
  EXPECT_EQ(width, 64);
  EXPECT_EQ(height, 48);
}

TEST_F(ExtractCommand, WritesCroppedBitmapsWithThePrefix) {
  Result r = run("extract movie.avi --mode bmp --count 2 --crop 8,4,40,20 --prefix 'shot '");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(names_in("movie_FRAMES1 Image"), (std::set<std::string>{"shot 000001.bmp", "shot 000011.bmp"}));
  const std::string bmp = testing::read_file(m_dir / "movie_FRAMES1 Image" / "shot 000001.bmp");
  ASSERT_GE(bmp.size(), 26u);
  EXPECT_EQ(static_cast<unsigned char>(bmp[18]), 40);  // width
  EXPECT_EQ(static_cast<unsigned char>(bmp[22]), 20);  // height
}

TEST_F(ExtractCommand, CutsClipsWithTheConfiguredMinimum) {
  // The green scene has 10 frames and the grey one 10: with a minimum of 10
  // both are clips, with the default of 30 neither is.
  ASSERT_EQ(run("config set Extract.MinFrameCount 10").status, 0);
  Result r = run("extract movie.avi");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(last_line(r.err), "Extracted 2 Video Clips.\n");
  EXPECT_EQ(names_in("movie_FRAMES1 Video"),
            (std::set<std::string>{"FR000001-000010-(0010).avi", "FR000011-000020-(0010).avi"}));

  ASSERT_EQ(run("config set Extract.MinFrameCount 30").status, 0);
  r = run("extract movie.avi --mode clips");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(last_line(r.err), "Extracted 0 Video Clips.\n");
  EXPECT_EQ(r.err.find("Extracted 0 Video Clips."), r.err.rfind("Extracted 0 Video Clips."));
}

TEST_F(ExtractCommand, RefusesParametersTheVideoCannotHold) {
  Result r = run("extract movie.avi --mode jpg --crop 0,0,64,48");
  EXPECT_EQ(r.status, 0) << r.err;  // the whole frame is accepted
  r = run("extract movie.avi --mode jpg --crop 1,0,64,48");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "error: The value Left+Width (1+64 pixels) must not exceed the Video Width of 64 pixels\n");
  r = run("extract movie.avi --crop 0,10,64,40");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "error: The value Top+Height (10+40 pixels) must not exceed the Video Height of 48 pixels\n");
  // Frames count from 1: the 20 frames are 1-20, and a range past them is
  // refused before anything is written.
  const struct {
    const char* range;
    int status;
  } ranges[] = {{"--first 1 --last 20", 0}, {"--last 21", 2}, {"--first 0", 2}, {"--first 21", 2},
                {"--first 5 --last 4", 2}};
  for (const auto& c : ranges) {
    r = run(std::string("extract movie.avi --mode jpg --count 1 --prefix range ") + c.range);
    EXPECT_EQ(r.status, c.status) << c.range << ": " << r.err;
    if (c.status == 2) {
      EXPECT_EQ(r.err, "error: --first and --last take frames 1 to 20 of this video, the first not after the last\n")
          << c.range;
    }
  }
  r = run("extract movie.avi --crop 0,0,0,10");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err,
            "error: Internal Error: The specified Position/Size is bigger than the size of a single Frame\n");

  EXPECT_EQ(run("extract movie.avi --crop 1,2,3").status, 2);
  EXPECT_EQ(run("extract movie.avi --mode gif").status, 2);
  EXPECT_EQ(run("extract movie.avi --mode jpg --quality 0").status, 2);
  EXPECT_EQ(run("extract movie.avi --mode jpg --count 0").status, 2);
  EXPECT_EQ(run("extract movie.avi --mode jpg --prefix ../escape").status, 2);
  r = run("extract missing.avi");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "error: no such video 'missing.avi'\n");
  ASSERT_TRUE(testing::write_file(m_dir / "junk.avi", "RIFF nonsense"));
  r = run("extract junk.avi");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err.rfind("error: Unable to read the Video 01 ", 0), 0u) << r.err;
}

// FFmpeg is loaded when a video is first opened. Where it cannot be loaded
// (here a broken libavutil found first on the library path), the program
// still starts and the video is refused with a message, not a crash.
TEST_F(ExtractCommand, AVideoIsRefusedWhenFfmpegCannotBeLoaded) {
  std::filesystem::create_directory(m_dir / "libs");
  ASSERT_TRUE(testing::write_file(m_dir / "libs" / "libavutil.so." AV_STRINGIFY(LIBAVUTIL_VERSION_MAJOR), "junk"));
  const std::string env = "LD_LIBRARY_PATH=" + testing::shell_quoted((m_dir / "libs").string());
  Result r = testing::run_program(m_dir.path(), "extract movie.avi --mode jpg --count 2", m_dir.path(), env);
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err.rfind("error: Unable to read the Video 01 AVIERR_NOCOMPRESSOR", 0), 0u) << r.err;
  EXPECT_TRUE(names_in("movie_FRAMES1 Image").empty());
  EXPECT_EQ(testing::run_program(m_dir.path(), "--version", m_dir.path(), env).status, 0);
}

}  // namespace
}  // namespace tess
