#include "point_intake.h"

#include <chrono>
#include <optional>
#include <thread>
#include <utility>

#include "app/core/shared_state.h"
#include "app/perception/datagram_records.h"
#include "app/perception/frame_processing.h"
#include "app/perception/packet_rate.h"

namespace app {
namespace {

constexpr uint64_t kMinFrameIntervalMs = 100;
constexpr auto kIdleSleep = std::chrono::milliseconds(2);

PacketRateCounter point_rate;

void publish_live_frame(PointFrame snapshot, uint64_t now) {
  {
    std::lock_guard<std::mutex> hold(state_mutex);
    latest_cloud = snapshot;
  }
  // The frame the worker never took is released outside the lock.
  std::optional<PointFrame> displaced;
  {
    std::lock_guard<std::mutex> hold(frame_mutex);
    displaced.swap(frame_mailbox.pending);
    frame_mailbox.pending = std::move(snapshot);
    frame_mailbox.handoff_ms = now;
  }
}

void publish_map_frame(const PointFrame& datagram_frame, uint64_t now) {
  window_push(map_window, datagram_frame);
  PointFrame snapshot = window_snapshot(map_window, now);
  std::lock_guard<std::mutex> hold(viewer_cloud_mutex);
  viewer_cloud.points.swap(snapshot.points);
  viewer_cloud.stamp_ms = snapshot.stamp_ms;
}

}  // namespace

void on_point_cloud(uint32_t handle, uint8_t, LidarEthernetPacket* packet, void*) {
  lidar_handle.store(handle);
  const uint64_t now = steady_ms();
  if (packet == nullptr || packet_dot_count(*packet) == 0) return;

  note_packet_arrival(last_pcl_ms, freq_pcl, point_rate, now);
  sensor_ativo.store(true);

  const PointFrame frame = decode_points(*packet, now);
  window_push(live_window, frame);
  publish_live_frame(window_snapshot(live_window, now), now);

  if (debug_mode.load() && map_mode.load()) publish_map_frame(frame, now);
}

void processing_worker_loop() {
  uint64_t last_processed_ms = 0;
  while (processing_active.load()) {
    std::optional<PointFrame> frame;
    uint64_t t = 0;
    {
      std::lock_guard<std::mutex> hold(frame_mutex);
      if (frame_mailbox.pending) {
        frame.swap(frame_mailbox.pending);
        t = frame_mailbox.handoff_ms;
      }
    }
    const uint64_t now = steady_ms();
    if (t == 0 || now - last_processed_ms < kMinFrameIntervalMs) {
      std::this_thread::sleep_for(kIdleSleep);
      continue;
    }
    last_processed_ms = now;
    process_frame(*frame, t);
  }
}

}  // namespace app
