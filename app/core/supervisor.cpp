#include "supervisor.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <limits>
#include <mutex>
#include <thread>

#include "app/core/service_health.h"
#include "app/perception/imu_intake.h"
#include "app/publication/device_info.h"
#include "app/publication/state_documents.h"
#include "app/viewer/viewer.h"
#include "lidar_sdk.h"

namespace app {
namespace {

constexpr uint8_t kPclDataTypeCartesianHigh = 1;
constexpr uint64_t kSleepSliceMs = 20;

bool keep_running() { return running.load() && supervisor_active.load(); }

// A packet stamped after `now` was read (the callbacks run concurrently) is as fresh as can be,
// not 2^64 ms old.
bool stream_alive(uint32_t handle, uint64_t last_ms, uint64_t now, uint64_t timeout_ms) {
  return handle != 0 && last_ms != 0 && (last_ms >= now || now - last_ms <= timeout_ms);
}

// Configuration requests, repeated every cycle until one of them is handed to the device.
void configure_lidar(uint32_t handle) {
  const CommandStatus data_type =
      LidarSetPclDataType(handle, kPclDataTypeCartesianHigh, nullptr, nullptr);
  const CommandStatus point_send = LidarEnablePointSend(handle, nullptr, nullptr);
  conectado.store(data_type == kStatusSuccess || point_send == kStatusSuccess);
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
  conectado.store(false);
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
  }
  {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    std::lock_guard<std::mutex> hold(state_mutex);
    distances.frente = distances.tras = distances.esquerda = nan;
    distances.direita = distances.cima = distances.baixo = nan;
    distances.frame_ms = 0;
  }
  freq_pcl.store(0.0);
  freq_imu.store(0.0);
  attitude_update(0.f, 0.f, 0.f, 0.f, 0.f, 0.f, now);
  if (debug_mode.load() && stop_viewer()) print_status("[VIEWER] Debug viewer OFF.\n");
}

// The cycle's pause, cut into short slices so a stop request is seen within one slice.
void pause(uint64_t ms) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (keep_running()) {
    const auto left = end - std::chrono::steady_clock::now();
    if (left <= std::chrono::steady_clock::duration::zero()) return;
    const std::chrono::steady_clock::duration slice = std::chrono::milliseconds(kSleepSliceMs);
    std::this_thread::sleep_for(std::min(left, slice));
  }
}

double degrees(float radians) { return static_cast<double>(radians * 180.0f / 3.1415927f); }

}  // namespace

void supervisor_loop(SupervisorConfig config) {
  if (!supervisor_active.load()) return;
  uint64_t last_query_ms = 0;
  while (running.load()) {
    const uint64_t now = steady_ms();
    const uint32_t handle = lidar_handle.load();
    const bool points_alive =
        stream_alive(handle, last_pcl_ms.load(), now, config.pcl_timeout_ms);
    const bool ok =
        points_alive || stream_alive(handle, last_imu_ms.load(), now, config.imu_timeout_ms);
    const bool was_ok = stream_ok.exchange(ok);

    // A LiDAR that rebooted within the IMU time-out comes back with point sending off and its
    // IMU stream on, which keeps the stream OK: no OFF transition would ever ask for the points
    // again. Points that stopped while the IMU flows are asked for every cycle until they return.
    if (ok && !points_alive && last_pcl_ms.load() != 0) conectado.store(false);
    if (handle != 0 && !conectado.load()) configure_lidar(handle);

    if (ok) {
      if (handle != 0 && now - last_query_ms >= config.info_query_period_ms) {
        last_query_ms = now;
        QueryLidarInternalInfo(handle, on_internal_info, nullptr);
      }
      if (!was_ok) enter_ok();
    } else if (was_ok) {
      enter_off(now);
    }

    publish_lidar_document(take_status_snapshot());
    publish_imu_document();
    service_health_cycle();

    pause(config.cycle_ms);
    if (!supervisor_active.load()) return;
  }
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
