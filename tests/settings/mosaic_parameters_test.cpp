// MosaicParameters, the keyword tables and the automatic settings.

#include "settings/mosaic_parameters.hpp"

#include <set>

#include <gtest/gtest.h>

#include "base/ini_file.hpp"
#include "base/scripted_prompt.hpp"
#include "settings/automatic_settings.hpp"
#include "settings/keyword_table.hpp"

namespace tess {
namespace {

TEST(KeywordTable, EncodesKeywordsElseTheNumberPlusOne) {
  const KeywordTable& variants = variant_keywords();
  EXPECT_EQ(variants.encode(TileVariantFlags(TileVariant::rotated_90).mask()), "rotated90");
  EXPECT_EQ(variants.encode(102), "103");
  EXPECT_EQ(variants.decode("103"), 102);
  EXPECT_EQ(variants.decode("rotated90"), 32);
  EXPECT_EQ(unit_keywords().encode(kUnitNone), "1");
  EXPECT_EQ(unit_keywords().decode("1"), kUnitNone);
  EXPECT_EQ(adaptation_keywords().encode(kAdaptNo), "No");
}

TEST(KeywordTable, MissingUnknownAndZeroDecodeToZero) {
  const KeywordTable& formats = format_keywords();
  EXPECT_EQ(formats.decode(""), 0);
  EXPECT_EQ(formats.decode("gif"), 0);
  EXPECT_EQ(formats.decode("0"), 0);
  EXPECT_EQ(formats.decode("JPG"), 0) << "keywords compare with their letter case";
  EXPECT_EQ(formats.find_ignoring_case("JPG"), format_number(OutputFormatCode::jpg));
  EXPECT_EQ(formats.decode("99999999999"), 0) << "a number beyond a code is no code";
  EXPECT_EQ(formats.decode(" 12 "), 11);
  EXPECT_EQ(formats.decode("12abc"), 0);
}

TEST(KeywordTable, EveryTableIsOneToOneOverItsCodes) {
  for (const KeywordTable* table : {&unit_keywords(), &pattern_keywords(), &adaptation_keywords(),
                                    &variant_keywords(), &processing_keywords(), &comparison_keywords(),
                                    &detail_keywords(), &colour_priority_keywords(), &subfolder_keywords(),
                                    &file_name_keywords(), &format_keywords()}) {
    std::set<std::string> words;
    std::set<std::int32_t> values;
    for (const auto& e : table->entries()) {
      words.insert(e.keyword);
      values.insert(e.value);
      EXPECT_EQ(table->decode(table->encode(e.value)), e.value) << e.keyword;
    }
    EXPECT_EQ(words.size(), table->entries().size());
    EXPECT_EQ(values.size(), table->entries().size());
  }
  EXPECT_EQ(pattern_keywords().entries().size(), 33u);
  EXPECT_EQ(pattern_keywords().decode("Parquet (1:3)"), pattern_number(PatternCode::parquet_1to3));
  EXPECT_EQ(pattern_keywords().decode("Landscape (10 rows)"), 33);
  EXPECT_EQ(unit_keywords().decode("tilesxrow"), kUnitTilesPerRow);
}

TEST(KeywordTable, PackedFormatsHoldFormatQualityAndBigTiff) {
  auto packed = [](OutputFormatCode format, int quality, bool big) {
    return format_number(format) * 256 + quality + (big ? 65536 : 0);
  };
  const KeywordTable& formats = format_keywords();
  for (int q : {100, 95, 80, 60, 40}) {
    EXPECT_EQ(formats.decode("tiff_jpg" + std::to_string(q)), packed(OutputFormatCode::tiff_jpg, q, false));
    EXPECT_EQ(formats.decode("bigtiff_jpg" + std::to_string(q)), packed(OutputFormatCode::tiff_jpg, q, true));
  }
  EXPECT_EQ(formats.decode("bigtiff"), packed(OutputFormatCode::tiff, 95, true));
  EXPECT_STREQ(formats.keyword_of(format_number(OutputFormatCode::tiff_jpg)), "tiff_jpg");
}

TEST(KeywordTable, NumbersAreReadWholeOrNotAtAll) {
  EXPECT_EQ(read_whole_number(" -12 "), -12);
  EXPECT_EQ(read_whole_number("+7"), 7);
  EXPECT_FALSE(read_whole_number("7.5"));
  EXPECT_FALSE(read_whole_number(""));
  EXPECT_EQ(read_decimal_number("42.500000"), 42.5);
  EXPECT_FALSE(read_decimal_number("nan"));
  EXPECT_FALSE(read_decimal_number("inf"));
  EXPECT_FALSE(read_decimal_number("1e999"));
  EXPECT_FALSE(read_decimal_number("12 cm"));
}

TEST(MosaicParameters, NewRecordHasCreationValuesAndOptionsFromDefaultValues) {
  IniFile config;
  config.set("Default Values", "Options.ThreadCount", "4");
  MosaicParameters p = MosaicParameters::created(config);
  EXPECT_EQ(p.tile_variants.mask(), 38);
  EXPECT_TRUE(p.web_output);
  EXPECT_FALSE(p.web_copy_images);
  EXPECT_FALSE(p.text_report || p.split_mosaic || p.output_layers || p.use_all_images);
  EXPECT_EQ(p.advanced.value(kOptThreadCount), "4");
  EXPECT_EQ(p.advanced.value(kOptFinalAction), "ask");
  EXPECT_EQ(p.web_title, "Mosaic created by Tessellarium");
}

// ---- Automatic settings ---------------------------------------------------------

TEST(AutomaticSettings, DefaultSettingsMatchTheTable) {
  MosaicParameters p = default_settings(IniFile());
  EXPECT_EQ(p.mosaic_size, (SizeValue{42, 29, kUnitCm}));
  EXPECT_EQ(p.tile_size, (UnitValue{40, kUnitTilesPerRow}));
  EXPECT_EQ(p.resolution, (UnitValue{300, kUnitPpi}));
  EXPECT_EQ(p.tile_variants.mask(), 102);
  EXPECT_EQ(p.duplicate_spacing, 3);
  EXPECT_EQ(p.output_format, OutputFormatCode::jpg);
  EXPECT_EQ(p.jpeg_quality, 95);
  EXPECT_EQ(p.comparison, kCompareBest);
  EXPECT_EQ(p.colour_priority, kColourPriorityBalanced);
  EXPECT_EQ(p.file_name_rule, kFileNameNew);
  EXPECT_EQ(p.border_size, (UnitValue{0, kUnitPixel}));
}

TEST(AutomaticSettings, ComputedEntriesResetTheRunButKeepRezIrorizTextAndAdvancedOptions) {
  ScriptedPrompt prompt;
  MosaicParameters p;
  p.web_output = false;
  p.web_copy_images = true;
  p.web_popup_text = 9;
  p.web_title = "mine";
  p.advanced.set_value(kOptThreadCount, "3");
  p.output_layers = true;
  p.text_report = true;
  p.mosaic_directory = "/out";
  p.border_size = {2, kUnitCm};
  p.jpeg_quality = 40;
  MosaicParameters before = p;
  ASSERT_TRUE(apply_automatic_settings(kSettingsVideoMosaic, p, ListCounts{}, prompt));
  EXPECT_EQ(p.mosaic_size, (SizeValue{1280, 720, kUnitPixel}));
  EXPECT_EQ(p.tile_size, (UnitValue{300, kUnitTiles}));
  EXPECT_EQ(p.output_format, OutputFormatCode::avi_uncompressed);
  EXPECT_FALSE(p.output_layers || p.text_report);
  EXPECT_EQ(p.mosaic_directory, "");
  EXPECT_EQ(p.border_size, (UnitValue{0, kUnitPixel}));
  EXPECT_EQ(p.jpeg_quality, 95);
  EXPECT_EQ(p.web_output, before.web_output);
  EXPECT_EQ(p.web_copy_images, before.web_copy_images);
  EXPECT_EQ(p.web_popup_text, 9);
  EXPECT_EQ(p.web_title, "mine");
  EXPECT_EQ(p.advanced, before.advanced);
  EXPECT_TRUE(prompt.messages().empty());
}

TEST(AutomaticSettings, UseAllImagesGrowsWithTheList) {
  EXPECT_EQ(use_all_images_size(100).tiles, 500);
  EXPECT_EQ(use_all_images_size(100).megapixels, 125);
  EXPECT_EQ(use_all_images_size(1000).tiles, 2000);
  EXPECT_EQ(use_all_images_size(1000).megapixels, 205);
  EXPECT_EQ(use_all_images_size(2000).tiles, 4000);
  EXPECT_EQ(use_all_images_size(2000).megapixels, 250);

  ScriptedPrompt prompt;
  MosaicParameters p;
  ListCounts counts;
  counts.total = 2000;
  ASSERT_TRUE(apply_automatic_settings(kSettingsUseAllImages, p, counts, prompt));
  EXPECT_EQ(p.mosaic_size, (SizeValue{250, 250, kUnitMegapixel}));
  EXPECT_EQ(p.tile_size, (UnitValue{4000, kUnitTiles}));
  EXPECT_TRUE(p.use_all_images);
  EXPECT_FALSE(p.split_mosaic);

  counts.total = 5000;  // 10000 tiles, 625 megapixels: split into pieces
  ASSERT_TRUE(apply_automatic_settings(kSettingsUseAllImages, p, counts, prompt));
  EXPECT_EQ(p.mosaic_size.width, 625);
  EXPECT_TRUE(p.split_mosaic);
}

TEST(AutomaticSettings, UseAllImagesWithoutAListChangesNothing) {
  ScriptedPrompt prompt;
  MosaicParameters p;
  p.pattern = PatternCode::mixed_1to8;
  MosaicParameters before = p;
  EXPECT_FALSE(apply_automatic_settings(kSettingsUseAllImages, p, ListCounts{}, prompt));
  EXPECT_EQ(p, before);
}

TEST(AutomaticSettings, ParquetAndMixedFollowTheListsOrientation) {
  EXPECT_EQ(parquet_pattern(300, 100).pattern, PatternCode::parquet_1to3);
  EXPECT_EQ(parquet_pattern(500, 100).pattern, PatternCode::portrait);
  EXPECT_EQ(parquet_pattern(200, 100).pattern, PatternCode::parquet_1to2);
  EXPECT_EQ(parquet_pattern(200, 100).variants.mask(), 6);
  EXPECT_EQ(parquet_pattern(100, 500).pattern, PatternCode::landscape);
  EXPECT_EQ(parquet_pattern(100, 300).pattern, PatternCode::parquet_3to1);
  EXPECT_EQ(parquet_pattern(100, 300).variants.mask(), 102);
  EXPECT_EQ(parquet_pattern(100, 200).pattern, PatternCode::parquet_2to1);
  EXPECT_EQ(parquet_pattern(100, 100).pattern, PatternCode::parquet_1to1);
  EXPECT_EQ(parquet_pattern(100, 100).variants.mask(), 6);
  EXPECT_EQ(mixed_pattern(300, 100).pattern, PatternCode::mixed_3to1);
  EXPECT_EQ(mixed_pattern(200, 100).pattern, PatternCode::mixed_2to1);
  EXPECT_EQ(mixed_pattern(100, 300).pattern, PatternCode::mixed_1to3);
  EXPECT_EQ(mixed_pattern(100, 200).pattern, PatternCode::mixed_1to2);
  EXPECT_EQ(mixed_pattern(100, 100).pattern, PatternCode::mixed_1to1);
  EXPECT_EQ(mixed_pattern(0, 100).pattern, PatternCode::landscape);

  ScriptedPrompt prompt;
  MosaicParameters p;
  ListCounts counts;
  counts.portrait_images = 250;
  counts.portrait_clips = 50;  // clips count with the pictures of their orientation
  counts.landscape_images = 100;
  ASSERT_TRUE(apply_automatic_settings(kSettingsParquet, p, counts, prompt));
  EXPECT_EQ(p.pattern, PatternCode::parquet_1to3);
  EXPECT_EQ(p.tile_size, (UnitValue{2000, kUnitTiles}));
  EXPECT_EQ(p.mosaic_size, (SizeValue{42, 29, kUnitCm}));
  ASSERT_TRUE(apply_automatic_settings(kSettingsPortrait, p, counts, prompt));
  EXPECT_EQ(p.pattern, PatternCode::portrait_2_rows);
  ASSERT_TRUE(apply_automatic_settings(kSettingsLandscape, p, counts, prompt));
  EXPECT_EQ(p.pattern, PatternCode::landscape_2_rows);
  EXPECT_EQ(p.tile_variants.mask(), 102);
}

TEST(AutomaticSettings, DuplicateSpacingStaysWithinZeroToTwenty) {
  for (std::size_t items = 1; items <= 8; ++items) EXPECT_EQ(automatic_duplicate_spacing(items), 0) << items;
  EXPECT_EQ(automatic_duplicate_spacing(9), 0);
  EXPECT_EQ(automatic_duplicate_spacing(100), 3);   // root 10: 9 / 2 - 1
  EXPECT_EQ(automatic_duplicate_spacing(400), 8);   // root 20: 19 / 2 - 1
  EXPECT_EQ(automatic_duplicate_spacing(2000), 20);
  EXPECT_EQ(automatic_duplicate_spacing(6000), 20);
}

TEST(AutomaticSettings, ListSizeSetsSpacingDuplicationAndColourChange) {
  ScriptedPrompt prompt;
  MosaicParameters p;
  ListCounts counts;
  counts.landscape_images = 4;
  ASSERT_TRUE(apply_automatic_settings(kSettingsMixed, p, counts, prompt));
  EXPECT_EQ(p.duplicate_spacing, 0);
  EXPECT_EQ(p.colour_change, 30);

  counts.landscape_images = 3000;
  ASSERT_TRUE(apply_automatic_settings(kSettingsMixed, p, counts, prompt));
  EXPECT_EQ(p.colour_change, 15);
  EXPECT_EQ(p.tile_duplication, 0);

  counts.landscape_clips = 3001;  // 6001 items
  ASSERT_TRUE(apply_automatic_settings(kSettingsMixed, p, counts, prompt));
  EXPECT_EQ(p.duplicate_spacing, 0);
  EXPECT_EQ(p.tile_duplication, 1);
  EXPECT_TRUE(prompt.messages().empty());
}

TEST(AutomaticSettings, AnEmptyListStillAppliesButAsksForAList) {
  ScriptedPrompt prompt;
  MosaicParameters p;
  p.duplicate_spacing = 9;
  EXPECT_FALSE(apply_automatic_settings(kSettingsLandscape, p, ListCounts{}, prompt));
  EXPECT_EQ(p.duplicate_spacing, 3);
  EXPECT_EQ(p.pattern, PatternCode::landscape_2_rows);
  ASSERT_EQ(prompt.messages().size(), 1u);
  EXPECT_EQ(prompt.messages()[0], kLoadListFirstMessage);
  EXPECT_FALSE(apply_automatic_settings(kSettingsLastMosaic, p, ListCounts{}, prompt)) << "a stored section";
}

}  // namespace
}  // namespace tess
