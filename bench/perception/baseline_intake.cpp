#include "baseline_intake.h"

#include <utility>

#include "perception/datagram_records.h"

namespace baseline {

void on_point_cloud(IntakeState& state, LidarEthernetPacket* packet) {
  const uint64_t now = app::steady_ms();
  if (packet == nullptr || app::packet_dot_count(*packet) == 0) return;

  app::PointFrame frame;
  frame.stamp_ms = now;
  app::decode_points_into(*packet, frame.points);
  app::window_push(state.window, frame);
  app::PointFrame snapshot = app::window_snapshot(state.window, now);
  {
    std::lock_guard<std::mutex> hold(state.viewer_mutex);
    state.latest_cloud = snapshot;
  }
  std::optional<app::PointFrame> displaced;
  {
    std::lock_guard<std::mutex> hold(state.mailbox_mutex);
    displaced.swap(state.pending);
    state.pending = std::move(snapshot);
    state.handoff_ms = now;
  }
}

}  // namespace baseline
