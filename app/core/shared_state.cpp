#include "shared_state.h"

#include <chrono>

namespace app {

uint64_t steady_ms() {
  const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(
      std::chrono::steady_clock::now().time_since_epoch());
  return static_cast<uint64_t>(ns.count()) / 1000000u;
}

uint64_t wall_ms() {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::system_clock::now().time_since_epoch());
  return static_cast<uint64_t>(ms.count());
}

std::mutex state_mutex;
std::mutex params_mutex;
std::mutex frame_mutex;
std::mutex viewer_cloud_mutex;

ProcessingParams processing_params;

PointFrame latest_cloud;
AttitudeState attitude;
float temperatura = 0.f;
uint32_t vezes_ligado = 0;
ObstacleDistances distances;
std::vector<ObstacleBox> obstacle_boxes;
std::string lidar_ip;
std::string host_ip;
std::string firmware_version;
std::string dev_type;

FrameMailbox frame_mailbox;
PointFrame viewer_cloud;

PointWindow live_window;
PointWindow map_window;

std::atomic<uint32_t> lidar_handle{0};
std::atomic<uint64_t> last_pcl_ms{0};
std::atomic<uint64_t> last_imu_ms{0};
std::atomic<double> freq_pcl{0.0};
std::atomic<double> freq_imu{0.0};
std::atomic<bool> conectado{false};
std::atomic<bool> sensor_ativo{false};
std::atomic<bool> stream_ok{false};
std::atomic<uint64_t> last_attitude_ms{0};

std::atomic<bool> running{true};
std::atomic<bool> debug_mode{false};
std::atomic<bool> processing_active{false};
std::atomic<bool> supervisor_active{false};
std::atomic<bool> viewer_active{false};

std::atomic<bool> map_mode{false};
std::atomic<bool> slam_enabled{false};
std::atomic<bool> color_by_distance{true};
std::atomic<bool> show_boxes{false};
std::atomic<bool> show_axes{false};
std::atomic<bool> sensor_inverted{false};

void window_prune_locked(PointWindow& window, uint64_t now) {
  const int64_t window_ms = window.window_ms.load();
  if (window_ms == 0) return;
  const uint64_t limit = static_cast<uint64_t>(window_ms);
  while (!window.queue.empty() && now - window.queue.front().stamp_ms > limit) {
    window.stored_points -= window.queue.front().points.size();
    window.queue.pop_front();
  }
}

void window_push(PointWindow& window, const PointFrame& frame) {
  if (frame.points.empty()) return;
  std::lock_guard<std::mutex> hold(window.lock);
  window.queue.push_back(frame);
  window.stored_points += frame.points.size();
  window_prune_locked(window, frame.stamp_ms);
  const int64_t max_points = window.max_points.load();
  const std::size_t keep = max_points > 0 ? static_cast<std::size_t>(max_points) : 0;
  while (window.queue.size() > 1 &&
         window.stored_points - window.queue.front().points.size() >= keep) {
    window.stored_points -= window.queue.front().points.size();
    window.queue.pop_front();
  }
}

PointFrame window_snapshot(PointWindow& window, uint64_t now) {
  PointFrame result;
  std::lock_guard<std::mutex> hold(window.lock);
  window_prune_locked(window, now);
  if (window.queue.empty()) return result;

  const int64_t max_points_signed = window.max_points.load();
  const std::size_t max_points =
      max_points_signed > 0 ? static_cast<std::size_t>(max_points_signed) : 0;

  std::size_t total = 0;
  for (auto it = window.queue.rbegin(); it != window.queue.rend(); ++it) {
    total += it->points.size();
    if (total > max_points) break;
  }
  result.points.reserve(total < max_points ? total : max_points);
  result.stamp_ms = window.queue.back().stamp_ms;

  std::size_t budget = max_points;
  for (auto it = window.queue.rbegin(); it != window.queue.rend() && budget > 0; ++it) {
    const auto& points = it->points;
    const std::size_t take = points.size() < budget ? points.size() : budget;
    result.points.insert(result.points.end(), points.end() - static_cast<std::ptrdiff_t>(take),
                         points.end());
    budget -= take;
  }
  return result;
}

void window_clear(PointWindow& window) {
  std::lock_guard<std::mutex> hold(window.lock);
  window.queue.clear();
  window.stored_points = 0;
}

void reset_shared_state() {
  std::lock_guard<std::mutex> hold(state_mutex);
  latest_cloud.points.clear();
  latest_cloud.stamp_ms = 0;
  // viewer_cloud belongs to viewer_cloud_mutex, but no other thread exists yet at start-up.
  viewer_cloud.points.clear();
  viewer_cloud.stamp_ms = 0;
  distances = ObstacleDistances{};
  obstacle_boxes.clear();
  live_window.window_ms.store(kLiveWindowMs);
  live_window.max_points.store(kLiveWindowMaxPoints);
  map_window.window_ms.store(kMapWindowMs);
  map_window.max_points.store(kMapWindowMaxPoints);
}

void set_processing_params(const ProcessingParams& params) {
  std::lock_guard<std::mutex> hold(params_mutex);
  processing_params = params;
}

ProcessingParams copy_processing_params() {
  std::lock_guard<std::mutex> hold(params_mutex);
  return processing_params;
}

PointFrame copy_latest_cloud() {
  std::lock_guard<std::mutex> hold(state_mutex);
  return latest_cloud;
}

std::vector<ObstacleBox> copy_obstacle_boxes() {
  std::lock_guard<std::mutex> hold(state_mutex);
  return obstacle_boxes;
}

AttitudeState copy_attitude() {
  std::lock_guard<std::mutex> hold(state_mutex);
  return attitude;
}

ObstacleDistances copy_distances() {
  std::lock_guard<std::mutex> hold(state_mutex);
  return distances;
}

PointFrame copy_viewer_cloud() {
  std::lock_guard<std::mutex> hold(viewer_cloud_mutex);
  return viewer_cloud;
}

}  // namespace app
