#pragma once
// How many threads a parallel phase uses and at which priority, from the
// "Process Count" and "Priority" advanced options.

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

}  // namespace tess
