// The SDK's public lifecycle: Init, Start and Uninit, the sockets and the detection they leave
// running or behind.
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <spdlog/spdlog.h>

#include "lidar_byte_io.h"
#include "lidar_sdk.h"
#include "tests/sdk_core/top/scripted_lidar.h"
#include "tests/sdk_core/top/sdk_session.h"

namespace lidar::sdk::testing {
namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

// Detection broadcasts heard on the LiDAR side during `window`.
int CountBroadcasts(const UdpEndpoint& listener, milliseconds window) {
  const auto end = std::chrono::steady_clock::now() + window;
  int count = 0;
  for (;;) {
    const auto left =
        std::chrono::duration_cast<milliseconds>(end - std::chrono::steady_clock::now());
    if (left.count() <= 0) return count;
    auto datagram = listener.Receive(left);
    if (!datagram) return count;
    auto frame = DecodeFrame(datagram->bytes);
    if (frame && frame->cmd_id == 0 && frame->cmd_type == 0) ++count;
  }
}

class LifecycleTest : public ::testing::Test {
 protected:
  void TearDown() override { LidarSdkUninit(); }
  TempDir dir_;
};

TEST_F(LifecycleTest, StartNeedsNoInitAndUninitWithoutInitDoesNothing) {
  EXPECT_TRUE(LidarSdkStart());
  LidarSdkUninit();
  LidarSdkUninit();
}

TEST_F(LifecycleTest, InitWithoutPathOrHostFailsAfterCreatingTheLogger) {
  spdlog::drop_all();
  EXPECT_FALSE(LidarSdkInit(nullptr, nullptr, nullptr));
  EXPECT_NE(spdlog::get("console"), nullptr);
  // Nothing was started, so a real Init follows.
  EXPECT_TRUE(LidarSdkInit(dir_.WriteConfig({}).c_str(), "", nullptr));
}

TEST_F(LifecycleTest, SecondInitIsRefusedAndStartsNoSecondDetection) {
  UdpEndpoint listener("0.0.0.0", 56000);
  ASSERT_TRUE(LidarSdkInit(dir_.WriteConfig({}).c_str(), "", nullptr));
  EXPECT_FALSE(LidarSdkInit(dir_.WriteConfig({}).c_str(), "", nullptr));
  EXPECT_FALSE(LidarSdkInit(nullptr, "127.0.0.1", nullptr));
  const int heard = CountBroadcasts(listener, milliseconds(2500));
  EXPECT_GE(heard, 2);
  EXPECT_LE(heard, 3);
}

TEST_F(LifecycleTest, UninitClosesEverySocketOnceAndInitWorksAgain) {
  ASSERT_TRUE(LidarSdkInit(dir_.WriteConfig(OneLidar(kLidar)).c_str(), "", nullptr));
  EXPECT_FALSE(PortIsFree("127.0.0.1", 56000));
  EXPECT_FALSE(PortIsFree("127.0.0.1", 56101));
  EXPECT_FALSE(PortIsFree("127.0.0.1", 56301));
  LidarSdkUninit();
  for (uint16_t port : {56000, 56101, 56201, 56301, 56401, 56501}) {
    EXPECT_TRUE(PortIsFree("127.0.0.1", port)) << port;
  }
  LidarSdkUninit();

  UdpEndpoint listener("0.0.0.0", 56000);
  ASSERT_TRUE(LidarSdkInit(dir_.WriteConfig({}).c_str(), "", nullptr));
  EXPECT_GE(CountBroadcasts(listener, milliseconds(1200)), 1);
}

TEST_F(LifecycleTest, FailedInitLeavesNoSocketOrDetectionBehind) {
  const std::string config = dir_.WriteConfig(OneLidar(kLidar));
  {
    // The detection port is held without sharing, so its socket cannot be opened, after the
    // IO threads have started.
    UdpEndpoint blocker("127.0.0.1", 56000, false);
    ASSERT_TRUE(blocker.valid());
    EXPECT_FALSE(LidarSdkInit(config.c_str(), "", nullptr));
    EXPECT_TRUE(PortIsFree("127.0.0.1", 56101));
    EXPECT_TRUE(PortIsFree("127.0.0.1", 56301));
  }
  UdpEndpoint listener("0.0.0.0", 56000);
  EXPECT_EQ(CountBroadcasts(listener, milliseconds(1200)), 0);
  EXPECT_TRUE(LidarSdkInit(config.c_str(), "", nullptr));
  EXPECT_GE(CountBroadcasts(listener, milliseconds(1200)), 1);
}

// A host port another program holds at Init does not stop the start: it waits, named in the
// health counters, and is opened within a detection period of being freed.
TEST_F(LifecycleTest, PortTakenAtInitIsOpenedOnceItIsFree) {
  auto waiting = [] {
    LidarHealthCounters health{};
    LidarGetHealthCounters(&health);
    return std::vector<uint16_t>(health.waiting_ports,
                                 health.waiting_ports + health.waiting_port_count);
  };
  {
    UdpEndpoint blocker("127.0.0.1", 56301, false);
    ASSERT_TRUE(blocker.valid());
    ASSERT_TRUE(LidarSdkInit(dir_.WriteConfig(OneLidar(kLidar)).c_str(), "", nullptr));
    EXPECT_FALSE(PortIsFree("127.0.0.1", 56401)) << "the other ports open";
    EXPECT_EQ(waiting(), std::vector<uint16_t>{56301});
    std::this_thread::sleep_for(milliseconds(1100));
    EXPECT_EQ(waiting(), std::vector<uint16_t>{56301});
  }
  EXPECT_TRUE(WaitUntil([&] { return waiting().empty(); }, milliseconds(1500)));
  EXPECT_FALSE(PortIsFree("127.0.0.1", 56301));
  LidarSdkUninit();
  EXPECT_TRUE(PortIsFree("127.0.0.1", 56301));
}

TEST_F(LifecycleTest, InitBroadcastsOneWellFormedDetectionFramePerSecond) {
  UdpEndpoint listener("0.0.0.0", 56000);
  ASSERT_TRUE(listener.valid());
  ASSERT_TRUE(LidarSdkInit(dir_.WriteConfig({}).c_str(), "", nullptr));

  std::vector<Datagram> frames;
  std::vector<Clock::time_point> arrivals;
  while (frames.size() < 3) {
    auto datagram = listener.Receive(milliseconds(1500));
    ASSERT_TRUE(datagram) << "only " << frames.size() << " detection frames";
    frames.push_back(*datagram);
    arrivals.push_back(Clock::now());
  }
  for (std::size_t i = 0; i < frames.size(); ++i) {
    const Bytes& b = frames[i].bytes;
    ASSERT_EQ(b.size(), 24u);
    EXPECT_EQ(frames[i].from_ip, kHost);
    EXPECT_EQ(frames[i].from_port, 56000);
    EXPECT_EQ(b[0], 0xAA);
    EXPECT_EQ(b[1], 0);
    EXPECT_EQ(load_le<uint16_t>(&b[2]), 24);
    EXPECT_EQ(load_le<uint16_t>(&b[8]), 0x0000);  // detection
    EXPECT_EQ(b[10], 0);                          // request
    EXPECT_EQ(b[11], 0);                          // from the host
    for (int k = 12; k < 18; ++k) EXPECT_EQ(b[k], 0) << "reserved byte " << k;
    EXPECT_EQ(load_le<uint16_t>(&b[18]), BitwiseCrc16(b.data(), 18));
    EXPECT_EQ(load_le<uint32_t>(&b[20]), 0u);
    if (i > 0) {
      EXPECT_EQ(load_le<uint32_t>(&b[4]), load_le<uint32_t>(&frames[i - 1].bytes[4]) + 1);
      const auto gap = std::chrono::duration_cast<milliseconds>(arrivals[i] - arrivals[i - 1]);
      EXPECT_GE(gap.count(), 900);
      EXPECT_LE(gap.count(), 1150);
    }
  }
}

}  // namespace
}  // namespace lidar::sdk::testing
