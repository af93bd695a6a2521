#include "perception/point_intake.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <thread>
#include <utility>

#include <gtest/gtest.h>

#include "core/app_health.h"
#include "core/clocks.h"
#include "core/shared_state.h"
#include "perception/mounting.h"
#include "perception/datagram_clock.h"
#include "perception/packet_rate.h"
#include "perception_test_support.h"
#include "tests/app/window_test_support.h"

namespace app {
namespace {

using test::as_packet;

class PointIntake : public ::testing::Test {
 protected:
  void SetUp() override { test::reset_perception_state(); }
  void TearDown() override { test::reset_perception_state(); }

  static FrameMailbox mailbox() {
    std::lock_guard<std::mutex> hold(frame_mutex);
    return frame_mailbox;
  }
};

void expect_point(const CloudPoint& p, float x, float y, float z) {
  EXPECT_FLOAT_EQ(p.x, x);
  EXPECT_FLOAT_EQ(p.y, y);
  EXPECT_FLOAT_EQ(p.z, z);
  EXPECT_EQ(p.r, 255);
  EXPECT_EQ(p.g, 255);
  EXPECT_EQ(p.b, 255);
}

TEST_F(PointIntake, DecodesBothCartesianFormatsWithSignsAndScale) {
  auto high = test::high_points({{1000, -2000, 500}, {-123456, 7, -1}});
  on_point_cloud(0x0C01A8C0u, kDeviceTypeOmni, as_packet(high), nullptr);
  EXPECT_EQ(lidar_handle.load(), 0x0C01A8C0u);

  PointFrame cloud = copy_latest_cloud();
  ASSERT_EQ(cloud.points.size(), 2u);
  expect_point(cloud.points[0], 1.0f, -2.0f, 0.5f);
  expect_point(cloud.points[1], -123.456f, 0.007f, -0.001f);

  window_clear(live_window);
  auto low = test::low_points({{100, -200, 50}, {-32768, 32767, -1}});
  on_point_cloud(0x0C01A8C0u, kDeviceTypeOmni, as_packet(low), nullptr);
  cloud = copy_latest_cloud();
  ASSERT_EQ(cloud.points.size(), 2u);
  expect_point(cloud.points[0], 1.0f, -2.0f, 0.5f);
  expect_point(cloud.points[1], -327.68f, 327.67f, -0.01f);

  // The intake decodes every datagram over the same buffer: a shorter one after a longer one
  // leaves nothing of it behind, and the window keeps each datagram's own points.
  window_clear(live_window);
  auto three = test::high_points({{1, 2, 3}, {4, 5, 6}, {7, 8, 9}});
  auto one = test::low_points({{-1, -2, -3}});
  on_point_cloud(0x0C01A8C0u, kDeviceTypeOmni, as_packet(three), nullptr);
  on_point_cloud(0x0C01A8C0u, kDeviceTypeOmni, as_packet(one), nullptr);
  cloud = copy_latest_cloud();
  ASSERT_EQ(cloud.points.size(), 4u);
  expect_point(cloud.points[0], -0.01f, -0.02f, -0.03f);  // newest datagram first
  expect_point(cloud.points[1], 0.001f, 0.002f, 0.003f);
  expect_point(cloud.points[3], 0.007f, 0.008f, 0.009f);
}

// The pose's convention: nose-down, the unit's forward is the robot's down; upside down and
// turned left, roll first, then yaw. The origin stays at the LiDAR.
TEST_F(PointIntake, AMountingPoseTurnsEveryPointIntoTheRobotsAxes) {
  MountingPose pose;
  pose.given = true;
  for (const auto& [rpy, expected] :
       {std::pair<std::array<float, 3>, std::array<float, 3>>{{0, 90, 0}, {3, 2, -1}},
        {{180, 0, 90}, {2, 1, -3}}}) {
    std::copy(rpy.begin(), rpy.end(), pose.rpy_deg);
    set_intake_mounting(pose);
    window_clear(live_window);
    auto datagram = test::high_points({{1000, 2000, 3000}});
    on_point_cloud(1, 0, as_packet(datagram), nullptr);
    const CloudPoint p = copy_latest_cloud().points.at(0);
    EXPECT_NEAR(p.x, expected[0], 1e-5f);
    EXPECT_NEAR(p.y, expected[1], 1e-5f);
    EXPECT_NEAR(p.z, expected[2], 1e-5f);
  }
  set_intake_mounting(MountingPose{});
}

TEST_F(PointIntake, PublishesTheWindowToViewerAndMailbox) {
  auto first = test::high_points({{1000, 0, 0}});
  auto second = test::high_points({{2000, 0, 0}, {3000, 0, 0}});
  on_point_cloud(1, 0, as_packet(first), nullptr);
  on_point_cloud(1, 0, as_packet(second), nullptr);

  const PointFrame cloud = copy_latest_cloud();
  ASSERT_EQ(cloud.points.size(), 3u);  // newest datagram first
  EXPECT_FLOAT_EQ(cloud.points[0].x, 2.0f);
  EXPECT_FLOAT_EQ(cloud.points[1].x, 3.0f);
  EXPECT_FLOAT_EQ(cloud.points[2].x, 1.0f);
  EXPECT_TRUE(sensor_ativo.load());
  EXPECT_EQ(cloud.stamp_ms, last_pcl_ms.load());

  const FrameMailbox box = mailbox();
  EXPECT_TRUE(box.pending);
  EXPECT_EQ(box.handoff_ms, cloud.stamp_ms);
  const PointFrame frame = test::content_of(live_window);  // what the worker thins
  EXPECT_EQ(frame.points.size(), 3u);
  EXPECT_TRUE(copy_viewer_cloud().points.empty());  // not in MAP mode
}

TEST_F(PointIntake, EmptyNullAndUndecodedDatagrams) {
  auto empty = test::high_points({});
  on_point_cloud(5, 0, as_packet(empty), nullptr);
  on_point_cloud(6, 0, nullptr, nullptr);
  EXPECT_EQ(lidar_handle.load(), 6u);
  EXPECT_FALSE(sensor_ativo.load());
  EXPECT_EQ(last_pcl_ms.load(), 0u);
  EXPECT_FALSE(mailbox().pending);

  auto points = test::high_points({{1000, 0, 0}});
  on_point_cloud(1, 0, as_packet(points), nullptr);
  {
    std::lock_guard<std::mutex> hold(frame_mutex);
    frame_mailbox.pending = false;
  }

  // Datagrams without points (a form not decoded here, or no records) are counted, but they
  // neither keep the point stream alive nor hand the worker an empty frame.
  sensor_ativo = false;
  const uint64_t stamp = steady_ms() - 10;
  last_pcl_ms = stamp;
  const uint64_t undecoded_before = copy_app_health().undecoded_point_datagrams;
  auto other = test::make_header(7, 4, 0);
  on_point_cloud(1, 0, as_packet(other), nullptr);
  on_point_cloud(1, 0, as_packet(empty), nullptr);
  EXPECT_EQ(copy_app_health().undecoded_point_datagrams, undecoded_before + 2);
  EXPECT_NE(last_undecoded_pcl_ms.load(), 0u);
  EXPECT_EQ(last_pcl_ms.load(), stamp);
  EXPECT_FALSE(sensor_ativo.load());
  EXPECT_EQ(freq_pcl.load(), 0.0);
  EXPECT_FALSE(mailbox().pending);
  EXPECT_EQ(copy_latest_cloud().points.size(), 1u);
}

TEST_F(PointIntake, PacketRateIsSmoothedAndSkipsZeroIntervals) {
  auto points = test::high_points({{1000, 0, 0}});
  on_point_cloud(1, 0, as_packet(points), nullptr);
  EXPECT_EQ(freq_pcl.load(), 0.0);  // a rate needs two packets

  freq_pcl = 50.0;
  last_pcl_ms = steady_ms() - 10;
  on_point_cloud(1, 0, as_packet(points), nullptr);
  // 0.8 x 50 + 0.2 x (1000 / interval), the interval 10 ms or a little more.
  EXPECT_LE(freq_pcl.load(), 60.0 + 1e-9);
  EXPECT_GT(freq_pcl.load(), 55.0);

  // An arrival no later than the previous one is not an interval.
  const double before = freq_pcl.load();
  last_pcl_ms = steady_ms() + 1000;
  on_point_cloud(1, 0, as_packet(points), nullptr);
  EXPECT_EQ(freq_pcl.load(), before);
}

int64_t arrival_ns = 0;
int64_t reported_arrival() { return arrival_ns; }

// A datagram's rate, its age in the window and its frame's stamp are its arrival, not the time
// its batch reached the callback.
TEST_F(PointIntake, DatagramsAreStampedWithTheirArrival) {
  use_datagram_arrival_clock(reported_arrival);
  auto points = test::high_points({{1000, 0, 0}});
  arrival_ns = (steady_ms() - 120) * 1'000'000;
  on_point_cloud(1, 0, as_packet(points), nullptr);
  arrival_ns += 40'000'000;
  on_point_cloud(1, 0, as_packet(points), nullptr);
  use_datagram_arrival_clock(nullptr);
  EXPECT_EQ(last_pcl_ms.load(), static_cast<uint64_t>(arrival_ns / 1'000'000));
  EXPECT_EQ(mailbox().handoff_ms, last_pcl_ms.load());
  EXPECT_EQ(window_run_ms(live_window), 40u);
}

TEST(PacketRate, StreamsFasterThanTheMillisecondClockReadTheirRealRate) {
  std::atomic<uint64_t> last_ms{0};
  std::atomic<double> rate{0.0};
  PacketRateCounter counter;
  // 2,083 packets per second stamped on a millisecond clock: 2 or 3 in each millisecond.
  for (uint64_t k = 0; k < 4000; ++k) {
    note_packet_arrival(last_ms, rate, counter, 1000 + k * 1000 / 2083);
    if (k > 500) {
      EXPECT_NEAR(rate.load(), 2083.0, 0.03 * 2083.0) << "packet " << k;
    }
  }

  // Slower streams: one sample per packet interval of 10 ms or more, pooled below that.
  for (const uint64_t interval : {5u, 10u, 25u}) {
    rate = 0.0;
    counter = PacketRateCounter{};
    last_ms = 0;
    for (uint64_t t = 10000; t < 12000; t += interval) note_packet_arrival(last_ms, rate, counter, t);
    EXPECT_NEAR(rate.load(), 1000.0 / double(interval), 1e-6) << interval;
  }
}

TEST_F(PointIntake, MapModeAccumulatesEachDatagramIntoTheViewerCloud) {
  debug_mode = true;
  map_mode = true;
  auto a = test::high_points({{1000, 0, 0}});
  auto b = test::high_points({{2000, 0, 0}});
  on_point_cloud(1, 0, as_packet(a), nullptr);
  window_clear(live_window);  // the map keeps what the live window has let go
  on_point_cloud(1, 0, as_packet(b), nullptr);

  const PointFrame map = copy_viewer_cloud();
  ASSERT_EQ(map.points.size(), 2u);
  EXPECT_FLOAT_EQ(map.points[0].x, 2.0f);
  EXPECT_FLOAT_EQ(map.points[1].x, 1.0f);
  EXPECT_EQ(copy_latest_cloud().points.size(), 1u);

  debug_mode = false;
  auto c = test::high_points({{3000, 0, 0}});
  on_point_cloud(1, 0, as_packet(c), nullptr);
  EXPECT_EQ(copy_viewer_cloud().points.size(), 2u);
}

PointFrame frame_of(std::vector<float> xs, uint64_t stamp) {
  PointFrame frame;
  frame.stamp_ms = stamp;
  for (float x : xs) frame.points.push_back(CloudPoint{x, 0.f, 0.f});
  return frame;
}

std::vector<float> xs_of(const PointFrame& frame) {
  std::vector<float> xs;
  for (const auto& p : frame.points) xs.push_back(p.x);
  return xs;
}

TEST_F(PointIntake, WindowSnapshotOrderBudgetAndRetention) {
  live_window.window_ms = 0;
  live_window.max_points = 3;
  test::push_frame(live_window, frame_of({1, 2}, 10));  // a, b
  test::push_frame(live_window, frame_of({3, 4}, 20));  // c, d
  const PointFrame snap = test::snapshot(live_window, 20);
  EXPECT_EQ(xs_of(snap), (std::vector<float>{3, 4, 2}));
  EXPECT_EQ(snap.stamp_ms, 20u);

  test::push_frame(live_window, frame_of({}, 30));  // empty datagrams are not stored
  EXPECT_EQ(test::snapshot(live_window, 30).stamp_ms, 20u);

  window_clear(live_window);
  live_window.window_ms = 150;
  test::push_frame(live_window, frame_of({1}, 1000));
  EXPECT_EQ(test::snapshot(live_window, 1150).points.size(), 1u);
  EXPECT_TRUE(test::snapshot(live_window, 1151).points.empty());
}

TEST_F(PointIntake, MapWindowRetainsOnlyTheNewestMaxPoints) {
  map_window.window_ms = 0;
  map_window.max_points = 4;
  for (int i = 0; i < 10; ++i) {
    test::push_frame(map_window, frame_of({float(2 * i), float(2 * i + 1)}, 100 + i));
  }
  {
    std::lock_guard<std::mutex> hold(map_window.lock);
    EXPECT_EQ(map_window.queue.size(), 2u);
  }
  EXPECT_EQ(xs_of(test::snapshot(map_window, 200)), (std::vector<float>{18, 19, 16, 17}));
}

// Drives the worker on its own thread and reports which hand-offs it processed through the
// stamp of the stored distances.
class Worker : public PointIntake {
 protected:
  void SetUp() override {
    PointIntake::SetUp();
    processing_active = true;
    thread_ = std::thread(processing_worker_loop);
  }
  void TearDown() override {
    stop();
    PointIntake::TearDown();
  }
  void stop() {
    stop_processing_worker();
    if (thread_.joinable()) thread_.join();
  }
  static void hand_off(uint64_t stamp) {
    test::push_frame(live_window, frame_of({1.0f}, stamp));
    mark_frame_pending(stamp);
  }
  static bool mailbox_drained() {
    std::lock_guard<std::mutex> hold(frame_mutex);
    return !frame_mailbox.pending;
  }
  static bool wait_for(bool (*done)()) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (!done()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
  }
  std::thread thread_;
};

TEST_F(Worker, ProcessesAtMostOneFrameEvery100Ms) {
  const auto start = std::chrono::steady_clock::now();
  hand_off(111);
  ASSERT_TRUE(wait_for([] { return copy_distances().frame_ms == 111u; }));

  std::this_thread::sleep_until(start + std::chrono::milliseconds(50));
  hand_off(222);
  ASSERT_TRUE(wait_for(mailbox_drained));  // taken too early, so discarded
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(copy_distances().frame_ms, 111u);

  std::this_thread::sleep_until(start + std::chrono::milliseconds(160));
  hand_off(333);
  ASSERT_TRUE(wait_for([] { return copy_distances().frame_ms == 333u; }));
  EXPECT_FLOAT_EQ(copy_distances().frente, 1.0f);
}

}  // namespace
}  // namespace app
