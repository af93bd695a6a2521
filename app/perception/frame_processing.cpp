#include "frame_processing.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <utility>
#include <vector>

#include "core/shared_state.h"
#include "perception/cloud_thinning.h"
#include "perception/ground_plane.h"
#include "perception/mounting.h"
#include "perception/lanes.h"
#include "perception/voxel_clustering.h"
#include "perception/zone_intake.h"

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

void store_stream_view(const GroundEstimate& ground, std::vector<ObstacleBox> boxes) {
  {
    std::lock_guard<std::mutex> hold(state_mutex);
    ground_estimate = ground;
    stream_boxes.swap(boxes);
  }
  note_zone_ground(ground);
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

// The ground plane when one is seen: its points are what the robot drives on, no corridor's.
struct GroundTest {
  bool on = false;
  float n[3] = {0.f, 0.f, 1.f};
  float height = 0.f, margin = 0.f;
};

inline bool is_ground(Lanes v, const GroundTest& g) {
  return g.on && v[0] * g.n[0] + v[1] * g.n[1] + v[2] * g.n[2] + g.height < g.margin;
}

inline void keep_nearest(Lanes v, const BoxLanes& box, const GroundTest& ground, Nearest& n) {
  const Lanes zero = {0.f, 0.f, 0.f, 0.f};
  const Lanes none = {kNone, kNone, kNone, kNone};
  const Lanes a = lanes::select(v > zero, v, none);
  const Lanes b = lanes::select(v < zero, -v, none);
  n.ahead = lanes::select(a < n.ahead, a, n.ahead);
  n.behind = lanes::select(b < n.behind, b, n.behind);
  const IntLanes across = lanes::both_others((v >= box.lo) & (v <= box.hi));
  if (lanes::likely(!lanes::any_of_three(across))) return;
  if (is_ground(v, ground)) return;
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

// Each direction's range limit, in the order of ObstacleDistances.
struct Faces {
  float v[6];
};

ObstacleDistances limited(Lanes ahead, Lanes behind, const Faces& f, uint64_t t) {
  ObstacleDistances result;
  result.frame_ms = t;
  result.frente = within(ahead[0], f.v[0]);
  result.tras = within(behind[0], f.v[1]);
  result.esquerda = within(ahead[1], f.v[2]);
  result.direita = within(behind[1], f.v[3]);
  result.cima = within(ahead[2], f.v[4]);
  result.baixo = within(behind[2], f.v[5]);
  return result;
}

Faces region_faces(const ProcessingParams& p) {
  return {{p.roi_x_max, std::fabs(p.roi_x_min), p.roi_y_max, std::fabs(p.roi_y_min), p.roi_z_max,
           std::fabs(p.roi_z_min)}};
}

Faces corridor_faces(const CorridorLimits& c) {
  return {{c.ahead, c.behind, c.left, c.right, c.above, c.below}};
}

}  // namespace

FrameDistances frame_distances(const Cloud& cloud, const ProcessingParams& params, uint64_t t) {
  return frame_distances(cloud, params, GroundEstimate{}, t);
}

FrameDistances frame_distances(const Cloud& cloud, const ProcessingParams& params,
                               const GroundEstimate& ground, uint64_t t) {
  GroundTest test;
  if (ground.seen) {
    test = GroundTest{true,
                      {ground.normal[0], ground.normal[1], ground.normal[2]},
                      ground.height_m,
                      params.ground.margin_m};
  }
  const Lanes none = {kNone, kNone, kNone, kNone};
  const RobotBox& r = params.robot;
  const BoxLanes box = {{r.min_x, r.min_y, r.min_z, 0.f}, {r.max_x, r.max_y, r.max_z, 0.f}};
  // Two sets of running minima, so consecutive points do not wait on each other.
  Nearest n[2] = {{none, none, none, none}, {none, none, none, none}};
  const auto& points = cloud.points;
  std::size_t i = 0;
  for (; i + 2 <= points.size(); i += 2) {
    keep_nearest(lanes::load4(&points[i]), box, test, n[0]);
    keep_nearest(lanes::load4(&points[i + 1]), box, test, n[1]);
  }
  if (i < points.size()) keep_nearest(lanes::load4(&points[i]), box, test, n[0]);

  FrameDistances result;
  result.axes = limited(nearer(n[0].ahead, n[1].ahead), nearer(n[0].behind, n[1].behind),
                        region_faces(params), t);
  Faces corridor = corridor_faces(params.corridor);
  // Down to the ground: everything below its margin is ground already.
  if (ground.seen && params.corridor.below_to_ground) corridor.v[5] = kNone;
  result.corridor = limited(nearer(n[0].corridor_ahead, n[1].corridor_ahead),
                            nearer(n[0].corridor_behind, n[1].corridor_behind), corridor, t);
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

// The IMU's vertical when its attitude is recent enough to describe this frame.
std::optional<UpVector> recent_imu_up(const ProcessingParams& params, uint64_t t) {
  constexpr uint64_t kFreshMs = 500;
  const uint64_t last = last_imu_ms.load();
  if (last == 0 || last + kFreshMs < t || last_attitude_us.load() == 0) return std::nullopt;
  return imu_up(copy_attitude(), params.mounting);
}

// An entry within this of the newest entry's turn is taken as it is: the gyro's noise on a still
// robot stays far below it over a window, so a robot at rest has its points untouched.
constexpr float kDeskewRad = 0.2f * 3.1415927f / 180.f;

// Angles compared across the +-pi seam (an upside-down unit's roll sits on it).
float angle_apart(float a, float b) {
  const float d = std::fabs(a - b);
  return d > 3.1415927f ? 2.f * 3.1415927f - d : d;
}

bool tilts_apart(const Tilt& a, const Tilt& b) {
  return angle_apart(a.roll, b.roll) > kDeskewRad || angle_apart(a.pitch, b.pitch) > kDeskewRad;
}

Cloud& deskew_buffer() {
  thread_local Cloud deskewed;
  return deskewed;
}

// The thinned cloud as the robot would have measured it at the newest entry's attitude: an older
// entry's points turned by what the gyro turned since, in the robot's axes (through the
// mounting). A robot pitching while it brakes turns a few degrees within the window, which would
// smear the floor into a wedge that no plane fits. The cloud itself when no entry needs turning.
const Cloud& deskewed(const Cloud& thinned, const std::vector<TiltSpan>& spans,
                      const MountingPose& mounting) {
  if (spans.empty()) return thinned;
  const Tilt newest = spans.front().tilt;
  bool needed = false;
  for (const TiltSpan& span : spans) needed = needed || tilts_apart(span.tilt, newest);
  if (!needed) return thinned;
  Cloud& out = deskew_buffer();
  out.points.assign(thinned.points.begin(), thinned.points.end());
  out.width = thinned.width;
  out.height = 1;
  out.is_dense = false;
  const Rotation3 to_robot = mounting.given ? mounting_rotation(mounting) : Rotation3{};
  const Rotation3 from_level = transposed(tilt_rotation(newest));
  std::size_t begin = 0;
  for (const TiltSpan& span : spans) {
    const std::size_t end = std::min(span.end, out.points.size());
    if (tilts_apart(span.tilt, newest)) {
      const Rotation3 turn =
          to_robot * from_level * tilt_rotation(span.tilt) * transposed(to_robot);
      for (std::size_t i = begin; i < end; ++i) {
        rotate(turn, out.points[i].x, out.points[i].y, out.points[i].z);
      }
    }
    begin = end;
  }
  return out;
}

Cloud& obstacle_buffer() {
  thread_local Cloud obstacles;
  return obstacles;
}

std::vector<ObstacleBox> boxes_of(const Cloud& cloud, const ProcessingParams& params, uint64_t t) {
  if (static_cast<int64_t>(cloud.points.size()) < params.min_cluster_voxels ||
      cloud.points.empty()) {
    return {};
  }
  return cluster_obstacles(cloud, params, t);
}

// The documents' distances and boxes come from the thinned cloud as measured; the corridors, the
// ground and the stream's boxes from `braking`, the same cloud with the robot's pitching within
// the window undone (the same cloud when there was none).
FrameSummary process_thinned(const Cloud& thinned, const Cloud& braking,
                             const ProcessingParams& params, uint64_t t, bool whole_window) {
  GroundEstimate ground;
  if (!braking.points.empty()) {
    ground = estimate_ground(braking, params.robot, recent_imu_up(params, t));
  }
  FrameDistances found;
  found.axes.frame_ms = found.corridor.frame_ms = t;
  if (!thinned.points.empty()) {
    found = frame_distances(thinned, params, ground, t);
    if (&braking != &thinned) found.corridor = frame_distances(braking, params, ground, t).corridor;
  }
  // A direction seen through part of a scan reads clear where the rest of it may not be: the
  // first frames after a start, or after a gap longer than the window, measure nothing yet.
  if (!whole_window) {
    found.axes = not_measured();
    found.corridor = not_measured();
    found.axes.frame_ms = found.corridor.frame_ms = t;
  }
  store_distances(found);

  std::vector<ObstacleBox> boxes = boxes_of(thinned, params, t);
  // The stream's boxes are the obstacles' alone; without a ground they are the documents' boxes.
  std::vector<ObstacleBox> obstacles;
  if (ground.seen) {
    Cloud& above = obstacle_buffer();
    without_ground(braking, ground, params.ground.margin_m, above);
    obstacles = boxes_of(above, params, t);
  } else {
    obstacles = boxes;
  }
  FrameSummary summary = summarize_frame(found.axes, found.corridor, obstacles);
  summary.ground = ground;
  store_boxes(std::move(boxes));
  store_stream_view(ground, std::move(obstacles));
  return summary;
}

}  // namespace

FrameSummary process_window(PointWindow& window, uint64_t t) {
  const ProcessingParams params = copy_processing_params();
  Cloud& thinned = thinned_buffer();
  thread_local std::vector<TiltSpan> spans;
  thin_window(window, params.voxel_size, thinned, &spans);
  const int64_t span = window.window_ms.load();
  const bool whole = span <= 0 || window_run_ms(window) >= static_cast<uint64_t>(span);
  return process_thinned(thinned, deskewed(thinned, spans, params.mounting), params, t, whole);
}

}  // namespace app
