#include "engine/run_threads.hpp"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace tess
