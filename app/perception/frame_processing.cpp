#include "frame_processing.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

#include "app/perception/cloud_thinning.h"
#include "app/perception/lanes.h"
#include "app/perception/voxel_clustering.h"

namespace app {
namespace {

void store_distances(const ObstacleDistances& result) {
  std::lock_guard<std::mutex> hold(state_mutex);
  distances = result;
}

void store_boxes(std::vector<ObstacleBox> boxes) {
  std::lock_guard<std::mutex> hold(state_mutex);
  obstacle_boxes.swap(boxes);
}

void store_empty_frame(uint64_t t) {
  ObstacleDistances none;
  none.frame_ms = t;
  store_distances(none);
  store_boxes({});
}

constexpr float kNone = std::numeric_limits<float>::infinity();

using lanes::Lanes;

// Per lane, the distance of the coordinate along the positive (ahead) or negative (behind)
// direction, or kNone when it lies on the other side or on the axis plane; the running nearest
// keeps the smaller. Selections rather than branches, so the scan does not depend on the data.
// The fourth lane (the point's padding word) is computed and ignored.
inline void keep_nearest(Lanes v, Lanes& ahead, Lanes& behind) {
  const Lanes zero = {0.f, 0.f, 0.f, 0.f};
  const Lanes none = {kNone, kNone, kNone, kNone};
  const Lanes a = lanes::select(v > zero, v, none);
  const Lanes b = lanes::select(v < zero, -v, none);
  ahead = lanes::select(a < ahead, a, ahead);
  behind = lanes::select(b < behind, b, behind);
}

// The nearest distance found, 0 when there was none or it lies beyond the region face.
inline float within(float nearest, float face) {
  return nearest == kNone || nearest > face ? 0.f : nearest;
}

}  // namespace

ObstacleDistances directional_distances(const Cloud& cloud, const ProcessingParams& params,
                                        uint64_t t) {
  const Lanes none = {kNone, kNone, kNone, kNone};
  // Two sets of running minima, so consecutive points do not wait on each other.
  Lanes ahead[2] = {none, none}, behind[2] = {none, none};
  const auto& points = cloud.points;
  std::size_t i = 0;
  for (; i + 2 <= points.size(); i += 2) {
    keep_nearest(lanes::load4(&points[i]), ahead[0], behind[0]);
    keep_nearest(lanes::load4(&points[i + 1]), ahead[1], behind[1]);
  }
  if (i < points.size()) keep_nearest(lanes::load4(&points[i]), ahead[0], behind[0]);
  const Lanes front = lanes::select(ahead[1] < ahead[0], ahead[1], ahead[0]);
  const Lanes back = lanes::select(behind[1] < behind[0], behind[1], behind[0]);
  const float frente = front[0], esquerda = front[1], cima = front[2];
  const float tras = back[0], direita = back[1], baixo = back[2];

  ObstacleDistances result;
  result.frame_ms = t;
  result.frente = within(frente, params.roi_x_max);
  result.tras = within(tras, std::fabs(params.roi_x_min));
  result.esquerda = within(esquerda, params.roi_y_max);
  result.direita = within(direita, std::fabs(params.roi_y_min));
  result.cima = within(cima, params.roi_z_max);
  result.baixo = within(baixo, std::fabs(params.roi_z_min));
  return result;
}

void process_frame(const PointFrame& frame, uint64_t t) {
  const ProcessingParams params = copy_processing_params();

  // Thinning reads the frame directly and skips its non-finite points, so it yields exactly
  // the thinned cloud of the frame's finite points; its buffer serves every frame.
  thread_local Cloud thinned;
  thin_frame(frame, params.voxel_size, thinned);
  if (thinned.points.empty()) {
    store_empty_frame(t);
    return;
  }
  store_distances(directional_distances(thinned, params, t));

  if (static_cast<int64_t>(thinned.points.size()) < params.min_cluster_voxels) {
    store_boxes({});
    return;
  }
  store_boxes(cluster_obstacles(thinned, params, t));
}

}  // namespace app
