#pragma once
// Ctrl-C for the long commands: the first one asks the job to stop through
// its own stop path, a second one leaves at once.

#include <csignal>

namespace tess {

/// Routes SIGINT to a flag for its lifetime.
class InterruptGuard {
 public:
  InterruptGuard();
  ~InterruptGuard();
  InterruptGuard(const InterruptGuard&) = delete;
  InterruptGuard& operator=(const InterruptGuard&) = delete;

  /// Whether Ctrl-C was pressed since the guard was made.
  [[nodiscard]] static bool interrupted();

 private:
  struct sigaction m_previous {};
};

}  // namespace tess
