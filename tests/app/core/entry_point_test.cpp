// The entry point against a recording fake SDK: usage, the --debug switch, call order and
// failure exits. The orderly shutdown on a console interrupt is driven from outside the process
// (console_control_test.sh) and, for SIGTERM on Linux, in platform_linux_test.cpp.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/entry_point.h"
#include "core/shared_state.h"
#include "perception/imu_intake.h"
#include "perception/point_intake.h"
#include "core/lidar_bring_up.h"
#include "tests/app/core/entry_point_runner.h"

namespace {

using ::testing::EndsWith;

using entry_point_test::EntryPoint;
using entry_point_test::run;

TEST_F(EntryPoint, WithoutArgumentsOrWithAnUnknownOptionPrintsUsageAndTouchesNothing) {
  const std::vector<std::vector<std::string>> cases = {
      {"app"},
      {"app", "--help"},
      {"app", "-h", "cfg.json"},
      {"app", "cfg.json", "--DEBUG"},
      {"app", "cfg.json", "--debugx"},
      {"app", "cfg.json", "--debug", "-v"},
  };
  for (const auto& args : cases) {
    fake_sdk::reset();
    testing::internal::CaptureStdout();
    EXPECT_EQ(run(args), -1) << args.back();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Uso: app <config.json> [--debug]\n");
    EXPECT_TRUE(fake_sdk::calls().empty()) << args.back();
  }
}

TEST_F(EntryPoint, DebugSwitchMustBeExactlySecondArgument) {
  struct Case {
    std::vector<std::string> args;
    bool debug;
    std::string path;
  };
  const std::vector<Case> cases = {
      {{"app", "cfg.json", "--debug"}, true, "cfg.json"},
      {{"app", "cfg.json", "--debug", "extra"}, true, "cfg.json"},
      {{"app", "cfg.json"}, false, "cfg.json"},
      {{"app", "--debug"}, false, "--debug"},
      {{"app", "cfg.json", "x", "--debug"}, false, "cfg.json"},
  };
  for (const auto& c : cases) {
    fake_sdk::reset();
    fake_sdk::set_init_result(false);
    testing::internal::CaptureStderr();
    EXPECT_EQ(run(c.args), -1);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(app::debug_mode.load(), c.debug) << c.args.back();
    EXPECT_EQ(fake_sdk::init_args().path, c.path);
  }
}

TEST_F(EntryPoint, InitFailureReportsAndStopsWorkerWithoutUninit) {
  fake_sdk::set_init_result(false);
  testing::internal::CaptureStderr();
  EXPECT_EQ(run({"app", "bad.json"}), -1);
  // The publisher reports its own failed contact first; no Redis runs in this test.
  EXPECT_THAT(testing::internal::GetCapturedStderr(), EndsWith("[ERR] LidarSdkInit falhou\n"));
  EXPECT_EQ(fake_sdk::call_names(), (std::vector<std::string>{"LidarSdkInit"}));
  // Configuration mode: an empty host address and no log settings.
  EXPECT_EQ(fake_sdk::init_args().host_ip, "");
  EXPECT_FALSE(fake_sdk::init_args().log_cfg);
}

TEST_F(EntryPoint, StartFailureUninitialisesAfterRegisteringCallbacks) {
  fake_sdk::set_start_result(false);
  testing::internal::CaptureStderr();
  EXPECT_EQ(run({"app", "cfg.json"}), -1);
  EXPECT_THAT(testing::internal::GetCapturedStderr(), EndsWith("[ERR] LidarSdkStart falhou\n"));
  EXPECT_EQ(fake_sdk::call_names(),
            (std::vector<std::string>{"LidarSdkInit", "SetLidarPointCloudCallback",
                                      "SetLidarImuDataCallback", "SetLidarInfoChangeCallback",
                                      "LidarSdkStart", "LidarSdkUninit"}));
  const auto calls = fake_sdk::calls();
  EXPECT_EQ(calls[1].callback, reinterpret_cast<const void*>(&app::on_point_cloud));
  EXPECT_EQ(calls[2].callback, reinterpret_cast<const void*>(&app::on_imu_data));
  EXPECT_EQ(calls[3].callback, reinterpret_cast<const void*>(&app::on_info_change));
  for (const auto& call : calls) EXPECT_EQ(call.client_data, nullptr) << call.name;
}

}  // namespace
