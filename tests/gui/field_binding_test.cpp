// SPDX-License-Identifier: GPL-3.0-or-later
// The binding of a form's free-text box to one member of the parameters.

#include <string>

#include <gtest/gtest.h>

#include "base/text.hpp"
#include "settings/mosaic_parameters.hpp"
#include "ui/field_binding.hpp"

namespace tess {
namespace {

TEST(FieldBinding, TypedTextLandsInItsMemberOrLeavesItAsItWas) {
  const FieldBinding resolution = FieldBinding::of_measure(kResolutionField, &MosaicParameters::resolution);
  const FieldBinding half = FieldBinding::of_whole(kTileShareField, &MosaicParameters::half_tiles, kUnitPercent);
  MosaicParameters params;
  params.resolution = {300, kUnitPpi};
  params.half_tiles = 20;

  // A measure keeps the unit typed; a whole number its own unit.
  ASSERT_TRUE(resolution.apply(params, "150 DPI"));
  EXPECT_EQ(params.resolution.value, 150);
  EXPECT_EQ(params.resolution.unit, kUnitDpi);
  ASSERT_TRUE(half.apply(params, "40"));
  EXPECT_EQ(params.half_tiles, 40);
  EXPECT_EQ(half.text(params), format_value(40, kUnitPercent));

  // Refused text (out of range, not a number) changes nothing.
  for (const char* text : {"90", "", "many"}) {
    EXPECT_FALSE(half.apply(params, text)) << text;
    EXPECT_EQ(params.half_tiles, 40) << text;
  }
  EXPECT_FALSE(resolution.apply(params, "0 PPI"));
  EXPECT_EQ(params.resolution.value, 150);
}

TEST(FieldBinding, TheWordForNoneStandsForZeroInAnyLetterCase) {
  const FieldBinding frames = FieldBinding::of_whole(kConsecutiveFramesField, &MosaicParameters::consecutive_frames,
                                                     kUnitFrames, N_("No Frames"));
  const FieldBinding border =
      FieldBinding::of_measure(kBorderSizeField, &MosaicParameters::border_size, N_("No Border"));
  MosaicParameters params;
  params.consecutive_frames = 5;
  params.border_size = {2, kUnitMm};

  ASSERT_TRUE(frames.apply(params, "  no FRAMES "));
  EXPECT_EQ(params.consecutive_frames, 0);
  EXPECT_EQ(frames.text(params), tr("No Frames"));
  ASSERT_TRUE(frames.apply(params, " 12 "));
  EXPECT_EQ(params.consecutive_frames, 12);

  // No border keeps the unit the size was given in.
  ASSERT_TRUE(border.apply(params, "No Border"));
  EXPECT_EQ(params.border_size.value, 0);
  EXPECT_EQ(params.border_size.unit, kUnitMm);
  EXPECT_EQ(border.text(params), tr("No Border"));
}

}  // namespace
}  // namespace tess
