// What the supervisor's collaborators saw: viewer control, attitude resets and publications.
#pragma once

#include <cstdint>
#include <vector>

#include "core/records.h"

namespace supervisor_fakes {

struct AttitudeCall {
  float values[6];
  uint64_t t;
};

void reset();
// Whether start_viewer opens a window (true after reset).
void set_viewer_opens(bool opens);
int viewer_starts();
int viewer_stops();
std::vector<AttitudeCall> attitude_calls();
std::vector<app::StatusSnapshot> lidar_publications();
int imu_publications();

}  // namespace supervisor_fakes
