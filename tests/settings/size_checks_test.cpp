#include <string>

#include <gtest/gtest.h>

#include "base/scripted_prompt.hpp"
#include "settings/size_checks.hpp"

namespace tess {
namespace {

const std::string kSplitHint =
    "Please enable the Split Mosaic feature or Save the Mosaic in TIFF(64bit)/PSB/PPM/RAW format to avoid this limit.";

TEST(SizeChecks, SideAndPixelLimitsPerFormat) {
  EXPECT_EQ(check_mosaic_size(OutputFormatCode::jpg, false, 30'000, 100).verdict, SizeVerdict::fits);
  EXPECT_EQ(check_mosaic_size(OutputFormatCode::jpg, false, 100, 30'001).verdict, SizeVerdict::ask);
  EXPECT_EQ(check_mosaic_size(OutputFormatCode::jpg, false, 65'500, 65'500).verdict,
            SizeVerdict::ask);  // 4.29e9 pixels
  EXPECT_EQ(check_mosaic_size(OutputFormatCode::jpg, false, 65'501, 10).verdict, SizeVerdict::refuse);
  EXPECT_EQ(check_mosaic_size(OutputFormatCode::bmp, false, 32'767, 10).verdict, SizeVerdict::fits);
  EXPECT_EQ(check_mosaic_size(OutputFormatCode::bmp, false, 32'768, 10).verdict, SizeVerdict::refuse);
  EXPECT_EQ(check_mosaic_size(OutputFormatCode::bmp, false, 25'000, 20'001).verdict,
            SizeVerdict::refuse);  // 500,025,000
  EXPECT_EQ(check_mosaic_size(OutputFormatCode::tiff, false, 32'000, 32'000).verdict, SizeVerdict::fits);
  EXPECT_EQ(check_mosaic_size(OutputFormatCode::tiff, false, 32'767, 32'767).verdict, SizeVerdict::fits);
  EXPECT_EQ(check_mosaic_size(OutputFormatCode::tiff, false, 32'768, 1).verdict, SizeVerdict::refuse);
  EXPECT_EQ(check_mosaic_size(OutputFormatCode::tiff, true, 1'000'000, 1'000'000).verdict, SizeVerdict::fits);
  EXPECT_EQ(check_mosaic_size(OutputFormatCode::psd, false, 30'001, 1).verdict, SizeVerdict::refuse);
  EXPECT_EQ(check_mosaic_size(OutputFormatCode::psb, false, 300'000, 300'000).verdict, SizeVerdict::fits);
  EXPECT_EQ(check_mosaic_size(OutputFormatCode::psb, false, 300'001, 1).verdict, SizeVerdict::refuse);
  EXPECT_EQ(check_mosaic_size(OutputFormatCode::tiff_jpg, false, 65'501, 1).verdict, SizeVerdict::refuse);
  for (OutputFormatCode unlimited : {OutputFormatCode::ppm, OutputFormatCode::raw, OutputFormatCode::web,
                                     OutputFormatCode::avi_compressed, OutputFormatCode::video_jpg})
    EXPECT_EQ(check_mosaic_size(unlimited, false, 2'000'000, 2'000'000).verdict, SizeVerdict::fits)
        << format_number(unlimited);
}

TEST(SizeChecks, TextsRunOnWithoutSeparators) {
  EXPECT_EQ(check_mosaic_size(OutputFormatCode::tiff, false, 40'000, 1).text,
            "The TIFF 32bit file format has a maximum file size of 4 Gigabytes." + kSplitHint);
  EXPECT_EQ(check_mosaic_size(OutputFormatCode::jpg, false, 40'000, 1).text,
            "Not all applications are able to read JPEG files with a width/height over 30,000 pixels and the maximum "
            "width/height is 65,500 pixels. " +
                kSplitHint + "Do you want to continue?");
  EXPECT_EQ(check_mosaic_size(OutputFormatCode::jpg, false, 1, 1).text, "");
}

TEST(SizeChecks, ConfirmShowsOrAsks) {
  MosaicParameters parameters;
  ScriptedPrompt prompt;
  parameters.output_format = OutputFormatCode::bmp;
  EXPECT_FALSE(confirm_mosaic_size(parameters, 40'000, 10, prompt));
  ASSERT_EQ(prompt.calls().size(), 1u);
  EXPECT_EQ(prompt.calls()[0].kind, ScriptedPrompt::Kind::message);
  EXPECT_EQ(prompt.calls()[0].icon, Icon::error);
  parameters.split_mosaic = true;  // pieces are checked by nobody here
  EXPECT_TRUE(confirm_mosaic_size(parameters, 40'000, 10, prompt));

  parameters.split_mosaic = false;
  parameters.output_format = OutputFormatCode::jpg;
  prompt.clear();
  EXPECT_FALSE(confirm_mosaic_size(parameters, 40'000, 10, prompt));  // nobody answers: No
  prompt.plan_answer(Answer::yes);
  EXPECT_TRUE(confirm_mosaic_size(parameters, 40'000, 10, prompt));
  ASSERT_EQ(prompt.calls().size(), 2u);
  EXPECT_EQ(prompt.calls()[1].kind, ScriptedPrompt::Kind::ask);
}

TEST(SplitSize, PieceSidesAboveTenUpToAMillion) {
  const std::string refusal =
      "Please insert valid values for the Split Size in Pixels. Valid values between 10 and 1,000,000 pixel.";
  EXPECT_EQ(check_split_size(OutputFormatCode::ppm, false, 10, 500).verdict, SizeVerdict::refuse);
  EXPECT_EQ(check_split_size(OutputFormatCode::ppm, false, 500, 10).text, refusal);
  EXPECT_EQ(check_split_size(OutputFormatCode::ppm, false, 11, 11).verdict, SizeVerdict::fits);
  EXPECT_EQ(check_split_size(OutputFormatCode::ppm, false, 1'000'000, 1'000'000).verdict, SizeVerdict::fits);
  EXPECT_EQ(check_split_size(OutputFormatCode::ppm, false, 1'000'001, 20).verdict, SizeVerdict::refuse);
  EXPECT_EQ(check_split_size(OutputFormatCode::ppm, false, -5, 20).verdict, SizeVerdict::refuse);
}

TEST(SplitSize, PiecesBeyondTheFormatsLimitsAreTheUsersCall) {
  const std::string question = "Are you sure that you want to create split pieces with such a size?";
  EXPECT_EQ(check_split_size(OutputFormatCode::jpg, false, 30'000, 30'000).verdict, SizeVerdict::fits);
  const SizeCheck wide = check_split_size(OutputFormatCode::jpg, false, 30'001, 100);
  EXPECT_EQ(wide.verdict, SizeVerdict::ask);
  EXPECT_EQ(wide.text,
            "Not all applications are able to read JPEG files with a width/height over 30,000 pixels and the maximum "
            "width/height is 65,500 pixels. " +
                question);
  // The pixel limit counts in 64 bits: 25,000 × 20,001 is over BMP's 500 million.
  EXPECT_EQ(check_split_size(OutputFormatCode::bmp, false, 25'000, 20'001).verdict, SizeVerdict::ask);
  EXPECT_EQ(check_split_size(OutputFormatCode::bmp, false, 20'000, 20'000).verdict, SizeVerdict::fits);
  EXPECT_EQ(check_split_size(OutputFormatCode::tiff, true, 900'000, 900'000).verdict, SizeVerdict::fits);
  EXPECT_EQ(check_split_size(OutputFormatCode::psd, false, 30'001, 11).verdict, SizeVerdict::ask);

  MosaicParameters parameters;
  parameters.output_format = OutputFormatCode::psd;
  ScriptedPrompt prompt;
  EXPECT_FALSE(confirm_split_size(parameters, 10, 100, prompt));  // refused: shown, window stays
  EXPECT_FALSE(confirm_split_size(parameters, 40'000, 100, prompt));  // nobody answers: No
  prompt.plan_answer(Answer::yes);
  EXPECT_TRUE(confirm_split_size(parameters, 40'000, 100, prompt));
  EXPECT_TRUE(confirm_split_size(parameters, 11, 11, prompt));
  ASSERT_EQ(prompt.calls().size(), 3u);
  EXPECT_EQ(prompt.calls()[0].kind, ScriptedPrompt::Kind::message);
  EXPECT_EQ(prompt.calls()[1].kind, ScriptedPrompt::Kind::ask);
}

}  // namespace
}  // namespace tess
