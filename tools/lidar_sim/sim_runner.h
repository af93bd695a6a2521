// The simulator's event loop: sockets on the unit's address, control answers, paced streams,
// scheduled faults and status lines on standard output.
#pragma once

#include <atomic>

#include "tools/lidar_sim/sim_options.h"

namespace lidar_sim {

// Runs until `stop` is set or the configured time is over; returns the process exit status.
int run_simulator(const SimOptions& options, const std::atomic<bool>& stop);

}  // namespace lidar_sim
