// The live view's messages, as the JSON payloads its channels carry (foxglove.PointCloud,
// foxglove.SceneUpdate, foxglove.FrameTransforms and the state), all in the LiDAR's frame
// "lidar" (x forward, y left, z up, metres). Time stamps are ms since 1970 UTC.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/records.h"
#include "core/stream_queue.h"
#include "perception/cloud_types.h"

namespace app {

inline constexpr const char* kLidarFrame = "lidar";
inline constexpr const char* kBaseFrame = "base_link";

// Scene entity ids of /lidar/obstacles (the page toggles them by these).
inline constexpr const char* kBoxesEntity = "caixas";
inline constexpr const char* kDistancesEntity = "distancias";
inline constexpr const char* kRobotEntity = "robo";
inline constexpr const char* kCorridorsEntity = "corredores";

// Standard base64 (with padding) of `size` bytes, appended to `out`.
void append_base64(std::string& out, const unsigned char* data, std::size_t size);

// x, y, z as float32, 12 bytes a point, base64 in "data".
std::string point_cloud_message(uint64_t stamp_ms, const XyzPoint* points, std::size_t count);
std::string point_cloud_message(uint64_t stamp_ms, const CloudPoint* points, std::size_t count);

// The frame's scene: a cube per obstacle box, the six distance lines with their labels, the
// robot's box and the corridors up to their nearest obstacle (or to the range limit when nothing
// is in them). Distances that are not numbers (stream down) draw no line and no corridor.
std::string scene_update_message(uint64_t stamp_ms, const FrameSummary& frame,
                                 const std::vector<ObstacleBox>& boxes,
                                 const ProcessingParams& params);

// base_link to lidar: the LiDAR's roll and pitch from the IMU, so a viewer in base_link sees the
// scene levelled. Yaw is left out: it is the gyro's integral alone and drifts.
std::string frame_transforms_message(uint64_t stamp_ms, const AttitudeState& tilt);

struct LiveState {
  uint64_t stamp_ms = 0;
  bool ok = false;
  FrameSummary frame;
  bool has_processing = false;
  double processing_ms = 0.0;
  double freq_pcl = 0.0, freq_imu = 0.0;
  float temperatura = 0.f;
  AttitudeState attitude;
};

// What a frame-stream entry holds, plus the rates, the status, the temperature and the attitude
// in degrees; distances that are not numbers are null.
std::string state_message(const LiveState& state);

}  // namespace app
