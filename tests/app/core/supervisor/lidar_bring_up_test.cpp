// Bringing a LiDAR to streaming against the recording SDK fake: writes confirmed only by the
// LiDAR's success, paced re-sends, and the LiDAR configured again after it came back.
#include "core/lidar_bring_up.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "core/app_health.h"
#include "core/clocks.h"
#include "core/shared_state.h"
#include "tests/app/fake_sdk.h"

namespace app {
namespace {

constexpr uint32_t kHandle = 201435328u;  // 192.168.1.12

SupervisorConfig fast_config() {
  SupervisorConfig config;
  config.write_retry_ms = 40;
  config.write_retry_max_ms = 120;
  config.silent_reconfigure_ms = 60;
  return config;
}

std::vector<fake_sdk::Call> calls_of(const std::string& name, std::size_t from = 0) {
  std::vector<fake_sdk::Call> found;
  const auto calls = fake_sdk::calls();
  for (std::size_t i = from; i < calls.size(); ++i) {
    if (calls[i].name == name) found.push_back(calls[i]);
  }
  return found;
}

class BringUpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_bring_up();
    fake_sdk::reset();
    lidar_handle.store(0);
    followed_handle.store(0);
    facts.handle = kHandle;
  }

  // Supervisor cycles on the real clock for `ms`, every 5 ms; `each` runs after every cycle.
  void run_cycles(
      uint64_t ms, const std::function<void()>& each = [] {}) {
    const uint64_t end = steady_ms() + ms;
    while (steady_ms() < end) {
      bring_up_cycle(facts, config, steady_ms());
      each();
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }

  void inform() {
    LidarInfo info{};
    on_info_change(kHandle, &info, nullptr);
  }

  StreamFacts facts;
  SupervisorConfig config = fast_config();
};

// Handed to the socket is not done: only the LiDAR's success counts, and a write that failed
// (not sent, refused, or unanswered) goes again at growing gaps until the LiDAR answers it.
TEST_F(BringUpTest, WritesCountOnlyWhenAcknowledgedAndFailedOnesGoAgainAtGrowingGaps) {
  fake_sdk::set_status("LidarSetPclDataType", kStatusSendFailed);
  testing::internal::CaptureStdout();
  inform();
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "[INFO] InfoChange handle=201435328\n  WM=0 DT=-9 EN=0\n");
  EXPECT_EQ(lidar_handle.load(), kHandle);
  EXPECT_EQ(fake_sdk::call_names(),
            (std::vector<std::string>{"LidarSetWorkMode", "LidarSetPclDataType",
                                      "LidarEnablePointSend"}));
  const auto sent = fake_sdk::calls();
  fake_sdk::answer(sent[2], kStatusSuccess);
  fake_sdk::answer(sent[0], kStatusSuccess, 1);  // refused
  EXPECT_FALSE(bring_up_confirmed(kHandle));

  fake_sdk::set_status("LidarSetPclDataType", kStatusSuccess);
  fake_sdk::set_answer("LidarSetPclDataType", kStatusSuccess);
  const uint64_t repeated_before = copy_app_health().repeated_writes;
  testing::internal::CaptureStdout();
  std::size_t answered = 0;
  run_cycles(600, [&] {  // the LiDAR never answers the work mode
    const auto sends = calls_of("LidarSetWorkMode", 3);
    for (; answered < sends.size(); ++answered) fake_sdk::answer(sends[answered], kStatusTimeout);
  });
  // One line for the bring-up, naming the first write that had to go again.
  const std::string line = testing::internal::GetCapturedStdout();
  const std::string head = "[SUP] LiDAR 192.168.1.12 nao confirmou a escrita de ";
  const std::string tail =
      "; enviando de novo apos 40 ms, depois a intervalos crescentes ate 120 ms\n";
  EXPECT_TRUE(line == head + "modo de trabalho (recusada, codigo 1)" + tail ||
              line == head + "tipo de dado (status -9)" + tail)
      << line;
  EXPECT_EQ(calls_of("LidarSetPclDataType").size(), 2u);
  const auto sends = calls_of("LidarSetWorkMode");
  ASSERT_GE(sends.size(), 5u);
  ASSERT_LE(sends.size(), 9u);  // 40, 80, 120, 120, ... ms: not once per cycle
  for (std::size_t i = 1; i < sends.size(); ++i) {
    const int64_t gap = sends[i].at_ms - sends[i - 1].at_ms;
    EXPECT_GE(gap, std::min<int64_t>(40 << (i - 1), 120) - 2) << i;
  }
  EXPECT_EQ(copy_app_health().repeated_writes - repeated_before, sends.size());
  EXPECT_FALSE(bring_up_confirmed(kHandle));

  run_cycles(150);  // the latest send is on its way: a failure of an earlier one changes nothing
  const std::size_t count = calls_of("LidarSetWorkMode").size();
  fake_sdk::answer(sent[0], kStatusTimeout);
  run_cycles(150);
  EXPECT_EQ(calls_of("LidarSetWorkMode").size(), count);
  fake_sdk::answer(calls_of("LidarSetWorkMode").back(), kStatusSuccess);
  EXPECT_TRUE(bring_up_confirmed(kHandle));

  testing::internal::CaptureStdout();
  on_info_change(7, nullptr, nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "[INFO] InfoChange handle=7\n");
  EXPECT_EQ(lidar_handle.load(), kHandle);
}

TEST_F(BringUpTest, LostStreamIsConfiguredFromTheStartOnceTheLidarComesBack) {
  for (const char* write : {"LidarSetWorkMode", "LidarSetPclDataType", "LidarEnablePointSend"}) {
    fake_sdk::set_answer(write, kStatusSuccess);
  }
  const uint64_t reconfigured_before = copy_app_health().reconfigurations;
  testing::internal::CaptureStdout();
  inform();
  const auto first_bring_up = fake_sdk::calls();
  bring_up_stream_lost(kHandle);
  EXPECT_EQ(fake_sdk::call_names().back(), "LidarReconfigure");
  fake_sdk::answer(first_bring_up[0], kStatusSuccess);  // late: from before the loss
  run_cycles(100);
  EXPECT_EQ(fake_sdk::calls().size(), first_bring_up.size() + 1) << "nothing while it is away";
  EXPECT_FALSE(bring_up_confirmed(kHandle));
  testing::internal::GetCapturedStdout();

  testing::internal::CaptureStdout();
  inform();
  bring_up_cycle(facts, config, steady_ms());
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "[INFO] InfoChange handle=201435328\n  WM=0 DT=0 EN=0\n"
            "[SUP] LiDAR 192.168.1.12 voltou a responder; configurando de novo\n");
  EXPECT_TRUE(bring_up_confirmed(kHandle));
  EXPECT_TRUE(bring_up_reconfiguring(kHandle));
  EXPECT_EQ(copy_app_health().reconfigurations - reconfigured_before, 1u);
  facts.ok = true;
  bring_up_cycle(facts, config, steady_ms());
  EXPECT_FALSE(bring_up_reconfiguring(kHandle));
}

// A LiDAR that accepted its configuration but sends nothing (it rebooted again at once, say) is
// configured again: after the silence, then at doubling gaps, and no more once it is heard.
TEST_F(BringUpTest, SilentLidarIsConfiguredAgainAtGrowingGaps) {
  inform();
  bring_up_cycle(facts, config, steady_ms() - 5);  // its clock read before the acceptance came
  EXPECT_TRUE(calls_of("LidarReconfigure").empty());
  run_cycles(420);
  const auto asked = calls_of("LidarReconfigure");
  ASSERT_GE(asked.size(), 2u);
  ASSERT_LE(asked.size(), 3u);  // at 60, 180, 420 ms
  EXPECT_GE(asked[1].at_ms - asked[0].at_ms, 115);

  inform();
  facts.last_heard_ms = steady_ms() + 1;
  run_cycles(200);
  EXPECT_EQ(calls_of("LidarReconfigure").size(), asked.size());
}

}  // namespace
}  // namespace app
