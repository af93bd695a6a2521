#include <csignal>
#include <cstdio>

#include "lidar_sim/sim_runner.h"

namespace {
std::atomic<bool> g_stop{false};
void on_signal(int) { g_stop.store(true); }
void on_toggle(int) { lidar_sim::request_scene_toggle(); }
}  // namespace

int main(int argc, char** argv) {
  lidar_sim::SimOptions options;
  bool help = false;
  std::string error;
  if (!lidar_sim::parse_options(argc, argv, options, help, error)) {
    std::fprintf(stderr, "lidar_sim: %s\n", error.c_str());
    return 2;
  }
  if (help) {
    std::fputs(lidar_sim::usage_text(), stdout);
    return 0;
  }
  struct sigaction sa {};
  sa.sa_handler = on_signal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  sa.sa_handler = on_toggle;
  sigaction(SIGUSR1, &sa, nullptr);
  return lidar_sim::run_simulator(options, g_stop);
}
