// Supervisor cycles with short time-outs against recording fakes.
#include "core/supervisor.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <thread>
#include <tuple>

#include "core/app_health.h"
#include "core/clocks.h"
#include "core/lidar_bring_up.h"
#include "core/link_diagnosis.h"
#include "core/shared_state.h"
#include "core/stream_queue.h"
#include "publication/device_info.h"
#include "tests/app/core/supervisor/supervisor_fakes.h"
#include "tests/app/fake_sdk.h"
#include "tests/app/window_test_support.h"

namespace app {
namespace {

constexpr uint32_t kHandle = 42;
constexpr double kPi = 3.14159265358979323846;

SupervisorConfig fast_config() {
  SupervisorConfig config;
  config.pcl_timeout_ms = 150;
  config.imu_timeout_ms = 250;
  config.info_query_period_ms = 300;
  config.cycle_ms = 20;
  config.write_retry_ms = 40;
  config.write_retry_max_ms = 120;
  return config;
}

// The LiDAR acknowledges the point configuration at once.
void lidar_acknowledges_writes() {
  fake_sdk::set_answer("LidarSetPclDataType", kStatusSuccess);
  fake_sdk::set_answer("LidarEnablePointSend", kStatusSuccess);
}

bool eventually(const std::function<bool()>& condition, int timeout_ms = 3000) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (std::chrono::steady_clock::now() < deadline) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return condition();
}

std::size_t publications() { return supervisor_fakes::lidar_publications().size(); }

int count_calls(const std::string& name) {
  int n = 0;
  for (const auto& call_name : fake_sdk::call_names()) n += call_name == name;
  return n;
}

class RunningSupervisor {
 public:
  explicit RunningSupervisor(SupervisorConfig config = fast_config()) {
    supervisor_active.store(true);
    thread_ = std::thread(supervisor_loop, config);
  }
  ~RunningSupervisor() { stop(); }
  void stop() {
    stop_supervisor_loop();
    if (thread_.joinable()) thread_.join();
  }

 private:
  std::thread thread_;
};

class SupervisorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_shared_state();
    window_clear(live_window);
    lidar_handle.store(0);
    followed_handle.store(0);
    last_undecoded_pcl_ms.store(0);
    last_pcl_ms.store(0);
    last_imu_ms.store(0);
    freq_pcl.store(0.0);
    freq_imu.store(0.0);
    conectado.store(false);
    sensor_ativo.store(false);
    stream_ok.store(false);
    running.store(true);
    debug_mode.store(false);
    viewer_active.store(false);
    fake_sdk::reset();
    reset_bring_up();
    supervisor_fakes::reset();
    test::clear_stream_queue();
  }
};

TEST_F(SupervisorTest, WithoutALidarStaysOffSilentAndStillPublishes) {
  testing::internal::CaptureStdout();
  {
    RunningSupervisor supervisor;
    ASSERT_TRUE(eventually([] { return publications() >= 4; }));
  }
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_FALSE(stream_ok.load());
  EXPECT_TRUE(fake_sdk::calls().empty());
  EXPECT_EQ(static_cast<std::size_t>(supervisor_fakes::imu_publications()), publications());
  EXPECT_TRUE(std::isnan(supervisor_fakes::lidar_publications().back().frente));
}

TEST_F(SupervisorTest, StreamUpThenDownPrintsEachTransitionOnceAndResetsTheState) {
  debug_mode.store(true);
  {
    std::lock_guard<std::mutex> hold(state_mutex);
    distances = ObstacleDistances{1.f, 2.f, 3.f, 4.f, 5.f, 6.f, 77};
    obstacle_boxes.assign(4, ObstacleBox{});
    stream_boxes.assign(3, ObstacleBox{});  // the stream's: the ground's points left out
    ground_estimate.seen = true;
    latest_cloud.points.assign(10, CloudPoint{});
  }
  PointFrame frame;
  frame.points.assign(5, CloudPoint{});
  frame.stamp_ms = steady_ms();
  test::push_frame(live_window, frame);
  freq_pcl.store(10.0);
  freq_imu.store(200.0);
  sensor_ativo.store(true);
  lidar_handle.store(kHandle);
  followed_handle.store(kHandle);
  last_imu_ms.store(steady_ms());  // IMU alone keeps the stream alive
  lidar_acknowledges_writes();

  testing::internal::CaptureStdout();
  {
    RunningSupervisor supervisor;
    ASSERT_TRUE(eventually([] { return stream_ok.load(); }));
    // The cycle that found the stream OK sends the configuration right after.
    EXPECT_TRUE(eventually([] { return conectado.load(); }));
    ASSERT_TRUE(eventually([] { return !stream_ok.load(); }));
    const std::size_t off_at = publications();
    ASSERT_TRUE(eventually([off_at] { return publications() >= off_at + 3; }));
  }
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "[SUP] LiDAR OK (stream ativo)\n"
            "[VIEWER] Debug viewer ON. Pressione Ctrl+C para sair.\n"
            "[SUP] LiDAR OFF/DEGRADED (sem dados recentes)\n"
            "[VIEWER] Debug viewer OFF.\n");

  const auto calls = fake_sdk::calls();
  ASSERT_GE(calls.size(), 3u);
  EXPECT_EQ(calls[0].name, "LidarSetPclDataType");
  EXPECT_EQ(calls[0].value, 1);
  EXPECT_EQ(calls[1].name, "LidarEnablePointSend");
  EXPECT_EQ(calls[2].name, "QueryLidarInternalInfo");
  EXPECT_EQ(calls[2].callback, reinterpret_cast<const void*>(&on_internal_info));
  for (const auto& call : calls) EXPECT_EQ(call.handle, kHandle);
  EXPECT_EQ(calls[2].client_data, nullptr);
  // OFF asks for the LiDAR to be configured from the start once it answers again.
  EXPECT_EQ(count_calls("LidarSetPclDataType"), 1);
  EXPECT_EQ(count_calls("LidarReconfigure"), 1);
  EXPECT_FALSE(conectado.load());

  const ObstacleDistances d = copy_distances();
  const ObstacleDistances c = copy_corridor_distances();
  for (float v : {d.frente, d.tras, d.esquerda, d.direita, d.cima, d.baixo, c.frente, c.baixo})
    EXPECT_TRUE(std::isnan(v));
  EXPECT_EQ(d.frame_ms, 0u);

  // One frame-stream entry per transition: the state as it stood (with the boxes), then NaN.
  StreamEntry ok, off, none;
  const auto now = std::chrono::milliseconds(0);
  ASSERT_TRUE(take_stream_entry(ok, now) && take_stream_entry(off, now));
  EXPECT_FALSE(take_stream_entry(none, now));
  EXPECT_EQ(std::make_tuple(ok.event, ok.frame.distances.frente, ok.frame.box_count),
            std::make_tuple(StreamEvent::kStreamOk, 1.f, 3u));
  EXPECT_EQ(std::make_tuple(off.event, off.frame.box_count), std::make_tuple(StreamEvent::kStreamOff, 0u));
  EXPECT_TRUE(std::isnan(off.frame.distances.baixo) && std::isnan(off.frame.corridor.frente));
  EXPECT_TRUE(copy_obstacle_boxes().empty());
  EXPECT_TRUE(copy_stream_boxes().empty());
  EXPECT_FALSE(copy_ground_estimate().seen) << "no frame, no ground";
  const PointFrame cloud = copy_latest_cloud();
  EXPECT_TRUE(cloud.points.empty());
  EXPECT_NE(cloud.stamp_ms, 0u);
  EXPECT_TRUE(test::snapshot(live_window, steady_ms()).points.empty());
  EXPECT_EQ(freq_pcl.load(), 0.0);
  EXPECT_EQ(freq_imu.load(), 0.0);
  EXPECT_FALSE(sensor_ativo.load());
  EXPECT_EQ(followed_handle.load(), 0u);  // another unit may be followed now

  const auto attitudes = supervisor_fakes::attitude_calls();
  ASSERT_EQ(attitudes.size(), 1u);
  for (float v : attitudes[0].values) EXPECT_EQ(v, 0.f);
  EXPECT_NE(attitudes[0].t, 0u);
  EXPECT_EQ(supervisor_fakes::viewer_starts(), 1);
  EXPECT_EQ(supervisor_fakes::viewer_stops(), 1);
  EXPECT_FALSE(viewer_active.load());

  const StatusSnapshot last = supervisor_fakes::lidar_publications().back();
  EXPECT_TRUE(std::isnan(last.frente));
  EXPECT_TRUE(std::isnan(last.baixo));
  EXPECT_EQ(last.freq_pcl, 0.0);
  EXPECT_EQ(last.boxes.size(), 4u);  // while OFF the last frame's boxes stay published
}

// Without a window (no display, or a build without the viewer) the stream may come and go many
// times: no "[VIEWER]" line announces a window that never opened, nor its closing.
TEST_F(SupervisorTest, AWindowThatDidNotOpenIsNeverAnnounced) {
  debug_mode.store(true);
  supervisor_fakes::set_viewer_opens(false);
  lidar_handle.store(kHandle);
  testing::internal::CaptureStdout();
  {
    RunningSupervisor supervisor;
    for (int round = 0; round < 2; ++round) {
      last_imu_ms.store(steady_ms());
      ASSERT_TRUE(eventually([] { return stream_ok.load(); }));
      ASSERT_TRUE(eventually([] { return !stream_ok.load(); }));
    }
  }
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "[SUP] LiDAR OK (stream ativo)\n"
            "[SUP] LiDAR OFF/DEGRADED (sem dados recentes)\n"
            "[SUP] LiDAR OK (stream ativo)\n"
            "[SUP] LiDAR OFF/DEGRADED (sem dados recentes)\n");
  EXPECT_EQ(supervisor_fakes::viewer_starts(), 2);
}

TEST_F(SupervisorTest, InternalInfoQueriesAreSpacedByThePeriodWhileOk) {
  lidar_handle.store(kHandle);
  std::atomic<bool> feeding{true};
  std::thread feeder([&] {
    while (feeding.load()) {
      last_pcl_ms.store(steady_ms());
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  });
  testing::internal::CaptureStdout();
  {
    RunningSupervisor supervisor;
    std::this_thread::sleep_for(std::chrono::milliseconds(800));
  }
  feeding.store(false);
  feeder.join();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "[SUP] LiDAR OK (stream ativo)\n");

  std::vector<int64_t> times;
  for (const auto& call : fake_sdk::calls())
    if (call.name == "QueryLidarInternalInfo") times.push_back(call.at_ms);
  ASSERT_GE(times.size(), 2u);
  ASSERT_LE(times.size(), 3u);
  for (std::size_t i = 1; i < times.size(); ++i) {
    EXPECT_GE(times[i] - times[i - 1], 300);
    EXPECT_LE(times[i] - times[i - 1], 450);
  }
}

std::vector<int64_t> call_times(const std::string& name) {
  std::vector<int64_t> times;
  for (const auto& call : fake_sdk::calls())
    if (call.name == name) times.push_back(call.at_ms);
  return times;
}

// A LiDAR that streams without having been reported (another program configures it) still gets
// the point configuration, sent again at growing gaps until the LiDAR acknowledges it.
TEST_F(SupervisorTest, PointConfigurationIsSentAgainAtGrowingGapsUntilAcknowledged) {
  fake_sdk::set_status("LidarSetPclDataType", kStatusSendFailed);
  fake_sdk::set_status("LidarEnablePointSend", kStatusSendFailed);
  lidar_handle.store(kHandle);
  testing::internal::CaptureStdout();
  RunningSupervisor supervisor;
  ASSERT_TRUE(eventually([] { return count_calls("LidarEnablePointSend") >= 4; }));
  EXPECT_FALSE(conectado.load());
  const std::vector<int64_t> times = call_times("LidarEnablePointSend");
  EXPECT_GE(times[2] - times[1], 70);  // 40 ms, then 80: not every 20 ms cycle

  fake_sdk::set_status("LidarSetPclDataType", kStatusSuccess);
  fake_sdk::set_status("LidarEnablePointSend", kStatusSuccess);
  lidar_acknowledges_writes();
  ASSERT_TRUE(eventually([] { return conectado.load(); }));
  const int sent = count_calls("LidarSetPclDataType");
  const std::size_t now = publications();
  ASSERT_TRUE(eventually([now] { return publications() >= now + 8; }));
  EXPECT_EQ(count_calls("LidarSetPclDataType"), sent);
  EXPECT_EQ(count_calls("QueryLidarInternalInfo"), 0);  // never OK: no packets
  supervisor.stop();
  EXPECT_EQ(testing::internal::GetCapturedStdout().find("[SUP] LiDAR 42.0.0.0 nao confirmou"), 0u);
}

// A LiDAR that reboots within the IMU time-out resumes its IMU stream with point sending off.
// The stream never goes OFF, so the points must be asked for while only the IMU arrives, but at
// a growing interval: the points may have been stopped on purpose.
TEST_F(SupervisorTest, PointsMissingWhileTheImuFlowsAreAskedForAgainAtAGrowingInterval) {
  lidar_handle.store(kHandle);
  lidar_acknowledges_writes();
  testing::internal::CaptureStdout();
  RunningSupervisor supervisor;
  std::atomic<bool> points{true};
  std::atomic<bool> feeding{true};
  std::thread lidar([&] {
    while (feeding.load()) {
      last_imu_ms.store(steady_ms());
      if (points.load()) {
        last_pcl_ms.store(steady_ms());
        sensor_ativo.store(true);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  });
  ASSERT_TRUE(eventually([] { return stream_ok.load() && conectado.load(); }));
  const int before = count_calls("LidarEnablePointSend");
  const std::size_t now = publications();
  ASSERT_TRUE(eventually([now] { return publications() >= now + 3; }));
  EXPECT_EQ(count_calls("LidarEnablePointSend"), before);  // points flow: nothing re-sent

  points.store(false);  // the reboot: IMU only from here on
  ASSERT_TRUE(eventually([before] { return count_calls("LidarEnablePointSend") > before; }, 5000));
  EXPECT_TRUE(stream_ok.load());
  EXPECT_FALSE(sensor_ativo.load());
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  feeding.store(false);
  lidar.join();
  supervisor.stop();

  // Gaps of 40, 80, 160 ms, then the 300 ms query period; every 20 ms cycle would be 75 writes.
  const std::vector<int64_t> times = call_times("LidarEnablePointSend");
  const std::vector<int64_t> resent(times.begin() + before, times.end());
  ASSERT_GE(resent.size(), 6u);
  EXPECT_LE(resent.size(), 10u);
  // A late wake-up on a busy machine stretches one gap and so shortens the next one: the gaps
  // are checked against the bounds of the schedule, not against each other.
  for (std::size_t i = 1; i < resent.size(); ++i) EXPECT_GE(resent[i] - resent[i - 1], 35) << i;
  EXPECT_LE(resent[1] - resent[0], 150);
  EXPECT_GE(resent.back() - resent[resent.size() - 2], 280);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "[SUP] LiDAR OK (stream ativo)\n"
            "[SUP] LiDAR sem pontos enquanto a IMU continua; pedindo o envio de pontos de novo, "
            "com intervalo crescente\n");
}

// The operator hears what is missing once the link has been silent a period, then once per
// period; a stream in between starts the count again.
TEST(LinkDiagnosis, SaysWhatIsMissingOncePerPeriodWhileNothingStreams) {
  LinkWatch watch;
  LinkFacts f;
  f.unconfigured_replies = 3;
  f.unconfigured_lidar = 0x0C01A8C0;  // 192.168.1.12
  testing::internal::CaptureStderr();
  for (uint64_t t = 1000; t <= 2500; t += 500) watch_link(watch, f, t, 1000);
  f.handle = kHandle;
  f.stream_ok = f.points_alive = true;
  watch_link(watch, f, 3000, 1000);
  f.stream_ok = f.points_alive = false;
  for (uint64_t t = 3500; t <= 4500; t += 500) watch_link(watch, f, t, 1000);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "[ERR] LiDAR 192.168.1.12 responde a deteccao mas o arquivo de configuracao nao o "
            "inclui: confira lidar_ip em host_net_info e a secao do tipo; nenhum LiDAR "
            "configurado ha 1 s\n"
            "[ERR] LiDAR 42.0.0.0 sem dados e sem resposta a deteccao ha 1 s: desligado, "
            "reiniciando ou fora da rede\n");
  EXPECT_EQ(copy_app_health().link_state, LinkState::kNoData);
}

TEST_F(SupervisorTest, PacketStampedAfterTheCycleReadTheClockIsFresh) {
  lidar_handle.store(kHandle);
  last_pcl_ms.store(steady_ms() + 1000);
  testing::internal::CaptureStdout();
  {
    RunningSupervisor supervisor;
    ASSERT_TRUE(eventually([] { return publications() >= 2; }));
    EXPECT_TRUE(stream_ok.load());
  }
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "[SUP] LiDAR OK (stream ativo)\n");
}

// Stopped through its stop function, or by a cleared `running` that wakes no one (a signal).
TEST_F(SupervisorTest, StopsPromptlyEvenDuringALongPause) {
  SupervisorConfig slow = fast_config();
  slow.cycle_ms = 60000;
  for (const bool by_signal : {false, true}) {
    supervisor_fakes::reset();
    supervisor_active.store(true);
    running.store(true);
    std::thread thread(supervisor_loop, slow);
    ASSERT_TRUE(eventually([] { return publications() == 1; }));
    const auto begin = std::chrono::steady_clock::now();
    if (by_signal) {
      running.store(false);
    } else {
      stop_supervisor_loop();
    }
    thread.join();
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::milliseconds(200));
  }
  running.store(true);

  supervisor_active.store(false);
  supervisor_fakes::reset();
  supervisor_loop(fast_config());
  EXPECT_EQ(publications(), 0u);
}

TEST_F(SupervisorTest, SnapshotCopiesEveryGroup) {
  lidar_handle.store(kHandle);
  conectado.store(true);
  sensor_ativo.store(true);
  freq_pcl.store(99.5);
  freq_imu.store(201.25);
  {
    std::lock_guard<std::mutex> hold(state_mutex);
    lidar_ip = "192.168.1.12";
    host_ip = "192.168.1.50";
    firmware_version = "1.2.3";
    dev_type = "OMNI";
    attitude.t_ms = 1700000000123ull;
    attitude.roll = static_cast<float>(kPi / 2);
    attitude.pitch = -static_cast<float>(kPi);
    temperatura = 25.34f;
    vezes_ligado = 12;
    distances = ObstacleDistances{1.f, 2.f, 3.f, 4.f, 5.f, 6.f, 77};
    obstacle_boxes.assign(2, ObstacleBox{});
  }
  const uint64_t before = wall_ms();
  const StatusSnapshot s = take_status_snapshot();
  EXPECT_GE(s.timestamp, before);
  EXPECT_LE(s.timestamp, wall_ms());
  EXPECT_TRUE(s.conectado && s.executando && s.sensor_ativo);
  EXPECT_EQ(s.handle, kHandle);
  EXPECT_EQ(s.freq_pcl, 99.5);
  EXPECT_EQ(s.freq_imu, 201.25);
  EXPECT_EQ(s.lidar_ip, "192.168.1.12");
  EXPECT_EQ(s.host_ip, "192.168.1.50");
  EXPECT_EQ(s.firmware_version, "1.2.3");
  EXPECT_EQ(s.dev_type, "OMNI");
  EXPECT_EQ(s.imu_timestamp, 1700000000123ull);
  char text[32];
  std::snprintf(text, sizeof(text), "%.2f %.2f", s.roll_deg, s.pitch_deg);
  EXPECT_STREQ(text, "90.00 -180.00");
  EXPECT_EQ(s.temperatura, static_cast<double>(25.34f));
  EXPECT_EQ(s.vezes_ligado, 12u);
  EXPECT_EQ(s.frente, 1.0);
  EXPECT_EQ(s.baixo, 6.0);
  EXPECT_EQ(s.boxes.size(), 2u);
}

}  // namespace
}  // namespace app
