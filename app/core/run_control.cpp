#include "run_control.h"

#include <csignal>

#include "app/core/shared_state.h"

namespace app {
namespace {

static_assert(std::atomic<bool>::is_always_lock_free, "the signal handler needs a lock-free flag");

extern "C" void on_shutdown_signal(int signal_number) {
  if (running.exchange(false)) return;
  // Already stopping: let the default action end the process now.
  std::signal(signal_number, SIG_DFL);
  std::raise(signal_number);
}

}  // namespace

void install_shutdown_signal_handlers() {
  struct sigaction action {};
  action.sa_handler = on_shutdown_signal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

}  // namespace app
