#include "settings/geometry.hpp"

#include <gtest/gtest.h>

#include <string>

#include "base/scripted_prompt.hpp"

namespace tess {
namespace {

// ---- Conversions ------------------------------------------------------------

TEST(ConvertUnit, LengthsPixelsAndTilesMeetThroughResolutionAndTileSize) {
  EXPECT_NEAR(*convert_unit(10, kUnitInch, kUnitCm), 25.4, 1e-12);
  EXPECT_NEAR(*convert_unit(25.4, kUnitCm, kUnitPixel, 300), 3000, 1e-9);
  EXPECT_NEAR(*convert_unit(3000, kUnitPixel, kUnitTiles, 300, 100), 30, 1e-12);
  EXPECT_NEAR(*convert_unit(10, kUnitInch, kUnitTiles, 300, 100), 30, 1e-9);
  EXPECT_NEAR(*convert_unit(1, kUnitMeter, kUnitMm), 1000, 1e-9);
  EXPECT_NEAR(*convert_unit(1, kUnitFoot, kUnitInch), 12, 1e-12);
  EXPECT_NEAR(*convert_unit(3, kUnitMegapixel, kUnitKilopixel), 3000, 1e-9);
  EXPECT_NEAR(*convert_unit(2, kUnitGigapixel, kUnitPixel), 2e9, 1e-3);
  EXPECT_NEAR(*convert_unit(2, kUnitMegabyte, kUnitByte), 2097152, 1e-9);
  EXPECT_NEAR(*convert_unit(1073741824.0, kUnitByte, kUnitGigabyte), 1, 1e-12);
  EXPECT_EQ(*convert_unit(300, kUnitDpi, kUnitPpi), 300);
}

TEST(ConvertUnit, FailsWithoutWhatTheRuleNeeds) {
  EXPECT_FALSE(convert_unit(25.4, kUnitCm, kUnitPixel, 0));
  EXPECT_FALSE(convert_unit(3000, kUnitPixel, kUnitInch, -300));
  EXPECT_FALSE(convert_unit(3000, kUnitPixel, kUnitTiles, 300, 0));
  EXPECT_FALSE(convert_unit(3, kUnitTiles, kUnitCm, 300, 0));
  EXPECT_FALSE(convert_unit(3, kUnitMegabyte, kUnitPixel, 300, 100));
  EXPECT_FALSE(convert_unit(15, kUnitPercent, kUnitCm, 300, 100));
  EXPECT_FALSE(convert_unit(40, kUnitTilesPerRow, kUnitPixel, 300, 100));
}

// ---- The layout -------------------------------------------------------------

MosaicParameters pixel_mosaic(double width, double height, UnitValue tile) {
  MosaicParameters p;
  p.mosaic_size = {width, height, kUnitPixel};
  p.tile_size = tile;
  return p;
}

MosaicLayout layout_of(const MosaicParameters& p, std::int64_t w0, std::int64_t h0) {
  MosaicLayout layout;
  compute_layout(p, w0, h0, layout);
  return layout;
}

TEST(Layout, LengthsConvertAtTheResolution) {
  MosaicParameters p;
  p.mosaic_size = {10, 10, kUnitInch};
  p.tile_size = {100, kUnitPixel};
  const MosaicLayout l = layout_of(p, 1000, 1000);
  ASSERT_TRUE(l.usable()) << l.message;
  EXPECT_EQ(l.max_width, 3000);
  EXPECT_EQ(l.final_width, 3000);
  EXPECT_EQ(l.final_height, 3000);
  EXPECT_EQ(l.columns, 30);
  EXPECT_EQ(l.tile_height, 75);
  EXPECT_EQ(l.rows, 40);
  EXPECT_DOUBLE_EQ(l.pixels_per_inch, 300);
  EXPECT_DOUBLE_EQ(l.pixels_per_cm, 300 / 2.54);

  // The same box stated in tiles of that size.
  p.mosaic_size = {30, 30, kUnitTiles};
  EXPECT_EQ(layout_of(p, 1000, 1000).max_width, 3000);
}

TEST(Layout, AnAreaTakesTheImageShape) {
  MosaicParameters p;
  p.mosaic_size = {100, 100, kUnitMegapixel};
  MosaicLayout l = layout_of(p, 4000, 3000);
  EXPECT_TRUE(l.max_is_area);
  EXPECT_EQ(l.max_width, 11547);
  EXPECT_EQ(l.max_height, 8660);
  EXPECT_EQ(l.final_width, 11547);
  EXPECT_EQ(l.final_height, 8660);

  // Upright pictures: the width is the root, the height follows from it.
  l = layout_of(p, 3000, 4000);
  EXPECT_EQ(l.final_width, 8660);
  EXPECT_EQ(l.final_height, 11546);

  // Without an image the area is 4:3, and the step asks for one.
  ScriptedPrompt prompt;
  EXPECT_FALSE(compute_layout(p, 0, 0, l, prompt));
  EXPECT_EQ(l.max_width, 11547);
  EXPECT_EQ(l.message, kAddImageMessage);
  EXPECT_EQ(prompt.messages(), std::vector<std::string>{kAddImageMessage});

  // Equal sides below 3,000,000 pixels are a square, not an area.
  p.mosaic_size = {2, 2, kUnitMegapixel};
  l = layout_of(p, 4000, 3000);
  EXPECT_FALSE(l.max_is_area);
  EXPECT_EQ(l.max_width, 2000000);
}

TEST(Layout, TheBoxTurnsToThePictureAndTheLargestFittingShapeIsTaken) {
  MosaicParameters p;  // 42 x 29 cm at 300 PPI: 4961 x 3425 pixels
  MosaicLayout l = layout_of(p, 4000, 3000);
  EXPECT_EQ(l.max_width, 4961);
  EXPECT_EQ(l.max_height, 3425);
  EXPECT_EQ(l.final_width, 4567);
  EXPECT_EQ(l.final_height, 3425);

  l = layout_of(p, 3000, 4000);
  EXPECT_EQ(l.final_width, 3425);
  EXPECT_EQ(l.final_height, 4567);

  // A panorama fills the box's width.
  l = layout_of(p, 8000, 1000);
  EXPECT_EQ(l.final_width, 4961);
  EXPECT_EQ(l.final_height, 620);
}

TEST(Layout, TilesPerRowAndTileCountsDeriveTheTileSize) {
  MosaicParameters p = pixel_mosaic(12000, 9000, {40, kUnitTilesPerRow});
  MosaicLayout l = layout_of(p, 4000, 3000);
  EXPECT_TRUE(l.tile_size_derived);
  EXPECT_EQ(l.tile_width, 300);
  EXPECT_EQ(l.tile_height, 225);
  EXPECT_EQ(l.columns, 40);
  EXPECT_EQ(l.rows, 40);
  EXPECT_EQ(l.cell_count, 1600);
  EXPECT_EQ(l.final_pixels, 108000000);
  EXPECT_EQ(l.tile_pixels, 67500);

  for (PatternCode upright :
       {PatternCode::portrait, PatternCode::mixed_1to1, PatternCode::mixed_b_3to1, PatternCode::parquet_1to3}) {
    p.pattern = upright;
    l = layout_of(p, 4000, 3000);
    EXPECT_EQ(l.tile_width, 225) << pattern_number(upright);
    EXPECT_EQ(l.tile_height, 300) << pattern_number(upright);
  }
  for (PatternCode lying : {PatternCode::landscape_2_rows, PatternCode::mixed_1to2, PatternCode::parquet_1to1,
                            PatternCode::landscape_10_rows}) {
    p.pattern = lying;
    EXPECT_EQ(layout_of(p, 4000, 3000).tile_width, 300) << pattern_number(lying);
  }

  p = pixel_mosaic(12000, 9000, {1600, kUnitTiles});
  l = layout_of(p, 4000, 3000);
  EXPECT_TRUE(l.tile_size_derived);
  EXPECT_EQ(l.tile_width, 300);
  EXPECT_EQ(l.tile_height, 225);
}

TEST(Layout, MosaicSizeAdaptationKeepsWholeTiles) {
  MosaicParameters p = pixel_mosaic(12100, 9000, {300, kUnitPixel});
  p.tile_adaptation = kAdaptMosaicSize;
  MosaicLayout l = layout_of(p, 12100, 9000);
  EXPECT_EQ(l.columns, 40);
  EXPECT_EQ(l.rows, 40);
  EXPECT_EQ(l.final_width, 12000);
  EXPECT_EQ(l.final_height, 9000);

  // Other adaptations cover the final size, the last tile running over.
  p.tile_adaptation = kAdaptTileSize;
  l = layout_of(p, 12100, 9000);
  EXPECT_EQ(l.columns, 41);
  EXPECT_EQ(l.rows, 40);
  EXPECT_EQ(l.final_width, 12100);

  // A tile larger than the mosaic still gives one.
  p = pixel_mosaic(200, 150, {300, kUnitPixel});
  p.tile_adaptation = kAdaptMosaicSize;
  l = layout_of(p, 400, 300);
  EXPECT_EQ(l.columns, 1);
  EXPECT_EQ(l.rows, 1);
  EXPECT_EQ(l.final_width, 300);
}

TEST(Layout, BorderedGrids) {
  // A derived tile makes room for the border, so the count still fits.
  MosaicParameters p = pixel_mosaic(12000, 9000, {40, kUnitTilesPerRow});
  p.border_size = {10, kUnitPixel};
  MosaicLayout l = layout_of(p, 4000, 3000);
  EXPECT_EQ(l.border, 10);
  EXPECT_EQ(l.tile_width, 290);
  EXPECT_EQ(l.tile_height, 215);
  EXPECT_EQ(l.columns, 40);
  EXPECT_EQ(l.rows, 40);
  EXPECT_EQ(l.grid_width(), 12010);

  // A stated tile size is kept.
  p.tile_size = {300, kUnitPixel};
  l = layout_of(p, 4000, 3000);
  EXPECT_EQ(l.tile_width, 300);
  EXPECT_EQ(l.tile_height, 225);

  // A size that holds ten tiles and nine gaps keeps all ten, however often
  // the step runs on its own result.
  p = pixel_mosaic(1090, 840, {100, kUnitPixel});
  p.border_size = {10, kUnitPixel};
  p.tile_adaptation = kAdaptMosaicSize;
  l = layout_of(p, 1090, 840);
  EXPECT_EQ(l.columns, 10);
  EXPECT_EQ(l.rows, 10);
  EXPECT_EQ(l.final_width, 1090);
  EXPECT_EQ(l.final_height, 840);
  EXPECT_EQ(l.grid_width(), 1100);
  EXPECT_EQ(l.grid_height(), 850);

  // A border in a length unit converts at the resolution; a derived tile
  // never goes below 0 and the step then fails.
  p = pixel_mosaic(1200, 900, {40, kUnitTilesPerRow});
  p.border_size = {1, kUnitInch};
  l = layout_of(p, 1200, 900);
  EXPECT_EQ(l.border, 300);
  EXPECT_EQ(l.tile_width, 0);
  EXPECT_EQ(l.message, kSpecifyAllParametersMessage);
}

TEST(Layout, VideoFramesAreRoundedForTheCodecs) {
  MosaicParameters p = pixel_mosaic(1283, 723, {10, kUnitTilesPerRow});
  for (OutputFormatCode video :
       {OutputFormatCode::avi_uncompressed, OutputFormatCode::avi_compressed, OutputFormatCode::video_jpg}) {
    p.output_format = video;
    const MosaicLayout l = layout_of(p, 1283, 723);
    EXPECT_EQ(l.final_width, 1280) << format_number(video);
    EXPECT_EQ(l.final_height, 720) << format_number(video);
    EXPECT_EQ(l.final_pixels, 1280 * 720);
  }
  p.output_format = OutputFormatCode::jpg;
  EXPECT_EQ(layout_of(p, 1283, 723).final_width, 1283);
}

TEST(Layout, SmallSquaresSelectMaskFileMode) {
  MosaicParameters p = pixel_mosaic(1, 1, {40, kUnitTilesPerRow});
  MosaicLayout l = layout_of(p, 4000, 3000);
  EXPECT_TRUE(l.usable()) << l.message;
  EXPECT_EQ(l.mask_file, 1);
  EXPECT_EQ(l.final_width, 0);

  p.mosaic_size = {8, 8, kUnitPixel};
  EXPECT_EQ(layout_of(p, 4000, 3000).mask_file, 8);
  p.mosaic_size = {9, 9, kUnitPixel};
  EXPECT_EQ(layout_of(p, 4000, 3000).mask_file, 0);
  p.mosaic_size = {4, 3, kUnitPixel};
  EXPECT_EQ(layout_of(p, 4000, 3000).mask_file, 0);
}

TEST(Layout, ValuesThatCannotBeUsedFailInsteadOfDividingByZero) {
  ScriptedPrompt prompt;
  MosaicLayout l;
  auto fails = [&](const MosaicParameters& p) {
    prompt.clear();
    const bool ok = compute_layout(p, 4000, 3000, l, prompt);
    return !ok && l.message == kSpecifyAllParametersMessage &&
           prompt.messages() == std::vector<std::string>{kSpecifyAllParametersMessage};
  };

  MosaicParameters p;
  p.resolution = {0, kUnitPpi};  // cm cannot become pixels
  EXPECT_TRUE(fails(p));
  EXPECT_EQ(l.columns, 0);

  p = MosaicParameters{};
  p.tile_size = {0, kUnitPixel};
  EXPECT_TRUE(fails(p));
  p.tile_size = {0, kUnitTilesPerRow};
  EXPECT_TRUE(fails(p));
  p.tile_size = {0.5, kUnitTilesPerRow};  // less than one tile per row
  EXPECT_TRUE(fails(p));
  p.mosaic_size = {100, 75, kUnitPixel};
  p.tile_size = {1e7, kUnitTiles};  // tiles smaller than a pixel
  EXPECT_TRUE(fails(p));
  p.tile_size = {-3, kUnitPixel};
  EXPECT_TRUE(fails(p));

  p = MosaicParameters{};
  p.mosaic_size = {30, 30, kUnitTiles};  // tiles of a size that is itself counted in tiles
  EXPECT_TRUE(fails(p));
  p.mosaic_size = {0, 29, kUnitCm};
  EXPECT_TRUE(fails(p));
  p.mosaic_size = {1e300, 1e300, kUnitCm};  // more pixels than any mosaic
  EXPECT_TRUE(fails(p));
  p.mosaic_size = {1e300, 1e300, kUnitGigapixel};
  EXPECT_TRUE(fails(p));

  // An area whose box would run beyond any mosaic along a very tall picture.
  p = MosaicParameters{};
  p.mosaic_size = {1e9, 1e9, kUnitGigapixel};
  prompt.clear();
  EXPECT_FALSE(compute_layout(p, 1, 2000000000, l, prompt));
  EXPECT_EQ(l.max_height, 0);
  EXPECT_EQ(l.message, kSpecifyAllParametersMessage);
  EXPECT_FALSE(compute_layout(MosaicParameters{}, std::int64_t{1} << 40, 3000, l));
  EXPECT_EQ(l.message, kAddImageMessage);

  p = MosaicParameters{};
  p.pattern = static_cast<PatternCode>(0);  // refused codes keep the landscape shape; the step still works
  EXPECT_TRUE(compute_layout(p, 4000, 3000, l));
}

// ---- Cell counts ------------------------------------------------------------

TEST(TileCounts, HalvesAndQuartersComeOutOfTheCells) {
  EXPECT_EQ(plan_splits(1000, 0, 10).quarter_cells, 100);
  EXPECT_EQ(plan_splits(1000, 0, 10).half_cells, 0);
  EXPECT_EQ(plan_splits(1000, 15, 15).half_cells, 150);
  EXPECT_EQ(plan_splits(999, 10, 0).half_cells, 99);
  // From 16 % on, the placement splits nothing, so nothing is counted.
  EXPECT_EQ(plan_splits(1000, 16, 0).half_cells, 0);
  EXPECT_EQ(plan_splits(1000, 5, 80).half_cells, 0);

  MosaicParameters p = pixel_mosaic(12000, 9000, {40, kUnitTilesPerRow});
  p.half_tiles = 10;
  p.quarter_tiles = 5;
  MosaicLayout l = layout_of(p, 4000, 3000);
  TileCounts counts = count_tiles(l, p.pattern);
  EXPECT_EQ(counts.cells, 1600);
  EXPECT_EQ(counts.full(), 1360);
  EXPECT_EQ(counts.halves(), 320);
  EXPECT_EQ(counts.quarters(), 320);
  EXPECT_EQ(counts.total(), 2000);

  // The pattern generator's own count replaces columns × rows.
  PatternCode seen{};
  counts = count_tiles(l, PatternCode::parquet_2to1, [&seen](const MosaicLayout& layout, PatternCode pattern) {
    seen = pattern;
    return layout.columns * layout.rows + 20;
  });
  EXPECT_EQ(seen, PatternCode::parquet_2to1);
  EXPECT_EQ(counts.cells, 1620);
  EXPECT_EQ(counts.split.half_cells, 162);
}

// ---- File size estimate -----------------------------------------------------

TEST(FileSizeEstimate, FactorsAndBasesByFormat) {
  auto estimate = [](OutputFormatCode f, int q = 95, bool transparency = false, bool layers = false) {
    return estimate_file_size(f, q, transparency, layers, 50, 10000, 10000);
  };
  EXPECT_DOUBLE_EQ(*estimate(OutputFormatCode::jpg, 90), 47600000);
  EXPECT_DOUBLE_EQ(*estimate(OutputFormatCode::bmp), 300009966);
  EXPECT_DOUBLE_EQ(*estimate(OutputFormatCode::tiff_jpg, 90), 47600000);
  EXPECT_DOUBLE_EQ(*estimate(OutputFormatCode::tiff), 300027676);
  EXPECT_DOUBLE_EQ(*estimate(OutputFormatCode::tiff, 95, true), 400027676);
  EXPECT_DOUBLE_EQ(*estimate(OutputFormatCode::ppm), 300000100);
  EXPECT_DOUBLE_EQ(*estimate(OutputFormatCode::raw), 300000000);
  EXPECT_DOUBLE_EQ(*estimate(OutputFormatCode::mosaic), 660000000);
  EXPECT_DOUBLE_EQ(*estimate(OutputFormatCode::web), 400000000);
  EXPECT_DOUBLE_EQ(*estimate(OutputFormatCode::psd), 300000100);
  EXPECT_DOUBLE_EQ(*estimate(OutputFormatCode::psb, 95, true), 1100000300);
  EXPECT_DOUBLE_EQ(*estimate(OutputFormatCode::psd, 95, false, true), 1100000000 + 100 * 50 + 200);
  EXPECT_DOUBLE_EQ(*estimate(OutputFormatCode::psb, 95, true, true), 700000000 + 100 * 50 + 100);
  EXPECT_FALSE(estimate(OutputFormatCode::avi_uncompressed));
  EXPECT_FALSE(estimate(OutputFormatCode::avi_compressed));
  EXPECT_FALSE(estimate(OutputFormatCode::video_jpg));
  EXPECT_FALSE(estimate(static_cast<OutputFormatCode>(999)));
}

TEST(FileSizeEstimate, JpegQualityClasses) {
  EXPECT_DOUBLE_EQ(jpeg_bytes_per_pixel(1), 0.095);
  EXPECT_DOUBLE_EQ(jpeg_bytes_per_pixel(40), 0.095);
  EXPECT_DOUBLE_EQ(jpeg_bytes_per_pixel(41), 0.1312);
  EXPECT_DOUBLE_EQ(jpeg_bytes_per_pixel(60), 0.1312);
  EXPECT_DOUBLE_EQ(jpeg_bytes_per_pixel(80), 0.21);
  EXPECT_DOUBLE_EQ(jpeg_bytes_per_pixel(95), 0.476);
  EXPECT_DOUBLE_EQ(jpeg_bytes_per_pixel(96), 0.942);
  EXPECT_DOUBLE_EQ(jpeg_bytes_per_pixel(100), 0.942);
}

TEST(FileSizeEstimate, ByteCountsReadInTheLargestUnit) {
  EXPECT_EQ(format_byte_count(47600000), "45.39 megabytes");
  EXPECT_EQ(format_byte_count(1048576), "1 megabyte");
  EXPECT_EQ(format_byte_count(1048575), "1048575 bytes");
  EXPECT_EQ(format_byte_count(1), "1 byte");
  EXPECT_EQ(format_byte_count(3.0 * 1024 * 1024 * 1024), "3 gigabytes");
}

// ---- The size box -----------------------------------------------------------

TEST(SizePresets, EntriesInOrder) {
  const auto& presets = mosaic_size_presets();
  ASSERT_EQ(presets.size(), 29u);
  EXPECT_EQ(presets[0].text(), "Letter/A4");
  EXPECT_EQ(presets[0].size, (SizeValue{29, 21, kUnitCm}));
  EXPECT_EQ(presets[1].size, (SizeValue{42, 29, kUnitCm}));
  EXPECT_EQ(presets[2].text(), "20 inches");
  EXPECT_EQ(presets[3].text(), "3 feet");
  EXPECT_EQ(presets[14].text(), "10000 megapixels");
  EXPECT_EQ(presets[16].text(), "50 tiles");
  EXPECT_EQ(presets[17].text(), "nnnn cm");
  EXPECT_EQ(presets[23].text(), "nnnn tiles");
  EXPECT_FALSE(presets[23].size.is_set());
  EXPECT_EQ(presets[26].text(), "Video HD 1080p");
  EXPECT_EQ(presets[26].size, (SizeValue{1980, 1080, kUnitPixel}));
  EXPECT_EQ(presets[27].size.unit, kUnitInch);
  EXPECT_FALSE(presets[27].size.is_set());
  EXPECT_EQ(presets[28].text(), "MaskFile");

  // The mask entry is what selects mask-file mode.
  MosaicParameters p;
  p.mosaic_size = presets[28].size;
  MosaicLayout l = layout_of(p, 4000, 3000);
  EXPECT_EQ(l.mask_file, 1);
}

}  // namespace
}  // namespace tess
