// SPDX-License-Identifier: GPL-3.0-or-later
// The choice of frames and clips, the settings it reads and the parameter
// checks, on made-up per-frame records: no video is read.

#include "video/clip_detection.hpp"

#include <ostream>
#include <vector>

#include <gtest/gtest.h>

#include "base/ini_file.hpp"
#include "images/foto.hpp"
#include "settings/advanced_options.hpp"
#include "video/extract_parameters.hpp"
#include "video/fourcc.hpp"

namespace tess {

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

}  // namespace
}  // namespace tess
