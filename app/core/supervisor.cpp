#include "supervisor.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

#include "core/clocks.h"
#include "core/lidar_bring_up.h"
#include "core/link_diagnosis.h"
#include "core/service_health.h"
#include "core/shared_state.h"
#include "core/stream_queue.h"
#include "core/zone_events.h"
#include "perception/imu_intake.h"
#include "publication/device_info.h"
#include "publication/state_documents.h"
#include "viewer/viewer.h"
#include "lidar_sdk.h"

namespace app {
namespace {

// The pause wakes at least this often to see `running`, which a signal handler clears without
// waking anyone; stop_supervisor_loop wakes it at once.
constexpr uint64_t kSleepSliceMs = 100;

std::mutex pause_mutex;
std::condition_variable pause_wake;

// The boxes of the last frame before the stream went OFF, published while it stays OFF (the OFF
// reset empties the box list the viewer draws). Empty before the first OK, so a new process
// never republishes an earlier one's boxes. Supervisor thread, then the final publication.
std::vector<ObstacleBox> boxes_at_off;

bool keep_running() { return running.load() && supervisor_active.load(); }

// A packet stamped after `now` was read (the callbacks run concurrently) is as fresh as can be,
// not 2^64 ms old.
bool stream_alive(uint32_t handle, uint64_t last_ms, uint64_t now, uint64_t timeout_ms) {
  return handle != 0 && last_ms != 0 && (last_ms >= now || now - last_ms <= timeout_ms);
}

// The cycle's stream verdicts and the SDK's detection counters, for the operator's diagnosis.
LinkFacts link_facts(uint32_t handle, bool ok, bool points_alive, bool undecoded) {
  LidarHealthCounters sdk{};
  LidarGetHealthCounters(&sdk);
  LinkFacts facts;
  facts.handle = handle;
  facts.stream_ok = ok;
  facts.points_alive = points_alive;
  facts.points_undecoded = undecoded && !points_alive;
  facts.reconfiguring = bring_up_reconfiguring(handle);
  facts.detection_replies = sdk.detection_replies;
  facts.unconfigured_replies = sdk.unconfigured_replies;
  facts.unconfigured_lidar = sdk.last_unconfigured_lidar;
  facts.waiting_port = sdk.waiting_port_count > 0 ? sdk.waiting_ports[0] : 0;
  return facts;
}

void print_status(const char* line) {
  std::fputs(line, stdout);
  std::fflush(stdout);
}

void enter_ok() {
  print_status("[SUP] LiDAR OK (stream ativo)\n");
  // Only a window that opened is announced; start_viewer says itself why none did.
  if (debug_mode.load() && start_viewer()) {
    print_status("[VIEWER] Debug viewer ON. Pressione Ctrl+C para sair.\n");
  }
}

void enter_off(uint64_t now) {
  print_status("[SUP] LiDAR OFF/DEGRADED (sem dados recentes)\n");
  sensor_ativo.store(false);
  window_clear(live_window);
  {
    std::lock_guard<std::mutex> hold(state_mutex);
    latest_cloud.points.clear();
    latest_cloud.stamp_ms = now;
  }
  {
    std::lock_guard<std::mutex> hold(state_mutex);
    obstacle_boxes.clear();
    stream_boxes.clear();
    ground_estimate = GroundEstimate{};
  }
  {
    std::lock_guard<std::mutex> hold(state_mutex);
    distances = not_measured();
    corridor_distances = distances;
  }
  freq_pcl.store(0.0);
  freq_imu.store(0.0);
  attitude_update(0.f, 0.f, 0.f, 0.f, 0.f, 0.f, now);
  if (debug_mode.load() && stop_viewer()) print_status("[VIEWER] Debug viewer OFF.\n");
}

// The cycle's pause, cut into slices so a cleared `running` is seen within one slice.
void pause(uint64_t ms) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  std::unique_lock<std::mutex> hold(pause_mutex);
  while (keep_running()) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= end) return;
    pause_wake.wait_until(hold, std::min(end, now + std::chrono::milliseconds(kSleepSliceMs)));
  }
}

double degrees(float radians) { return static_cast<double>(radians * 180.0f / 3.1415927f); }

// The frame stream's entry for a transition: the state as it stands right after it (NaN
// distances and no boxes after OFF; after OK, whatever frames have given since).
void offer_transition_entry(StreamEvent event) {
  ObstacleDistances axes, corridor;
  {
    std::lock_guard<std::mutex> hold(state_mutex);
    axes = distances;
    corridor = corridor_distances;
  }
  StreamEntry entry;
  entry.event = event;
  entry.stamp_ms = wall_ms();
  entry.frame = summarize_frame(axes, corridor, copy_stream_boxes());
  entry.zones = copy_zone_states();
  offer_stream_entry(entry);
}

}  // namespace

void supervisor_loop(SupervisorConfig config) {
  if (!supervisor_active.load()) return;
  uint64_t last_query_ms = 0;
  LinkWatch link;
  boxes_at_off.clear();
  while (running.load()) {
    const uint64_t now = steady_ms();
    const uint32_t handle = lidar_handle.load();
    const uint64_t last_points_ms = last_pcl_ms.load();
    const bool points_alive = stream_alive(handle, last_points_ms, now, config.pcl_timeout_ms);
    const uint64_t last_imu = last_imu_ms.load();
    const bool imu_alive = stream_alive(handle, last_imu, now, config.imu_timeout_ms);
    // IMU samples within the point time-out: the IMU flows while the points do not (both fall
    // silent together when the unit is switched off, and the IMU's longer time-out is no sign).
    const bool imu_flows = stream_alive(handle, last_imu, now, config.pcl_timeout_ms);
    const uint64_t last_undecoded = last_undecoded_pcl_ms.load();
    const bool undecoded = stream_alive(handle, last_undecoded, now, config.pcl_timeout_ms);
    const bool ok = points_alive || imu_alive;
    const bool was_ok = stream_ok.exchange(ok);

    // The IMU alone keeps the stream OK, but sensor_ativo says that points arrive.
    if (!points_alive) sensor_ativo.store(false);

    // A LiDAR that rebooted within the IMU time-out comes back with point sending off (or in
    // another data type) and its IMU stream on, which keeps the stream OK: no OFF transition
    // would ever ask for the points again.
    StreamFacts facts;
    facts.handle = handle;
    facts.ok = ok;
    facts.points_missing = handle != 0 && !points_alive && (imu_flows || undecoded);
    facts.undecoded = undecoded;
    facts.last_points_ms = last_points_ms;
    facts.last_heard_ms = std::max({last_points_ms, last_imu, last_undecoded});
    bring_up_cycle(facts, config, now);

    if (ok) {
      if (handle != 0 && now - last_query_ms >= config.info_query_period_ms) {
        last_query_ms = now;
        QueryLidarInternalInfo(handle, on_internal_info, nullptr);
      }
      if (!was_ok) {
        boxes_at_off.clear();
        enter_ok();
        offer_transition_entry(StreamEvent::kStreamOk);
      }
    } else if (was_ok) {
      boxes_at_off = copy_obstacle_boxes();
      enter_off(now);
      declare_zones_unknown(wall_ms());
      offer_transition_entry(StreamEvent::kStreamOff);
      // It may have lost power and come back without the host's configuration.
      bring_up_stream_lost(handle);
    }

    conectado.store(bring_up_confirmed(handle));

    // While OFF no unit is followed: another one streaming to this host may be taken (also when
    // the followed one fell silent before a cycle ever saw it OK).
    if (!ok) followed_handle.store(0);

    watch_link(link, link_facts(handle, ok, points_alive, undecoded), now,
               config.link_report_period_ms);

    StatusSnapshot snapshot = take_status_snapshot();
    if (!ok) snapshot.boxes = boxes_at_off;
    publish_lidar_document(snapshot);
    publish_imu_document();
    service_health_cycle();

    pause(config.cycle_ms);
    if (!supervisor_active.load()) return;
  }
}

void stop_supervisor_loop() {
  supervisor_active.store(false);
  // Taking the lock orders the store before a pause that is about to wait.
  { std::lock_guard<std::mutex> hold(pause_mutex); }
  pause_wake.notify_all();
}

void publish_final_status() {
  StatusSnapshot snapshot = take_status_snapshot();
  snapshot.executando = false;
  snapshot.sensor_ativo = false;
  if (!stream_ok.load()) snapshot.boxes = boxes_at_off;
  publish_lidar_document(snapshot);
}

StatusSnapshot take_status_snapshot() {
  StatusSnapshot s;
  s.timestamp = wall_ms();
  s.conectado = conectado.load();
  s.executando = running.load();
  s.sensor_ativo = sensor_ativo.load();
  s.handle = lidar_handle.load();
  s.freq_pcl = freq_pcl.load();
  s.freq_imu = freq_imu.load();
  {
    std::lock_guard<std::mutex> hold(state_mutex);
    s.lidar_ip = lidar_ip;
    s.host_ip = host_ip;
    s.firmware_version = firmware_version;
    s.dev_type = dev_type;
  }
  const AttitudeState attitude_copy = copy_attitude();
  s.imu_timestamp = attitude_copy.t_ms;
  s.roll_deg = degrees(attitude_copy.roll);
  s.pitch_deg = degrees(attitude_copy.pitch);
  s.yaw_deg = degrees(attitude_copy.yaw);
  {
    std::lock_guard<std::mutex> hold(state_mutex);
    s.temperatura = static_cast<double>(temperatura);
  }
  {
    std::lock_guard<std::mutex> hold(state_mutex);
    s.vezes_ligado = vezes_ligado;
  }
  const ObstacleDistances d = copy_distances();
  s.frente = d.frente;
  s.tras = d.tras;
  s.esquerda = d.esquerda;
  s.direita = d.direita;
  s.cima = d.cima;
  s.baixo = d.baixo;
  s.boxes = copy_obstacle_boxes();
  return s;
}

}  // namespace app
