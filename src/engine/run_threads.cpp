#include "engine/run_threads.hpp"

#include <string>
#include <thread>

#include "engine/job_pool.hpp"
#include "settings/advanced_options.hpp"
#include "settings/configuration.hpp"

namespace tess {

int configured_thread_count(AdvancedOptions& options, const ConfigFile& config) {
  return configured_thread_count(options, config, std::thread::hardware_concurrency());
}

int configured_thread_count(AdvancedOptions& options, const ConfigFile& config, unsigned hardware_threads) {
  ThreadCountChoice choice = resolve_thread_count(options.value(kOptThreadCount), hardware_threads);
  if (choice.write_back) {
    std::string detected = std::to_string(choice.count);
    options.set_value(kOptThreadCount, detected);
    // Not being able to remember the count costs nothing but detecting it again.
    (void)config.set(kDefaultValuesSection, advanced_option_table()[kOptThreadCount].key, detected);
  }
  return choice.count;
}

ThreadPriority configured_priority(const AdvancedOptions& options) {
  return thread_priority_from_word(options.value(kOptPriority));
}

}  // namespace tess
