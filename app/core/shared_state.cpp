#include "shared_state.h"

#include <cstring>

namespace app {

std::string handle_address(uint32_t handle) {
  std::string text;
  for (int octet = 0; octet < 4; ++octet) {
    if (octet > 0) text += '.';
    text += std::to_string((handle >> (8 * octet)) & 0xFFu);
  }
  return text;
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
ObstacleDistances corridor_distances;
std::vector<ObstacleBox> obstacle_boxes;
GroundEstimate ground_estimate;
std::vector<ObstacleBox> stream_boxes;
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
std::atomic<uint64_t> last_attitude_us{0};

namespace {
// Roll's bits in the low word, pitch's in the high one: one atomic for both.
std::atomic<uint64_t> imu_tilt_bits{0};
}  // namespace

void store_imu_tilt(Tilt tilt) {
  uint32_t roll, pitch;
  std::memcpy(&roll, &tilt.roll, sizeof roll);
  std::memcpy(&pitch, &tilt.pitch, sizeof pitch);
  imu_tilt_bits.store(static_cast<uint64_t>(pitch) << 32 | roll);
}

Tilt load_imu_tilt() {
  const uint64_t bits = imu_tilt_bits.load();
  const uint32_t roll = static_cast<uint32_t>(bits), pitch = static_cast<uint32_t>(bits >> 32);
  Tilt tilt;
  std::memcpy(&tilt.roll, &roll, sizeof roll);
  std::memcpy(&tilt.pitch, &pitch, sizeof pitch);
  return tilt;
}
std::atomic<uint32_t> followed_handle{0};
std::atomic<uint64_t> last_undecoded_pcl_ms{0};
std::atomic<uint8_t> undecoded_data_type{0};

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

void reset_shared_state() {
  std::lock_guard<std::mutex> hold(state_mutex);
  latest_cloud.points.clear();
  latest_cloud.stamp_ms = 0;
  // viewer_cloud belongs to viewer_cloud_mutex, but no other thread exists yet at start-up.
  viewer_cloud.points.clear();
  viewer_cloud.stamp_ms = 0;
  // Nothing measured yet: 0 would read as "nothing within range".
  distances = not_measured();
  corridor_distances = not_measured();
  obstacle_boxes.clear();
  ground_estimate = GroundEstimate{};
  stream_boxes.clear();
  store_imu_tilt(Tilt{});
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
  return window_copy_published(live_window, latest_cloud, state_mutex);
}

std::vector<ObstacleBox> copy_obstacle_boxes() {
  std::lock_guard<std::mutex> hold(state_mutex);
  return obstacle_boxes;
}

std::vector<ObstacleBox> copy_stream_boxes() {
  std::lock_guard<std::mutex> hold(state_mutex);
  return stream_boxes;
}

GroundEstimate copy_ground_estimate() {
  std::lock_guard<std::mutex> hold(state_mutex);
  return ground_estimate;
}

AttitudeState copy_attitude() {
  std::lock_guard<std::mutex> hold(state_mutex);
  return attitude;
}

ObstacleDistances copy_distances() {
  std::lock_guard<std::mutex> hold(state_mutex);
  return distances;
}

ObstacleDistances copy_corridor_distances() {
  std::lock_guard<std::mutex> hold(state_mutex);
  return corridor_distances;
}

PointFrame copy_viewer_cloud() {
  return window_copy_published(map_window, viewer_cloud, viewer_cloud_mutex);
}

}  // namespace app
