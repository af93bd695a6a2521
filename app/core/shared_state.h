// Process-wide runtime state of the application: the records the threads share, their locks,
// the processing parameters and the run-control flags. Each record is guarded by its own plain
// mutex and copied out or assigned in one short hold; no code holds two of these locks at once.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace app {

// Monotonic clock, whole milliseconds.
uint64_t steady_ms();
// Milliseconds since 1970-01-01 UTC.
uint64_t wall_ms();
// Dotted address of a LiDAR handle (its IPv4 address in network byte order, first octet in the
// least significant byte).
std::string handle_address(uint32_t handle);

struct CloudPoint {
  float x = 0.f, y = 0.f, z = 0.f;  // metres, LiDAR frame (x forward, y left, z up)
  uint8_t r = 255, g = 255, b = 255;
};

// How far the unit has turned about its x and y axes (radians), as its gyro integrates it from
// the start: drifting, but exact over the fraction of a second between two packets.
struct Tilt {
  float roll = 0.f, pitch = 0.f;
};

struct PointFrame {
  std::vector<CloudPoint> points;
  uint64_t stamp_ms = 0;  // steady_ms of the newest packet it contains
  Tilt tilt;              // a window entry's: the gyro's turn when its packet arrived
};

// Rolling accumulator of recent packets, one entry per non-empty packet, oldest first. Its
// reader does not get a copy per packet: a packet only appends its own points, and the window
// counts the change so that the reader builds its copy when it next looks.
struct PointWindow {
  std::atomic<int64_t> window_ms{0};    // entries older than this are dropped; 0 = keep
  std::atomic<int64_t> max_points{0};   // bound on the points a snapshot returns
  std::mutex lock;
  std::deque<PointFrame> queue;
  std::size_t stored_points = 0;        // sum of the queued entries' sizes
  std::vector<std::vector<CloudPoint>> spare;  // buffers of dropped entries, reused by appends
  uint64_t revision = 0;                // counts appends and pushes
  uint64_t published = 0;               // revision the reader's copy was last built from
  std::atomic<uint64_t> clears{0};      // counts window_clear calls
  uint64_t run_start_ms = 0;            // stamp of the first entry since the window was empty
};

// One packet's intake: appends its points (when there are any) as an entry stamped `now`, then
// prunes with `now`. Costs the packet's own points, whatever the window holds. Beyond the time
// rule, entries are dropped oldest first while the newer ones alone still hold max_points
// points, so a window that never expires (window_ms 0) cannot grow without bound.
void window_append(PointWindow& window, const CloudPoint* points, std::size_t count, uint64_t now,
                   Tilt tilt = {});
// Drops entries older than window_ms relative to now. Caller holds window.lock.
void window_prune_locked(PointWindow& window, uint64_t now);
// The window's content as of the last append, without pruning, read in place: at most
// max_points points, newest entries first, each entry's points in their stored order, an entry
// cut by the budget giving its last points. `run` is called with each entry's share in that
// order while the window's lock is held, so it must be brief and must not touch the window.
// Returns the content's stamp (0 for an empty window).
uint64_t window_read(PointWindow& window,
                     const std::function<void(const CloudPoint*, std::size_t)>& run);
// The same, with each entry's tilt.
uint64_t window_read(PointWindow& window,
                     const std::function<void(const CloudPoint*, std::size_t, const Tilt&)>& run);
// How long the window has held points without a break: its newest stamp less the stamp of the
// first entry appended since it was last empty (0 for an empty window). A window that has not
// yet held its whole span of points sees only part of the scene.
uint64_t window_run_ms(PointWindow& window);
// Empties the queue. Whoever clears a window also clears the copy its reader keeps, so the
// appends before the clear no longer count as unpublished.
void window_clear(PointWindow& window);

// Single-slot hand-off from the point callback to the processing worker: `pending` says that
// live_window has changed since the worker last took a frame; the worker builds the frame from
// the window when it takes it.
struct FrameMailbox {
  bool pending = false;
  uint64_t handoff_ms = 0;
};

// The robot's envelope in the LiDAR's frame (metres): the volume it sweeps when it moves is this
// box drawn out along the direction of travel. It always holds the LiDAR (min <= 0 <= max on each
// axis). The default is a small indoor robot, 0.50 m long and 0.40 m wide, with the LiDAR on top
// at its centre, 0.40 m above the floor (the body ends 2 cm above it).
struct RobotBox {
  float min_x = -0.25f, min_y = -0.20f, min_z = -0.38f;
  float max_x = 0.25f, max_y = 0.20f, max_z = 0.05f;
};

// How the LiDAR sits on the robot, from the configuration file's "mounting": p_robot =
// Rz(yaw) Ry(pitch) Rx(roll) p_lidar + xyz (x forward, y left, z up; a unit pitched nose-down by
// 20 degrees has pitch +20, an upside-down one roll 180). Points are rotated into the robot's
// axes as they arrive; the origin stays at the LiDAR, so xyz is only published, never added.
struct MountingPose {
  bool given = false;  // false: the LiDAR's axes are the robot's, and nothing is rotated
  float rpy_deg[3] = {0.f, 0.f, 0.f};
  float xyz_m[3] = {0.f, 0.f, 0.f};
};

// The corridors' own range limits, metres from the LiDAR along each direction, independent of
// the region of interest (from the configuration file's "corridors"). The corridor behind thus
// sees past the robot's back face.
struct CorridorLimits {
  float ahead = 6.f, behind = 6.f, left = 2.f, right = 2.f, above = 2.f;
  // Below: down to the ground while one is seen (its points never count), else this far; a
  // "below_m" of the file sets it for good.
  bool below_to_ground = true;
  float below = 0.5f;
};

// Points up to this far above the estimated ground plane are ground (the configuration file's
// "ground"): they count for none of the corridors and for no box of the frame stream.
struct GroundSettings {
  float margin_m = 0.05f;
};

// The ground plane of the latest frame, in the robot's axes: normal . p + height_m = 0, the normal
// pointing up (towards the LiDAR side). Not seen: no plane was found (a robot on a table, a
// fault), which is never read as "everything is ground".
struct GroundEstimate {
  bool seen = false;
  float normal[3] = {0.f, 0.f, 1.f};
  float height_m = 0.f;  // distance from the LiDAR down to the plane
  float tilt_deg = 0.f;  // angle between the normal and the robot's vertical
  uint32_t points = 0;   // thinned points on the plane
};

struct ProcessingParams {
  float roi_x_min = 0.1f;
  float roi_x_max = 6.0f;
  float roi_y_min = -2.0f;
  float roi_y_max = 2.0f;
  float roi_z_min = -0.5f;
  float roi_z_max = 2.0f;
  float voxel_size = 0.05f;
  int32_t min_cluster_voxels = 60;
  int32_t max_cluster_voxels = 50000;
  float imu_alpha = 0.98f;
  RobotBox robot;  // from the configuration file's "robot_box", when it has one
  MountingPose mounting;    // from its "mounting"
  CorridorLimits corridor;  // from its "corridors"
  GroundSettings ground;    // from its "ground"
};

struct AttitudeState {
  uint64_t t_ms = 0;  // wall_ms at the start of the update
  float roll = 0.f, pitch = 0.f, yaw = 0.f;  // radians in [-pi, pi]
  float latencia_ms = 0.f;
  float frequencia_hz = 0.f;
};

struct ObstacleDistances {
  // Nearest distance towards +x, -x, +y, -y, +z, -z in metres; 0 nothing within the limit,
  // NaN nothing measured (before the first frame, or the stream down).
  float frente = 0.f, tras = 0.f, esquerda = 0.f, direita = 0.f, cima = 0.f, baixo = 0.f;
  uint64_t frame_ms = 0;
};

struct ObstacleBox {
  float min_x = 0.f, min_y = 0.f, min_z = 0.f;
  float max_x = 0.f, max_y = 0.f, max_z = 0.f;
  uint64_t t_ms = 0;
  uint32_t voxels = 0;
  float cx = 0.f, cy = 0.f, cz = 0.f;
  float w = 0.f, h = 0.f, d = 0.f;  // extent along y, z and x
  float dist_m = 0.f;
  float dist_xy_m = 0.f;
  float frente_m = 0.f;
};

struct SupervisorConfig {
  uint64_t pcl_timeout_ms = 2000;
  uint64_t imu_timeout_ms = 3000;
  uint64_t info_query_period_ms = 3000;
  uint64_t cycle_ms = 500;
  uint64_t link_report_period_ms = 10000;  // spacing of the line saying that nothing streams
  uint64_t write_retry_ms = 1000;          // a write not acknowledged is sent again after this,
  uint64_t write_retry_max_ms = 3000;      // then at gaps doubling up to this
  // A LiDAR that sent nothing this long after it accepted its configuration is configured
  // again, then at gaps doubling up to ten times this.
  uint64_t silent_reconfigure_ms = 5000;
};

struct StatusSnapshot {
  uint64_t timestamp = 0;
  bool conectado = false, executando = false, sensor_ativo = false;
  std::string lidar_ip, host_ip, firmware_version, dev_type;
  uint32_t handle = 0;
  double freq_pcl = 0.0, freq_imu = 0.0;
  uint64_t imu_timestamp = 0;
  double roll_deg = 0.0, pitch_deg = 0.0, yaw_deg = 0.0;
  double temperatura = 0.0;
  uint32_t vezes_ligado = 0;
  double frente = 0.0, tras = 0.0, esquerda = 0.0, direita = 0.0, cima = 0.0, baixo = 0.0;
  std::vector<ObstacleBox> boxes;
};

constexpr int64_t kLiveWindowMs = 150;
constexpr int64_t kLiveWindowMaxPoints = 200000;
constexpr int64_t kMapWindowMs = 0;
constexpr int64_t kMapWindowMaxPoints = 2000000;

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

// Six NaN distances, frame_ms 0.
ObstacleDistances not_measured();

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
