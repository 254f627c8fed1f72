#include "video/avi_extract.hpp"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/ini_file.hpp"
#include "base/scripted_prompt.hpp"
#include "images/foto.hpp"
#include "settings/advanced_options.hpp"
#include "support/test_support.hpp"
#include "video/fourcc.hpp"

#ifndef TESS_FFMPEG_EXE
#error "TESS_FFMPEG_EXE must name the ffmpeg program"
#endif

namespace tess {
namespace {

using tess::testing::TempDir;

}  // namespace

// Readable failures.
void PrintTo(const ClipSpan& clip, std::ostream* os) {
  *os << "{" << clip.first << ", " << clip.length << (clip.still ? ", static}" : "}");
}
void PrintTo(const FrameRuns& runs, std::ostream* os) { *os << "{" << runs.similar << ", " << runs.still << "}"; }

namespace {

// ---------------------------------------------------------------------------
// Per-frame records of made-up scenes

// A scene of `length` frames that all stay similar (and, when `still`,
// static) against each other, ended by a cut.
struct Scene {
  std::int64_t length;
  bool still = false;
};

std::vector<FrameRuns> scene_runs(const std::vector<Scene>& scenes) {
  std::vector<FrameRuns> runs;
  for (const Scene& scene : scenes)
    for (std::int64_t i = 0; i < scene.length; ++i) runs.push_back({scene.length - i, scene.still ? scene.length - i : 1});
  return runs;
}

std::vector<std::int64_t> lengths(const std::vector<ClipSpan>& clips) {
  std::vector<std::int64_t> out;
  for (const ClipSpan& clip : clips) out.push_back(clip.length);
  return out;
}

TileSignature flat_signature(std::uint32_t grey) {
  TileSignature signature;
  signature.samples.fill(make_pixel(grey, grey, grey));
  return signature;
}

TEST(ImageFrames, StepsEvenlyThroughTheRangeAndNeverPastItsEnd) {
  EXPECT_EQ(select_image_frames(0, 99, 10), (std::vector<std::int64_t>{0, 10, 20, 30, 40, 50, 60, 70, 80, 90}));
  // Step 2.5, truncated.
  EXPECT_EQ(select_image_frames(10, 19, 4), (std::vector<std::int64_t>{10, 12, 15, 17}));
  // More images than frames: every frame once.
  EXPECT_EQ(select_image_frames(3, 6, 100), (std::vector<std::int64_t>{3, 4, 5, 6}));
  EXPECT_EQ(select_image_frames(5, 5, 3), (std::vector<std::int64_t>{5}));
  EXPECT_TRUE(select_image_frames(0, 10, 0).empty());
  EXPECT_TRUE(select_image_frames(7, 6, 5).empty());
}

TEST(SignatureDistance, SumsSquaredChannelDifferencesOverTheFineGrid) {
  EXPECT_EQ(signature_distance(flat_signature(100), flat_signature(100)), 0u);
  EXPECT_EQ(signature_distance(flat_signature(100), flat_signature(112)), 108u * 3 * 144);
  TileSignature one = flat_signature(0);
  one.samples[0] = make_pixel(255, 255, 255);  // the overall sample does not count
  one.samples[kFirstFineSample] = make_pixel(10, 0, 0, 200);  // nor does transparency
  EXPECT_EQ(signature_distance(one, flat_signature(0)), 100u);
}

TEST(FrameRunTracker, MeasuresSimilarAndStaticRunsAgainstTheirFirstFrame) {
  // Thresholds per sample: static 150, cut 1000 (the defaults).
  FrameRunTracker tracker(150 * 108, 1000 * 108, 100);
  // 100 100 100 112 100 | 30 30 | failed | 30
  for (std::uint32_t grey : {100u, 100u, 100u, 112u, 100u, 30u, 30u}) {
    const TileSignature s = flat_signature(grey);
    tracker.add(&s);
  }
  tracker.add(nullptr);
  const TileSignature last = flat_signature(30);
  tracker.add(&last);
  const std::vector<FrameRuns> runs = tracker.finish();
  ASSERT_EQ(runs.size(), 9u);
  EXPECT_EQ(runs[0], (FrameRuns{5, 3}));  // 112 is similar, not static
  EXPECT_EQ(runs[2], (FrameRuns{3, 1}));
  EXPECT_EQ(runs[3], (FrameRuns{2, 1}));
  EXPECT_EQ(runs[5], (FrameRuns{2, 2}));  // an unreadable frame is a cut
  EXPECT_EQ(runs[7], (FrameRuns{1, 1}));
  EXPECT_EQ(runs[8], (FrameRuns{1, 1}));  // the end of the range ends the runs
}

TEST(FrameRunTracker, NoRunIsLongerThanTheWindow) {
  FrameRunTracker tracker(150 * 108, 1000 * 108, 8);
  const TileSignature s = flat_signature(50);
  for (int i = 0; i < 20; ++i) tracker.add(&s);
  const std::vector<FrameRuns> runs = tracker.finish();
  EXPECT_EQ(runs[0], (FrameRuns{8, 8}));
  EXPECT_EQ(runs[12], (FrameRuns{8, 8}));
  EXPECT_EQ(runs[13], (FrameRuns{7, 7}));
}

TEST(ClipSelection, AThousandSimilarFramesGiveClipsOf400And400And200) {
  const ClipDetection defaults;
  const std::vector<ClipSpan> clips = plan_clips(scene_runs({{1000}}), defaults);
  EXPECT_EQ(clips, (std::vector<ClipSpan>{{0, 400, false}, {400, 400, false}, {800, 200, false}}));
}

TEST(ClipSelection, ASimilarRunNeedsTheMinimumFrameCount) {
  const ClipDetection defaults;
  EXPECT_TRUE(plan_clips(scene_runs({{29}}), defaults).empty());
  EXPECT_EQ(plan_clips(scene_runs({{29}, {30}}), defaults), (std::vector<ClipSpan>{{29, 30, false}}));
  // With only one candidate, a rest of exactly the minimum is not put back.
  EXPECT_EQ(lengths(select_clips({{0, 430, false}}, 30, 400)), (std::vector<std::int64_t>{400}));
  EXPECT_EQ(lengths(select_clips({{0, 431, false}}, 30, 400)), (std::vector<std::int64_t>{400, 31}));
}

TEST(ClipSelection, AStaticSceneIsAStaticClipOnlyAndWrittenOnlyWhenAskedFor) {
  ClipDetection detection;
  const std::vector<FrameRuns> runs = scene_runs({{40}, {60, true}, {35}});
  EXPECT_EQ(find_static_clips(runs, 50), (std::vector<ClipSpan>{{40, 60, true}}));
  // No moving clip is cut from the static scene.
  EXPECT_EQ(plan_clips(runs, detection), (std::vector<ClipSpan>{{0, 40, false}, {100, 35, false}}));
  detection.extract_static = true;
  EXPECT_EQ(plan_clips(runs, detection),
            (std::vector<ClipSpan>{{0, 40, false}, {40, 60, true}, {100, 35, false}}));
  // Without a static minimum there are no static clips, and the scene is an
  // ordinary moving clip.
  detection.min_static_frames = 0;
  EXPECT_EQ(lengths(plan_clips(runs, detection)), (std::vector<std::int64_t>{40, 60, 35}));
}

TEST(ClipSelection, ACandidateRunningIntoAStaticClipEndsAtItsFirstFrame) {
  // Frame 0 stays similar for 100 frames, of which 50..99 are static.
  std::vector<FrameRuns> runs(100, FrameRuns{1, 1});
  runs[0] = {100, 1};
  runs[10] = {90, 1};
  runs[30] = {70, 1};
  runs[50] = {50, 50};
  const std::vector<ClipSpan> statics = find_static_clips(runs, 50);
  EXPECT_EQ(find_candidates(runs, statics, 30), (std::vector<ClipSpan>{{0, 51, false}, {10, 41, false}}));
}

TEST(ClipSelection, OverlappingCandidatesKeepTheirPartsBeforeAndAfterTheChosenClip) {
  // 0..99 is chosen first: 80..139 keeps 100..139, 20..59 keeps nothing.
  EXPECT_EQ(select_clips({{0, 100}, {80, 60}, {20, 40}, {300, 10}}, 30, 400),
            (std::vector<ClipSpan>{{0, 100, false}, {100, 40, false}}));
  // 80..199 is chosen first: 0..99 keeps 0..79.
  EXPECT_EQ(select_clips({{0, 100}, {80, 120}}, 30, 400), (std::vector<ClipSpan>{{0, 80, false}, {80, 120, false}}));
  // Equal lengths: the earlier first.
  EXPECT_EQ(select_clips({{50, 40}, {10, 40}}, 30, 400), (std::vector<ClipSpan>{{10, 40, false}, {50, 40, false}}));
}

// ---------------------------------------------------------------------------
// Parameters, options and names

TEST(ExtractParameters, CropMustFitTheVideoAndFramesTheRange) {
  EXPECT_EQ(check_crop_width({10, 0, 630, 480}, 640), "");
  EXPECT_EQ(check_crop_width({10, 0, 631, 480}, 640),
            "The value Left+Width (10+631 pixels) must not exceed the Video Width of 640 pixels");
  EXPECT_EQ(check_crop_height({0, 0, 640, 480}, 480), "");
  EXPECT_EQ(check_crop_height({0, 1, 640, 480}, 480),
            "The value Top+Height (1+480 pixels) must not exceed the Video Height of 480 pixels");
  EXPECT_EQ(check_frame_range(0, 99, 100), "");
  EXPECT_EQ(check_frame_range(0, 100, 100), "The First/Last Frame values must be between 0 and 99");
  EXPECT_EQ(check_frame_range(-1, 5, 100), "The First/Last Frame values must be between 0 and 99");

  ExtractParameters params = extract_parameters(extraction_defaults(640, 480, 100, true), ExtractMode::clips);
  EXPECT_EQ(check_extract_parameters(params, 640, 480, 100), "");
  params.crop.width = 700;
  params.last = 200;
  EXPECT_EQ(check_extract_parameters(params, 640, 480, 100),
            "The value Left+Width (0+700 pixels) must not exceed the Video Width of 640 pixels");
}

TEST(ExtractOptions, ComeFromTheAdvancedOptionsWithinTheirRanges) {
  AdvancedOptions options;
  options.initialise_all(true, IniFile());
  ClipDetection detection = clip_detection(options);
  EXPECT_EQ(detection.cut_threshold, 108000u);
  EXPECT_EQ(detection.static_threshold, 16200u);
  EXPECT_EQ(detection.min_static_frames, 50);
  EXPECT_EQ(detection.min_frames, 30);
  EXPECT_EQ(detection.max_frames, 400);
  EXPECT_FALSE(detection.extract_static);
  EXPECT_EQ(detection.fourcc, kFourccUncompressed);

  options.set_value(kOptVideoTileThreshold, "100");
  options.set_value(kOptMinimumStaticFrames, "-5");
  options.set_value(kOptExtractMinFrames, "junk");
  options.set_value(kOptExtractMaxFrames, "999999");
  options.set_value(kOptExtractStaticVideo, "1");
  options.set_value(kOptFourCC, "XVID");
  detection = clip_detection(options);
  EXPECT_EQ(detection.cut_threshold, detection.static_threshold);  // raised to it
  EXPECT_EQ(detection.min_static_frames, 0);
  EXPECT_EQ(detection.min_frames, 1);
  EXPECT_EQ(detection.max_frames, 100000);
  EXPECT_TRUE(detection.extract_static);
  EXPECT_EQ(detection.fourcc, parse_fourcc("XVID"));
}

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
