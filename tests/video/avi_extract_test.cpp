#include "video/avi_extract.hpp"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <mutex>
#include <set>
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

TEST(ExtractNames, FollowTheFolderAndFilePatterns) {
  EXPECT_EQ(extract_base_path("/films/holiday.avi"), std::filesystem::path("/films/holiday"));
  EXPECT_EQ(extract_folder_path("/films/holiday", 1, ExtractFolderKind::image),
            std::filesystem::path("/films/holiday_FRAMES1 Image"));
  EXPECT_EQ(extract_folder_path("/films/holiday", 12, ExtractFolderKind::still_video),
            std::filesystem::path("/films/holiday_FRAMES12 Static Video"));
  EXPECT_EQ(extract_folder_path("/films/holiday", 3, ExtractFolderKind::video),
            std::filesystem::path("/films/holiday_FRAMES3 Video"));
  EXPECT_EQ(extract_image_name("FR", 7, ExtractMode::jpeg), "FR000007.jpg");
  EXPECT_EQ(extract_image_name("%s", 1234567, ExtractMode::bmp), "%s1234567.bmp");
  EXPECT_EQ(extract_clip_name("FR", 1, 400), "FR000001-000400-(0400).avi");
}

// ---------------------------------------------------------------------------
// Whole extractions of videos made by the ffmpeg program

bool make_video(const std::string& source, const std::string& options, const std::filesystem::path& path) {
  const std::string command = std::string("'") + TESS_FFMPEG_EXE + "' -nostdin -loglevel error -y -f lavfi -i \"" +
                              source + "\" " + options + " '" + path.string() + "'";
  return std::system(command.c_str()) == 0;
}

// Frames 0..999 similar (grey 100 and 112 in turn), 1000..1028 similar (29),
// 1029..1058 similar (30), 1059..1118 static (60), then 10 more frames; hard
// cuts between them.
constexpr const char* kScenes =
    "color=c=black:s=32x24:r=25,format=gray,geq=lum='if(lt(N,1000),100+12*mod(N,2),if(lt(N,1029),30+12*mod(N,2),"
    "if(lt(N,1059),170+12*mod(N,2),if(lt(N,1119),230,60+12*mod(N,2)))))'";
constexpr int kSceneFrames = 1129;

// Left half red, right half blue, 2,001 tiny frames.
constexpr const char* kHalves = "color=c=blue:s=16x8:r=25,drawbox=x=0:y=0:w=8:h=8:color=red:t=fill";
constexpr int kHalvesFrames = 2001;

class Extraction : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    s_dir = new TempDir;
    s_made = make_video(kScenes, "-frames:v " + std::to_string(kSceneFrames) + " -c:v rawvideo -pix_fmt bgr24",
                        s_dir->path() / "scenes.avi") &&
             make_video(kHalves, "-frames:v " + std::to_string(kHalvesFrames) + " -c:v rawvideo -pix_fmt bgr24",
                        s_dir->path() / "halves.avi");
  }
  static void TearDownTestSuite() {
    delete s_dir;
    s_dir = nullptr;
  }
  void SetUp() override { ASSERT_TRUE(s_made) << "the ffmpeg program could not make the test videos"; }

  // A job over `video` writing beside the test's own base path.
  AviExtract::Job job(const std::string& video, ExtractMode mode) const {
    AviExtract::Job job;
    job.video = s_dir->path() / video;
    job.base = m_out.path() / "clip";
    CAviStream stream;
    EXPECT_TRUE(stream.open(job.video));
    job.parameters = extract_parameters(extraction_defaults(stream, mode == ExtractMode::clips), mode);
    job.threads = 2;
    job.folder_pause = std::chrono::milliseconds(0);
    return job;
  }

  std::filesystem::path folder(int number, ExtractFolderKind kind) const {
    return extract_folder_path(m_out.path() / "clip", number, kind);
  }

  static std::set<std::string> names_in(const std::filesystem::path& folder) {
    std::set<std::string> names;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) names.insert(entry.path().filename().string());
    return names;
  }

  static inline TempDir* s_dir = nullptr;
  static inline bool s_made = false;
  TempDir m_out;
  ScriptedPrompt m_prompt;
};

// A picture writer that writes nothing but an empty file and keeps the sizes
// and colours it was given.
struct RecordingWriter {
  std::mutex mutex;
  std::vector<std::uint32_t> corner_pixels;
  std::vector<std::pair<int, int>> sizes;
  std::atomic<int> calls{0};

  ExtractImageWriter writer() {
    return [this](const Foto& picture, const std::filesystem::path& path, int, Prompt&) {
      ++calls;
      std::lock_guard<std::mutex> guard(mutex);
      corner_pixels.push_back(picture.at(0, 0));
      sizes.emplace_back(picture.width(), picture.height());
      return tess::testing::write_file(path, "");
    };
  }
};

TEST_F(Extraction, ClipsAreCutAtTheScenesAndNamedByTheirFrames) {
  AviExtract::Job clips = job("scenes.avi", ExtractMode::clips);
  clips.detection.extract_static = true;
  AviExtract extract(m_prompt);
  ASSERT_EQ(extract.run(clips), ExtractOutcome::done) << ::testing::PrintToString(m_prompt.messages());
  EXPECT_TRUE(m_prompt.messages().empty());
  EXPECT_EQ(extract.status(), "Extracted 5 Video Clips.");
  EXPECT_EQ(extract.clips_written(), 5);

  const std::set<std::string> moving = {"FR000001-000400-(0400).avi", "FR000401-000800-(0400).avi",
                                        "FR000801-001000-(0200).avi", "FR001030-001059-(0030).avi"};
  EXPECT_EQ(names_in(folder(1, ExtractFolderKind::video)), moving);
  EXPECT_EQ(names_in(folder(1, ExtractFolderKind::still_video)),
            std::set<std::string>{"FR001060-001119-(0060).avi"});

  // The clips hold the frames their names promise.
  CAviStream clip;
  ASSERT_TRUE(clip.open(folder(1, ExtractFolderKind::video) / "FR001030-001059-(0030).avi"));
  EXPECT_EQ(clip.frame_count(), 30);
  EXPECT_DOUBLE_EQ(clip.fps(), 25.0);
  Foto frame;
  ASSERT_TRUE(clip.get_frame(0, frame));
  EXPECT_EQ(frame.width(), 32);
  EXPECT_EQ(frame.height(), 24);
  EXPECT_EQ(pixel_green(frame.at(5, 5)), 182u);  // frame 1029: 170 + 12
  ASSERT_TRUE(clip.open(folder(1, ExtractFolderKind::video) / "FR000401-000800-(0400).avi"));
  EXPECT_EQ(clip.frame_count(), 400);

  // Without "Extract.ExtractStaticVideo" the static scene is not written,
  // and no moving clip is cut from it either.
  TempDir other;
  clips.base = other / "clip";
  clips.detection.extract_static = false;
  ASSERT_EQ(extract.run(clips), ExtractOutcome::done);
  EXPECT_EQ(names_in(extract_folder_path(other / "clip", 1, ExtractFolderKind::video)), moving);
  EXPECT_FALSE(std::filesystem::exists(extract_folder_path(other / "clip", 1, ExtractFolderKind::still_video)));
}

TEST_F(Extraction, The2001stImageGoesIntoTheNextFolder) {
  AviExtract::Job images = job("halves.avi", ExtractMode::jpeg);
  ASSERT_EQ(images.parameters.count, kHalvesFrames);
  RecordingWriter recorder;
  images.jpeg_writer = recorder.writer();
  AviExtract extract(m_prompt);
  ASSERT_EQ(extract.run(images), ExtractOutcome::done);
  EXPECT_EQ(extract.status(), "Extracted 2001 Images.");
  EXPECT_EQ(names_in(folder(1, ExtractFolderKind::image)).size(), 2000u);
  EXPECT_EQ(names_in(folder(2, ExtractFolderKind::image)), std::set<std::string>{"FR002001.jpg"});
  EXPECT_TRUE(names_in(folder(1, ExtractFolderKind::image)).contains("FR002000.jpg"));
  EXPECT_EQ(extract.folders().size(), 2u);
}

TEST_F(Extraction, ImagesAreCroppedAndFoldersTakeTheNextFreeNumber) {
  std::filesystem::create_directory(folder(2, ExtractFolderKind::image));  // already there: skipped
  AviExtract::Job images = job("halves.avi", ExtractMode::bmp);
  images.parameters.crop = {8, 2, 8, 4};  // inside the blue half
  images.parameters.first = 10;
  images.parameters.last = 19;
  images.parameters.count = 5;
  images.parameters.prefix = "blue-";
  images.folder_capacity = 2;
  RecordingWriter recorder;
  images.bmp_writer = recorder.writer();
  AviExtract extract(m_prompt);
  ASSERT_EQ(extract.run(images), ExtractOutcome::done);
  EXPECT_EQ(names_in(folder(1, ExtractFolderKind::image)), (std::set<std::string>{"blue-000011.bmp", "blue-000013.bmp"}));
  EXPECT_EQ(names_in(folder(3, ExtractFolderKind::image)), (std::set<std::string>{"blue-000015.bmp", "blue-000017.bmp"}));
  EXPECT_EQ(names_in(folder(4, ExtractFolderKind::image)), (std::set<std::string>{"blue-000019.bmp"}));
  ASSERT_EQ(recorder.sizes.size(), 5u);
  for (std::size_t i = 0; i < 5; ++i) {
    EXPECT_EQ(recorder.sizes[i], (std::pair<int, int>{8, 4}));
    EXPECT_GT(pixel_blue(recorder.corner_pixels[i]), 200u);
    EXPECT_LT(pixel_red(recorder.corner_pixels[i]), 50u);
  }
}

TEST_F(Extraction, TheSixthFailedWriteEndsTheExtraction) {
  AviExtract::Job images = job("halves.avi", ExtractMode::jpeg);
  images.threads = 1;
  std::atomic<int> calls{0};
  images.jpeg_writer = [&](const Foto&, const std::filesystem::path&, int, Prompt&) {
    ++calls;
    return false;
  };
  AviExtract extract(m_prompt);
  EXPECT_EQ(extract.run(images), ExtractOutcome::failed);
  EXPECT_EQ(calls.load(), 6);
  EXPECT_EQ(m_prompt.messages(), std::vector<std::string>{"Too many Errors"});
  EXPECT_EQ(extract.error_count(), 6);
  EXPECT_EQ(extract.images_written(), 0);
}

TEST_F(Extraction, AStopEndsItBetweenFramesOnItsWorkerThread) {
  AviExtract::Job images = job("halves.avi", ExtractMode::jpeg);
  AviExtract extract(m_prompt);
  std::atomic<int> calls{0};
  images.jpeg_writer = [&](const Foto&, const std::filesystem::path& path, int, Prompt&) {
    if (++calls == 20) extract.request_stop();
    return tess::testing::write_file(path, "");
  };
  ASSERT_TRUE(extract.start(images));
  EXPECT_EQ(extract.wait(), ExtractOutcome::stopped);
  EXPECT_FALSE(extract.running());
  EXPECT_EQ(extract.status(), "Ready");
  EXPECT_LT(extract.images_written(), 100);
  EXPECT_TRUE(m_prompt.messages().empty());
}

TEST_F(Extraction, VideoAndCropFailuresAreReported) {
  AviExtract extract(m_prompt);
  AviExtract::Job missing = job("halves.avi", ExtractMode::jpeg);
  missing.video = s_dir->path() / "missing.avi";
  EXPECT_EQ(extract.run(missing), ExtractOutcome::failed);
  ASSERT_EQ(m_prompt.messages().size(), 1u);
  EXPECT_EQ(m_prompt.messages()[0].rfind("Unable to read the Video 01 ", 0), 0u) << m_prompt.messages()[0];
  EXPECT_EQ(extract.status(), "Ready");

  m_prompt.clear();
  AviExtract::Job too_wide = job("halves.avi", ExtractMode::clips);
  too_wide.parameters.crop = {1, 0, 16, 8};
  EXPECT_EQ(extract.run(too_wide), ExtractOutcome::failed);
  EXPECT_EQ(m_prompt.messages(), std::vector<std::string>{
                                     "Internal Error: The specified Position/Size is bigger than the size of a "
                                     "single Frame"});
  EXPECT_TRUE(extract.folders().empty());
}

}  // namespace
}  // namespace tess
