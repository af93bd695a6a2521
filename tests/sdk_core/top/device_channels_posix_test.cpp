// The channels' Linux-only checks: socket options as the kernel reports them, and multicast
// membership across the sandbox's veth pair.
#include <fcntl.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "lidar_sdk.h"
#include "base/ipv4_address.h"
#include "tests/sdk_core/base/socket_test_support.h"
#include "tests/sdk_core/top/device_channels_fixture.h"

namespace lidar::sdk::testing {
namespace {

TEST_F(DeviceChannelsTest, CommandAndViewSocketsBroadcastDataSocketsDoNot) {
  ASSERT_TRUE(channels_.CreateDetectionChannel("127.0.0.1"));
  const HostNetInfo host = Host("127.0.0.1", 56101);
  ASSERT_TRUE(channels_.CreateCommandChannel(kDeviceTypeOmni, host));
  ASSERT_TRUE(channels_.CreateDataChannel(host));
  ViewLidarIpInfo view;
  view.host_ip = "127.0.0.1";
  view.host_point_port = 56180;
  ASSERT_TRUE(channels_.CreateViewDataChannel(view));

  const int detection = channels_.detection_socket();
  const int cmd = channels_.FindSocket("127.0.0.1", 56101);
  const int point = channels_.FindSocket("127.0.0.1", 56301);
  EXPECT_NE(SocketOption(detection, SO_BROADCAST), 0);
  EXPECT_NE(SocketOption(cmd, SO_BROADCAST), 0);
  EXPECT_EQ(SocketOption(point, SO_BROADCAST), 0);
  EXPECT_NE(SocketOption(channels_.FindSocket("127.0.0.1", 56180), SO_BROADCAST), 0);
  for (int sock : {detection, cmd, point}) {
    EXPECT_NE(SocketOption(sock, SO_REUSEADDR), 0);
    EXPECT_NE(::fcntl(sock, F_GETFL) & O_NONBLOCK, 0);
  }
}

// Runs `work` on a thread that has entered the LiDAR side's network namespace.
template <typename Work>
void InLidarNamespace(const std::string& ns, Work work) {
  std::thread([&] {
    const int fd = ::open(("/run/netns/" + ns).c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::setns(fd, CLONE_NEWNET), 0);
    ::close(fd);
    work();
  }).join();
}

bool IgmpMembership(const std::string& interface, const std::string& group_hex) {
  std::ifstream igmp("/proc/net/igmp");
  std::string line;
  bool in_interface = false;
  while (std::getline(igmp, line)) {
    if (!line.empty() && line[0] != '\t' && line[0] != ' ') {
      in_interface = line.find(interface) != std::string::npos;
    } else if (in_interface && line.find(group_hex) != std::string::npos) {
      return true;
    }
  }
  return false;
}

TEST_F(DeviceChannelsTest, MulticastDataSocketsJoinAndStillReceiveUnicast) {
  const char* host_ip = std::getenv("SANDBOX_HOST_IP");
  const char* lidar_ip = std::getenv("SANDBOX_LIDAR_IP");
  const char* lidar_ns = std::getenv("SANDBOX_LIDAR_NS");
  if (!host_ip || !lidar_ip || !lidar_ns) GTEST_SKIP() << "needs the sandbox's veth pair";

  const HostNetInfo host = Host(host_ip, 56101, "239.1.2.3");
  ::testing::internal::CaptureStdout();
  ASSERT_TRUE(channels_.CreateDataChannel(host));
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "") << "the join succeeded";
  // /proc/net/igmp prints the group as the in-memory word of its network-order bytes.
  char hex[9];
  std::snprintf(hex, sizeof(hex), "%08X", IpToHandle("239.1.2.3"));
  EXPECT_TRUE(IgmpMembership("sb-host", hex));

  InLidarNamespace(lidar_ns, [&] {
    SendFrom(lidar_ip, host_ip, host.point_data_port);
    SendFrom(lidar_ip, host_ip, host.imu_data_port);
  });
  ASSERT_TRUE(delegate_.WaitFor(2));
  std::lock_guard<std::mutex> lock(delegate_.mutex);
  EXPECT_EQ(delegate_.received[0].thread, delegate_.received[1].thread);
}

}  // namespace
}  // namespace lidar::sdk::testing
