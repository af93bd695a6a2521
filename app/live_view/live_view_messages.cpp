#include "live_view_messages.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include <nlohmann/json.hpp>

namespace app {
namespace {

using nlohmann::json;

constexpr float kRadToDeg = 180.0f / 3.1415927f;

json time_of(uint64_t stamp_ms) {
  return {{"sec", stamp_ms / 1000}, {"nsec", (stamp_ms % 1000) * 1000000}};
}

json vec(double x, double y, double z) { return {{"x", x}, {"y", y}, {"z", z}}; }

json identity_pose() {
  return {{"position", vec(0, 0, 0)}, {"orientation", {{"x", 0}, {"y", 0}, {"z", 0}, {"w", 1}}}};
}

json pose_at(double x, double y, double z) {
  json pose = identity_pose();
  pose["position"] = vec(x, y, z);
  return pose;
}

struct Colour {
  double r, g, b, a;
};

json colour(const Colour& c) { return {{"r", c.r}, {"g", c.g}, {"b", c.b}, {"a", c.a}}; }

json entity(uint64_t stamp_ms, const char* id) {
  return {{"timestamp", time_of(stamp_ms)}, {"frame_id", kLidarFrame}, {"id", id},
          {"lifetime", time_of(0)},         {"frame_locked", false},   {"metadata", json::array()},
          {"arrows", json::array()},        {"cubes", json::array()},  {"spheres", json::array()},
          {"cylinders", json::array()},     {"lines", json::array()},  {"triangles", json::array()},
          {"texts", json::array()},         {"models", json::array()}};
}

enum LineType { kLineStrip = 0, kLineList = 2 };

json line(LineType type, json points, const Colour& c, double thickness) {
  return {{"type", type},
          {"pose", identity_pose()},
          {"thickness", thickness},
          {"scale_invariant", true},
          {"points", std::move(points)},
          {"color", colour(c)},
          {"colors", json::array()},
          {"indices", json::array()}};
}

json cube(double cx, double cy, double cz, double sx, double sy, double sz, const Colour& c) {
  return {{"pose", pose_at(cx, cy, cz)}, {"size", vec(sx, sy, sz)}, {"color", colour(c)}};
}

// The six directions in the distances' own sense: esquerda towards +y, direita towards -y.
struct Direction {
  float ObstacleDistances::*distance;
  const char* label;
  float dx, dy, dz;
  Colour colour;
};

const Direction kDirections[] = {
    {&ObstacleDistances::frente, "frente", 1, 0, 0, {1.0, 0.0, 0.0, 1.0}},
    {&ObstacleDistances::tras, "tras", -1, 0, 0, {0.8, 0.0, 0.0, 1.0}},
    {&ObstacleDistances::esquerda, "esquerda", 0, 1, 0, {0.0, 1.0, 0.0, 1.0}},
    {&ObstacleDistances::direita, "direita", 0, -1, 0, {0.0, 0.8, 0.0, 1.0}},
    {&ObstacleDistances::cima, "cima", 0, 0, 1, {0.2, 0.4, 1.0, 1.0}},
    {&ObstacleDistances::baixo, "baixo", 0, 0, -1, {0.1, 0.3, 0.8, 1.0}},
};

json distance_entity(uint64_t stamp_ms, const ObstacleDistances& d) {
  json e = entity(stamp_ms, kDistancesEntity);
  for (const Direction& dir : kDirections) {
    const float value = d.*(dir.distance);
    const double length = std::isfinite(value) && value > 0.001f ? value : 0.0;
    const json end = vec(dir.dx * length, dir.dy * length, dir.dz * length);
    e["lines"].push_back(line(kLineStrip, json::array({vec(0, 0, 0), end}), dir.colour, 3.0));
    char label[64];
    if (length > 0) {
      std::snprintf(label, sizeof label, "%s: %.0f cm", dir.label, length * 100.0);
    } else {
      std::snprintf(label, sizeof label, "%s: --", dir.label);
    }
    e["texts"].push_back({{"pose", pose_at(end["x"], end["y"], end["z"])},
                          {"billboard", true},
                          {"font_size", 14.0},
                          {"scale_invariant", true},
                          {"color", colour(dir.colour)},
                          {"text", label}});
  }
  return e;
}

json robot_entity(uint64_t stamp_ms, const RobotBox& r) {
  const double xs[2] = {r.min_x, r.max_x}, ys[2] = {r.min_y, r.max_y}, zs[2] = {r.min_z, r.max_z};
  json points = json::array();
  // The twelve edges as pairs: four along each axis.
  for (int a = 0; a < 2; ++a)
    for (int b = 0; b < 2; ++b) {
      points.push_back(vec(xs[0], ys[a], zs[b]));
      points.push_back(vec(xs[1], ys[a], zs[b]));
      points.push_back(vec(xs[a], ys[0], zs[b]));
      points.push_back(vec(xs[a], ys[1], zs[b]));
      points.push_back(vec(xs[a], ys[b], zs[0]));
      points.push_back(vec(xs[a], ys[b], zs[1]));
    }
  json e = entity(stamp_ms, kRobotEntity);
  e["lines"].push_back(line(kLineList, std::move(points), {0.3, 0.6, 1.0, 1.0}, 2.0));
  return e;
}

// Each corridor runs from the robot's face to its nearest obstacle, or faintly to the range
// limit when nothing is in it; while the stream is down there are none.
json corridor_entity(uint64_t stamp_ms, const ObstacleDistances& c, const ProcessingParams& p) {
  const RobotBox& r = p.robot;
  const Colour blocked = {1.0, 0.85, 0.0, 0.35}, clear = {1.0, 0.85, 0.0, 0.08};
  json e = entity(stamp_ms, kCorridorsEntity);
  struct Span {
    float value, face, limit;  // distance from the LiDAR, the robot's face, the range limit
    int axis, sign;
  };
  const Span spans[] = {
      {c.frente, r.max_x, p.roi_x_max, 0, 1},
      {c.tras, -r.min_x, std::fabs(p.roi_x_min), 0, -1},
      {c.esquerda, r.max_y, p.roi_y_max, 1, 1},
      {c.direita, -r.min_y, std::fabs(p.roi_y_min), 1, -1},
      {c.cima, r.max_z, p.roi_z_max, 2, 1},
      {c.baixo, -r.min_z, std::fabs(p.roi_z_min), 2, -1},
  };
  const double lo[3] = {r.min_x, r.min_y, r.min_z}, hi[3] = {r.max_x, r.max_y, r.max_z};
  for (const Span& s : spans) {
    if (!std::isfinite(s.value)) continue;
    const bool found = s.value > 0.f;
    const double far = found ? s.value : s.limit;
    if (far <= s.face) continue;
    double centre[3], size[3];
    for (int axis = 0; axis < 3; ++axis) {
      centre[axis] = (lo[axis] + hi[axis]) * 0.5;
      size[axis] = hi[axis] - lo[axis];
    }
    centre[s.axis] = s.sign * (s.face + far) * 0.5;
    size[s.axis] = far - s.face;
    e["cubes"].push_back(
        cube(centre[0], centre[1], centre[2], size[0], size[1], size[2], found ? blocked : clear));
  }
  return e;
}

json boxes_entity(uint64_t stamp_ms, const std::vector<ObstacleBox>& boxes) {
  json e = entity(stamp_ms, kBoxesEntity);
  for (const ObstacleBox& b : boxes) {
    e["cubes"].push_back(cube(b.cx, b.cy, b.cz, b.d, b.w, b.h, {0.0, 1.0, 0.0, 0.35}));
  }
  return e;
}

template <typename Point>
std::string packed_cloud(uint64_t stamp_ms, const Point* points, std::size_t count) {
  std::vector<unsigned char> bytes(count * 12);
  for (std::size_t i = 0; i < count; ++i) {
    const float xyz[3] = {points[i].x, points[i].y, points[i].z};
    std::memcpy(&bytes[i * 12], xyz, 12);
  }
  // Written by hand: the data member is the whole message, and goes into it once.
  std::string out = R"({"timestamp":)" + time_of(stamp_ms).dump() + R"(,"frame_id":")" +
                    kLidarFrame + R"(","pose":)" + identity_pose().dump() +
                    R"(,"point_stride":12,"fields":[{"name":"x","offset":0,"type":7},)"
                    R"({"name":"y","offset":4,"type":7},{"name":"z","offset":8,"type":7}],)"
                    R"("data":")";
  out.reserve(out.size() + (bytes.size() + 2) / 3 * 4 + 2);
  append_base64(out, bytes.data(), bytes.size());
  out += "\"}";
  return out;
}

json number_or_null(double value) { return std::isfinite(value) ? json(value) : json(nullptr); }

json six(const ObstacleDistances& d) {
  return {{"frente", number_or_null(d.frente)},     {"tras", number_or_null(d.tras)},
          {"esquerda", number_or_null(d.esquerda)}, {"direita", number_or_null(d.direita)},
          {"sup", number_or_null(d.cima)},          {"inf", number_or_null(d.baixo)}};
}

}  // namespace

void append_base64(std::string& out, const unsigned char* data, std::size_t size) {
  static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::size_t i = 0;
  for (; i + 3 <= size; i += 3) {
    const uint32_t v = (uint32_t{data[i]} << 16) | (uint32_t{data[i + 1]} << 8) | data[i + 2];
    out += kDigits[v >> 18];
    out += kDigits[(v >> 12) & 63];
    out += kDigits[(v >> 6) & 63];
    out += kDigits[v & 63];
  }
  if (i < size) {
    const bool two = i + 1 < size;
    const uint32_t v = (uint32_t{data[i]} << 16) | (two ? uint32_t{data[i + 1]} << 8 : 0u);
    out += kDigits[v >> 18];
    out += kDigits[(v >> 12) & 63];
    out += two ? kDigits[(v >> 6) & 63] : '=';
    out += '=';
  }
}

std::string point_cloud_message(uint64_t stamp_ms, const XyzPoint* points, std::size_t count) {
  return packed_cloud(stamp_ms, points, count);
}

std::string point_cloud_message(uint64_t stamp_ms, const CloudPoint* points, std::size_t count) {
  return packed_cloud(stamp_ms, points, count);
}

std::string scene_update_message(uint64_t stamp_ms, const FrameSummary& frame,
                                 const std::vector<ObstacleBox>& boxes,
                                 const ProcessingParams& params) {
  json entities = json::array(
      {boxes_entity(stamp_ms, boxes), distance_entity(stamp_ms, frame.distances),
       robot_entity(stamp_ms, params.robot), corridor_entity(stamp_ms, frame.corridor, params)});
  return json{{"deletions", json::array()}, {"entities", std::move(entities)}}.dump();
}

std::string frame_transforms_message(uint64_t stamp_ms, const AttitudeState& tilt) {
  const double cr = std::cos(tilt.roll * 0.5), sr = std::sin(tilt.roll * 0.5);
  const double cp = std::cos(tilt.pitch * 0.5), sp = std::sin(tilt.pitch * 0.5);
  json transform = {
      {"timestamp", time_of(stamp_ms)},
      {"parent_frame_id", kBaseFrame},
      {"child_frame_id", kLidarFrame},
      {"translation", vec(0, 0, 0)},
      {"rotation", {{"x", sr * cp}, {"y", cr * sp}, {"z", -sr * sp}, {"w", cr * cp}}}};
  return json{{"transforms", json::array({std::move(transform)})}}.dump();
}

std::string state_message(const LiveState& s) {
  const FrameSummary& f = s.frame;
  json nearest = nullptr;
  if (f.has_nearest_box) {
    const ObstacleBox& b = f.nearest_box;
    nearest = {{"dist_m", b.dist_m}, {"cx", b.cx}, {"cy", b.cy}, {"cz", b.cz},
               {"w", b.w},           {"h", b.h},   {"d", b.d}};
  }
  return json{{"timestamp", s.stamp_ms},
              {"status", s.ok ? "OK" : "OFF"},
              {"dist", six(f.distances)},
              {"corredor", six(f.corridor)},
              {"caixas", f.box_count},
              {"caixa", std::move(nearest)},
              {"freq", {{"pcl", s.freq_pcl}, {"imu", s.freq_imu}}},
              {"temperatura", s.temperatura},
              {"imu",
               {{"roll", s.attitude.roll * kRadToDeg},
                {"pitch", s.attitude.pitch * kRadToDeg},
                {"yaw", s.attitude.yaw * kRadToDeg}}},
              {"processamento_ms", s.has_processing ? json(s.processing_ms) : json(nullptr)}}
      .dump();
}

}  // namespace app
