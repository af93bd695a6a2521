// The two state documents as stored by a real redis-server.
#include "publication/state_documents.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <random>

#include "tests/app/publication/redis_server.h"

namespace app {
namespace {

using testing_support::RedisProbe;
using testing_support::RedisServer;

const float kHalfPi = static_cast<float>(3.14159265358979323846 / 2);

// The snapshot's conversion: single precision, then widened.
double snapshot_degrees(float radians) {
  return static_cast<double>(radians * 180.0f / 3.1415927f);
}

class StateDocumentsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server.start());
    probe = std::make_unique<RedisProbe>(server.port());
    redis_publisher = std::make_unique<RedisPublisher>(server.uri());
  }
  void TearDown() override { redis_publisher.reset(); }

  StatusSnapshot snapshot_with_device() {
    StatusSnapshot s;
    s.timestamp = 1700000000456ull;
    s.conectado = true;
    s.executando = true;
    s.sensor_ativo = false;
    s.lidar_ip = "192.168.1.12";
    s.host_ip = "";
    s.firmware_version = "1.2\"3\\";
    s.dev_type = "OMNI";
    s.handle = 201435328u;
    s.freq_pcl = 99.999;
    s.freq_imu = 200.0;
    s.imu_timestamp = 1700000000123ull;
    s.roll_deg = snapshot_degrees(kHalfPi);
    s.pitch_deg = -0.004;
    s.yaw_deg = 12.5;
    s.temperatura = 25.34f;
    s.vezes_ligado = 17;
    const double nan = std::numeric_limits<float>::quiet_NaN();
    s.frente = nan;
    s.tras = 0.0;
    s.esquerda = 1.005f;
    s.direita = nan;
    s.cima = 2.5;
    s.baixo = nan;
    return s;
  }

  RedisServer server;
  std::unique_ptr<RedisProbe> probe;
};

TEST_F(StateDocumentsTest, LidarDocumentStoredShape) {
  ASSERT_TRUE(publish_lidar_document(snapshot_with_device()));
  EXPECT_EQ(probe->get(kLidarDocumentKey).value_or(""),
            R"({"bboxes":[],"conectado":true,"dev_type":"OMNI",)"
            R"("dist":{"direita":"nan","esquerda":1.0,"frente":"nan","inf":"nan","sup":2.5,)"
            R"("tras":0.0},"executando":true,"firmware_version":"1.2\"3\\",)"
            R"("freq":{"imu":200.0,"pcl":100.0},"handle":201435328,"host_ip":"",)"
            R"("imu":{"pitch":-0.0,"roll":90.0,"timestamp":1700000000123.0,"yaw":12.5},)"
            R"("lidar_ip":"192.168.1.12","sensor_ativo":false,)"
            R"("status":{"temperatura":25.34,"vezes_ligado":17},"timestamp":1700000000456})");
  const long long ttl = probe->ttl(kLidarDocumentKey);
  EXPECT_GT(ttl, 0);
  EXPECT_LE(ttl, 10);
}

TEST_F(StateDocumentsTest, TwentyNearestBoxesAndAnEmptyListOnceTheyHaveGone) {
  StatusSnapshot s = snapshot_with_device();
  for (int i = 0; i < 25; ++i) {
    ObstacleBox box;
    box.frente_m = box.cx = 0.5f + 0.25f * static_cast<float>(i);
    box.voxels = static_cast<uint32_t>(100 + i);
    s.boxes.push_back(box);
  }
  std::shuffle(s.boxes.begin(), s.boxes.end(), std::mt19937(7));
  ASSERT_TRUE(publish_lidar_document(s));

  auto boxes = nlohmann::json::parse(probe->get(kLidarDocumentKey).value_or("{}")).at("bboxes");
  ASSERT_EQ(boxes.size(), 20u);
  for (int i = 0; i < 20; ++i) {
    EXPECT_EQ(boxes[i].at("voxels"), 100 + i);
    EXPECT_DOUBLE_EQ(boxes[i].at("frente_m").get<double>(), 0.5 + 0.25 * i);
  }
  EXPECT_EQ(boxes[0].dump(),
            R"({"cx":0.5,"cy":0.0,"cz":0.0,"d":0.0,"dist_m":0.0,"dist_xy_m":0.0,"frente_m":0.5,)"
            R"("h":0.0,"max_x":0.0,"max_y":0.0,"max_z":0.0,"min_x":0.0,"min_y":0.0,"min_z":0.0,)"
            R"("t_ms":0,"voxels":100,"w":0.0})");

  // The obstacles moved away: the stored boxes must not outlive them.
  s.boxes.clear();
  ASSERT_TRUE(publish_lidar_document(s));
  boxes = nlohmann::json::parse(probe->get(kLidarDocumentKey).value_or("{}")).at("bboxes");
  EXPECT_EQ(boxes, nlohmann::json::array());
}

TEST_F(StateDocumentsTest, ImuDocumentStoredShape) {
  AttitudeState a;
  a.t_ms = 1700000000999ull;
  a.roll = kHalfPi;
  a.pitch = -kHalfPi / 2;
  a.yaw = 0.f;
  a.latencia_ms = 0.25f;
  a.frequencia_hz = 199.99999f;
  {
    std::lock_guard<std::mutex> hold(state_mutex);
    attitude = a;
  }
  publish_imu_document();
  EXPECT_EQ(probe->get(kImuDocumentKey).value_or(""),
            R"({"frequencia":200.0,"latencia":0.25,"pitch":-45.0,"roll":90.0,)"
            R"("timestamp":1700000000999,"yaw":0.0})");
  const long long ttl = probe->ttl(kImuDocumentKey);
  EXPECT_GT(ttl, 0);
  EXPECT_LE(ttl, 3);
}

TEST_F(StateDocumentsTest, WithoutPublisherEveryCycleReportsItInWindows1252) {
  redis_publisher.reset();
  testing::internal::CaptureStderr();
  EXPECT_FALSE(publish_lidar_document(snapshot_with_device()));
  publish_imu_document();
  EXPECT_FALSE(publish_lidar_document(snapshot_with_device()));
  const std::string line = "[STATUS] RedisPublisher n\xE3o inicializado\n";
  EXPECT_EQ(testing::internal::GetCapturedStderr(), line + line);
  EXPECT_FALSE(probe->get(kLidarDocumentKey).has_value());
  EXPECT_FALSE(probe->get(kImuDocumentKey).has_value());
}

}  // namespace
}  // namespace app
