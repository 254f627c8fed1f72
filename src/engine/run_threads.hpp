#pragma once
// How many threads a parallel phase uses, at which priority and with how much
// memory for decoding pictures, from the "Process Count", "Priority" and
// "Decoding Memory" advanced options.

#include <cstdint>

#include "engine/thread_priority.hpp"

namespace tess {

class AdvancedOptions;
class ConfigFile;

/// Threads in all for a parallel phase (the calling thread included, so a
/// pool gets one fewer). A "Process Count" of -1 is replaced by the detected
/// number, in `options` and in the "Default Values" of `config`.
int configured_thread_count(AdvancedOptions& options, const ConfigFile& config);
/// The same with the machine's hardware thread count given (tests).
int configured_thread_count(AdvancedOptions& options, const ConfigFile& config, unsigned hardware_threads);

/// The priority of worker threads, from the "Priority" option.
ThreadPriority configured_priority(const AdvancedOptions& options);

/// Bytes of the "Decoding Memory" option (megabytes); 0, for the automatic
/// budget, when it is 0 or not a positive number.
std::uint64_t configured_decode_budget(const AdvancedOptions& options);
/// Gives the budget every picture load of the process shares the size of the
/// "Decoding Memory" option: called where a run or a list analysis sets up
/// its threads.
void apply_decode_budget(const AdvancedOptions& options);

}  // namespace tess
