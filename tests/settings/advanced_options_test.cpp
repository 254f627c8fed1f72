#include "settings/advanced_options.hpp"

#include <cctype>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "base/ini_file.hpp"
#include "settings/configuration.hpp"
#include "support/test_support.hpp"

namespace tess {
namespace {

using testing::TempDir;

TEST(AdvancedOptions, TableHasThirtyOptionsWithDistinctKeys) {
  const auto& table = advanced_option_table();
  std::set<std::string> keys;
  for (const auto& o : table) keys.insert(o.key);
  EXPECT_EQ(keys.size(), kAdvancedOptionCount);
  // "Tile Split" must not share "Tile Size Priority"'s key, or each would overwrite the other.
  EXPECT_STRNE(table[kOptTileSplit].key, table[kOptTilePrioritySize].key);
  EXPECT_STREQ(table[kOptTileSplit].key, "Options.TileSplit");
  EXPECT_STREQ(table[kOptExtractStaticVideo].key, "Extract.ExtractStaticVideo");
}

TEST(AdvancedOptions, WithoutConfigurationFileEveryOptionTakesItsFactoryDefault) {
  TempDir dir;
  ConfigFile config(dir / "TessellariumConfig.txt");
  AdvancedOptions options;
  options.initialise_all(true, config);
  EXPECT_EQ(options.value("Options.MemoryMaxSizeMB"), "1500");
  EXPECT_EQ(options.value("Options.FinalAction"), "ask");
  EXPECT_EQ(options.value(kOptPriority), "LOWEST");
  EXPECT_EQ(options.value(kOptFourCC), "uncompressed");
  EXPECT_EQ(options.value(kOptVideoFrameCount), "MAX*2");
}

// Properties every row of the table keeps, whatever is added to it: its key
// is found again whatever the letter case, its factory default is a value the
// option itself accepts as it stands, and its help names that default.
TEST(AdvancedOptions, EveryOptionAcceptsItsOwnDefaultAndIsFoundByItsKey) {
  const auto& table = advanced_option_table();
  for (std::size_t i = 0; i < kAdvancedOptionCount; ++i) {
    SCOPED_TRACE(table[i].key);
    std::string shouted = table[i].key;
    for (char& c : shouted) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_EQ(find_advanced_option(shouted), i);
    EXPECT_EQ(normalise_advanced_value(i, table[i].factory_default), std::string(table[i].factory_default));
    EXPECT_NE(advanced_option_help(i).find(table[i].factory_default), std::string::npos);
  }
}

TEST(AdvancedOptions, SavedDefaultsStartTheNextRecord) {
  TempDir dir;
  ConfigFile config(dir / "TessellariumConfig.txt");
  AdvancedOptions options;
  options.initialise_all(true, config);
  options.set_value(kOptThreadCount, "4");
  options.set_value(kOptTileSplit, "QUALITY");
  ASSERT_TRUE(options.save_defaults(config));

  AdvancedOptions next;
  next.initialise_all(true, config);
  EXPECT_EQ(next.value(kOptThreadCount), "4");
  EXPECT_EQ(next.value(kOptTileSplit), "QUALITY");
  EXPECT_EQ(next.value(kOptTilePrioritySize), "LOWER");  // untouched by its neighbour
}

TEST(AdvancedOptions, UnforcedInitialisationFillsOnlyEmptyValues) {
  IniFile ini;
  ini.set("default values", "OPTIONS.THREADCOUNT", "3");  // other letter case, same key
  ini.set("Default Values", "Options.Priority", "NORMAL");
  AdvancedOptions options;
  options.set_value(kOptPriority, "HIGHEST");
  options.initialise_all(false, ini);
  EXPECT_EQ(options.value(kOptThreadCount), "3");
  EXPECT_EQ(options.value(kOptPriority), "HIGHEST");
  options.initialise_all(true, ini);
  EXPECT_EQ(options.value(kOptPriority), "NORMAL");
}

TEST(AdvancedOptions, KeywordOptionsTakeWordsOrLabelsOnly) {
  EXPECT_EQ(normalise_advanced_value(kOptPriority, "very low"), "LOWEST");
  EXPECT_EQ(normalise_advanced_value(kOptPriority, "below_normal"), "BELOW_NORMAL");
  EXPECT_EQ(normalise_advanced_value(kOptFinalAction, "open folder"), "openfolder");
  EXPECT_EQ(normalise_advanced_value(kOptMosaicFastPreview, "yes"), "1");
  EXPECT_EQ(normalise_advanced_value(kOptMosaicFastPreview, "0"), "0");
  EXPECT_FALSE(normalise_advanced_value(kOptPriority, "fast"));
  EXPECT_EQ(normalise_advanced_value(kOptVideoFrameRate, "MAX*3"), "MAX*3");  // free values pass
  EXPECT_FALSE(normalise_advanced_value(kOptVideoFrameRate, "a\nb"));
}

TEST(AdvancedOptions, HelpEndsWithFactoryDefaultAndListsChoices) {
  std::string help = advanced_option_help(kOptTilePriorityArea);
  EXPECT_NE(help.find("'center small' - Priority will grow from 100% at the edge to 150% at the center."),
            std::string::npos)
      << help;
  EXPECT_NE(help.find("\nDefault factory value: CENTER_WIDE"), std::string::npos);
  for (std::size_t i = 0; i < kAdvancedOptionCount; ++i) EXPECT_GT(advanced_option_help(i).size(), 30u) << i;
}

TEST(ConfigFile, UnreadableFileIsNeverOverwritten) {
  TempDir dir;
  auto path = dir / "TessellariumConfig.txt";
  std::filesystem::create_directory(path);  // exists, but cannot be read as a file
  ConfigFile config(path);
  EXPECT_FALSE(config.set("Default Values", "Options.ThreadCount", "2"));
  EXPECT_TRUE(std::filesystem::is_directory(path));
}

TEST(ConfigFile, SetKeepsOtherSections) {
  TempDir dir;
  ConfigFile config(dir / "TessellariumConfig.txt");
  ASSERT_TRUE(config.set(kUserSettingsSection, "Locale", "de"));
  ASSERT_TRUE(config.set(kDefaultValuesSection, "Options.ThreadCount", "2"));
  EXPECT_EQ(config.get("usersettings", "locale", ""), "de");
  EXPECT_EQ(config.get(kDefaultValuesSection, "Options.ThreadCount", ""), "2");
}

}  // namespace
}  // namespace tess
