// The settings file: saving and loading sections, the loader's rules for
// older and damaged files, the settings list.

#include "settings/settings_file.hpp"

#include <algorithm>

#include <gtest/gtest.h>

#include "base/scripted_prompt.hpp"
#include "settings/keyword_table.hpp"
#include "support/test_support.hpp"

namespace tess {
namespace {

using testing::TempDir;

// A record in which every field differs from a new record's value.
MosaicParameters unusual_record() {
  MosaicParameters p;
  p.mosaic_size = {1.5, 2.25, kUnitMeter};
  p.resolution = {240, kUnitDpi};
  p.tile_size = {1.75, kUnitCm};
  p.half_tiles = 20;
  p.quarter_tiles = 80;
  p.tile_duplication = 7;
  p.duplicate_spacing = 12;
  p.pattern = PatternCode::parquet_1to5;
  p.tile_adaptation = kAdaptMosaicSize;
  p.colour_change = 55;
  p.tile_variants = TileVariant::flip_vertically | TileVariant::rotated_180;
  p.processing = kProcessingSequentialDate;
  p.comparison = kCompareWeaker;
  p.detail = 6;
  p.colour_priority = kColourPriorityHighDetail;
  p.use_all_images = true;
  p.output_format = OutputFormatCode::psb;
  p.jpeg_quality = 61;
  p.output_transparency = true;
  p.output_layers = true;
  p.output_tiff64 = true;
  p.mosaic_directory = "/home/me/Mosaics = mine";
  p.subfolder_rule = kSubfolderNew;
  p.file_name_rule = kFileNameOverwrite;
  p.web_output = false;
  p.web_copy_images = true;
  p.web_popup_image = 640;
  p.web_popup_text = 2;
  p.web_title = "Our wall, 100% photos";
  p.text_report = true;
  p.individual_tiles = true;
  p.split_mosaic = true;
  p.create_mask_file = true;
  p.consecutive_frames = 25;
  p.border_colour = pack_colour(255, 0, 128);
  p.border_size = {0.5, kUnitCm};  // a fraction survives, not truncated to no border
  for (std::size_t i = 0; i < kAdvancedOptionCount; ++i) p.advanced.set_value(i, "v" + std::to_string(i));
  return p;
}

MosaicParameters loaded(const IniFile& ini, const std::string& section, MosaicParameters start = {},
                        SettingsLoad* load = nullptr, const IniFile& config = IniFile()) {
  SettingsLoad result = read_settings_section(ini, section, start, config);
  if (load != nullptr) *load = result;
  return start;
}

// A section holding one changed key over a default record.
IniFile section_with(const std::string& key, const std::string& value) {
  IniFile ini;
  write_settings_section(ini, "S", MosaicParameters{}, "", false);
  ini.set("S", key, value);
  return ini;
}

TEST(SettingsFile, EveryFieldSurvivesSaveAndLoad) {
  TempDir dir;
  SettingsFile file(dir / "TessellariumSettings12x9.txt");
  MosaicParameters saved = unusual_record();
  ASSERT_TRUE(file.save("Poster", saved, "/lists/all photos.tzc", true));

  MosaicParameters back;
  SettingsLoad load = file.load("Poster", back, IniFile());
  EXPECT_TRUE(load.loaded);
  EXPECT_TRUE(load.ignored_keys.empty());
  EXPECT_EQ(load.tile_list, "/lists/all photos.tzc");
  EXPECT_EQ(back, saved);
}

TEST(SettingsFile, KeysAreWrittenInTheirOrderWithTheirStoredForms) {
  IniFile ini;
  MosaicParameters p;
  p.tile_variants = kVariantsStandard;
  write_settings_section(ini, "S", p, "", false);
  std::string text = ini.text();
  EXPECT_NE(text.find("[S]\r\nVersion = 1\r\nMosaicSizeUnit = cm\r\nMosaicSizeWidth = 42.000000\r\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("TileUnit = tilesxrow\r\nTileSize = 40.000000\r\n"), std::string::npos);
  EXPECT_NE(text.find("TileVariants = 103\r\n"), std::string::npos);
  EXPECT_NE(text.find("FileFormat = jpg\r\nJPGQuality = 95\r\n"), std::string::npos);
  EXPECT_NE(text.find("BorderSizeUnit = pixel\r\nBorderSizeWidth = 0\r\nAdvanced.Version = 0\r\n"
                      "Advanced.Options.ThreadCount = \r\n"),
            std::string::npos);
  EXPECT_EQ(ini.keys("S").back(), "TileList");
  EXPECT_EQ(ini.keys("S").size(), settings_keys().size() + kAdvancedOptionCount);

  p.tile_variants = TileVariant::rotated_90;
  write_settings_section(ini, "S", p, "", false);
  EXPECT_EQ(ini.get("S", "TileVariants"), "rotated90");
  EXPECT_EQ(loaded(ini, "S").tile_variants, TileVariant::rotated_90);
  p.tile_variants = kVariantsStandard;
  write_settings_section(ini, "S", p, "", false);
  EXPECT_EQ(loaded(ini, "S").tile_variants, kVariantsStandard);
}

TEST(SettingsFile, FileFormatFromOlderFilesAndPackedKeywords) {
  MosaicParameters p = loaded(section_with("FileFormat", "80"), "S");
  EXPECT_EQ(p.output_format, OutputFormatCode::jpg);
  EXPECT_EQ(p.jpeg_quality, 80);

  p = loaded(section_with("FileFormat", "250"), "S");
  EXPECT_EQ(p.jpeg_quality, 100);

  p = loaded(section_with("FileFormat", "bigtiff_jpg80"), "S");
  EXPECT_EQ(p.output_format, OutputFormatCode::tiff_jpg);
  EXPECT_EQ(p.jpeg_quality, 80);
  EXPECT_TRUE(p.output_tiff64);

  p = loaded(section_with("FileFormat", "tiff_jpg60"), "S");
  EXPECT_EQ(p.output_format, OutputFormatCode::tiff_jpg);
  EXPECT_EQ(p.jpeg_quality, 60);
  EXPECT_FALSE(p.output_tiff64);

  for (const char* quality : {"0", "101", "-4", "good"}) {
    IniFile ini = section_with("FileFormat", "psd");
    ini.set("S", "JPGQuality", quality);
    p = loaded(ini, "S");
    EXPECT_EQ(p.output_format, OutputFormatCode::psd);
    EXPECT_EQ(p.jpeg_quality, 95) << quality;
  }
}

TEST(SettingsFile, TileAdaptNoAndAMissingPatternLeaveTheirFields) {
  MosaicParameters start;
  start.tile_adaptation = kAdaptMosaicSize;
  start.pattern = PatternCode::mixed_5to1;
  SettingsLoad load;
  IniFile ini = section_with("TileAdapt", "No");
  ini.remove_key("S", "Pattern");
  MosaicParameters p = loaded(ini, "S", start, &load);
  EXPECT_EQ(p.tile_adaptation, kAdaptMosaicSize);
  EXPECT_EQ(p.pattern, PatternCode::mixed_5to1);
  EXPECT_TRUE(load.ignored_keys.empty());
}

TEST(SettingsFile, EveryStoredPatternAndVariantSetIsReadAndWrittenBackTheSame) {
  // The stored forms: the 33 pattern keywords and every set of the six variant
  // bits (a keyword for a single bit, the mask + 1 for any other set).
  std::vector<std::pair<std::string, std::string>> stored;
  for (const KeywordEntry& e : pattern_keywords().entries()) stored.emplace_back("Pattern", e.keyword);
  for (std::int32_t mask = 0; mask <= 0x7E; mask += 2)
    stored.emplace_back("TileVariants", variant_keywords().encode(mask));
  for (const auto& [key, text] : stored) {
    SettingsLoad load;
    const MosaicParameters from_file = loaded(section_with(key, text), "S", {}, &load);
    EXPECT_TRUE(load.ignored_keys.empty()) << key << " = " << text;
    MosaicParameters from_set;
    EXPECT_EQ(apply_setting(from_set, key, text), SettingChange::applied) << key << " = " << text;
    EXPECT_TRUE(from_set.pattern == from_file.pattern && from_set.tile_variants == from_file.tile_variants)
        << key << " = " << text;
    IniFile back;
    write_settings_section(back, "S", from_file, "", false);
    EXPECT_EQ(back.get("S", key), text) << key;
  }
}

TEST(SettingsFile, ValuesTheRunCannotHandleAreIgnoredAndNamed) {
  MosaicParameters start = unusual_record();
  struct Case {
    const char* key;
    const char* value;
  };
  const Case cases[] = {
      {"Pattern", "41"},  // code 40
      {"Pattern", "35"},  // code 34, one past the last pattern
      {"Pattern", "Zigzag"},
      {"Pattern", "-3"},
      {"TileAdapt", "9"},
      {"TileUnit", "ppi"},
      {"ResolutionUnit", "cm"},
      {"MosaicSizeUnit", "dpi"},
      {"MosaicSizeUnit", "furlong"},
      {"TileSize", "0"},
      {"TileSize", "-5"},
      {"TileSize", "abc"},
      {"TileSize", "nan"},
      {"ResolutionSize", "0"},
      {"ResolutionSize", "20000"},
      {"MosaicSizeWidth", "0"},
      {"MosaicSizeHeight", "-29"},
      {"MosaicSizeHeight", "0.0000001"},  // a save would store 0.000000
      {"BorderSizeWidth", "-1"},
      {"FileFormat", "gif"},
      {"MultiSize2", "500"},
      {"ColorChange", "x"},
      {"BorderColor", "16777216"},
      {"TileVariants", "1000"},
      {"MosaicProcessing", "42"},
      {"RezIrorizPopUpImage", "-1"},
  };
  for (const Case& c : cases) {
    IniFile ini;
    write_settings_section(ini, "S", start, "", true);
    ini.set("S", c.key, c.value);
    SettingsLoad load;
    MosaicParameters p = loaded(ini, "S", start, &load);
    EXPECT_EQ(p, start) << c.key << " = " << c.value;
    EXPECT_EQ(load.ignored_keys, std::vector<std::string>{c.key}) << c.key << " = " << c.value;
  }
}

TEST(SettingsFile, MissingKeysTakeTheLoadersDefaults) {
  IniFile ini;
  ini.set("Old", "Version", "1");
  MosaicParameters start = unusual_record();
  SettingsLoad load;
  MosaicParameters p = loaded(ini, "Old", start, &load);
  EXPECT_TRUE(load.loaded);
  EXPECT_TRUE(load.ignored_keys.empty());
  // Sizes, pattern, adaptation, variants and the folder keep their values.
  EXPECT_EQ(p.mosaic_size, start.mosaic_size);
  EXPECT_EQ(p.tile_size, start.tile_size);
  EXPECT_EQ(p.border_size, start.border_size);
  EXPECT_EQ(p.pattern, start.pattern);
  EXPECT_EQ(p.tile_variants, start.tile_variants);
  EXPECT_EQ(p.mosaic_directory, start.mosaic_directory);
  // The rest takes the loader's defaults.
  EXPECT_EQ(p.duplicate_spacing, 0);
  EXPECT_EQ(p.processing, 0);
  EXPECT_EQ(p.output_format, start.output_format);
  EXPECT_EQ(p.jpeg_quality, 95);
  EXPECT_TRUE(p.web_output);
  EXPECT_FALSE(p.web_copy_images);
  EXPECT_EQ(p.web_popup_image, 300);
  EXPECT_EQ(p.web_popup_text, 4);
  EXPECT_EQ(p.web_title, "Mosaic created by Tessellarium");
  EXPECT_FALSE(p.split_mosaic);
}

TEST(SettingsFile, OnlyVersionOneIsLoaded) {
  MosaicParameters start = unusual_record();
  for (const char* version : {"2", "0", "", "one"}) {
    IniFile ini = section_with("Version", version);
    SettingsLoad load;
    EXPECT_EQ(loaded(ini, "S", start, &load), start) << version;
    EXPECT_FALSE(load.loaded);
  }
  SettingsLoad load;
  EXPECT_EQ(loaded(IniFile(), "Nowhere", start, &load), start);
  EXPECT_FALSE(load.loaded);
}

TEST(SettingsFile, OtherLetterCaseInKeysAndSectionsReadsTheSame) {
  IniFile canonical;
  write_settings_section(canonical, "My Poster", unusual_record(), "/l.tzc", true);
  std::string text = canonical.text();
  std::string shouted;
  for (std::size_t i = 0; i < text.size(); ++i) {
    // Upper-case each line's key and the section name, leave the values.
    std::size_t line = text.rfind('\n', i);
    line = line == std::string::npos ? 0 : line + 1;
    std::size_t equals = text.find(" = ", line);
    std::size_t end = text.find('\n', line);
    bool in_key = equals != std::string::npos && equals < end && i < equals;
    bool in_section = text[line + (line == 0 ? 3 : 0)] == '[' && i < end;
    shouted += (in_key || in_section) ? static_cast<char>(std::toupper(static_cast<unsigned char>(text[i]))) : text[i];
  }
  ASSERT_NE(shouted.find("[MY POSTER]"), std::string::npos);
  ASSERT_NE(shouted.find("TILEVARIANTS = 25"), std::string::npos) << shouted;
  IniFile ini;
  ASSERT_TRUE(ini.parse(shouted));
  SettingsLoad load;
  EXPECT_EQ(loaded(ini, "my poster", {}, &load), unusual_record());
  EXPECT_EQ(load.tile_list, "/l.tzc");
}

TEST(SettingsFile, AdvancedOptionsComeFromTheSectionOrFromDefaultValues) {
  IniFile config;
  config.set("Default Values", "Options.ThreadCount", "4");
  MosaicParameters current = MosaicParameters::created(config);
  current.advanced.set_value(kOptThreadCount, "7");
  current.advanced.set_value(kOptPriority, "HIGHEST");

  IniFile ini;
  write_settings_section(ini, "Without", current, "", false);
  MosaicParameters p = current;
  read_settings_section(ini, "Without", p, config);
  EXPECT_EQ(p.advanced.value(kOptThreadCount), "4");
  for (std::size_t i = 0; i < kAdvancedOptionCount; ++i)
    EXPECT_EQ(p.advanced.value(i), config.get("Default Values", advanced_option_table()[i].key,
                                              advanced_option_table()[i].factory_default))
        << i;

  write_settings_section(ini, "With", current, "", true);
  ini.remove_key("With", "Advanced.Options.Priority");  // written by an older program
  p = MosaicParameters::created(config);
  read_settings_section(ini, "With", p, config);
  EXPECT_EQ(p.advanced.value(kOptThreadCount), "7");
  EXPECT_EQ(p.advanced.value(kOptPriority), "LOWEST") << "a missing option takes its default";
}

TEST(SettingsFile, SavingReplacesASectionInPlaceAndReportsWriteFailures) {
  TempDir dir;
  SettingsFile file(dir / "settings.txt");
  MosaicParameters p;
  ASSERT_TRUE(file.save("First", p, "", false));
  ASSERT_TRUE(file.save("Second", p, "", false));
  p.pattern = PatternCode::portrait;
  ASSERT_TRUE(file.save("first", p, "", false));
  EXPECT_EQ(file.user_settings(), (std::vector<std::string>{"First", "Second"}));
  MosaicParameters back;
  file.load("First", back, IniFile());
  EXPECT_EQ(back.pattern, PatternCode::portrait);

  ASSERT_TRUE(file.remove("Second"));
  ASSERT_TRUE(file.remove("Never Saved"));
  EXPECT_EQ(file.user_settings(), (std::vector<std::string>{"First"}));
  EXPECT_FALSE(file.contains("Second"));

  SettingsFile blocked(dir / "folder");
  std::filesystem::create_directories(blocked.path());
  EXPECT_FALSE(blocked.save("First", p, "", false));
  EXPECT_FALSE(save_settings_copy(dir / "missing/dir/x Settings.txt", p, "", false));
}

TEST(SettingsFile, TheCopyBesideAMosaicHoldsOnlyItsSection) {
  TempDir dir;
  std::filesystem::path path = settings_copy_path(dir / "Sunset 001");
  EXPECT_EQ(path.filename(), "Sunset 001 Settings.txt");
  testing::write_file(path, "[Stale]\r\nVersion = 1\r\n");
  ASSERT_TRUE(save_settings_copy(path, unusual_record(), "/l.tzc", true));
  IniFile ini;
  ASSERT_TRUE(ini.load(path));
  EXPECT_EQ(ini.sections(), std::vector<std::string>{"Mosaic Settings"});
  SettingsLoad load;
  EXPECT_EQ(loaded(ini, kMosaicSettingsSection, {}, &load), unusual_record());
}

TEST(SettingsFile, NamesOfTheAutomaticEntriesAreRefused) {
  EXPECT_FALSE(valid_settings_name("(Mine"));
  EXPECT_FALSE(valid_settings_name("Mine)"));
  EXPECT_FALSE(valid_settings_name("(Last Mosaic)"));
  EXPECT_FALSE(valid_settings_name("   "));
  EXPECT_FALSE(valid_settings_name("a]b"));
  EXPECT_EQ(valid_settings_name("  Big (A3) poster "), "Big (A3) poster");
  EXPECT_EQ(valid_settings_name(" Mine ) x"), "Mine ) x");
  EXPECT_EQ(settings_file_name(), "TessellariumSettings12x9.txt");
}

TEST(SettingsFile, TheListShowsUserEntriesThenTheAutomaticOnes) {
  IniFile ini;
  MosaicParameters p;
  write_settings_section(ini, "Zebra", p, "", false);
  write_settings_section(ini, kLastMosaicSection, p, "", true);
  write_settings_section(ini, "Apple", p, "", false);
  ini.set("Future", "Version", "3");
  ini.set("Broken", "Version", "0");
  ini.set("(Hidden", "Version", "1");

  std::vector<SettingsEntry> entries = settings_entries(ini);
  std::vector<std::string> names;
  std::vector<SettingsEntryCode> codes;
  for (const auto& e : entries) {
    names.push_back(e.name);
    codes.push_back(e.code);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"Zebra", "Apple", "Future", "(Default Settings)", "(Landscape)",
                                             "(Portrait)", "(Parquet)", "(Mixed)", "(Use All Images)",
                                             "(Video Mosaic)", "(Last Mosaic)"}));
  EXPECT_EQ(codes, (std::vector<SettingsEntryCode>{0, 0, 0, 1, 6, 7, 8, 9, 5, 2, 3}));
  EXPECT_EQ(startup_settings_code(ini), kSettingsDefault);

  write_settings_section(ini, kAutoSaveSection, p, "", true);
  EXPECT_EQ(settings_entries(ini).back().code, kSettingsAutoSave);
  EXPECT_EQ(startup_settings_code(ini), kSettingsAutoSave);
}

TEST(SettingsFile, ARunSavesLastMosaicAndAutoSaveWhichLoadByTheirEntries) {
  TempDir dir;
  SettingsFile file(dir / "settings.txt");
  ASSERT_TRUE(file.save("Mine", MosaicParameters{}, "", false));
  ASSERT_TRUE(file.save_run_settings(unusual_record(), "/run.tzc"));
  IniFile ini = file.read();
  EXPECT_EQ(file.user_settings(), std::vector<std::string>{"Mine"});
  EXPECT_EQ(startup_settings_code(ini), kSettingsAutoSave);

  ScriptedPrompt prompt;
  for (SettingsEntryCode code : {kSettingsLastMosaic, kSettingsAutoSave}) {
    MosaicParameters p;
    SettingsLoad load = load_settings_entry({"ignored", code}, ini, p, ListCounts{}, IniFile(), prompt);
    EXPECT_TRUE(load.loaded);
    EXPECT_EQ(load.tile_list, "/run.tzc");
    EXPECT_EQ(p, unusual_record()) << code;
  }
  MosaicParameters p = unusual_record();
  ListCounts counts;
  counts.portrait_images = 300;
  counts.landscape_images = 100;
  EXPECT_TRUE(load_settings_entry({"(Parquet)", kSettingsParquet}, ini, p, counts, IniFile(), prompt).loaded);
  EXPECT_EQ(p.pattern, PatternCode::parquet_1to3);
  EXPECT_TRUE(load_settings_entry({"Mine", kSettingsUser}, ini, p, counts, IniFile(), prompt).loaded);
  EXPECT_EQ(p.pattern, PatternCode::landscape);
  EXPECT_TRUE(prompt.messages().empty());
}

TEST(SettingsFile, SingleKeysApplyWithTheirFieldsLimits) {
  MosaicParameters p;
  EXPECT_EQ(apply_setting(p, "FileFormat", "bigtiff_jpg80"), SettingChange::applied);
  EXPECT_EQ(p.output_format, OutputFormatCode::tiff_jpg);
  EXPECT_EQ(p.jpeg_quality, 80);
  EXPECT_TRUE(p.output_tiff64);
  EXPECT_EQ(apply_setting(p, "fileformat", "PSD"), SettingChange::applied);
  EXPECT_EQ(p.output_format, OutputFormatCode::psd);
  EXPECT_EQ(apply_setting(p, "Pattern", "Parquet (1:1)"), SettingChange::applied);
  EXPECT_EQ(p.pattern, PatternCode::parquet_1to1);
  EXPECT_EQ(apply_setting(p, "TileVariants", "103"), SettingChange::applied);
  EXPECT_EQ(p.tile_variants.mask(), 102);
  EXPECT_EQ(apply_setting(p, "TileAdapt", "No"), SettingChange::applied);
  EXPECT_EQ(p.tile_adaptation, kAdaptNo);
  EXPECT_EQ(apply_setting(p, "BorderSizeWidth", "2.5"), SettingChange::applied);
  EXPECT_EQ(apply_setting(p, "Advanced.Options.Priority", "normal"), SettingChange::applied);
  EXPECT_EQ(p.advanced.value(kOptPriority), "NORMAL");
  EXPECT_EQ(apply_setting(p, "Version", "1"), SettingChange::applied);

  MosaicParameters before = p;
  EXPECT_EQ(apply_setting(p, "Colour", "1"), SettingChange::unknown_key);
  EXPECT_EQ(apply_setting(p, "TileList", "/x.tzc"), SettingChange::unknown_key);
  EXPECT_EQ(apply_setting(p, "Advanced.Options.Nothing", "1"), SettingChange::unknown_key);
  for (auto [key, value] : std::vector<std::pair<std::string, std::string>>{
           {"FileFormat", "80"}, {"FileFormat", "gif"}, {"Pattern", "35"}, {"TileUnit", "ppi"},
           {"TileSize", "0"}, {"ResolutionSize", "-300"}, {"MosaicSizeWidth", "nan"}, {"JPGQuality", "0"},
           {"MultiSize4", "81"}, {"UseAllImages", "yes"}, {"TileVariants", "2"}, {"MosaicDirectory", "a\nb"},
           {"Advanced.Options.Priority", "warp"}, {"Version", "2"}, {"ImageCompare", "6"},
           {"MosaicSizeHeight", "0.0000001"}}) {  // the file's six decimals would store 0
    EXPECT_EQ(apply_setting(p, key, value), SettingChange::refused) << key << "=" << value;
  }
  EXPECT_EQ(p, before);
}

}  // namespace
}  // namespace tess
