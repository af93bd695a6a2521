// Process-wide runtime state of the application: the records the threads share, their locks,
// the processing parameters and the run-control flags. Each record is guarded by its own plain
// mutex and copied out or assigned in one short hold; no code holds two of these locks at once.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "core/records.h"
#include "perception/point_window.h"

namespace app {

// Dotted address of a LiDAR handle (its IPv4 address in network byte order, first octet in the
// least significant byte).
std::string handle_address(uint32_t handle);

constexpr int64_t kLiveWindowMs = 150;
constexpr int64_t kLiveWindowMaxPoints = 200000;
constexpr int64_t kMapWindowMs = 0;
constexpr int64_t kMapWindowMaxPoints = 2000000;

// Single-slot hand-off from the point callback to the processing worker: `pending` says that
// live_window has changed since the worker last took a frame; the worker builds the frame from
// the window when it takes it.
struct FrameMailbox {
  bool pending = false;
  uint64_t handoff_ms = 0;
};

// --- locks -------------------------------------------------------------------------------
extern std::mutex state_mutex;
extern std::mutex params_mutex;
extern std::mutex frame_mutex;
extern std::mutex viewer_cloud_mutex;

// --- guarded by params_mutex ---------------------------------------------------------------
extern ProcessingParams processing_params;

// --- guarded by state_mutex ----------------------------------------------------------------
extern PointFrame latest_cloud;
extern AttitudeState attitude;
extern float temperatura;
extern uint32_t vezes_ligado;
extern ObstacleDistances distances;
// The same six directions, each taken only inside the corridor the robot would sweep moving that
// way (RobotBox); written with `distances`, in the same hold.
extern ObstacleDistances corridor_distances;
extern std::vector<ObstacleBox> obstacle_boxes;
// The frame's ground plane, and its obstacle boxes without the ground's points (the frame
// stream's); written together after `obstacle_boxes`.
extern GroundEstimate ground_estimate;
extern std::vector<ObstacleBox> stream_boxes;
extern std::string lidar_ip;
extern std::string host_ip;
extern std::string firmware_version;
extern std::string dev_type;

// --- guarded by frame_mutex ----------------------------------------------------------------
extern FrameMailbox frame_mailbox;

// --- guarded by viewer_cloud_mutex ---------------------------------------------------------
extern PointFrame viewer_cloud;

// --- windows (own locks) -------------------------------------------------------------------
extern PointWindow live_window;
extern PointWindow map_window;

// --- link and stream status (single words) -------------------------------------------------
extern std::atomic<uint32_t> lidar_handle;
extern std::atomic<uint64_t> last_pcl_ms;
extern std::atomic<uint64_t> last_imu_ms;
extern std::atomic<double> freq_pcl;
extern std::atomic<double> freq_imu;
extern std::atomic<bool> conectado;
extern std::atomic<bool> sensor_ativo;
extern std::atomic<bool> stream_ok;
// steady time of the last sample the attitude filter took, microseconds (0: none yet).
extern std::atomic<uint64_t> last_attitude_us;
// The gyro's turn, for the point intake to stamp each packet with, without a lock.
void store_imu_tilt(Tilt tilt);
Tilt load_imu_tilt();
// The unit whose stream datagrams the application takes (0: none yet): the first whose points
// arrive, until the supervisor declares the stream OFF. One service follows one LiDAR.
extern std::atomic<uint32_t> followed_handle;
// steady_ms of the last point datagram that yielded no points (a data type not decoded here, or
// no records), and that data type.
extern std::atomic<uint64_t> last_undecoded_pcl_ms;
extern std::atomic<uint8_t> undecoded_data_type;

// --- run control ---------------------------------------------------------------------------
extern std::atomic<bool> running;
extern std::atomic<bool> debug_mode;
extern std::atomic<bool> processing_active;
extern std::atomic<bool> supervisor_active;
extern std::atomic<bool> viewer_active;

// --- viewer flags (toggled by the viewer's keyboard) ---------------------------------------
extern std::atomic<bool> map_mode;
extern std::atomic<bool> slam_enabled;
extern std::atomic<bool> color_by_distance;
extern std::atomic<bool> show_boxes;
extern std::atomic<bool> show_axes;
extern std::atomic<bool> sensor_inverted;

// Start-up reset (before any thread exists): empties latest_cloud, viewer_cloud and the box
// lists, makes the distances (both kinds) not_measured, forgets the ground, and sets both
// windows' limits.
void reset_shared_state();
// Stores the processing parameters whole under params_mutex.
void set_processing_params(const ProcessingParams& params);

// Copy-out accessors: each takes its lock for the copy only.
ProcessingParams copy_processing_params();
// latest_cloud and viewer_cloud are the content of live_window and map_window. Each accessor
// first rebuilds its record from the window when packets arrived since it was last built
// (window lock, then the record's own lock, one after the other).
PointFrame copy_latest_cloud();
std::vector<ObstacleBox> copy_obstacle_boxes();
std::vector<ObstacleBox> copy_stream_boxes();
GroundEstimate copy_ground_estimate();
AttitudeState copy_attitude();
ObstacleDistances copy_distances();
ObstacleDistances copy_corridor_distances();
PointFrame copy_viewer_cloud();

}  // namespace app
