// The device manager against a scripted LiDAR on the sandbox's loopback: registration from
// detection replies, routing of data and control datagrams, command sockets, request matching
// through the real IO timers, and the log capture. Linux only: Wine binds a socket asked for
// 127.0.0.2 to the wildcard address, so no second host can live on loopback there.
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "lidar_byte_io.h"
#include "lidar_sdk.h"
#include "device_manager.h"
#include "tests/sdk_core/base/log_capture.h"
#include "tests/sdk_core/top/scripted_lidar.h"
#include "tests/sdk_core/top/sdk_session.h"

namespace lidar::sdk::testing {
namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

std::size_t Occurrences(const std::string& text, const std::string& what) {
  std::size_t count = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
    ++count;
  }
  return count;
}

Bytes DetectionReply(uint8_t ret_code, uint8_t dev_type, const std::string& ip,
                     const std::string& sn = "TESTSN01") {
  Frame frame;
  frame.seq = 2;
  frame.cmd_id = 0x0000;
  frame.cmd_type = 1;
  frame.sender_type = 1;
  frame.payload = DetectionReplyPayload(ret_code, dev_type, sn, ip, 56100);
  return EncodeFrame(frame);
}

class DeviceManagerTest : public ::testing::Test {
 protected:
  void TearDown() override { LidarSdkUninit(); }

  void Start(const ConfigOptions& options = {}) {
    recorder_.Attach();
    ASSERT_TRUE(LidarSdkInit(dir_.WriteConfig(options).c_str(), "", nullptr));
    log_ = std::make_unique<LogCapture>();
  }

  // Answers detection twice from `ip` (the first reply registers the LiDAR, the second reaches
  // the command layer) and waits until its point datagrams get through.
  void Register(const std::string& ip, const std::string& sn = "TESTSN01") {
    UdpEndpoint reply(ip, 56000);
    UdpEndpoint data(ip, 56300);
    ASSERT_TRUE(reply.valid() && data.valid());
    ASSERT_TRUE(reply.SendTo(kHost, 56000, DetectionReply(0, 9, ip, sn)));
    ASSERT_TRUE(reply.SendTo(kHost, 56000, DetectionReply(0, 9, ip, sn)));
    const std::size_t before = recorder_.points();
    ASSERT_TRUE(WaitUntil(
        [&] {
          data.SendTo(kHost, 56301, PointDatagram(1));
          return recorder_.points() > before;
        },
        milliseconds(2000)));
    // The second reply is handled on the detection thread right after the first one.
    std::this_thread::sleep_for(milliseconds(50));
  }

  TempDir dir_;
  Recorder recorder_;
  std::unique_ptr<LogCapture> log_;
};

TEST_F(DeviceManagerTest, FirstValidReplyRegistersTheLidarOnceAndItsDataReachesTheCallbacks) {
  Start();
  UdpEndpoint reply(kLidar, 56000);
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(reply.SendTo(kHost, 56000, DetectionReply(0, 9, kLidar)));
  Register(kLidar);
  EXPECT_EQ(Occurrences(log_->Text(), "Register lidar"), 1u) << log_->Text();

  UdpEndpoint point_port(kLidar, 56300);
  UdpEndpoint imu_port(kLidar, 56400);
  const std::size_t points_before = recorder_.points();
  ASSERT_TRUE(point_port.SendTo(kHost, 56301, PointDatagram(10)));
  ASSERT_TRUE(imu_port.SendTo(kHost, 56401, ImuDatagram()));
  // A datagram whose data type is 0 is IMU whatever port it came to.
  ASSERT_TRUE(point_port.SendTo(kHost, 56301, ImuDatagram()));
  ASSERT_TRUE(WaitUntil([&] { return recorder_.imus() == 2; }, milliseconds(1000)));
  ASSERT_TRUE(WaitUntil([&] { return recorder_.points() == points_before + 1; }, milliseconds(1000)));
  for (const auto& d : recorder_.point_data()) {
    EXPECT_EQ(d.handle, Handle(kLidar));
    EXPECT_EQ(d.dev_type, 9);
    EXPECT_EQ(d.data_type, 1);
  }
  for (const auto& d : recorder_.imu_data()) {
    EXPECT_EQ(d.handle, Handle(kLidar));
    EXPECT_EQ(d.data_type, 0);
  }
}

TEST_F(DeviceManagerTest, InvalidRepliesUnknownSendersAndTheHostsOwnAddressChangeNothing) {
  Start();
  LidarHealthCounters before{};
  LidarGetHealthCounters(&before);
  struct Case {
    const char* ip;
    Bytes reply;
  };
  const std::vector<Case> cases = {
      {"127.0.0.3", DetectionReply(1, 9, "127.0.0.3")},   // non-zero return code
      {"127.0.0.4", DetectionReply(0, 16, "127.0.0.4")},  // no per-type record for type 16
      {"127.0.0.5", Bytes{0x01, 0x02, 0x03}},             // not a frame
      {kHost, DetectionReply(0, 9, kHost)},               // the host itself
  };
  for (const Case& c : cases) {
    UdpEndpoint sender(c.ip, c.ip == std::string(kHost) ? 0 : 56000);
    ASSERT_TRUE(sender.valid()) << c.ip;
    ASSERT_TRUE(sender.SendTo(kHost, 56000, c.reply));
  }
  std::this_thread::sleep_for(milliseconds(200));
  for (const Case& c : cases) {
    UdpEndpoint data(c.ip, 0);
    data.SendTo(kHost, 56301, PointDatagram(1));
  }
  std::this_thread::sleep_for(milliseconds(200));
  EXPECT_EQ(recorder_.points(), 0u);
  EXPECT_EQ(Occurrences(log_->Text(), "Register lidar"), 0u) << log_->Text();
  EXPECT_EQ(Occurrences(log_->Text(), "Parse Command Stream failed."), 1u) << log_->Text();
  // Only the well-formed answer of a type the configuration lacks counts, as not taken.
  LidarHealthCounters after{};
  LidarGetHealthCounters(&after);
  EXPECT_EQ(after.detection_replies, before.detection_replies);
  EXPECT_EQ(after.unconfigured_replies, before.unconfigured_replies + 1);
  EXPECT_EQ(after.last_unconfigured_lidar, Handle("127.0.0.4"));

  // The same manager still registers a LiDAR that answers properly.
  Register(kLidar);
  LidarGetHealthCounters(&after);
  EXPECT_EQ(after.detection_replies, before.detection_replies + 2);
}

TEST_F(DeviceManagerTest, CommandsLeaveFromTheLidarsCommandSocketOrElseTheDetectionSocket) {
  Start();
  Register(kLidar);
  UdpEndpoint known(kLidar, 56100);
  UdpEndpoint unknown("127.0.0.3", 56100);
  ASSERT_TRUE(known.valid() && unknown.valid());

  auto send = [](const char* ip, bool logger) {
    const Ipv4Endpoint to{Handle(ip), 56100};
    const Bytes frame = EncodeFrame(Frame{7, 0x0100, 0, 0, {1, 0, 0, 0}});
    const auto length = static_cast<uint32_t>(frame.size());
    DeviceManager& manager = DeviceManager::GetInstance();
    return logger ? manager.SendLoggerCommand(9, Handle(ip), frame.data(), length, to)
                  : manager.SendCommand(9, Handle(ip), frame.data(), length, to);
  };

  log_->Clear();
  EXPECT_EQ(send(kLidar, false), 28);
  auto got = known.Receive(milliseconds(500));
  ASSERT_TRUE(got);
  EXPECT_EQ(got->from_port, 56101);
  EXPECT_FALSE(log_->Has("Get cmd channel faileld"));

  EXPECT_EQ(send(kLidar, true), 28);
  got = known.Receive(milliseconds(500));
  ASSERT_TRUE(got);
  EXPECT_EQ(got->from_port, 56501);

  EXPECT_EQ(send("127.0.0.3", false), 28);
  got = unknown.Receive(milliseconds(500));
  ASSERT_TRUE(got);
  EXPECT_EQ(got->from_ip, kHost);
  EXPECT_EQ(got->from_port, 56000);
  EXPECT_TRUE(log_->Has("Get cmd channel faileld, the lidar handle: " +
                        std::to_string(Handle("127.0.0.3"))))
      << log_->Text();

  // The log channel falls back without a word.
  log_->Clear();
  EXPECT_EQ(send("127.0.0.3", true), 28);
  got = unknown.Receive(milliseconds(500));
  ASSERT_TRUE(got);
  EXPECT_EQ(got->from_port, 56000);
  EXPECT_EQ(log_->Text(), "");
}

struct Completion {
  std::atomic<int> calls{0};
  std::atomic<int> status{1};
  std::atomic<int> ret_code{-1};
  std::atomic<int64_t> at_ms{0};
};

void OnControl(CommandStatus status, uint32_t, LidarAsyncControlResponse* response, void* data) {
  auto* done = static_cast<Completion*>(data);
  done->status = status;
  done->ret_code = response != nullptr ? response->ret_code : -1;
  done->at_ms = std::chrono::duration_cast<milliseconds>(Clock::now().time_since_epoch()).count();
  ++done->calls;
}

TEST_F(DeviceManagerTest, AcknowledgementsCompleteTheirRequestAndSilenceTimesOutAfterOneSecond) {
  Start();
  Register(kLidar);
  UdpEndpoint lidar(kLidar, 56100);

  Completion answered;
  ASSERT_EQ(LidarSetWorkMode(Handle(kLidar), 1, OnControl, &answered), kStatusSuccess);
  auto request = lidar.ReceiveCommand(0x0100, milliseconds(500));
  ASSERT_TRUE(request);
  EXPECT_EQ(request->second.from_port, 56101);
  EXPECT_EQ(request->first.payload, (Bytes{1, 0, 0, 0, 0x1A, 0, 1, 0, 1}));
  // An acknowledgement nobody waits for first, then the right one.
  lidar.SendTo(kHost, 56101, EncodeFrame(Frame{request->first.seq + 1000, 0x0100, 1, 1, {0, 0, 0}}));
  lidar.SendTo(kHost, 56101, EncodeFrame(Frame{request->first.seq, 0x0100, 1, 1, {0, 0, 0}}));
  ASSERT_TRUE(WaitUntil([&] { return answered.calls > 0; }, milliseconds(500)));
  EXPECT_EQ(answered.status, kStatusSuccess);
  EXPECT_EQ(answered.ret_code, 0);

  Completion unanswered;
  const int64_t sent_ms =
      std::chrono::duration_cast<milliseconds>(Clock::now().time_since_epoch()).count();
  ASSERT_EQ(LidarSetWorkMode(Handle(kLidar), 1, OnControl, &unanswered), kStatusSuccess);
  ASSERT_TRUE(WaitUntil([&] { return unanswered.calls > 0; }, milliseconds(1500)));
  EXPECT_EQ(unanswered.status, kStatusTimeout);
  EXPECT_GE(unanswered.at_ms - sent_ms, 1000);
  EXPECT_LE(unanswered.at_ms - sent_ms, 1200);

  std::this_thread::sleep_for(milliseconds(150));
  EXPECT_EQ(answered.calls, 1);
  EXPECT_EQ(unanswered.calls, 1);

  // A LiDAR the SDK does not know has no handler: refused at once, no callback ever.
  Completion refused;
  EXPECT_EQ(LidarSetWorkMode(Handle("127.0.0.9"), 1, OnControl, &refused), kStatusSendFailed);
  std::this_thread::sleep_for(milliseconds(100));
  EXPECT_EQ(refused.calls, 0);
}

// Records of the capture files: (local port, bytes) in file order.
std::vector<std::pair<uint16_t, Bytes>> ReadRecords(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  const Bytes all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<std::pair<uint16_t, Bytes>> records;
  std::size_t at = 0;
  while (at + 12 <= all.size()) {
    const uint16_t port = load_le<uint16_t>(&all[at + 8]);
    const uint16_t length = load_le<uint16_t>(&all[at + 10]);
    if (at + 12 + length > all.size()) break;
    records.emplace_back(port, Bytes(all.begin() + at + 12, all.begin() + at + 12 + length));
    at += 12 + length;
  }
  return records;
}

std::vector<std::filesystem::path> FilesIn(const std::filesystem::path& dir) {
  std::vector<std::filesystem::path> files;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) files.push_back(entry.path());
  return files;
}

TEST_F(DeviceManagerTest, LogCaptureStoresTheLogPortsDatagramsPerLidarWhenEnabled) {
  ConfigOptions options;
  options.log_enable = true;
  options.log_path = (dir_.path() / "captures" / "nested").string();
  Start(options);
  ASSERT_TRUE(std::filesystem::is_directory(options.log_path));
  Register(kLidar, "SN-LOG-1");

  UdpEndpoint log_port(kLidar, 56500);
  const Bytes first = {1, 2, 3, 4, 5};
  const Bytes second(700, 0x5A);
  ASSERT_TRUE(log_port.SendTo(kHost, 56501, first));
  ASSERT_TRUE(log_port.SendTo(kHost, 56501, second));
  const std::filesystem::path file =
      std::filesystem::path(options.log_path) / "lidarlog_000001_127.0.0.2_SN-LOG-1.bin";
  ASSERT_TRUE(WaitUntil(
      [&] {
        std::error_code ec;
        return std::filesystem::file_size(file, ec) == 2 * 12 + first.size() + second.size();
      },
      milliseconds(1000)))
      << "files: " << FilesIn(options.log_path).size();
  const auto records = ReadRecords(file);
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0], std::make_pair(uint16_t{56501}, first));
  EXPECT_EQ(records[1], std::make_pair(uint16_t{56501}, second));
}

}  // namespace
}  // namespace lidar::sdk::testing
