#include "engine/run_threads.hpp"

#include <gtest/gtest.h>

#include "images/foto_budget.hpp"
#include "settings/advanced_options.hpp"
#include "settings/configuration.hpp"
#include "support/test_support.hpp"

namespace tess {
namespace {

TEST(RunThreads, MinusOneIsReplacedByTheDetectedCountEverywhere) {
  testing::TempDir dir;
  ConfigFile config(dir / "TessellariumConfig.txt");
  AdvancedOptions options;
  options.initialise_all(true, config);
  options.set_value(kOptThreadCount, "-1");
  EXPECT_EQ(configured_thread_count(options, config, 6), 6);
  EXPECT_EQ(options.value(kOptThreadCount), "6");
  EXPECT_EQ(config.get(kDefaultValuesSection, "Options.ThreadCount", ""), "6");
}

TEST(RunThreads, OtherValuesLeaveTheOptionAlone) {
  testing::TempDir dir;
  ConfigFile config(dir / "TessellariumConfig.txt");
  AdvancedOptions options;
  options.initialise_all(true, config);
  EXPECT_EQ(configured_thread_count(options, config, 6), 6);  // "0": detect
  options.set_value(kOptThreadCount, "3");
  EXPECT_EQ(configured_thread_count(options, config, 6), 3);
  EXPECT_EQ(options.value(kOptThreadCount), "3");
  EXPECT_FALSE(config.get(kDefaultValuesSection, "Options.ThreadCount").has_value());
}

TEST(RunThreads, PriorityComesFromTheOptionWord) {
  AdvancedOptions options;
  options.set_value(kOptPriority, "BELOW_NORMAL");
  EXPECT_EQ(configured_priority(options), ThreadPriority::below_normal);
  options.set_value(kOptPriority, "");
  EXPECT_EQ(configured_priority(options), ThreadPriority::lowest);
}

// Megabytes of the decoding memory; anything that is not a positive number
// leaves the automatic budget in charge rather than a budget of nothing.
TEST(RunThreads, DecodingMemoryComesFromItsOptionInMegabytes) {
  AdvancedOptions options;
  const auto budget = [&options](const char* text) {
    options.set_value(kOptDecodeMemoryMaxSize, text);
    return configured_decode_budget(options);
  };
  EXPECT_EQ(budget("1000"), 1'000'000'000u);
  EXPECT_EQ(budget(" 0,5"), 500'000u);
  for (const char* automatic : {"0", "", "-200", "many", "nan"}) EXPECT_EQ(budget(automatic), 0u) << automatic;
  EXPECT_EQ(budget("1e300"), 1'000'000'000'000'000'000u);  // beyond any machine, not wrapped round

  options.set_value(kOptDecodeMemoryMaxSize, "123");
  apply_decode_budget(options);
  EXPECT_EQ(decode_budget().limit(), 123'000'000u);
  options.set_value(kOptDecodeMemoryMaxSize, "0");
  apply_decode_budget(options);
  EXPECT_EQ(decode_budget().limit(), automatic_decode_budget());
}

}  // namespace
}  // namespace tess
