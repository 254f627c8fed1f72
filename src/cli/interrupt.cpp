#include "cli/interrupt.hpp"

#include <unistd.h>

#include <atomic>

#include "cli/cli_app.hpp"

namespace tess {
namespace {

// The signal may land on any thread, a worker of the run included, while the
// main thread reads the flag: a lock-free atomic is safe in the handler and
// across threads, where a volatile sig_atomic_t is only safe within one.
std::atomic<int> g_interrupted{0};
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void on_interrupt(int) {
  if (g_interrupted.exchange(1) != 0) ::_exit(kExitFailed);
}

}  // namespace

InterruptGuard::InterruptGuard() {
  g_interrupted.store(0);
  struct sigaction action {};
  action.sa_handler = on_interrupt;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGINT, &action, &m_previous);
}

InterruptGuard::~InterruptGuard() { ::sigaction(SIGINT, &m_previous, nullptr); }

bool InterruptGuard::interrupted() { return g_interrupted.load() != 0; }

}  // namespace tess
