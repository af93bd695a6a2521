// The point intake as first built, for the benchmarks to measure the current one against:
// every datagram snapshots the whole window and copies it to the viewer's record and to the
// worker's mailbox.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>

#include "core/shared_state.h"
#include "lidar_sdk.h"

namespace baseline {

// Its own window, viewer record and mailbox, so it runs beside the application's.
struct IntakeState {
  app::PointWindow window;
  std::mutex viewer_mutex;
  app::PointFrame latest_cloud;
  std::mutex mailbox_mutex;
  std::optional<app::PointFrame> pending;
  uint64_t handoff_ms = 0;
};

void on_point_cloud(IntakeState& state, LidarEthernetPacket* packet);

}  // namespace baseline
