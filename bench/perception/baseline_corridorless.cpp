#include "baseline_corridorless.h"

#include <cmath>
#include <limits>
#include <mutex>
#include <utility>
#include <vector>

#include "core/app_health.h"
#include "perception/cloud_thinning.h"
#include "perception/lanes.h"
#include "perception/voxel_clustering.h"

namespace baseline {
namespace {

using app::lanes::Lanes;

constexpr float kNone = std::numeric_limits<float>::infinity();

void store_distances(const app::ObstacleDistances& result) {
  std::lock_guard<std::mutex> hold(app::state_mutex);
  app::distances = result;
}

void store_boxes(std::vector<app::ObstacleBox> boxes) {
  std::lock_guard<std::mutex> hold(app::state_mutex);
  app::obstacle_boxes.swap(boxes);
}

inline void keep_nearest(Lanes v, Lanes& ahead, Lanes& behind) {
  const Lanes zero = {0.f, 0.f, 0.f, 0.f};
  const Lanes none = {kNone, kNone, kNone, kNone};
  const Lanes a = app::lanes::select(v > zero, v, none);
  const Lanes b = app::lanes::select(v < zero, -v, none);
  ahead = app::lanes::select(a < ahead, a, ahead);
  behind = app::lanes::select(b < behind, b, behind);
}

inline float within(float nearest, float face) {
  return nearest == kNone || nearest > face ? 0.f : nearest;
}

app::ObstacleDistances six_distances(const app::Cloud& cloud, const app::ProcessingParams& p,
                                     uint64_t t) {
  const Lanes none = {kNone, kNone, kNone, kNone};
  Lanes ahead[2] = {none, none}, behind[2] = {none, none};
  const auto& points = cloud.points;
  std::size_t i = 0;
  for (; i + 2 <= points.size(); i += 2) {
    keep_nearest(app::lanes::load4(&points[i]), ahead[0], behind[0]);
    keep_nearest(app::lanes::load4(&points[i + 1]), ahead[1], behind[1]);
  }
  if (i < points.size()) keep_nearest(app::lanes::load4(&points[i]), ahead[0], behind[0]);
  const Lanes front = app::lanes::select(ahead[1] < ahead[0], ahead[1], ahead[0]);
  const Lanes back = app::lanes::select(behind[1] < behind[0], behind[1], behind[0]);
  app::ObstacleDistances result;
  result.frame_ms = t;
  result.frente = within(front[0], p.roi_x_max);
  result.tras = within(back[0], std::fabs(p.roi_x_min));
  result.esquerda = within(front[1], p.roi_y_max);
  result.direita = within(back[1], std::fabs(p.roi_y_min));
  result.cima = within(front[2], p.roi_z_max);
  result.baixo = within(back[2], std::fabs(p.roi_z_min));
  return result;
}

void process(const app::PointFrame& frame, uint64_t t) {
  const app::ProcessingParams params = app::copy_processing_params();
  thread_local app::Cloud thinned;
  app::thin_frame(frame, params.voxel_size, thinned);
  if (thinned.points.empty()) {
    app::ObstacleDistances none;
    none.frame_ms = t;
    store_distances(none);
    store_boxes({});
    return;
  }
  store_distances(six_distances(thinned, params, t));
  if (static_cast<int64_t>(thinned.points.size()) < params.min_cluster_voxels) {
    store_boxes({});
    return;
  }
  store_boxes(app::cluster_obstacles(thinned, params, t));
}

}  // namespace

void process_frame_six_distances(const app::PointFrame& frame, uint64_t t) {
  app::measure_frame_processing([&] { process(frame, t); });
}

}  // namespace baseline
