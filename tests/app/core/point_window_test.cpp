// Rolling window retention, snapshot order and the start-up reset.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <random>
#include <thread>

#include "core/shared_state.h"
#include "tests/app/core/reference_window.h"
#include "tests/app/window_test_support.h"

namespace {

using app::CloudPoint;
using app::PointFrame;
using app::PointWindow;

PointFrame frame(uint64_t stamp, std::initializer_list<float> xs) {
  PointFrame f;
  f.stamp_ms = stamp;
  for (float x : xs) f.points.push_back(CloudPoint{x, 0.f, 0.f, 255, 255, 255});
  return f;
}

std::vector<float> xs_of(const PointFrame& f) {
  std::vector<float> xs;
  for (const auto& p : f.points) xs.push_back(p.x);
  return xs;
}

void configure(PointWindow& w, int64_t window_ms, int64_t max_points) {
  app::window_clear(w);
  w.window_ms.store(window_ms);
  w.max_points.store(max_points);
}

TEST(PointWindow, SnapshotTakesNewestEntriesFirstAndCutsInsideTheOldest) {
  PointWindow w;
  configure(w, 150, 3);
  app::test::push_frame(w, frame(1000, {1.f, 2.f}));  // a, b
  app::test::push_frame(w, frame(1010, {3.f, 4.f}));  // c, d
  const PointFrame snap = app::test::snapshot(w, 1010);
  EXPECT_EQ(xs_of(snap), (std::vector<float>{3.f, 4.f, 2.f}));  // c, d, b
  EXPECT_EQ(snap.stamp_ms, 1010u);
}

TEST(PointWindow, EntriesExpireStrictlyAfterTheWindow) {
  PointWindow w;
  configure(w, 150, 1000);
  app::test::push_frame(w, frame(1000, {1.f}));
  EXPECT_EQ(app::test::snapshot(w, 1150).points.size(), 1u);
  EXPECT_EQ(app::test::snapshot(w, 1151).points.size(), 0u);
  EXPECT_EQ(app::test::snapshot(w, 1151).stamp_ms, 0u);
}

TEST(PointWindow, PushPrunesWithTheNewFramesStamp) {
  PointWindow w;
  configure(w, 150, 1000);
  app::test::push_frame(w, frame(1000, {1.f}));
  app::test::push_frame(w, frame(1200, {2.f}));
  EXPECT_EQ(w.queue.size(), 1u);
  EXPECT_EQ(xs_of(app::test::snapshot(w, 1200)), (std::vector<float>{2.f}));
}

TEST(PointWindow, EmptyFramesAreNotStored) {
  PointWindow w;
  configure(w, 150, 1000);
  app::test::push_frame(w, frame(1000, {}));
  EXPECT_TRUE(w.queue.empty());
}

TEST(PointWindow, WindowWithoutExpiryKeepsOnlyWhatItsSnapshotCanReturn) {
  PointWindow w;
  configure(w, 0, 4);
  for (uint64_t i = 0; i < 100; ++i)
    app::test::push_frame(w, frame(i, {float(i), float(i) + 0.5f}));
  // The newest entries alone still hold max_points; nothing older is kept.
  EXPECT_EQ(w.queue.size(), 2u);
  EXPECT_EQ(w.stored_points, 4u);
  EXPECT_EQ(xs_of(app::test::snapshot(w, 1000000)), (std::vector<float>{99.f, 99.5f, 98.f, 98.5f}));
}

TEST(PointWindow, RetentionKeepsAnEntryNeededToFillTheBudget) {
  PointWindow w;
  configure(w, 0, 3);
  app::test::push_frame(w, frame(1, {1.f, 2.f}));
  app::test::push_frame(w, frame(2, {3.f, 4.f}));
  EXPECT_EQ(xs_of(app::test::snapshot(w, 2)), (std::vector<float>{3.f, 4.f, 2.f}));
}

TEST(SharedState, ResetClearsResultsAndSetsWindowLimits) {
  {
    std::lock_guard<std::mutex> hold(app::state_mutex);
    app::distances.frente = 1.5f;
    app::distances.frame_ms = 42;
    app::obstacle_boxes.resize(3);
    app::latest_cloud = frame(7, {1.f});
  }
  app::viewer_cloud = frame(9, {1.f});
  app::live_window.window_ms.store(1);
  app::map_window.max_points.store(1);

  app::reset_shared_state();

  const auto d = app::copy_distances();
  // Not measured: a zero would read as "nothing within range".
  EXPECT_TRUE(std::isnan(d.frente));
  EXPECT_TRUE(std::isnan(d.baixo));
  EXPECT_TRUE(std::isnan(app::copy_corridor_distances().frente));
  EXPECT_EQ(d.frame_ms, 0u);
  EXPECT_TRUE(app::copy_obstacle_boxes().empty());
  EXPECT_TRUE(app::copy_latest_cloud().points.empty());
  EXPECT_EQ(app::copy_latest_cloud().stamp_ms, 0u);
  EXPECT_TRUE(app::copy_viewer_cloud().points.empty());
  EXPECT_EQ(app::live_window.window_ms.load(), 150);
  EXPECT_EQ(app::live_window.max_points.load(), 200000);
  EXPECT_EQ(app::map_window.window_ms.load(), 0);
  EXPECT_EQ(app::map_window.max_points.load(), 2000000);
}

TEST(SharedState, StartsWithTheDocumentedDefaults) {
  const app::ProcessingParams p = app::copy_processing_params();
  EXPECT_FLOAT_EQ(p.roi_x_min, 0.1f);
  EXPECT_FLOAT_EQ(p.roi_z_min, -0.5f);
  EXPECT_EQ(p.min_cluster_voxels, 60);
  EXPECT_EQ(p.max_cluster_voxels, 50000);
  EXPECT_FLOAT_EQ(p.imu_alpha, 0.98f);
  EXPECT_EQ(app::freq_pcl.load(), 0.0);
  EXPECT_FALSE(app::sensor_ativo.load());
  EXPECT_TRUE(app::color_by_distance.load());
  EXPECT_FALSE(app::map_mode.load());
}

// --- appends against the per-datagram snapshot design -------------------------------------------

bool same_points(const PointFrame& a, const PointFrame& b) {
  if (a.stamp_ms != b.stamp_ms || a.points.size() != b.points.size()) return false;
  for (std::size_t i = 0; i < a.points.size(); ++i) {
    if (a.points[i].x != b.points[i].x || a.points[i].y != b.points[i].y) return false;
  }
  return true;
}

// Random datagram sizes (empty ones included), clock steps from 0 to past the window, and
// point budgets that cut inside datagrams: what the worker and the viewer build from the window
// whenever they look must equal the snapshot the old design took after that datagram.
TEST(PointWindowAppend, ReadersSeeWhatAPerDatagramSnapshotWouldHaveHeld) {
  std::mt19937 rng(7);
  for (int round = 0; round < 20; ++round) {
    const int64_t window_ms = round % 4 == 0 ? 0 : 150;
    const int64_t max_points = std::uniform_int_distribution<int64_t>(1, 400)(rng);
    app::reference::SnapshotWindow reference;
    reference.window_ms = window_ms;
    reference.max_points = max_points;
    app::reset_shared_state();
    configure(app::live_window, window_ms, max_points);

    uint64_t now = 1000;
    float label = 0.f;
    for (int d = 0; d < 300; ++d) {
      const int step = std::uniform_int_distribution<int>(0, 9)(rng);
      now += step == 0 ? 0 : step == 9 ? 160 : static_cast<uint64_t>(step * 7);
      const int count = std::uniform_int_distribution<int>(-10, 96)(rng);
      std::vector<CloudPoint> points;
      for (int i = 0; i < count; ++i) points.push_back(CloudPoint{label++, float(d), 0.f});

      const PointFrame expected = reference.datagram(points, now);
      app::window_append(app::live_window, points.data(), points.size(), now);
      if (std::uniform_int_distribution<int>(0, 3)(rng) != 0) continue;  // readers look now and then

      const PointFrame worker = app::test::content_of(app::live_window);
      ASSERT_TRUE(same_points(worker, expected)) << "round " << round << " datagram " << d;
      ASSERT_TRUE(same_points(app::copy_latest_cloud(), expected))
          << "round " << round << " datagram " << d;
    }
  }
  app::window_clear(app::live_window);
}

TEST(PointWindowAppend, ClearingWinsOverPacketsTheReaderHasNotSeen) {
  app::reset_shared_state();
  configure(app::live_window, 150, 100);
  const CloudPoint points[2] = {{1.f, 0.f, 0.f}, {2.f, 0.f, 0.f}};
  app::window_append(app::live_window, points, 2, 500);
  EXPECT_EQ(app::copy_latest_cloud().points.size(), 2u);
  app::window_append(app::live_window, points, 1, 510);

  // The stream-down reset: the window, then the reader's record, each under its own lock.
  app::window_clear(app::live_window);
  {
    std::lock_guard<std::mutex> hold(app::state_mutex);
    app::latest_cloud.points.clear();
    app::latest_cloud.stamp_ms = 900;
  }
  PointFrame cloud = app::copy_latest_cloud();
  EXPECT_TRUE(cloud.points.empty());
  EXPECT_EQ(cloud.stamp_ms, 900u);

  app::window_append(app::live_window, points + 1, 1, 950);
  cloud = app::copy_latest_cloud();
  ASSERT_EQ(cloud.points.size(), 1u);
  EXPECT_EQ(cloud.points[0].x, 2.f);
  EXPECT_EQ(cloud.stamp_ms, 950u);
  app::window_clear(app::live_window);
}

TEST(PointWindowAppend, DroppedEntriesLendTheirBuffersToLaterAppends) {
  PointWindow w;
  configure(w, 10, 1000);
  std::vector<CloudPoint> points(96);
  for (uint64_t now = 0; now < 2000; now += 5) app::window_append(w, points.data(), 96, now);
  // About two datagrams per window stay; the rest of the buffers circulate instead of growing.
  EXPECT_LE(w.queue.size(), 3u);
  EXPECT_LE(w.spare.size(), 3u);
  EXPECT_EQ(w.stored_points, w.queue.size() * 96);
}

// The worker thins the window outside its lock while the intake appends on its own thread:
// every entry a read goes through holds one datagram's points, whatever the appends, drops and
// clears do meanwhile, and the buffers set aside during reads serve appends again afterwards.
TEST(PointWindowAppend, ReadsOnOneThreadSeeWholeDatagramsWhileAnotherAppends) {
  PointWindow w;
  configure(w, 10, 5000);
  std::atomic<bool> done{false};
  std::thread intake([&] {
    std::vector<CloudPoint> points(96);
    for (uint64_t d = 1; d <= 100000; ++d) {
      std::fill(points.begin(), points.end(), CloudPoint{static_cast<float>(d), 0.f, 0.f});
      app::window_append(w, points.data(), points.size(), d / 4);
      if (d % 25000 == 0) app::window_clear(w);
    }
    done.store(true);
  });
  int mixed = 0, reads = 0;
  while (!done.load()) {
    ++reads;
    app::window_read(w, [&mixed](const CloudPoint* share, std::size_t count) {
      for (std::size_t i = 1; i < count; ++i) mixed += share[i].x != share[0].x;
    });
  }
  intake.join();
  EXPECT_EQ(mixed, 0) << "over " << reads << " reads";
  EXPECT_TRUE(w.retired.empty());
}

}  // namespace
