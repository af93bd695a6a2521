// What the simulated unit sees: infinite planes and axis-aligned boxes around the sensor, in the
// sensor's frame (x forward, y left, z up, metres), loaded from a small JSON file.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace lidar_sim {

struct Vec3 {
  double x = 0, y = 0, z = 0;
};

struct ScenePlane {
  std::string name;
  Vec3 point;
  Vec3 normal;
  uint8_t reflectivity = 50;
};

struct SceneBox {
  std::string name;
  Vec3 min;
  Vec3 max;
  uint8_t reflectivity = 100;
  // A box with "toggle": true starts hidden and appears or disappears at each scene toggle.
  bool toggle = false;
  bool visible = true;
  // A box with "flicker": {"points": N, "every_ms": M} returns at most N shots in each M ms (the
  // rest pass through it): a sparse target that shows a few points now and then.
  int flicker_points = 0;
  double flicker_every_ms = 0;
};

struct Scene {
  std::string name;
  std::vector<ScenePlane> planes;
  std::vector<SceneBox> boxes;
  // Those of the six published distances that known faces of this scene set (documentation; keys
  // frente, tras, esquerda, direita, sup, inf), empty when the file names none.
  std::map<std::string, double> expected;
  // The six corridor distances it is designed to give with the service's default robot box
  // (documentation too; the same keys), empty when the file names none.
  std::map<std::string, double> expected_corridor;
};

struct RayHit {
  double range = 0;
  uint8_t reflectivity = 0;
  int box = -1;  // index of the box hit, -1 for a plane
};

// The built-in scene (the same as config/scenes/open.json).
Scene default_scene();

bool parse_scene(const std::string& json_text, Scene& out, std::string& error);
bool load_scene(const std::string& path, Scene& out, std::string& error);

// Shows the hidden toggle boxes and hides the shown ones; returns "name shown" or "name hidden"
// for each, in scene order.
std::vector<std::string> toggle_boxes(Scene& scene);

// Nearest surface along the unit direction `dir` from the sensor, between the two ranges.
std::optional<RayHit> cast_ray(const Scene& scene, const Vec3& dir, double min_range, double max_range);

}  // namespace lidar_sim
