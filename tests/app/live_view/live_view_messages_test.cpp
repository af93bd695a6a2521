// The channels' payloads as a viewer reads them back (points decoded from base64, cubes where
// the boxes are, nothing drawn for distances that are not numbers), and the worker's feed.
#include "live_view/live_view_messages.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "live_view/live_view_feed.h"

namespace app {
namespace {

using nlohmann::json;

std::string base64(const std::string& text) {
  std::string out;
  append_base64(out, reinterpret_cast<const unsigned char*>(text.data()), text.size());
  return out;
}

std::vector<unsigned char> unbase64(const std::string& text) {
  static const std::string digits =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::vector<unsigned char> out;
  uint32_t bits = 0;
  int count = 0;
  for (const char c : text) {
    if (c == '=') break;
    bits = (bits << 6) | static_cast<uint32_t>(digits.find(c));
    if ((count += 6) >= 8) out.push_back(static_cast<unsigned char>(bits >> (count -= 8)));
  }
  return out;
}

const json* entity(const json& scene, const std::string& id) {
  for (const json& e : scene.at("entities")) {
    if (e.at("id") == id) return &e;
  }
  return nullptr;
}

TEST(Base64, StandardAlphabetWithPadding) {
  EXPECT_EQ(base64(""), "");
  EXPECT_EQ(base64("f"), "Zg==");
  EXPECT_EQ(base64("fo"), "Zm8=");
  EXPECT_EQ(base64("foo"), "Zm9v");
  EXPECT_EQ(base64("foobar"), "Zm9vYmFy");
  EXPECT_EQ(base64(std::string("\xff\xfe\x00", 3)), "//4A");
}

TEST(PointCloudMessage, PointsComeBackAsPackedFloatsWithTheStamp) {
  const std::vector<XyzPoint> points = {{1.5f, -2.25f, 0.125f}, {-0.5f, 3.f, -1.f}};
  const json cloud = json::parse(point_cloud_message(1712345678901ull, points.data(), 2));
  EXPECT_EQ(cloud["timestamp"], (json{{"sec", 1712345678}, {"nsec", 901000000}}));
  EXPECT_EQ(cloud["frame_id"], "lidar");
  EXPECT_EQ(cloud["point_stride"], 12);
  const auto bytes = unbase64(cloud["data"]);
  ASSERT_EQ(bytes.size(), 24u);
  float xyz[6];
  std::memcpy(xyz, bytes.data(), sizeof xyz);
  EXPECT_EQ(std::vector<float>(xyz, xyz + 6),
            (std::vector<float>{1.5f, -2.25f, 0.125f, -0.5f, 3.f, -1.f}));
  const json empty =
      json::parse(point_cloud_message(0, static_cast<const CloudPoint*>(nullptr), 0));
  EXPECT_EQ(empty["data"], "");
}

TEST(SceneUpdateMessage, BoxesLinesRobotAndCorridors) {
  ObstacleBox box;
  box.cx = 2.3f;
  box.cy = 1.4f;
  box.cz = -0.4f;
  box.d = 0.6f;  // along x
  box.w = 0.8f;  // along y
  box.h = 0.2f;  // along z
  FrameSummary frame;
  frame.distances.frente = 2.0f;
  frame.distances.esquerda = 1.0f;
  frame.distances.direita = 1.5f;
  frame.corridor.frente = 3.0f;
  ProcessingParams params;
  const json scene = json::parse(scene_update_message(1000, frame, {box}, params));

  const json& cube = entity(scene, "caixas")->at("cubes").at(0);
  EXPECT_FLOAT_EQ(cube["pose"]["position"]["x"].get<float>(), 2.3f);
  EXPECT_FLOAT_EQ(cube["size"]["x"].get<float>(), 0.6f);
  EXPECT_FLOAT_EQ(cube["size"]["y"].get<float>(), 0.8f);
  EXPECT_FLOAT_EQ(cube["size"]["z"].get<float>(), 0.2f);

  // Each line along its distance's own direction: esquerda towards +y, direita towards -y.
  const json& lines = *entity(scene, "distancias");
  EXPECT_EQ(lines["lines"][0]["points"][1], (json{{"x", 2.0}, {"y", 0.0}, {"z", 0.0}}));
  EXPECT_FLOAT_EQ(lines["lines"][2]["points"][1]["y"].get<float>(), 1.0f);
  EXPECT_FLOAT_EQ(lines["lines"][3]["points"][1]["y"].get<float>(), -1.5f);
  EXPECT_EQ(lines["texts"][0]["text"], "frente: 200 cm");
  EXPECT_EQ(lines["texts"][1]["text"], "tras: --");

  EXPECT_EQ(entity(scene, "robo")->at("lines").at(0).at("points").size(), 24u);
  // The front corridor runs from the robot's front face to the obstacle; the others, with
  // nothing in them, to the range limits, except behind, where the limit (0.1 m) lies within the
  // robot.
  const json& corridors = entity(scene, "corredores")->at("cubes");
  ASSERT_EQ(corridors.size(), 5u);
  EXPECT_FLOAT_EQ(corridors[0]["size"]["x"].get<float>(), 3.0f - params.robot.max_x);
  EXPECT_FLOAT_EQ(corridors[0]["pose"]["position"]["x"].get<float>(),
                  (3.0f + params.robot.max_x) / 2);
  EXPECT_GT(corridors[0]["color"]["a"].get<double>(), corridors[1]["color"]["a"].get<double>());
}

TEST(SceneUpdateMessage, StreamDownDrawsNoLinesOrCorridors) {
  FrameSummary down;
  const float nan = std::numeric_limits<float>::quiet_NaN();
  down.distances.frente = down.distances.baixo = nan;
  down.corridor.frente = down.corridor.tras = down.corridor.esquerda = nan;
  down.corridor.direita = down.corridor.cima = down.corridor.baixo = nan;
  const json scene = json::parse(scene_update_message(0, down, {}, ProcessingParams{}));
  EXPECT_EQ(entity(scene, "distancias")->at("texts")[0]["text"], "frente: --");
  EXPECT_EQ(entity(scene, "distancias")->at("lines")[0]["points"][1]["x"], 0.0);
  EXPECT_TRUE(entity(scene, "corredores")->at("cubes").empty());
}

TEST(StateMessage, DistancesThatAreNotNumbersAreNull) {
  LiveState state;
  state.ok = false;
  state.frame.distances.frente = std::numeric_limits<float>::quiet_NaN();
  state.frame.distances.tras = 0.25f;
  state.attitude.roll = 3.1415927f / 2;
  const json parsed = json::parse(state_message(state));
  EXPECT_EQ(parsed["status"], "OFF");
  EXPECT_TRUE(parsed["dist"]["frente"].is_null());
  EXPECT_FLOAT_EQ(parsed["dist"]["tras"].get<float>(), 0.25f);
  EXPECT_TRUE(parsed["caixa"].is_null());
  EXPECT_NEAR(parsed["imu"]["roll"].get<double>(), 90.0, 1e-4);
}

TEST(Transforms, BaseLinkToLidarCarriesRollAndPitch) {
  AttitudeState tilt;
  tilt.roll = 0.2f;
  tilt.pitch = -0.1f;
  tilt.yaw = 1.0f;
  const json t = json::parse(frame_transforms_message(5, tilt))["transforms"][0];
  EXPECT_EQ(t["parent_frame_id"], "base_link");
  EXPECT_EQ(t["child_frame_id"], "lidar");
  const double x = t["rotation"]["x"], y = t["rotation"]["y"], z = t["rotation"]["z"],
               w = t["rotation"]["w"];
  EXPECT_NEAR(x * x + y * y + z * z + w * w, 1.0, 1e-9);
  // Back to roll and pitch (yaw, the drifting integral, is left out).
  EXPECT_NEAR(std::atan2(2 * (w * x + y * z), 1 - 2 * (x * x + y * y)), 0.2, 1e-6);
  EXPECT_NEAR(std::asin(2 * (w * y - z * x)), -0.1, 1e-6);
  EXPECT_NEAR(std::atan2(2 * (w * z + x * y), 1 - 2 * (y * y + z * z)), 0.0, 1e-6);
}

TEST(Feed, CopiesOnlyWhatIsWantedAndKeepsTheNewestFrame) {
  Cloud thinned;
  thinned.points = {{1.f, 2.f, 3.f}};
  StreamEntry entry;
  LiveFrame out;

  set_live_view_wants(0);
  entry.stamp_ms = 1;
  offer_live_view_frame(entry, thinned);
  EXPECT_FALSE(take_live_view_frame(out)) << "nobody connected: nothing handed over";

  int woken = 0;
  set_live_view_waker([&woken] { ++woken; });
  set_live_view_wants(kWantFrames);
  offer_live_view_frame(entry, thinned);
  entry.stamp_ms = 2;
  offer_live_view_frame(entry, thinned);
  ASSERT_TRUE(take_live_view_frame(out));
  EXPECT_EQ(out.entry.stamp_ms, 2u) << "an untaken frame is replaced";
  EXPECT_FALSE(out.has_points);
  EXPECT_TRUE(out.points.empty());
  EXPECT_FALSE(take_live_view_frame(out));
  EXPECT_EQ(woken, 2);

  set_live_view_wants(kWantFrames | kWantPoints);
  offer_live_view_frame(entry, thinned);
  ASSERT_TRUE(take_live_view_frame(out));
  ASSERT_TRUE(out.has_points);
  ASSERT_EQ(out.points.size(), 1u);
  EXPECT_EQ(out.points[0].z, 3.f);

  set_live_view_waker({});
  offer_live_view_frame(entry, thinned);
  EXPECT_EQ(woken, 3) << "a cleared waker is not called";
  set_live_view_wants(0);
}

}  // namespace
}  // namespace app
