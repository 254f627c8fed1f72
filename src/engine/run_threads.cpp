#include "engine/run_threads.hpp"

#include <cmath>
#include <string>
#include <thread>

#include "engine/job_pool.hpp"
#include "engine/score_tables.hpp"
#include "images/foto_budget.hpp"
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

std::uint64_t configured_decode_budget(const AdvancedOptions& options) {
  constexpr double kBytesPerMegabyte = 1'000'000;
  // Beyond any machine: taken as the most that can be said, not wrapped round.
  constexpr double kMostMegabytes = 1e12;
  const double megabytes = read_option_number(options.value(kOptDecodeMemoryMaxSize), 0);
  if (!(megabytes > 0)) return 0;
  return static_cast<std::uint64_t>(std::ceil(std::min(megabytes, kMostMegabytes) * kBytesPerMegabyte));
}

void apply_decode_budget(const AdvancedOptions& options) { decode_budget().set_limit(configured_decode_budget(options)); }

}  // namespace tess
