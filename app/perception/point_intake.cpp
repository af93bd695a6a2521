#include "point_intake.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "core/app_health.h"
#include "core/clocks.h"
#include "core/shared_state.h"
#include "core/stream_queue.h"
#include "live_view/live_view_feed.h"
#include "perception/datagram_clock.h"
#include "perception/datagram_records.h"
#include "perception/frame_processing.h"
#include "perception/mounting.h"
#include "perception/packet_rate.h"
#include "perception/unit_selection.h"
#include "perception/zone_intake.h"

namespace app {
namespace {

constexpr auto kMinFrameInterval = std::chrono::milliseconds(100);
constexpr auto kIdleWait = std::chrono::seconds(1);

// Signalled, under frame_mutex's order, when the mailbox turns pending or the worker must stop.
std::condition_variable frame_ready;

PacketRateCounter point_rate;

// The current datagram's points; the callback runs on the SDK's data thread only.
std::vector<CloudPoint> datagram_points;

// Written before the LiDAR layer starts, read by the data thread only afterwards.
bool intake_rotates = false;
Rotation3 intake_rotation;

// Times the processing (for the diagnostics) and offers the frame's entry to the frame stream and,
// with its thinned cloud, to the live view.
template <typename Process>
void hand_off(Process&& process, uint64_t t) {
  StreamEntry entry;
  entry.processing_ns = measure_frame_processing([&] { entry.frame = process(); });
  entry.zones = copy_zone_states();
  // The frame's stamp on the wall clock: its newest datagram arrived this long ago.
  entry.stamp_ms = wall_ms() - (steady_ms() - t);
  offer_stream_entry(entry);
  offer_live_view_frame(entry, last_thinned_cloud());
}

}  // namespace

void set_intake_mounting(const MountingPose& pose) {
  intake_rotates = pose.given;
  intake_rotation = mounting_rotation(pose);
}

// Wakes the worker only for the first datagram after it took the mailbox: while it sleeps to
// the end of a frame interval nobody waits here.
void mark_frame_pending(uint64_t now) {
  bool was_pending;
  {
    std::lock_guard<std::mutex> hold(frame_mutex);
    was_pending = frame_mailbox.pending;
    frame_mailbox.pending = true;
    frame_mailbox.handoff_ms = now;
  }
  if (!was_pending) frame_ready.notify_one();
}

void on_point_cloud(uint32_t handle, uint8_t, LidarEthernetPacket* packet, void*) {
  const bool yields_points = packet != nullptr && packet_yields_points(*packet);
  if (!take_unit(handle, yields_points)) return;
  lidar_handle.store(handle);
  // Every stamp of this datagram (its rate, its age in the window, its frame's stamp) is its
  // arrival, not the time its callback runs.
  const uint64_t arrival_ns = datagram_arrival_ns();
  const uint64_t now = arrival_ns / 1000000u;
  if (packet == nullptr) return;
  // Only points make a live point stream: a LiDAR streaming in a form not decoded here must not
  // read as a healthy stream that sees nothing. The supervisor asks for the data type again.
  if (!yields_points) {
    last_undecoded_pcl_ms.store(now);
    undecoded_data_type.store(packet_data_type(*packet));
    note_undecoded_point_datagram();
    return;
  }

  note_packet_arrival(last_pcl_ms, freq_pcl, point_rate, now);
  sensor_ativo.store(true);

  decode_points_into(*packet, datagram_points);
  if (intake_rotates)
    rotate_points(intake_rotation, datagram_points.data(), datagram_points.size());
  judge_zones(datagram_points.data(), datagram_points.size(), arrival_ns);
  // Each packet keeps the attitude it was measured at, so the frame can undo the robot's pitching
  // within the window.
  window_append(live_window, datagram_points.data(), datagram_points.size(), now, load_imu_tilt());
  mark_frame_pending(now);

  if (debug_mode.load() && map_mode.load()) {
    window_append(map_window, datagram_points.data(), datagram_points.size(), now);
  }
}

void processing_worker_loop() {
  std::chrono::steady_clock::time_point next_frame{};
  while (processing_active.load()) {
    uint64_t t = 0;
    {
      std::unique_lock<std::mutex> hold(frame_mutex);
      // With nothing new, wait for the next datagram; the timeout still gives the watchdog a
      // turn to see.
      if (!frame_mailbox.pending && processing_active.load()) {
        frame_ready.wait_for(hold, kIdleWait);
      }
      if (frame_mailbox.pending) {
        frame_mailbox.pending = false;
        t = frame_mailbox.handoff_ms;
      }
    }
    const auto now = std::chrono::steady_clock::now();
    if (t == 0 || now < next_frame) {
      note_worker_pass(t != 0);
      // A live stream keeps a frame pending all the time: sleep to the end of the interval
      // rather than waking for each datagram to let it go.
      if (t != 0) std::this_thread::sleep_until(next_frame);
      continue;
    }
    next_frame = now + kMinFrameInterval;
    process_and_hand_off(live_window, t);
  }
}

void stop_processing_worker() {
  processing_active.store(false);
  // Taking the lock orders the store before a wait that is about to begin.
  { std::lock_guard<std::mutex> hold(frame_mutex); }
  frame_ready.notify_all();
}

void process_and_hand_off(PointWindow& window, uint64_t t) {
  hand_off([&] { return process_window(window, t); }, t);
}

}  // namespace app
