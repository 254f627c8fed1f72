#include "cli/interrupt.hpp"

#include <unistd.h>

#include "cli/cli_app.hpp"

namespace tess {
namespace {

volatile std::sig_atomic_t g_interrupted = 0;

extern "C" void on_interrupt(int) {
  if (g_interrupted != 0) ::_exit(kExitFailed);
  g_interrupted = 1;
}

}  // namespace

InterruptGuard::InterruptGuard() {
  g_interrupted = 0;
  struct sigaction action {};
  action.sa_handler = on_interrupt;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGINT, &action, &m_previous);
}

InterruptGuard::~InterruptGuard() { ::sigaction(SIGINT, &m_previous, nullptr); }

bool InterruptGuard::interrupted() { return g_interrupted != 0; }

}  // namespace tess
