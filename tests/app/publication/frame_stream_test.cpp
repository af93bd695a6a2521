// The frame stream against a real redis-server: what each entry holds and their order, and a
// frozen or dead server costing dropped entries but never a late frame.
#include "publication/frame_stream.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/app_health.h"
#include "core/shared_state.h"
#include "core/clocks.h"
#include "perception/point_intake.h"
#include "tests/app/publication/redis_server.h"
#include "tests/app/window_test_support.h"

namespace app {
namespace {

using testing_support::RedisProbe;
using testing_support::RedisServer;
using testing_support::StreamRecord;
using Fields = std::vector<std::pair<std::string, std::string>>;

bool eventually(const std::function<bool()>& condition, int timeout_ms = 5000) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (std::chrono::steady_clock::now() < deadline) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return condition();
}

std::string field(const StreamRecord& r, const std::string& name) {
  for (const auto& [key, value] : r.fields)
    if (key == name) return value;
  return "<absent>";
}

class FrameStreamTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server.start());
    probe = std::make_unique<RedisProbe>(server.port());
    test::clear_stream_queue();
    start_frame_stream(server.uri());
  }
  void TearDown() override { stop_frame_stream(); }

  std::size_t length() { return probe->xrange(kFrameStreamKey).size(); }

  RedisServer server;
  std::unique_ptr<RedisProbe> probe;
};

TEST_F(FrameStreamTest, EntriesReachTheStreamInOrderWithTheirFields) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  StreamEntry frame;
  frame.stamp_ms = 1700000000123;
  frame.frame.distances = ObstacleDistances{1.25f, 0.f, 0.5f, 1.5f, 1.2f, 0.3f, 9};
  frame.frame.corridor = ObstacleDistances{2.f, 0.f, 0.f, 0.75f, 0.f, 0.4f, 9};
  frame.frame.box_count = 2;
  frame.frame.has_nearest_box = true;
  // Centre, extents along y, z and x, then the distance to the centre.
  frame.frame.nearest_box = ObstacleBox{0, 0, 0, 0, 0, 0, 0, 0, 2.25f, -0.5f, 0.125f,
                                        0.4f, 0.25f, 0.5f, 2.5f, 0, 0};
  frame.processing_ns = 2500000;
  frame.frame.ground.seen = true;
  frame.frame.ground.height_m = 0.4012f;
  frame.frame.ground.tilt_deg = 2.04f;
  StreamEntry off;
  off.event = StreamEvent::kStreamOff;
  off.stamp_ms = 1700000000200;
  off.frame.distances = off.frame.corridor = ObstacleDistances{nan, nan, nan, nan, nan, nan, 0};
  StreamEntry ok = frame;
  ok.event = StreamEvent::kStreamOk;
  StreamEntry later = frame;
  later.stamp_ms += 300;
  later.frame.ground = GroundEstimate{};

  const uint64_t written_before = copy_app_health().stream_entries_written;
  for (const StreamEntry* e : {&frame, &off, &ok, &later}) offer_stream_entry(*e);
  ASSERT_TRUE(eventually([&] { return length() == 4; }));
  const auto records = probe->xrange(kFrameStreamKey);  // in the order they were offered

  const Fields expected_frame = {{"evento", "quadro"},
                                 {"timestamp", "1700000000123"},
                                 {"dist.frente", "1.25"},
                                 {"dist.tras", "0.00"},
                                 {"dist.esquerda", "0.50"},
                                 {"dist.direita", "1.50"},
                                 {"dist.sup", "1.20"},
                                 {"dist.inf", "0.30"},
                                 {"corredor.frente", "2.00"},
                                 {"corredor.tras", "0.00"},
                                 {"corredor.esquerda", "0.00"},
                                 {"corredor.direita", "0.75"},
                                 {"corredor.sup", "0.00"},
                                 {"corredor.inf", "0.40"},
                                 {"caixas", "2"},
                                 {"caixa.dist_m", "2.500"},
                                 {"caixa.cx", "2.250"},
                                 {"caixa.cy", "-0.500"},
                                 {"caixa.cz", "0.125"},
                                 {"caixa.w", "0.400"},
                                 {"caixa.h", "0.250"},
                                 {"caixa.d", "0.500"},
                                 {"chao", "visto"},
                                 {"chao.altura_m", "0.401"},
                                 {"chao.inclinacao_graus", "2.0"},
                                 {"processamento_ms", "2.500"}};
  EXPECT_EQ(records[0].fields, expected_frame);

  // The OFF entry: NaN distances, no boxes, no processing time.
  std::vector<std::string> seen;
  for (const char* name : {"evento", "timestamp", "dist.frente", "corredor.inf", "caixas",
                           "caixa.dist_m", "processamento_ms"})
    seen.push_back(field(records[1], name));
  EXPECT_EQ(seen, (std::vector<std::string>{"off", "1700000000200", "nan", "nan", "0",
                                            "<absent>", "<absent>"}));
  EXPECT_EQ(field(records[2], "evento"), "ok");
  EXPECT_EQ(field(records[3], "timestamp"), "1700000000423");
  EXPECT_EQ(field(records[3], "chao"), "nao visto") << "said as such, with no figures";
  EXPECT_EQ(field(records[3], "chao.altura_m"), "<absent>");
  EXPECT_EQ(field(records[1], "chao"), "<absent>") << "only frames see a ground";
  EXPECT_EQ(copy_app_health().stream_entries_written, written_before + 4);

  // The server keeps about the last five seconds' worth, not everything.
  for (int round = 0; round < 20; ++round) {
    const uint64_t target = copy_app_health().stream_entries_written + 10;
    for (int i = 0; i < 10; ++i) offer_stream_entry(later);
    ASSERT_TRUE(eventually([&] { return copy_app_health().stream_entries_written >= target; }));
  }
  EXPECT_LT(length(), 150u);
}

// The service's own worker, fed a frame every few milliseconds, against a server that freezes,
// comes back, dies and is started again.
TEST_F(FrameStreamTest, AFrozenOrDeadServerNeverDelaysAFrame) {
  reset_shared_state();
  set_processing_params(ProcessingParams{});
  std::atomic<bool> feeding{true};
  std::thread feeder([&] {
    std::vector<CloudPoint> points;
    for (int i = 0; i < 200; ++i) points.push_back(CloudPoint{1.f + 0.01f * i, 0.f, 0.f});
    while (feeding.load()) {
      const uint64_t now = steady_ms();
      window_append(live_window, points.data(), points.size(), now);
      mark_frame_pending(now);
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  });
  processing_active.store(true);
  std::thread worker(processing_worker_loop);

  // Frames processed over a stretch of time: the worker takes one every 100 ms.
  const auto frames_during = [](int ms) {
    const uint64_t before = copy_app_health().frames_processed;
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    return copy_app_health().frames_processed - before;
  };
  const auto dropped = [] { return copy_app_health().stream_entries_dropped; };

  EXPECT_GE(frames_during(500), 4u);
  ASSERT_TRUE(eventually([&] { return length() >= 3; }));

  server.pause_process();
  const uint64_t dropped_before_freeze = dropped();
  EXPECT_GE(frames_during(2000), 17u) << "a frozen server held the worker up";
  EXPECT_GT(dropped(), dropped_before_freeze);
  server.resume_process();
  const std::size_t after_freeze = length();
  EXPECT_TRUE(eventually([&] { return length() >= after_freeze + 3; }));

  probe.reset();
  server.kill();
  const uint64_t dropped_before_death = dropped();
  EXPECT_GE(frames_during(1000), 8u) << "a dead server held the worker up";
  EXPECT_GE(dropped(), dropped_before_death + 5);

  ASSERT_TRUE(server.start());
  probe = std::make_unique<RedisProbe>(server.port());
  EXPECT_TRUE(eventually([&] { return length() >= 3; })) << "the stream did not resume";

  stop_processing_worker();
  worker.join();
  feeding.store(false);
  feeder.join();
}

}  // namespace
}  // namespace app
