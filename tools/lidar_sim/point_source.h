// Shots of the scan pattern cast into the scene: the points the unit measures.
#pragma once

#include <cstddef>
#include <random>
#include <string>
#include <vector>

#include "lidar_sim/motion.h"
#include "lidar_sim/scan_pattern.h"
#include "lidar_sim/scene.h"
#include "lidar_sim/stream_packet.h"

namespace lidar_sim {

struct RangeModel {
  double min_range_m = 0.1;
  double max_range_m = 40.0;
  double noise_m = 0.0;  // standard deviation of the range error
};

class PointSource {
 public:
  PointSource(Scene scene, const FieldOfView& fov, const Motion& motion, const RangeModel& range, unsigned seed);
  // The next `count` shots at time t; a shot without return is a zero point with reflectivity 0.
  std::vector<PointRecord> shots(std::size_t count, double t_s);
  // Shows or hides the scene's toggle boxes from the next shot on (toggle_boxes).
  std::vector<std::string> toggle_boxes();

 private:
  Scene scene_;
  ScanPattern pattern_;
  Motion motion_;
  RangeModel range_;
  std::mt19937 rng_;
  std::normal_distribution<double> noise_{0.0, 1.0};
  // Flickering boxes: the period each counts in and the shots it returned in it.
  std::vector<long long> flicker_period_;
  std::vector<int> flicker_shots_;
};

}  // namespace lidar_sim
