#include "scene.h"

#include <cmath>
#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

namespace lidar_sim {

namespace {

// A floor where the default robot's wheels stand (0.40 m below the sensor), a low crate on it
// beside the robot's way and a cabinet hanging from above. The service takes each direction's
// distance from the nearest positive coordinate over the whole cloud, so the floor, which
// crosses the axis planes next to the sensor, sets the front and side distances near 0; every
// point of the crate lies below z = -0.3 and every point of the cabinet above z = 1.2, and the
// floor lies lower and nothing higher, so those two faces set the distances below and above.
// Nothing stands in the robot's corridors: the crate and the floor are beside or below them.
constexpr const char* kDefaultScene = R"({
  "name": "open",
  "planes": [
    {"name": "floor",   "point": [0, 0, -0.4], "normal": [0, 0, 1], "reflectivity": 30}
  ],
  "boxes": [
    {"name": "crate",   "min": [2.0, 1.0, -0.4], "max": [2.6, 1.8, -0.3], "reflectivity": 120},
    {"name": "cabinet", "min": [2.5, -2.4, 1.2], "max": [3.5, -1.5, 2.6], "reflectivity": 150}
  ],
  "expected": {"sup": 1.20, "inf": 0.30},
  "expected_corridor": {"frente": 0.00, "tras": 0.00, "esquerda": 0.00, "direita": 0.00, "sup": 0.00, "inf": 0.00}
})";

bool read_vec(const nlohmann::json& j, const char* member, Vec3& out, std::string& error) {
  auto it = j.find(member);
  if (it == j.end() || !it->is_array() || it->size() != 3 || !(*it)[0].is_number() ||
      !(*it)[1].is_number() || !(*it)[2].is_number()) {
    error = std::string("\"") + member + "\" must be an array of three numbers";
    return false;
  }
  out = Vec3{(*it)[0].get<double>(), (*it)[1].get<double>(), (*it)[2].get<double>()};
  return true;
}

uint8_t read_reflectivity(const nlohmann::json& j, uint8_t fallback) {
  auto it = j.find("reflectivity");
  if (it == j.end() || !it->is_number()) return fallback;
  const double v = it->get<double>();
  return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
}

double dot(const Vec3& a, const Vec3& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

// Entry distance of the ray into the box, or a negative value when it misses.
double box_entry(const SceneBox& b, const Vec3& d) {
  double t_near = -INFINITY, t_far = INFINITY;
  const double o[3] = {0, 0, 0};
  const double dir[3] = {d.x, d.y, d.z};
  const double lo[3] = {b.min.x, b.min.y, b.min.z};
  const double hi[3] = {b.max.x, b.max.y, b.max.z};
  for (int i = 0; i < 3; ++i) {
    if (std::fabs(dir[i]) < 1e-15) {
      if (o[i] < lo[i] || o[i] > hi[i]) return -1;
      continue;
    }
    double t1 = (lo[i] - o[i]) / dir[i];
    double t2 = (hi[i] - o[i]) / dir[i];
    if (t1 > t2) std::swap(t1, t2);
    t_near = std::max(t_near, t1);
    t_far = std::min(t_far, t2);
    if (t_near > t_far) return -1;
  }
  if (t_far < 0) return -1;
  return t_near >= 0 ? t_near : t_far;  // from inside a box, its far wall is what the sensor sees
}

}  // namespace

Scene default_scene() {
  Scene scene;
  std::string error;
  parse_scene(kDefaultScene, scene, error);
  return scene;
}

bool parse_scene(const std::string& json_text, Scene& out, std::string& error) {
  nlohmann::json j = nlohmann::json::parse(json_text, nullptr, false);
  if (j.is_discarded() || !j.is_object()) {
    error = "not a JSON object";
    return false;
  }
  Scene scene;
  scene.name = j.value("name", std::string("unnamed"));
  if (auto planes = j.find("planes"); planes != j.end()) {
    if (!planes->is_array()) {
      error = "\"planes\" must be an array";
      return false;
    }
    for (const auto& p : *planes) {
      ScenePlane plane;
      plane.name = p.value("name", std::string("plane"));
      if (!read_vec(p, "point", plane.point, error) || !read_vec(p, "normal", plane.normal, error)) {
        error = "plane \"" + plane.name + "\": " + error;
        return false;
      }
      const double len = std::sqrt(dot(plane.normal, plane.normal));
      if (!(len > 0)) {
        error = "plane \"" + plane.name + "\": zero normal";
        return false;
      }
      plane.normal = Vec3{plane.normal.x / len, plane.normal.y / len, plane.normal.z / len};
      plane.reflectivity = read_reflectivity(p, 50);
      scene.planes.push_back(plane);
    }
  }
  if (auto boxes = j.find("boxes"); boxes != j.end()) {
    if (!boxes->is_array()) {
      error = "\"boxes\" must be an array";
      return false;
    }
    for (const auto& b : *boxes) {
      SceneBox box;
      box.name = b.value("name", std::string("box"));
      if (!read_vec(b, "min", box.min, error) || !read_vec(b, "max", box.max, error)) {
        error = "box \"" + box.name + "\": " + error;
        return false;
      }
      if (!(box.min.x < box.max.x && box.min.y < box.max.y && box.min.z < box.max.z)) {
        error = "box \"" + box.name + "\": min must be below max on every axis";
        return false;
      }
      box.reflectivity = read_reflectivity(b, 100);
      box.toggle = b.value("toggle", false);
      box.visible = !box.toggle;
      if (auto flicker = b.find("flicker"); flicker != b.end()) {
        const bool ok = flicker->is_object() && flicker->value("points", 0) > 0 &&
                        flicker->value("every_ms", 0.0) > 0;
        if (!ok) {
          error = "box \"" + box.name + "\": \"flicker\" needs \"points\" and \"every_ms\" above 0";
          return false;
        }
        box.flicker_points = flicker->value("points", 0);
        box.flicker_every_ms = flicker->value("every_ms", 0.0);
      }
      scene.boxes.push_back(box);
    }
  }
  const auto read_expected = [&j](const char* member, std::map<std::string, double>& into) {
    if (auto expected = j.find(member); expected != j.end() && expected->is_object()) {
      for (const auto& [name, value] : expected->items())
        if (value.is_number()) into[name] = value.get<double>();
    }
  };
  read_expected("expected", scene.expected);
  read_expected("expected_corridor", scene.expected_corridor);
  out = std::move(scene);
  return true;
}

bool load_scene(const std::string& path, Scene& out, std::string& error) {
  std::ifstream in(path);
  if (!in) {
    error = "cannot open " + path;
    return false;
  }
  std::stringstream text;
  text << in.rdbuf();
  if (!parse_scene(text.str(), out, error)) {
    error = path + ": " + error;
    return false;
  }
  return true;
}

std::vector<std::string> toggle_boxes(Scene& scene) {
  std::vector<std::string> changes;
  for (SceneBox& b : scene.boxes) {
    if (!b.toggle) continue;
    b.visible = !b.visible;
    changes.push_back(b.name + (b.visible ? " shown" : " hidden"));
  }
  return changes;
}

std::optional<RayHit> cast_ray(const Scene& scene, const Vec3& dir, double min_range, double max_range) {
  std::optional<RayHit> best;
  auto consider = [&](double t, uint8_t reflectivity, int box) {
    if (t >= min_range && t <= max_range && (!best || t < best->range))
      best = RayHit{t, reflectivity, box};
  };
  for (const ScenePlane& p : scene.planes) {
    const double denom = dot(dir, p.normal);
    if (std::fabs(denom) < 1e-12) continue;
    consider(dot(p.point, p.normal) / denom, p.reflectivity, -1);
  }
  for (std::size_t i = 0; i < scene.boxes.size(); ++i) {
    const SceneBox& b = scene.boxes[i];
    if (!b.visible) continue;
    const double t = box_entry(b, dir);
    if (t >= 0) consider(t, b.reflectivity, static_cast<int>(i));
  }
  return best;
}

}  // namespace lidar_sim
