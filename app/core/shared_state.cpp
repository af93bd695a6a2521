#include "shared_state.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <limits>
#include <utility>

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

ObstacleDistances not_measured() {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  ObstacleDistances d;
  d.frente = d.tras = d.esquerda = d.direita = d.cima = d.baixo = nan;
  return d;
}

namespace {

// Dropped entries leave their buffers for later appends; beyond this many they are released.
constexpr std::size_t kMaxSpareBuffers = 256;

std::size_t point_budget(const PointWindow& window) {
  const int64_t max_points = window.max_points.load();
  return max_points > 0 ? static_cast<std::size_t>(max_points) : 0;
}

void drop_oldest_locked(PointWindow& window) {
  PointFrame& oldest = window.queue.front();
  window.stored_points -= oldest.points.size();
  if (window.spare.size() < kMaxSpareBuffers) window.spare.push_back(std::move(oldest.points));
  window.queue.pop_front();
}

// Appends an entry and applies both retention rules. Caller holds window.lock.
void append_locked(PointWindow& window, const CloudPoint* points, std::size_t count, uint64_t now,
                   Tilt tilt) {
  ++window.revision;
  window_prune_locked(window, now);
  if (count > 0) {
    if (window.queue.empty()) window.run_start_ms = now;
    PointFrame entry;
    if (!window.spare.empty()) {
      entry.points = std::move(window.spare.back());
      window.spare.pop_back();
    }
    entry.points.assign(points, points + count);
    entry.stamp_ms = now;
    entry.tilt = tilt;
    window.queue.push_back(std::move(entry));
    window.stored_points += count;
  }
  const std::size_t keep = point_budget(window);
  while (window.queue.size() > 1 &&
         window.stored_points - window.queue.front().points.size() >= keep) {
    drop_oldest_locked(window);
  }
}

// Calls `run` with each entry's share of a snapshot, newest entry first, an entry cut by the
// budget giving its last points; returns the newest entry's stamp. Caller holds window.lock.
template <typename Run>
uint64_t for_each_run_locked(const PointWindow& window, Run&& run) {
  if (window.queue.empty()) return 0;
  std::size_t budget = point_budget(window);
  for (auto it = window.queue.rbegin(); it != window.queue.rend() && budget > 0; ++it) {
    const auto& points = it->points;
    const std::size_t take = std::min(points.size(), budget);
    run(points.data() + (points.size() - take), take, it->tilt);
    budget -= take;
  }
  return window.queue.back().stamp_ms;
}

// The snapshot of the queue as it stands. Caller holds window.lock.
void snapshot_locked(const PointWindow& window, PointFrame& out) {
  out.points.clear();
  out.points.reserve(std::min(window.stored_points, point_budget(window)));
  out.stamp_ms =
      for_each_run_locked(window, [&out](const CloudPoint* points, std::size_t count, const Tilt&) {
        out.points.insert(out.points.end(), points, points + count);
      });
}

// Rebuilds `record` (guarded by `record_mutex`) from the window when packets arrived since it
// was last built, then copies it out. A clear that lands between the two holds wins: the
// clearer empties the record after the window, so a copy built before the clear is dropped.
PointFrame copy_published(PointWindow& window, PointFrame& record, std::mutex& record_mutex) {
  PointFrame fresh;
  bool rebuilt = false;
  uint64_t clears = 0;
  {
    std::lock_guard<std::mutex> hold(window.lock);
    if (window.published != window.revision) {
      snapshot_locked(window, fresh);
      window.published = window.revision;
      clears = window.clears.load();
      rebuilt = true;
    }
  }
  std::lock_guard<std::mutex> hold(record_mutex);
  if (rebuilt && window.clears.load() == clears) {
    record.points.swap(fresh.points);
    record.stamp_ms = fresh.stamp_ms;
  }
  return record;
}

}  // namespace

void window_prune_locked(PointWindow& window, uint64_t now) {
  const int64_t window_ms = window.window_ms.load();
  if (window_ms == 0) return;
  const uint64_t limit = static_cast<uint64_t>(window_ms);
  // An entry stamped after `now` (a caller's clock read before another's append) is not old.
  while (!window.queue.empty() && now > window.queue.front().stamp_ms &&
         now - window.queue.front().stamp_ms > limit) {
    drop_oldest_locked(window);
  }
}

void window_append(PointWindow& window, const CloudPoint* points, std::size_t count, uint64_t now,
                   Tilt tilt) {
  std::lock_guard<std::mutex> hold(window.lock);
  append_locked(window, points, count, now, tilt);
}

uint64_t window_read(PointWindow& window,
                     const std::function<void(const CloudPoint*, std::size_t)>& run) {
  std::lock_guard<std::mutex> hold(window.lock);
  return for_each_run_locked(window, [&run](const CloudPoint* points, std::size_t count,
                                            const Tilt&) { run(points, count); });
}

uint64_t window_read(PointWindow& window,
                     const std::function<void(const CloudPoint*, std::size_t, const Tilt&)>& run) {
  std::lock_guard<std::mutex> hold(window.lock);
  return for_each_run_locked(window, run);
}

uint64_t window_run_ms(PointWindow& window) {
  std::lock_guard<std::mutex> hold(window.lock);
  if (window.queue.empty()) return 0;
  const uint64_t newest = window.queue.back().stamp_ms;
  return newest > window.run_start_ms ? newest - window.run_start_ms : 0;
}

void window_clear(PointWindow& window) {
  std::lock_guard<std::mutex> hold(window.lock);
  window.queue.clear();
  window.stored_points = 0;
  window.published = window.revision;
  window.clears.fetch_add(1);
}

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

PointFrame copy_latest_cloud() { return copy_published(live_window, latest_cloud, state_mutex); }

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
  return copy_published(map_window, viewer_cloud, viewer_cloud_mutex);
}

}  // namespace app
