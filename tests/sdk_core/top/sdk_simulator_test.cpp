// Against the simulated LiDAR (a Linux program started as a child process), the whole road
// from detection to streamed datagrams in both start-up modes.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "lidar_byte_io.h"
#include "lidar_sdk.h"
#include "device_manager.h"
#include "tests/sdk_core/top/scripted_lidar.h"
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

TEST_F(SimulatedLidarTest, StatePushesOnTheRecordsHostPushPortReachThePushInfoCallback) {
  static std::atomic<int> decoded{0};
  ConfigOptions options = OneLidar(kLidar);
  options.master_sdk = true;
  ASSERT_TRUE(LidarSdkInit(dir_.WriteConfig(options).c_str(), "", nullptr));
  SetLidarPushInfoCallback(
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

struct RecordedDatagram {
  uint16_t from_port;
  uint16_t to_port;
  Bytes bytes;
};

// What the simulator, preconfigured for this host and told to truncate datagrams and mix in
// junk, sends to the host's push, point and IMU ports in a little over a second.
std::vector<RecordedDatagram> RecordSimulator(const std::filesystem::path& log) {
  std::vector<std::unique_ptr<UdpEndpoint>> ports;
  for (uint16_t port : {56201, 56301, 56401}) {
    ports.push_back(std::make_unique<UdpEndpoint>("127.0.0.1", port, false));
  }
  Simulator sim({"--ip", kLidar, "--preconfigured", "127.0.0.1", "--rate", "100000",
                 "--push-period", "0.1", "--truncate", "0.05", "--garbage", "100"},
                log.string());
  std::vector<RecordedDatagram> recording;
  const auto until = std::chrono::steady_clock::now() + milliseconds(1200);
  for (bool more = true; more;) {
    if (sim.running() && std::chrono::steady_clock::now() >= until) sim.Stop();
    more = sim.running();
    for (std::size_t i = 0; i < ports.size(); ++i) {
      while (auto got = ports[i]->Receive(milliseconds(more ? 1 : 20))) {
        recording.push_back({got->from_port, static_cast<uint16_t>(56201 + 100 * i), got->bytes});
        more = true;
        // A slow build may take datagrams in no faster than the simulator sends them.
        if (sim.running() && std::chrono::steady_clock::now() >= until) break;
      }
    }
  }
  return recording;
}

TEST(ReceivePaths, RecordedTrafficReachesTheCallbacksAlikeDatagramByDatagramAndInBatches) {
  TempDir dir;
  const std::vector<RecordedDatagram> recording = RecordSimulator(dir.path() / "sim.log");
  ASSERT_GT(recording.size(), 1000u);
  // Headers each callback must see, per receiving port in the order sent (two sockets
  // interleave as the IO thread serves them); datagrams shorter than their header or than
  // the records they announce in a decoded data type are counted instead.
  const std::map<uint8_t, std::size_t> record_size = {{kDataTypeImu, kImuRecordSize},
      {kDataTypeCartesianHigh, kCartesianHighRecordSize},
      {kDataTypeCartesianLow, kCartesianLowRecordSize}};
  std::map<std::pair<uint16_t, bool>, std::vector<std::size_t>> expected;  // (port, IMU)
  uint64_t expected_short = 0;
  std::size_t total = 0;
  for (const RecordedDatagram& d : recording) {
    if (d.to_port == 56201) continue;
    std::size_t needed = kPacketHeaderSize;
    const uint8_t type = d.bytes.size() < needed ? 0xFF : d.bytes[kPacketDataTypeOffset];
    if (record_size.count(type) != 0) {
      needed += load_le<uint16_t>(&d.bytes[kPacketDotCountOffset]) * record_size.at(type);
    }
    if (d.bytes.size() < needed) {
      ++expected_short;
    } else {
      expected[{d.to_port, type == kDataTypeImu}].push_back(HeaderHash(d.bytes.data()));
      ++total;
    }
  }
  ASSERT_GT(expected_short, 10u);

  uint64_t malformed[2] = {};
  for (std::size_t limit : {std::size_t{1}, kReceiveEventLimit}) {
    SCOPED_TRACE(limit == 1 ? "datagram by datagram" : "in batches");
    Recorder recorder;
    recorder.Attach();
    DeviceManager::GetInstance().SetReceiveLimit(limit);
    ASSERT_TRUE(LidarSdkInit(dir.WriteConfig(OneLidar(kLidar)).c_str(), "", nullptr));
    LidarHealthCounters before{}, after{};
    LidarGetHealthCounters(&before);
    // Bursts that queue up, well within the receive buffer; every tenth datagram goes again
    // from an address without a record.
    std::map<uint16_t, std::unique_ptr<UdpEndpoint>> lidar;
    UdpEndpoint stranger("127.0.0.3", 0);
    for (std::size_t i = 0; i < recording.size(); ++i) {
      const RecordedDatagram& d = recording[i];
      auto& from = lidar[d.from_port];
      if (!from) from = std::make_unique<UdpEndpoint>(kLidar, d.from_port);
      from->SendTo("127.0.0.1", d.to_port, d.bytes);
      if (i % 10 == 0) stranger.SendTo("127.0.0.1", d.to_port, d.bytes);
      if (i % 64 == 63) std::this_thread::sleep_for(milliseconds(1));
    }
    WaitUntil([&] { return recorder.points() + recorder.imus() >= total; }, milliseconds(5000));
    std::this_thread::sleep_for(milliseconds(200));
    LidarGetHealthCounters(&after);
    LidarSdkUninit();
    DeviceManager::GetInstance().SetReceiveLimit(kReceiveEventLimit);

    EXPECT_EQ(after.kernel_drops, before.kernel_drops) << "the comparison needs every datagram";
    EXPECT_EQ(after.dropped_short - before.dropped_short, expected_short);
    EXPECT_EQ(after.dropped_unknown_sender - before.dropped_unknown_sender,
              (recording.size() + 9) / 10);
    malformed[limit == 1 ? 0 : 1] = after.dropped_malformed - before.dropped_malformed;
    for (const auto& [key, hashes] : expected) {
      std::vector<std::size_t> seen;
      for (const auto& d : key.second ? recorder.imu_data() : recorder.point_data()) {
        if (std::count(hashes.begin(), hashes.end(), d.header_hash) != 0) {
          seen.push_back(d.header_hash);
        }
      }
      EXPECT_EQ(seen, hashes) << "port " << key.first << (key.second ? " IMU" : " points");
    }
  }
  EXPECT_EQ(malformed[0], malformed[1]);
}

}  // namespace
}  // namespace lidar::sdk::testing
