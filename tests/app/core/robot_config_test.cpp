// The service's own members of the configuration file: the robot's box (the default without the
// member, the member when it is well formed, and a malformed member refusing the start with
// status 255 before anything is started), the live view's address and the way to Redis.
#include "core/geometry_config.h"
#include "core/live_view_config.h"
#include "core/redis_config.h"
#include "core/robot_config.h"
#include "core/zone_config.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "tests/app/core/entry_point_runner.h"

namespace {

using ::testing::HasSubstr;

class RobotConfig : public entry_point_test::EntryPoint {
 protected:
  std::string write(const std::string& text) {
    const auto dir = std::filesystem::temp_directory_path() /
                     ("robot-box-" + std::to_string(std::random_device{}()));
    std::filesystem::create_directories(dir);
    const std::string path = (dir / "config.json").string();
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }
};

TEST_F(RobotConfig, DefaultWithoutTheMemberOrAReadableFileAndTheMemberWhenWellFormed) {
  for (const std::string& path :
       {write(R"({"OMNI": {}, "notes": [[[[[[1]]]]]]})"), write("{broken"), write("[1]"),
        std::string("/nonexistent/config.json"),
        std::filesystem::path(write("")).parent_path().string()}) {
    app::RobotBox box;
    box.max_x = 9.f;
    EXPECT_EQ(app::read_robot_box(path, box), std::nullopt) << path;
    EXPECT_EQ(box.max_x, 9.f) << "left as it was";
  }
  app::RobotBox box;
  EXPECT_EQ(app::read_robot_box(
                write(R"({"robot_box": {"min": [-0.6, -0.3, -0.8], "max": [0.1, 0.3, 0]}})"), box),
            std::nullopt);
  EXPECT_EQ(std::make_tuple(box.min_x, box.min_y, box.min_z, box.max_x, box.max_y, box.max_z),
            std::make_tuple(-0.6f, -0.3f, -0.8f, 0.1f, 0.3f, 0.f));
}

TEST_F(RobotConfig, MalformedMemberRefusesTheStart) {
  const char* malformed[] = {
      R"({"robot_box": null})",
      R"({"robot_box": [[-1, -1, -1], [1, 1, 1]]})",
      R"({"robot_box": {"min": [-1, -1], "max": [1, 1, 1]}})",
      R"({"robot_box": {"min": [-1, "-1", -1], "max": [1, 1, 1]}})",
      R"({"robot_box": {"min": [-1, -1, -1], "max": [1, 1, 1e39]}})",
      R"({"robot_box": {"min": [-1, -1, -1], "max": [1, -1, 1]}})",
      R"({"robot_box": {"min": [0.2, -1, -1], "max": [1, 1, 1]}})",
  };
  for (const char* text : malformed) {
    const std::string path = write(text);
    app::RobotBox box;
    const auto refused = app::read_robot_box(path, box);
    ASSERT_TRUE(refused.has_value()) << text;
    EXPECT_THAT(*refused, HasSubstr("[ERR] robot_box invalido em " + path + ": "));
  }

  testing::internal::CaptureStderr();
  const std::string path = write(malformed[5]);
  EXPECT_EQ(entry_point_test::run({"app", path}), -1);
  EXPECT_THAT(testing::internal::GetCapturedStderr(),
              HasSubstr("[ERR] robot_box invalido em " + path + ": min deve ser menor que max"));
  EXPECT_TRUE(fake_sdk::calls().empty()) << "nothing may start";
}

using GeometryMembers = RobotConfig;

TEST_F(GeometryMembers, ReadWhenGivenMalformedOnesRefuseTheStart) {
  app::MountingPose pose;
  EXPECT_EQ(app::read_mounting(write(R"({"mounting": {"rpy_deg": [180, 20, -5]}})"), pose),
            std::nullopt);
  EXPECT_EQ(std::make_tuple(pose.given, pose.rpy_deg[0], pose.rpy_deg[1], pose.xyz_m[2]),
            std::make_tuple(true, 180.f, 20.f, 0.f));
  app::CorridorLimits limits;
  EXPECT_EQ(app::read_corridor_limits(write(R"({"corridors": {"below_m": 0.2}})"), limits),
            std::nullopt);
  EXPECT_EQ(std::make_tuple(limits.behind, limits.below, limits.below_to_ground),
            std::make_tuple(6.f, 0.2f, false));
  app::GroundSettings ground;
  for (const char* text :
       {R"({"mounting": {"rpy_deg": [0, 20]}})", R"({"mounting": {"xyz_m": [0, "0", 0]}})",
        R"({"mounting": {"rpy_deg": [0, 0, 1e39]}})", R"({"corridors": {"ahead_m": 0}})",
        R"({"ground": {"margin_m": 2}})", R"({"ground": 0.05})"}) {
    const std::string path = write(text);
    const bool refused = app::read_mounting(path, pose) ||
                         app::read_corridor_limits(path, limits) ||
                         app::read_ground_settings(path, ground);
    EXPECT_TRUE(refused) << text;
  }
  testing::internal::CaptureStderr();
  const std::string path = write(R"({"mounting": {"rpy_deg": [0, 20]}})");
  EXPECT_EQ(entry_point_test::run({"app", path}), -1);
  EXPECT_THAT(testing::internal::GetCapturedStderr(),
              HasSubstr("[ERR] mounting invalido em " + path + ": \"rpy_deg\""));
  EXPECT_TRUE(fake_sdk::calls().empty()) << "nothing may start";
}

using LiveViewMember = RobotConfig;

TEST_F(LiveViewMember, AbsentLeavesItOffGivenFillsTheSettingsMalformedRefuses) {
  app::LiveViewConfig config;
  EXPECT_EQ(app::read_live_view_config(write(R"({"OMNI": {}})"), config), std::nullopt);
  EXPECT_FALSE(config.present);

  EXPECT_EQ(app::read_live_view_config(write(R"({"live_view": {}})"), config), std::nullopt);
  EXPECT_TRUE(config.present);
  EXPECT_EQ(config.settings.bind, "127.0.0.1") << "loopback unless another address is named";
  EXPECT_EQ(config.settings.port, 8765);

  EXPECT_EQ(app::read_live_view_config(write(R"({"live_view": {"bind": "0.0.0.0", "port": 9000}})"),
                                       config),
            std::nullopt);
  EXPECT_EQ(config.settings.bind, "0.0.0.0");
  EXPECT_EQ(config.settings.port, 9000);

  for (const char* text :
       {R"({"live_view": true})", R"({"live_view": {"port": 0}})",
        R"({"live_view": {"port": 65536}})", R"({"live_view": {"port": "80"}})",
        R"({"live_view": {"port": 80.5}})", R"({"live_view": {"bind": 1}})",
        R"({"live_view": {"bind": "localhost"}})", R"({"live_view": {"bind": "10.0.0.256"}})",
        R"({"live_view": {"bind": "1.2.3"}})", R"({"live_view": {"bind": "1.2.3.4.5"}})",
        R"({"live_view": {"bnid": "127.0.0.1"}})"}) {
    const std::string path = write(text);
    app::LiveViewConfig refused_config;
    const auto refused = app::read_live_view_config(path, refused_config);
    ASSERT_TRUE(refused.has_value()) << text;
    EXPECT_THAT(*refused, HasSubstr("[ERR] live_view invalido em " + path + ": ")) << text;
    EXPECT_FALSE(refused_config.present) << text;
  }
}

using RedisMember = RobotConfig;

// The way to Redis: the local TCP server without the member; a Unix socket or another server,
// a user and a password read from its own file when given (its first line, never the file's
// other text); anything malformed or a password that cannot be read refuses the start, and the
// refusal never shows the password.
TEST_F(RedisMember, DefaultGivenAndRefused) {
  app::RedisSettings redis;
  EXPECT_EQ(app::read_redis_config(write(R"({"OMNI": {}})"), redis), std::nullopt);
  EXPECT_EQ(redis.uri, "tcp://127.0.0.1:6379");
  EXPECT_TRUE(redis.user.empty());
  EXPECT_TRUE(redis.password.empty());

  // Paths go into JSON text: with forward slashes, Windows paths need no escaping.
  const auto json_path = [](const std::string& path) {
    return std::filesystem::path(path).generic_string();
  };
  const std::string secret = json_path(write("s3cr3t pass\nsecond line\n"));
  EXPECT_EQ(app::read_redis_config(
                write(R"({"redis": {"url": "unix:///run/redis/redis.sock", "user": "lidar",
                                   "password_file": ")" +
                      secret + R"("}})"),
                redis),
            std::nullopt);
  EXPECT_EQ(redis.uri, "unix:///run/redis/redis.sock");
  EXPECT_EQ(redis.user, "lidar");
  EXPECT_EQ(redis.password, "s3cr3t pass");

  const std::string empty = json_path(write("\n"));
  const std::string huge = json_path(write(std::string(5000, 'x')));
  for (const std::string& text :
       {std::string(R"({"redis": "tcp://127.0.0.1"})"), std::string(R"({"redis": {"url": 6379}})"),
        std::string(R"({"redis": {"url": "redis://127.0.0.1"}})"),
        std::string(R"({"redis": {"url": "tcp://:6379"}})"),
        std::string(R"({"redis": {"url": "tcp://h:99999"}})"),
        std::string(R"({"redis": {"url": "unix://relative.sock"}})"),
        std::string(R"({"redis": {"user": "two words", "password_file": ")") + secret + "\"}}",
        std::string(R"({"redis": {"user": "lidar"}})"),
        std::string(R"({"redis": {"password_file": "/nonexistent/secret"}})"),
        std::string(R"({"redis": {"password_file": ")") + empty + "\"}}",
        std::string(R"({"redis": {"password_file": ")") + huge + "\"}}",
        std::string(R"({"redis": {"password": "inline"}})")}) {
    const std::string path = write(text);
    app::RedisSettings refused_settings;
    const auto refused = app::read_redis_config(path, refused_settings);
    ASSERT_TRUE(refused.has_value()) << text;
    EXPECT_THAT(*refused, HasSubstr("[ERR] redis invalido em " + path + ": ")) << text;
    EXPECT_EQ(refused->find("s3cr3t"), std::string::npos) << text;
    EXPECT_EQ(refused_settings.uri, "tcp://127.0.0.1:6379") << text;
  }
}

}  // namespace

using ZonesMember = RobotConfig;

TEST_F(ZonesMember, ReadWhenWellFormedHostileOnesRefuseTheStart) {
  std::vector<app::ZoneSettings> zones;
  EXPECT_EQ(app::read_zones(write(R"({"zones": [
      {"name": "parar", "min": [0.3, -0.3, -0.3], "max": [1.5, 0.3, 0.3], "min_points": 5,
       "release_ms": 300},
      {"name": "Lento_2-b", "min": [-1, -1, -1], "max": [1, 1, 1]}]})"),
                            zones),
            std::nullopt);
  ASSERT_EQ(zones.size(), 2u);
  EXPECT_EQ(
      std::make_tuple(zones[0].name, zones[0].max[0], zones[0].min_points, zones[0].release_ms),
      std::make_tuple(std::string("parar"), 1.5f, 5u, 300u));
  EXPECT_EQ(zones[1].name, "Lento_2-b");

  const std::string box = R"("min": [0, 0, 0], "max": [1, 1, 1])";
  std::string seventeen = R"({"zones": [)";
  for (int i = 0; i < 17; ++i)
    seventeen +=
        (i ? "," : "") + std::string(R"({"name": "z)") + std::to_string(i) + "\", " + box + "}";
  seventeen += "]}";
  const std::string hostile[] = {
      R"({"zones": {"name": "a"}})",
      R"({"zones": [7]})",
      R"({"zones": [{"min": [0, 0, 0], "max": [1, 1, 1]}]})",
      R"({"zones": [{"name": "a", "min": [0, 0, 0]}]})",
      R"({"zones": [{"name": "a", "min": [0, 0, 0], "max": [1, 0, 1]}]})",
      R"({"zones": [{"name": "a", "min": [0, 0, 0], "max": [1, 1, 1e39]}]})",
      R"({"zones": [{"name": "a", )" + box + R"(, "min_points": 0}]})",
      R"({"zones": [{"name": "a", )" + box + R"(, "min_points": 2.5}]})",
      R"({"zones": [{"name": "a", )" + box + R"(, "release_ms": -1}]})",
      R"({"zones": [{"name": "a", )" + box + R"(, "release_ms": 1e12}]})",
      R"({"zones": [{"name": "a", )" + box + R"(, "raio": 1}]})",
      R"({"zones": [{"name": "", )" + box + "}]}",
      R"({"zones": [{"name": "a b", )" + box + "}]}",
      R"({"zones": [{"name": "a\r\nPUBLISH", )" + box + "}]}",
      R"({"zones": [{"name": "zona.a", )" + box + "}]}",
      R"({"zones": [{"name": ")" + std::string(33, 'a') + "\", " + box + "}]}",
      R"({"zones": [{"name": 5, )" + box + "}]}",
      R"({"zones": [{"name": "a", )" + box + R"(}, {"name": "a", )" + box + "}]}",
      seventeen,
  };
  for (const std::string& text : hostile) {
    const std::string path = write(text);
    std::vector<app::ZoneSettings> refused_zones;
    const auto refused = app::read_zones(path, refused_zones);
    ASSERT_TRUE(refused.has_value()) << text;
    EXPECT_THAT(*refused, HasSubstr("[ERR] zones invalido em " + path + ": ")) << text;
    EXPECT_TRUE(refused_zones.empty()) << text;
  }

  testing::internal::CaptureStderr();
  const std::string path = write(hostile[17]);
  EXPECT_EQ(entry_point_test::run({"app", path}), -1);
  EXPECT_THAT(testing::internal::GetCapturedStderr(),
              HasSubstr("[ERR] zones invalido em " + path + ": nome repetido \"a\""));
  EXPECT_TRUE(fake_sdk::calls().empty()) << "nothing may start";
}
