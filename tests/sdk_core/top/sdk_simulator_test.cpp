// Against the simulated LiDAR (a Linux program started as a child process), the whole road
// from detection to streamed datagrams in both start-up modes.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "lidar_sdk.h"
#include "sdk_core/command_handler/general_command_handler.h"
#include "tests/sdk_core/top/sdk_session.h"

extern char** environ;

namespace lidar::sdk::testing {
namespace {

using std::chrono::milliseconds;

constexpr const char* kLidar = "127.0.0.2";

class SimulatedLidarTest : public ::testing::Test {
 protected:
  void TearDown() override { LidarSdkUninit(); }
  TempDir dir_;
  // Outlives the SDK session: its IO thread delivers to the recorder until Uninit has run.
  Recorder recorder;
};

// The simulated LiDAR as a child process; its status lines go to a file.
class Simulator {
 public:
  Simulator(const std::vector<std::string>& args, const std::string& log_file) : log_(log_file) {
    std::vector<std::string> all = {LIDAR_SIM_PATH};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& arg : all) argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, log_.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~Simulator() { Stop(); }

  bool running() const { return pid_ > 0; }

  // Ends the simulator and returns its closing line's totals (point, IMU datagrams sent).
  std::pair<long, long> Stop() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      int status = 0;
      ::waitpid(pid_, &status, 0);
      pid_ = -1;
    }
    std::ifstream in(log_);
    std::stringstream text;
    text << in.rdbuf();
    std::smatch match;
    const std::string all = text.str();
    static const std::regex totals(R"((\d+) point and (\d+) IMU datagrams sent)");
    if (!std::regex_search(all, match, totals)) return {-1, -1};
    return {std::stol(match[1]), std::stol(match[2])};
  }

 private:
  std::string log_;
  pid_t pid_ = -1;
};

TEST_F(SimulatedLidarTest, ConfiguredLidarIsSetUpAndEveryStreamedDatagramReachesTheCallbacks) {
  recorder.Attach();
  ConfigOptions options;
  options.master_sdk = true;
  options.lidar_ip = kLidar;
  ASSERT_TRUE(LidarSdkInit(dir_.WriteConfig(options).c_str(), "", nullptr));
  ASSERT_TRUE(LidarSdkStart());

  Simulator sim({"--ip", kLidar, "--seconds", "20"}, (dir_.path() / "sim.log").string());
  ASSERT_TRUE(sim.running());
  ASSERT_TRUE(WaitUntil([&] { return !recorder.infos().empty(); }, milliseconds(5000)));
  const auto infos = recorder.infos();
  ASSERT_EQ(infos.size(), 1u);
  EXPECT_EQ(infos[0].first, Handle(kLidar));
  EXPECT_EQ(infos[0].second.dev_type, 9);
  EXPECT_STREQ(infos[0].second.lidar_ip, kLidar);
  EXPECT_STREQ(infos[0].second.sn, "SIM000000002");

  EXPECT_EQ(LidarEnablePointSend(Handle(kLidar), nullptr, nullptr), kStatusSuccess);
  ASSERT_TRUE(WaitUntil([&] { return recorder.points() > 0; }, milliseconds(2000)));
  std::this_thread::sleep_for(milliseconds(1500));
  const auto [points_sent, imus_sent] = sim.Stop();
  std::this_thread::sleep_for(milliseconds(200));

  ASSERT_GT(points_sent, 1000) << "simulator log unreadable or stream too slow";
  EXPECT_EQ(static_cast<long>(recorder.points()), points_sent);
  EXPECT_EQ(static_cast<long>(recorder.imus()), imus_sent);
  for (const auto& d : recorder.point_data()) {
    ASSERT_EQ(d.handle, Handle(kLidar));
    ASSERT_EQ(d.dev_type, 9);
  }
  EXPECT_EQ(recorder.infos().size(), 1u);
}

TEST_F(SimulatedLidarTest, StateMessagesAreDecodedOnTheRecordsHostPushPort) {
  static std::atomic<int> decoded{0};
  ConfigOptions options = OneLidar(kLidar);
  options.master_sdk = true;
  ASSERT_TRUE(LidarSdkInit(dir_.WriteConfig(options).c_str(), "", nullptr));
  GeneralCommandHandler::GetInstance().SetLidarPushInfoCallback(
      [](uint32_t, uint8_t, const char* info, void*) {
        if (std::strstr(info, "\"sn\": \"SIM000000002\"") != nullptr) ++decoded;
      },
      nullptr);
  // The configuration names the host push port, 127.0.0.1:56201, as their destination.
  Simulator sim({"--ip", kLidar, "--push-period", "0.2", "--seconds", "20"},
                (dir_.path() / "sim.log").string());
  EXPECT_TRUE(WaitUntil([&] { return decoded >= 2; }, milliseconds(5000)));
}

TEST_F(SimulatedLidarTest, CallbacksRegisteredWhileAStreamingLidarDeliversAreSafe) {
  // A service restarted beside a LiDAR that kept streaming registers its callbacks (here again
  // and again) while the data thread already delivers; ThreadSanitizer watches.
  Simulator sim({"--ip", kLidar, "--preconfigured", "127.0.0.1", "--seconds", "20"},
                (dir_.path() / "sim.log").string());
  std::this_thread::sleep_for(milliseconds(300));
  ASSERT_TRUE(LidarSdkInit(dir_.WriteConfig(OneLidar(kLidar)).c_str(), "", nullptr));
  for (int i = 0; i < 300; ++i) {
    SetLidarPointCloudCallback(nullptr, nullptr);
    recorder.Attach();
    std::this_thread::sleep_for(std::chrono::microseconds(500));
  }
  EXPECT_TRUE(WaitUntil([&] { return recorder.points() > 0; }, milliseconds(2000)));
}

TEST_F(SimulatedLidarTest, HostAddressModeReceivesFromAnAlreadyConfiguredLidar) {
  recorder.Attach();
  ASSERT_TRUE(LidarSdkInit(nullptr, "127.0.0.1", nullptr));
  Simulator sim({"--ip", kLidar, "--preconfigured", "127.0.0.1", "--seconds", "20"},
                (dir_.path() / "sim.log").string());
  ASSERT_TRUE(sim.running());
  ASSERT_TRUE(WaitUntil([&] { return recorder.points() > 0 && recorder.imus() > 0; },
                        milliseconds(6000)));
  ASSERT_TRUE(WaitUntil([&] { return !recorder.infos().empty(); }, milliseconds(2000)));
  EXPECT_STREQ(recorder.infos()[0].second.sn, "SIM000000002");
  const auto point = recorder.point_data().front();
  EXPECT_EQ(point.handle, Handle(kLidar));
  EXPECT_EQ(point.dev_type, 9);
}

}  // namespace
}  // namespace lidar::sdk::testing
