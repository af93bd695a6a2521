// The simulator's event loop: sockets on the unit's address, control answers, paced streams,
// scheduled faults and status lines on standard output.
#pragma once

#include <atomic>

#include "lidar_sim/sim_options.h"

namespace lidar_sim {

// Asks the running simulator to show or hide the scene's toggle boxes at its next turn (well
// within a millisecond while it streams). Safe to call from a signal handler.
void request_scene_toggle();

// Runs until `stop` is set or the configured time is over; returns the process exit status.
int run_simulator(const SimOptions& options, const std::atomic<bool>& stop);

}  // namespace lidar_sim
