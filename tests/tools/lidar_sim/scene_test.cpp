#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <string>
#include <unordered_set>
#include <vector>

#include "tests/app/perception/reference_pipeline.h"
#include "tests/tools/lidar_sim/host_frames.h"
#include "lidar_sim/point_source.h"
#include "lidar_sim/scan_pattern.h"
#include "lidar_sim/scene.h"
#include "lidar_sim/stream_packet.h"

namespace lidar_sim {
namespace {

struct P {
  double x, y, z;
};

// Points of one 150 ms window at 200,000 points per second, passed through the wire format
// (data type 1, millimetres) the way the host receives them.
std::vector<P> measured_window(PointSource& source, double t0) {
  std::vector<P> out;
  for (int packet = 0; packet < 313; ++packet) {
    const auto shots = source.shots(kPointsPerPacket, t0 + packet * 0.00048);
    const Bytes d = build_point_packet(kDataTypeCartesianHigh, shots, PacketStamp{});
    for (std::size_t i = 0; i < kPointsPerPacket; ++i) {
      const uint8_t* r = d.data() + kPacketHeaderSize + 14 * i;
      out.push_back(P{static_cast<int32_t>(lidar_sim_test::le32(r)) / 1000.0,
                      static_cast<int32_t>(lidar_sim_test::le32(r + 4)) / 1000.0,
                      static_cast<int32_t>(lidar_sim_test::le32(r + 8)) / 1000.0});
    }
  }
  return out;
}

// First point of each 5 cm voxel.
std::vector<P> thinned(const std::vector<P>& in) {
  std::unordered_set<long long> seen;
  std::vector<P> out;
  for (const P& p : in) {
    const long long ix = static_cast<long long>(std::floor(p.x / 0.05)) + (1 << 20);
    const long long iy = static_cast<long long>(std::floor(p.y / 0.05)) + (1 << 20);
    const long long iz = static_cast<long long>(std::floor(p.z / 0.05)) + (1 << 20);
    if (seen.insert((ix << 42) | (iy << 21) | iz).second) out.push_back(p);
  }
  return out;
}

// Nearest positive coordinate per axis direction; 0 when there is none or it lies beyond `limit`.
std::map<std::string, double> nearest(const std::vector<P>& pts, bool region_only) {
  double d[6] = {0, 0, 0, 0, 0, 0};
  auto take = [](double& slot, double v) {
    if (v > 0 && (slot == 0 || v < slot)) slot = v;
  };
  for (const P& p : pts) {
    if (region_only && !(p.x >= 0.1 && p.x <= 6 && p.y >= -2 && p.y <= 2 && p.z >= -0.5 && p.z <= 2)) continue;
    take(d[0], p.x);
    take(d[1], -p.x);
    take(d[2], p.y);
    take(d[3], -p.y);
    take(d[4], p.z);
    take(d[5], -p.z);
  }
  const double limit[6] = {6.0, 0.1, 2.0, 2.0, 2.0, 0.5};
  const char* names[6] = {"frente", "tras", "esquerda", "direita", "sup", "inf"};
  std::map<std::string, double> out;
  for (int i = 0; i < 6; ++i) out[names[i]] = d[i] > limit[i] ? 0.0 : d[i];
  return out;
}

Scene scene_file(const std::string& name) {
  Scene s;
  std::string error;
  EXPECT_TRUE(load_scene(std::string(LIDAR_SOURCE_DIR) + "/config/scenes/" + name, s, error)) << error;
  return s;
}

void expect_documented(const Scene& scene, bool region_only) {
  ASSERT_FALSE(scene.expected.empty());
  PointSource source(scene, field_of_view(9), Motion{}, RangeModel{}, 7);
  for (int window = 0; window < 3; ++window) {
    const auto got = nearest(thinned(measured_window(source, 0.15 * window)), region_only);
    for (const auto& [name, value] : scene.expected)
      EXPECT_NEAR(got.at(name), value, 1e-9) << scene.name << " " << name << " window " << window;
  }
}

// The corridor distances the service computes with its default robot box, the scene's level
// floor (when it has one) taken as the ground, over the window measured from `start_s`.
std::map<std::string, double> corridors(const Scene& scene, double start_s) {
  app::GroundEstimate ground;
  for (const ScenePlane& plane : scene.planes) {
    if (plane.normal.z == 1.0) {
      ground.seen = true;
      ground.height_m = static_cast<float>(-plane.point.z);
    }
  }
  PointSource source(scene, field_of_view(9), Motion{}, RangeModel{}, 7);
  std::vector<app::reference::Point3> points;
  for (const P& p : thinned(measured_window(source, start_s))) {
    points.push_back({static_cast<float>(p.x), static_cast<float>(p.y), static_cast<float>(p.z)});
  }
  const app::ObstacleDistances c =
      app::reference::corridor(points, app::ProcessingParams{}, 0, ground);
  return {{"frente", c.frente},   {"tras", c.tras}, {"esquerda", c.esquerda},
          {"direita", c.direita}, {"sup", c.cima},  {"inf", c.baixo}};
}

void expect_documented_corridor(const Scene& scene) {
  ASSERT_FALSE(scene.expected_corridor.empty());
  for (int window = 0; window < 3; ++window) {
    const auto got = corridors(scene, 0.15 * window);
    for (const auto& [name, value] : scene.expected_corridor)
      EXPECT_NEAR(got.at(name), value, 1e-6) << scene.name << " " << name << " window " << window;
  }
}

Scene test_scene(const std::string& name) {
  Scene s;
  std::string error;
  EXPECT_TRUE(load_scene(std::string(LIDAR_SOURCE_DIR) + "/tests/system/scenes/" + name, s, error))
      << error;
  return s;
}

TEST(Scene, DocumentedDistancesHoldInEveryWindow) {
  // A floor crosses the axis planes next to the sensor, so with one only the distances above
  // and below are set by known faces.
  expect_documented(default_scene(), false);  // over the whole cloud, as the service measures
  expect_documented(default_scene(), true);
  expect_documented(scene_file("appear.json"), false);
  expect_documented(test_scene("table.json"), false);  // no floor: all six faces
  for (const char* name :
       {"open.json", "room.json", "appear.json", "front_2m.json", "floor_object.json", "kerb.json"})
    expect_documented_corridor(scene_file(name));
}

// A toggle box is hidden until the first toggle, then appears and disappears by turns.
TEST(Scene, ToggleBoxesAppearAndDisappear) {
  Scene scene = scene_file("appear.json");
  const auto frente = [&scene] { return corridors(scene, 0).at("frente"); };
  EXPECT_NEAR(frente(), 0.0, 1e-9);
  EXPECT_EQ(toggle_boxes(scene), std::vector<std::string>{"bin shown"});
  EXPECT_NEAR(frente(), 1.2, 1e-6);
  EXPECT_EQ(toggle_boxes(scene), std::vector<std::string>{"bin hidden"});
  EXPECT_NEAR(frente(), 0.0, 1e-9);
}

TEST(Scene, OpenFileIsTheBuiltInScene) {
  const Scene file = scene_file("open.json");
  const Scene built = default_scene();
  ASSERT_EQ(file.planes.size(), built.planes.size());
  ASSERT_EQ(file.boxes.size(), built.boxes.size());
  for (std::size_t i = 0; i < file.boxes.size(); ++i) {
    EXPECT_EQ(file.boxes[i].min.x, built.boxes[i].min.x);
    EXPECT_EQ(file.boxes[i].max.z, built.boxes[i].max.z);
  }
  for (std::size_t i = 0; i < file.planes.size(); ++i)
    EXPECT_EQ(file.planes[i].point.z, built.planes[i].point.z);
  EXPECT_EQ(file.expected, built.expected);
  EXPECT_EQ(file.expected_corridor, built.expected_corridor);
}

TEST(Scene, PointsLieOnTheSurfacesTheyHit) {
  Scene scene;
  std::string error;
  ASSERT_TRUE(parse_scene(R"({"planes":[{"point":[0,0,-1],"normal":[0,0,2]}],
                               "boxes":[{"min":[3,-1,-1],"max":[4,1,1]}]})", scene, error)) << error;
  EXPECT_DOUBLE_EQ(scene.planes[0].normal.z, 1.0);
  PointSource source(scene, field_of_view(9), Motion{}, RangeModel{0.1, 40.0, 0.0}, 3);
  int on_floor = 0, on_box = 0, none = 0;
  for (const PointRecord& p : source.shots(20000, 0)) {
    if (p.x == 0 && p.y == 0 && p.z == 0) {
      EXPECT_EQ(p.reflectivity, 0);
      ++none;
      continue;
    }
    const bool floor = std::fabs(p.z + 1.0f) < 1e-4f;
    const bool box = std::fabs(p.x - 3.0f) < 1e-4f && p.y >= -1.0001f && p.y <= 1.0001f && p.z >= -1.0001f &&
                     p.z <= 1.0001f;
    EXPECT_TRUE(floor || box) << p.x << " " << p.y << " " << p.z;
    on_floor += floor;
    on_box += box;
  }
  EXPECT_GT(on_floor, 0);
  EXPECT_GT(on_box, 0);
  EXPECT_GT(none, 0);  // shots above the horizon find nothing within range

  // A tilted unit sees the level floor as a slope: points keep their range along the shot.
  Motion tilted;
  tilted.pitch_deg = 10;
  PointSource tilted_source(scene, field_of_view(9), tilted, RangeModel{}, 3);
  bool any_off_level = false;
  for (const PointRecord& p : tilted_source.shots(2000, 0))
    if (p.reflectivity == 50 && std::fabs(p.z + 1.0f) > 0.01f) any_off_level = true;
  EXPECT_TRUE(any_off_level);
}

TEST(Scene, RejectsMalformedFiles) {
  Scene s;
  std::string error;
  EXPECT_FALSE(parse_scene("[1,2]", s, error));
  EXPECT_FALSE(parse_scene(R"({"boxes":[{"min":[1,1],"max":[2,2,2]}]})", s, error));
  EXPECT_FALSE(parse_scene(R"({"boxes":[{"min":[3,1,1],"max":[2,2,2]}]})", s, error));
  EXPECT_FALSE(parse_scene(R"({"planes":[{"point":[0,0,0],"normal":[0,0,0]}]})", s, error));
  EXPECT_FALSE(parse_scene(R"({"planes":{}})", s, error));
  EXPECT_FALSE(load_scene("/nonexistent/scene.json", s, error));
}

TEST(ScanPattern, CoversTheFieldOfViewEvenlyWithoutRepeating) {
  ScanPattern omni(field_of_view(9));
  int quadrant[4] = {0, 0, 0, 0};
  double lowest = 1, highest = -1;
  std::unordered_set<long long> seen;
  for (int i = 0; i < 40000; ++i) {
    const Vec3 d = omni.next();
    EXPECT_NEAR(d.x * d.x + d.y * d.y + d.z * d.z, 1.0, 1e-9);
    quadrant[(d.x >= 0 ? 0 : 1) + (d.y >= 0 ? 0 : 2)]++;
    lowest = std::min(lowest, d.z);
    highest = std::max(highest, d.z);
    seen.insert(static_cast<long long>(std::llround(d.x * 1e9)) * 31 + std::llround(d.y * 1e9));
  }
  for (int q : quadrant) EXPECT_NEAR(q, 10000, 300);
  EXPECT_NEAR(lowest, -std::sin(60 * M_PI / 180), 0.01);
  EXPECT_NEAR(highest, std::sin(60 * M_PI / 180), 0.01);
  EXPECT_EQ(seen.size(), 40000u);

  ScanPattern forward(field_of_view(10));
  for (int i = 0; i < 5000; ++i) {
    const Vec3 d = forward.next();
    ASSERT_GT(d.x, 0.4);  // within 60 degrees either side of straight ahead
    ASSERT_LE(std::fabs(d.z), std::sin(25 * M_PI / 180) + 1e-9);
  }
}

}  // namespace
}  // namespace lidar_sim
