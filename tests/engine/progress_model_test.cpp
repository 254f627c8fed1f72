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
