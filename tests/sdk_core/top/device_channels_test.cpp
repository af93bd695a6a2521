// The device manager's channels: which sockets open on which address and port, which loop
// serves them, sharing, skipping, failures and teardown.
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "lidar_sdk.h"
#include "base/sdk_socket.h"
#include "tests/sdk_core/base/socket_test_support.h"
#include "tests/sdk_core/top/device_channels_fixture.h"

namespace lidar::sdk::testing {
namespace {

TEST(CreateSocket, OpensAndBindsOrRefuses) {
  const int any = CreateSocket(56701, true, PortSharing::kShared, true, "", "");
  ASSERT_GE(any, 0);
  EXPECT_EQ(LocalAddress(any), "0.0.0.0:56701");

  const int plain = CreateSocket(56702, false, PortSharing::kNone, false, "127.0.0.1", "");
  ASSERT_GE(plain, 0);
  EXPECT_EQ(LocalAddress(plain), "127.0.0.1:56702");

  EXPECT_EQ(CreateSocket(56702, true, PortSharing::kOwned, false, "127.0.0.1", ""), kInvalidSocket)
      << "the port is held without address reuse";
  EXPECT_EQ(CreateSocket(56703, true, PortSharing::kOwned, false, "not-an-address", ""),
            kInvalidSocket);
  CloseSocket(any);
  CloseSocket(plain);
}

TEST_F(DeviceChannelsTest, SocketsAreServedByTheirChannelsLoop) {
  ASSERT_TRUE(channels_.CreateDetectionChannel("127.0.0.1"));
  const HostNetInfo host = Host("127.0.0.1", 56101);
  ASSERT_TRUE(channels_.CreateCommandChannel(kDeviceTypeOmni, host));
  ASSERT_TRUE(channels_.CreateDataChannel(host));

  const int detection = channels_.detection_socket();
  const int cmd = channels_.FindSocket("127.0.0.1", 56101);
  const int point = channels_.FindSocket("127.0.0.1", 56301);
  ASSERT_GE(detection, 0);
  ASSERT_GE(cmd, 0);
  ASSERT_GE(point, 0);
  EXPECT_EQ(LocalAddress(detection), "127.0.0.1:56000");
  for (uint16_t port : {56201, 56501, 56401, 44332}) {
    EXPECT_GE(channels_.FindSocket("127.0.0.1", port), 0) << port;
  }

  SendFrom("127.0.0.2", "127.0.0.1", 56000);
  SendFrom("127.0.0.2", "127.0.0.1", 56101);
  SendFrom("127.0.0.2", "127.0.0.1", 56301);
  ASSERT_TRUE(delegate_.WaitFor(3));
  std::lock_guard<std::mutex> lock(delegate_.mutex);
  std::map<int, std::thread::id> served_by;
  for (const auto& event : delegate_.received) served_by[event.sock] = event.thread;
  ASSERT_EQ(served_by.size(), 3u);
  // Three channels, three loops, three threads, none of them the test's.
  std::set<std::thread::id> threads = {served_by[detection], served_by[cmd], served_by[point]};
  EXPECT_EQ(threads.size(), 3u);
  EXPECT_EQ(threads.count(std::this_thread::get_id()), 0u);
}

TEST_F(DeviceChannelsTest, RecordsSharingAnAddressAndPortShareOneSocket) {
  HostNetInfo first = Host("127.0.0.1", 56110);
  HostNetInfo second = Host("127.0.0.1", 56110);
  second.push_msg_port = 56211;  // one port differs
  ASSERT_TRUE(channels_.CreateCommandChannel(kDeviceTypeOmni, first));
  const int cmd = channels_.FindSocket("127.0.0.1", 56110);
  ASSERT_TRUE(channels_.CreateCommandChannel(kDeviceTypeOmni, second));
  EXPECT_EQ(channels_.FindSocket("127.0.0.1", 56110), cmd);
  EXPECT_GE(channels_.FindSocket("127.0.0.1", 56211), 0);
  // A second request for the same channel opens nothing new and still succeeds.
  ASSERT_TRUE(channels_.CreateDataChannel(first));
  const int point = channels_.FindSocket("127.0.0.1", 56310);
  ASSERT_TRUE(channels_.CreateDataChannel(first));
  EXPECT_EQ(channels_.FindSocket("127.0.0.1", 56310), point);
}

// Every newly detected LiDAR creates the channels of all records again while their sockets
// are being served (run under ThreadSanitizer too).
TEST_F(DeviceChannelsTest, ChannelsCreatedAgainWhileServedKeepTheirSocketAndPort) {
  const HostNetInfo host = Host("127.0.0.1", 56140);
  ASSERT_TRUE(channels_.CreateCommandChannel(kDeviceTypeOmni, host));
  ASSERT_TRUE(channels_.CreateDataChannel(host));
  const int point = channels_.FindSocket("127.0.0.1", 56340);
  ASSERT_GE(point, 0);
  constexpr int kDatagrams = 100;
  std::thread sender([] {
    for (int i = 0; i < kDatagrams; ++i) SendFrom("127.0.0.2", "127.0.0.1", 56340);
  });
  for (int i = 0; i < 50; ++i) {
    ASSERT_TRUE(channels_.CreateCommandChannel(kDeviceTypeOmni, host));
    ASSERT_TRUE(channels_.CreateDataChannel(host));
  }
  sender.join();
  ASSERT_TRUE(delegate_.WaitFor(kDatagrams));
  std::lock_guard<std::mutex> lock(delegate_.mutex);
  for (const auto& event : delegate_.received) {
    EXPECT_EQ(event.sock, point);
    EXPECT_EQ(event.port, 56340);
  }
  EXPECT_EQ(channels_.FindSocket("127.0.0.1", 56340), point);
}

TEST_F(DeviceChannelsTest, EmptyAddressZeroPortsAndTheDetectionPortAreSkipped) {
  ASSERT_TRUE(channels_.CreateCommandChannel(kDeviceTypeOmni, Host("", 56120)));
  ASSERT_TRUE(channels_.CreateDataChannel(Host("", 56120)));
  EXPECT_EQ(channels_.FindSocket("", 56120), kInvalidSocket);
  EXPECT_EQ(channels_.FindSocket("", 44332), kInvalidSocket);

  HostNetInfo zero = Host("127.0.0.1", 0);
  zero.push_msg_port = zero.point_data_port = zero.imu_data_port = zero.log_data_port = 0;
  ASSERT_TRUE(channels_.CreateCommandChannel(kDeviceTypeOmni, zero));
  EXPECT_EQ(channels_.FindSocket("127.0.0.1", 0), kInvalidSocket);

  ASSERT_TRUE(channels_.CreateDetectionChannel("127.0.0.1"));
  HostNetInfo data = Host("127.0.0.1", 56130);
  data.point_data_port = kDetectionPort;
  ASSERT_TRUE(channels_.CreateDataChannel(data));
  EXPECT_EQ(channels_.FindSocket("127.0.0.1", kDetectionPort), kInvalidSocket);
  EXPECT_GE(channels_.FindSocket("127.0.0.1", 56430), 0);
  EXPECT_TRUE(log_.Text().empty()) << log_.Text();
}

TEST_F(DeviceChannelsTest, LocalBindsEveryAddress) {
  ASSERT_TRUE(channels_.CreateDetectionChannel("local"));
  ASSERT_TRUE(channels_.CreateCommandChannel(kDeviceTypeForward, Host("local", 56140)));
  ASSERT_TRUE(channels_.CreateDataChannel(Host("local", 56140)));
  EXPECT_EQ(LocalAddress(channels_.detection_socket()), "0.0.0.0:56000");
  EXPECT_EQ(LocalAddress(channels_.FindSocket("local", 56140)), "0.0.0.0:56140");
  EXPECT_EQ(LocalAddress(channels_.FindSocket("local", 56340)), "0.0.0.0:56340");
}

TEST_F(DeviceChannelsTest, PortHeldElsewhereFailsTheChannel) {
  const int holder = CreateSocket(56460, false, PortSharing::kNone, false, "127.0.0.1", "");
  ASSERT_GE(holder, 0);
  EXPECT_FALSE(channels_.CreateCommandChannel(kDeviceTypeOmni, Host("127.0.0.1", 56060)));
  EXPECT_TRUE(log_.Has("Add command channel faileld, can not create socket, dev_type:9, the ip "
                       "127.0.0.1 port 56460"));
  EXPECT_TRUE(log_.Has("error Create socket and add delegate failed."));

  const int debug_holder =
      CreateSocket(kDebugPointCloudPort, false, PortSharing::kNone, false, "127.0.0.1", "");
  ASSERT_GE(debug_holder, 0);
  log_.Clear();
  EXPECT_FALSE(channels_.CreateDataChannel(Host("127.0.0.1", 56070)));
  EXPECT_TRUE(log_.Has(
      "Add command channel faileld, can not create socket, the ip 127.0.0.1 port 44332"));
  EXPECT_TRUE(log_.Has("error Create debug point cloud socket and add delegate failed."));

  const int detection_holder =
      CreateSocket(kDetectionPort, false, PortSharing::kNone, false, "127.0.0.1", "");
  EXPECT_FALSE(channels_.CreateDetectionChannel("127.0.0.1"));
  EXPECT_TRUE(log_.Has("error Create detection socket failed."));

  ViewLidarIpInfo view;
  view.host_ip = "127.0.0.1";
  view.host_point_port = 56460;
  EXPECT_FALSE(channels_.CreateViewDataChannel(view));
  EXPECT_TRUE(log_.Has("Create View point data channel faileld, can not create socket, the ip "
                       "127.0.0.1 port 56460"));
  for (int sock : {holder, debug_holder, detection_holder}) CloseSocket(sock);
}

TEST_F(DeviceChannelsTest, ViewDataChannelBroadcastsOnTheDataLoop) {
  ViewLidarIpInfo view;
  view.host_ip = "127.0.0.1";
  view.host_point_port = 56180;
  view.host_imu_port = 56181;
  ASSERT_TRUE(channels_.CreateViewDataChannel(view));
  ASSERT_GE(channels_.FindSocket("127.0.0.1", 56180), 0);
  SendFrom("127.0.0.2", "127.0.0.1", 56181);
  ASSERT_TRUE(delegate_.WaitFor(1));
}

TEST_F(DeviceChannelsTest, TeardownClosesEverySocket) {
  ASSERT_TRUE(channels_.CreateDetectionChannel("127.0.0.1"));
  ASSERT_TRUE(channels_.CreateCommandChannel(kDeviceTypeOmni, Host("127.0.0.1", 56190)));
  ASSERT_TRUE(channels_.CreateDataChannel(Host("127.0.0.1", 56190)));
  channels_.RemoveDelegates();
  StopThreads();
  channels_.CloseCommandAndDataSockets();
  EXPECT_EQ(channels_.FindSocket("127.0.0.1", 56190), kInvalidSocket);
  EXPECT_GE(channels_.detection_socket(), 0);
  channels_.CloseDetectionSocket();
  EXPECT_EQ(channels_.detection_socket(), kInvalidSocket);
  for (uint16_t port : {56000, 56190, 56290, 56390, 56490, 56590, 44332}) {
    const int again = CreateSocket(port, false, PortSharing::kNone, false, "127.0.0.1", "");
    EXPECT_GE(again, 0) << port;
    CloseSocket(again);
  }
}

TEST(CreateSocket, FailedMulticastJoinKeepsAUnicastSocket) {
  ::testing::internal::CaptureStdout();
  const int sock = CreateSocket(56801, true, PortSharing::kOwned, false, "127.0.0.1", "10.1.1.1");
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "setsockopt failed\n");
  ASSERT_GE(sock, 0);
  SendFrom("127.0.0.2", "127.0.0.1", 56801);
  uint8_t buffer[8];
  ASSERT_TRUE(WaitReadable(sock, 1000));
  EXPECT_EQ(ReceiveDatagram(sock, buffer, sizeof(buffer)).length, 4);
  CloseSocket(sock);
}

}  // namespace
}  // namespace lidar::sdk::testing
