#include "engine/progress_model.hpp"

#include <gtest/gtest.h>

#include "base/scripted_prompt.hpp"
#include "engine/mosaic_builder.hpp"

namespace tess {
namespace {

TEST(ProgressModel, DoneValuesAreClampedSoTheFigureStaysWithinBounds) {
  ProgressModel p;
  EXPECT_DOUBLE_EQ(p.overall_percent(), 0.0);
  p.begin_stage(kStagePlacement, 10);
  p.add_progress(1000);  // far beyond its total
  double weights = 16 + 3870 + 1 + 7 + 300 + 300 + 9 + 5800 + 5804;
  EXPECT_NEAR(p.overall_percent(), 100.0 / weights * 5800, 1e-9);
  p.add_progress(-5000);
  EXPECT_DOUBLE_EQ(p.overall_percent(), 0.0);
  for (int s = 0; s < ProgressModel::kStageCount; ++s) p.begin_stage(s, 3);
  p.close_stage();
  EXPECT_NEAR(p.overall_percent(), 100.0, 1e-9);
}

TEST(ProgressModel, BeginClosesTheCurrentStageAndKeepsItsTime) {
  ProgressModel p;
  auto t0 = ProgressModel::Clock::now();
  p.begin_stage(kStageCellBuilding, 50, t0);
  p.add_progress(25);
  EXPECT_DOUBLE_EQ(p.stage_percent(), 50.0);
  p.begin_stage(kStageMainImageAnalysis, 0, t0 + std::chrono::milliseconds(1500));
  EXPECT_EQ(p.elapsed_ms(kStageCellBuilding), 1500);
  EXPECT_DOUBLE_EQ(p.done(kStageCellBuilding), 50.0);
  EXPECT_DOUBLE_EQ(p.total(kStageMainImageAnalysis), 1.0);  // total 0 keeps the default
  EXPECT_LT(p.stage_percent(), 0);                          // a total of 1 shows no stage percent
}

TEST(ProgressModel, SplitStageTakesOverTheTimeOfAnalysisAndPlacement) {
  ProgressModel p;
  auto t0 = ProgressModel::Clock::now();
  p.begin_stage(kStageMainImageAnalysis, 10, t0);
  p.begin_stage(kStagePlacement, 10, t0 + std::chrono::milliseconds(200));
  p.close_stage(t0 + std::chrono::milliseconds(500));
  p.move_into(kStageSplitPlacement, kStageMainImageAnalysis);
  p.move_into(kStageSplitPlacement, kStagePlacement);
  EXPECT_EQ(p.elapsed_ms(kStageSplitPlacement), 500);
  EXPECT_EQ(p.elapsed_ms(kStagePlacement), 0);
  EXPECT_DOUBLE_EQ(p.done(kStageMainImageAnalysis), 0.0);
  EXPECT_DOUBLE_EQ(p.total(kStagePlacement), 1.0);
}

TEST(MosaicBuilder, StatusKeepsWholeCharactersAndClearsTheRefreshRequest) {
  ScriptedPrompt prompt;
  MosaicBuilder b(prompt);
  b.request_status_refresh();
  std::string long_text;
  for (int i = 0; i < 300; ++i) long_text += "\xC3\xA9";  // é, two bytes each
  b.set_status(long_text, 3);
  EXPECT_EQ(b.status().size(), 510u);
  EXPECT_EQ(b.status_code(), 3);
  EXPECT_FALSE(b.status_refresh_requested());
  b.request_stop();
  EXPECT_TRUE(b.stop_requested());
}

}  // namespace
}  // namespace tess

namespace tess {
namespace {

TEST(MosaicBuilder, ProgressTextShowsStatusStageFigureAndBatchPosition) {
  ScriptedPrompt prompt;
  MosaicBuilder b(prompt);
  b.set_status("Saving Mosaic...");
  EXPECT_EQ(b.progress_text().text, "Saving Mosaic...");  // no batch: the status alone

  b.begin_batch(3);
  b.begin_mosaic();
  b.end_mosaic(true);
  b.begin_mosaic();  // the second of three
  b.begin_progress_stage(kStagePlacement, 200);
  b.add_progress(50);
  b.set_status("Placing Tiles");
  auto p = b.progress_text();
  EXPECT_NE(p.text.find("Placing Tiles 25.00%. Mosaic# 2/3 "), std::string::npos) << p.text;
  EXPECT_EQ(p.text.rfind("Completed ", 0), 0u) << p.text;
  EXPECT_NE(p.text.find(", Time 00:00:0"), std::string::npos) << p.text;
  EXPECT_TRUE(b.status_refresh_requested());
  EXPECT_GT(p.percent, 100.0 / 3);
  EXPECT_LT(p.percent, 200.0 / 3);

  b.end_mosaic(true);
  b.begin_mosaic();
  b.end_mosaic(false);  // the third fails
  b.end_batch();
  EXPECT_EQ(b.done_count(), 2);
  EXPECT_TRUE(b.take_finished());   // at least one mosaic completed
  EXPECT_FALSE(b.take_finished());  // once
}

TEST(MosaicBuilder, BatchWithoutACompletedMosaicIsNotFinished) {
  ScriptedPrompt prompt;
  MosaicBuilder b(prompt);
  b.begin_batch(1);
  b.begin_mosaic();
  b.end_mosaic(false);
  b.end_batch();
  EXPECT_FALSE(b.take_finished());
  EXPECT_GE(b.progress_text().percent, 0.0);
}

TEST(MosaicBuilder, QueuedMessagesComeOutInOrder) {
  ScriptedPrompt prompt;
  MosaicBuilder b(prompt);
  b.queue_message({"first", 0, 0, {}});
  b.queue_message({"second", 1, 1, {0xFF0000FFu}});
  EXPECT_EQ(b.take_message()->text, "first");
  auto m = b.take_message();
  ASSERT_TRUE(m);
  EXPECT_EQ(m->pixels.size(), 1u);
  EXPECT_FALSE(b.take_message());
}

}  // namespace
}  // namespace tess
