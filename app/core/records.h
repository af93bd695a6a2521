// The application's domain records: points, frames, the robot's geometry, the processing
// parameters and what processing and the IMU give. Plain values; which are shared, and under
// which lock, is core/shared_state.h's business.
#pragma once

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace app {

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
  RobotBox robot;           // from the configuration file's "robot_box", when it has one
  MountingPose mounting;    // from its "mounting"
  CorridorLimits corridor;  // from its "corridors"
  GroundSettings ground;    // from its "ground"
};

struct AttitudeState {
  uint64_t t_ms = 0;                         // wall_ms at the start of the update
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

// Six NaN distances, frame_ms 0.
inline ObstacleDistances not_measured() {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  ObstacleDistances d;
  d.frente = d.tras = d.esquerda = d.direita = d.cima = d.baixo = nan;
  return d;
}

}  // namespace app
