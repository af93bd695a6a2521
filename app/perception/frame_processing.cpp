#include "frame_processing.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

#include "perception/cloud_thinning.h"
#include "perception/lanes.h"
#include "perception/voxel_clustering.h"

namespace app {
namespace {

void store_distances(const FrameDistances& result) {
  std::lock_guard<std::mutex> hold(state_mutex);
  distances = result.axes;
  corridor_distances = result.corridor;
}

void store_boxes(std::vector<ObstacleBox> boxes) {
  std::lock_guard<std::mutex> hold(state_mutex);
  obstacle_boxes.swap(boxes);
}

constexpr float kNone = std::numeric_limits<float>::infinity();

using lanes::IntLanes;
using lanes::Lanes;

// The robot's box as two vectors, lower and upper faces per axis lane.
struct BoxLanes {
  Lanes lo, hi;
};

// Per lane, the distance of the coordinate along the positive (ahead) or negative (behind)
// direction, or kNone when it lies on the other side or on the axis plane; the running nearest
// keeps the smaller. The corridor minima count the same coordinate only beyond the robot's face
// on that axis while the point lies within the robot's extent on the other two. Selections rather
// than branches, so the scan does not depend on the data, except for skipping the corridors of
// a point within the robot's extent on fewer than two axes, as almost all points are. The fourth
// lane (the point's padding word) is computed and ignored.
struct Nearest {
  Lanes ahead, behind, corridor_ahead, corridor_behind;
};

inline void keep_nearest(Lanes v, const BoxLanes& box, Nearest& n) {
  const Lanes zero = {0.f, 0.f, 0.f, 0.f};
  const Lanes none = {kNone, kNone, kNone, kNone};
  const Lanes a = lanes::select(v > zero, v, none);
  const Lanes b = lanes::select(v < zero, -v, none);
  n.ahead = lanes::select(a < n.ahead, a, n.ahead);
  n.behind = lanes::select(b < n.behind, b, n.behind);
  const IntLanes across = lanes::both_others((v >= box.lo) & (v <= box.hi));
  if (lanes::likely(!lanes::any_of_three(across))) return;
  // From a and b rather than v: beyond a face of a box that does not hold the LiDAR could be
  // on the other side of the axis plane, which is no distance in that direction.
  const Lanes ca = lanes::select((v > box.hi) & across, a, none);
  const Lanes cb = lanes::select((v < box.lo) & across, b, none);
  n.corridor_ahead = lanes::select(ca < n.corridor_ahead, ca, n.corridor_ahead);
  n.corridor_behind = lanes::select(cb < n.corridor_behind, cb, n.corridor_behind);
}

inline Lanes nearer(Lanes p, Lanes q) { return lanes::select(q < p, q, p); }

// The nearest distance found, 0 when there was none or it lies beyond the region face.
inline float within(float nearest, float face) {
  return nearest == kNone || nearest > face ? 0.f : nearest;
}

ObstacleDistances limited(Lanes ahead, Lanes behind, const ProcessingParams& p, uint64_t t) {
  ObstacleDistances result;
  result.frame_ms = t;
  result.frente = within(ahead[0], p.roi_x_max);
  result.tras = within(behind[0], std::fabs(p.roi_x_min));
  result.esquerda = within(ahead[1], p.roi_y_max);
  result.direita = within(behind[1], std::fabs(p.roi_y_min));
  result.cima = within(ahead[2], p.roi_z_max);
  result.baixo = within(behind[2], std::fabs(p.roi_z_min));
  return result;
}

}  // namespace

FrameDistances frame_distances(const Cloud& cloud, const ProcessingParams& params, uint64_t t) {
  const Lanes none = {kNone, kNone, kNone, kNone};
  const RobotBox& r = params.robot;
  const BoxLanes box = {{r.min_x, r.min_y, r.min_z, 0.f}, {r.max_x, r.max_y, r.max_z, 0.f}};
  // Two sets of running minima, so consecutive points do not wait on each other.
  Nearest n[2] = {{none, none, none, none}, {none, none, none, none}};
  const auto& points = cloud.points;
  std::size_t i = 0;
  for (; i + 2 <= points.size(); i += 2) {
    keep_nearest(lanes::load4(&points[i]), box, n[0]);
    keep_nearest(lanes::load4(&points[i + 1]), box, n[1]);
  }
  if (i < points.size()) keep_nearest(lanes::load4(&points[i]), box, n[0]);

  FrameDistances result;
  result.axes = limited(nearer(n[0].ahead, n[1].ahead), nearer(n[0].behind, n[1].behind),
                        params, t);
  result.corridor = limited(nearer(n[0].corridor_ahead, n[1].corridor_ahead),
                            nearer(n[0].corridor_behind, n[1].corridor_behind), params, t);
  return result;
}

ObstacleDistances directional_distances(const Cloud& cloud, const ProcessingParams& params,
                                        uint64_t t) {
  return frame_distances(cloud, params, t).axes;
}

namespace {

// The thinned cloud's buffer serves every frame of the calling thread.
Cloud& thinned_buffer() {
  thread_local Cloud thinned;
  return thinned;
}

}  // namespace

const Cloud& last_thinned_cloud() { return thinned_buffer(); }

namespace {

FrameSummary process_thinned(const Cloud& thinned, const ProcessingParams& params, uint64_t t,
                             bool whole_window) {
  FrameDistances found;
  found.axes.frame_ms = found.corridor.frame_ms = t;
  if (!thinned.points.empty()) found = frame_distances(thinned, params, t);
  // A direction seen through part of a scan reads clear where the rest of it may not be: the
  // first frames after a start, or after a gap longer than the window, measure nothing yet.
  if (!whole_window) {
    found.axes = not_measured();
    found.corridor = not_measured();
    found.axes.frame_ms = found.corridor.frame_ms = t;
  }
  store_distances(found);

  std::vector<ObstacleBox> boxes;
  if (static_cast<int64_t>(thinned.points.size()) >= params.min_cluster_voxels &&
      !thinned.points.empty()) {
    boxes = cluster_obstacles(thinned, params, t);
  }
  FrameSummary summary = summarize_frame(found.axes, found.corridor, boxes);
  store_boxes(std::move(boxes));
  return summary;
}

}  // namespace

// Thinning skips the input's non-finite points, so it yields exactly the thinned cloud of its
// finite points, without first copying them anywhere.
FrameSummary process_frame(const PointFrame& frame, uint64_t t) {
  const ProcessingParams params = copy_processing_params();
  Cloud& thinned = thinned_buffer();
  thin_frame(frame, params.voxel_size, thinned);
  return process_thinned(thinned, params, t, true);
}

FrameSummary process_window(PointWindow& window, uint64_t t) {
  const ProcessingParams params = copy_processing_params();
  Cloud& thinned = thinned_buffer();
  thin_window(window, params.voxel_size, thinned);
  const int64_t span = window.window_ms.load();
  const bool whole = span <= 0 || window_run_ms(window) >= static_cast<uint64_t>(span);
  return process_thinned(thinned, params, t, whole);
}

}  // namespace app
