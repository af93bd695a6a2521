#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "lidar_sdk.h"
#include "sdk_core/base/io_thread.h"
#include "sdk_core/base/udp_socket.h"
#include "sdk_core/device_channels.h"
#include "tests/sdk_core/base/log_capture.h"

namespace lidar::sdk {
namespace {

using std::chrono::milliseconds;

std::string LocalAddress(int sock) {
  sockaddr_in addr{};
  socklen_t len = sizeof(addr);
  ::getsockname(sock, reinterpret_cast<sockaddr*>(&addr), &len);
  char text[INET_ADDRSTRLEN] = {};
  ::inet_ntop(AF_INET, &addr.sin_addr, text, sizeof(text));
  return std::string(text) + ":" + std::to_string(ntohs(addr.sin_port));
}

int IntOption(int sock, int option) {
  int value = 0;
  socklen_t len = sizeof(value);
  ::getsockopt(sock, SOL_SOCKET, option, &value, &len);
  return value;
}

// Sends one datagram from a socket bound to `from` (port 0) to to_ip:to_port.
void SendFrom(const std::string& from, const std::string& to_ip, uint16_t to_port) {
  const int sock = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  ::inet_pton(AF_INET, from.c_str(), &addr.sin_addr);
  ::bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
  addr.sin_port = htons(to_port);
  ::inet_pton(AF_INET, to_ip.c_str(), &addr.sin_addr);
  ::sendto(sock, "ping", 4, 0, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
  ::close(sock);
}

HostNetInfo Host(const std::string& ip, uint16_t first_port, const std::string& multicast = "") {
  HostNetInfo host;
  host.host_ip = ip;
  host.multicast_ip = multicast;
  host.cmd_data_port = first_port;
  host.push_msg_port = static_cast<uint16_t>(first_port + 100);
  host.point_data_port = static_cast<uint16_t>(first_port + 200);
  host.imu_data_port = static_cast<uint16_t>(first_port + 300);
  host.log_data_port = static_cast<uint16_t>(first_port + 400);
  return host;
}

class RecordingDelegate : public IOLoop::IOLoopDelegate {
 public:
  void OnData(int sock, void*) override {
    char buffer[64];
    while (::recv(sock, buffer, sizeof(buffer), MSG_DONTWAIT) > 0) {
      std::lock_guard<std::mutex> lock(mutex);
      received.push_back({sock, std::this_thread::get_id()});
      cv.notify_all();
    }
  }
  void OnTimer(TimePoint) override {}
  void OnWake() override {}

  bool WaitFor(std::size_t count) {
    std::unique_lock<std::mutex> lock(mutex);
    return cv.wait_for(lock, milliseconds(2000), [&] { return received.size() >= count; });
  }

  struct Event {
    int sock;
    std::thread::id thread;
  };
  std::mutex mutex;
  std::condition_variable cv;
  std::vector<Event> received;
};

TEST(CreateSocket, OpensBindsAndSetsOptions) {
  const int any = CreateSocket(56701, true, true, true, "", "");
  ASSERT_GE(any, 0);
  EXPECT_EQ(LocalAddress(any), "0.0.0.0:56701");
  EXPECT_NE(IntOption(any, SO_REUSEADDR), 0);
  EXPECT_NE(IntOption(any, SO_BROADCAST), 0);
  EXPECT_NE(::fcntl(any, F_GETFL) & O_NONBLOCK, 0);

  const int plain = CreateSocket(56702, false, false, false, "127.0.0.1", "");
  ASSERT_GE(plain, 0);
  EXPECT_EQ(LocalAddress(plain), "127.0.0.1:56702");

  EXPECT_EQ(CreateSocket(56702, true, true, false, "127.0.0.1", ""), kInvalidSocket)
      << "the port is held without address reuse";
  EXPECT_EQ(CreateSocket(56703, true, true, false, "not-an-address", ""), kInvalidSocket);
  ::close(any);
  ::close(plain);
}

class DeviceChannelsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (auto* thread : {&detection_, &command_, &data_}) {
      ASSERT_TRUE(thread->Init(true, false));
      ASSERT_TRUE(thread->Start());
    }
    channels_.SetLoops(detection_.loop(), command_.loop(), data_.loop(), &delegate_);
  }
  void TearDown() override {
    channels_.RemoveDelegates();
    channels_.CloseCommandAndDataSockets();
    channels_.CloseDetectionSocket();
  }

  testing::LogCapture log_;
  RecordingDelegate delegate_;
  IOThread detection_, command_, data_;
  DeviceChannels channels_;
};

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
  EXPECT_NE(IntOption(cmd, SO_BROADCAST), 0) << "command sockets broadcast";
  EXPECT_EQ(IntOption(point, SO_BROADCAST), 0) << "data sockets do not";
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
  const int holder = CreateSocket(56460, false, false, false, "127.0.0.1", "");
  ASSERT_GE(holder, 0);
  EXPECT_FALSE(channels_.CreateCommandChannel(kDeviceTypeOmni, Host("127.0.0.1", 56060)));
  EXPECT_TRUE(log_.Has("Add command channel faileld, can not create socket, dev_type:9, the ip "
                       "127.0.0.1 port 56460"));
  EXPECT_TRUE(log_.Has("error Create socket and add delegate failed."));

  const int debug_holder = CreateSocket(kDebugPointCloudPort, false, false, false, "127.0.0.1", "");
  ASSERT_GE(debug_holder, 0);
  log_.Clear();
  EXPECT_FALSE(channels_.CreateDataChannel(Host("127.0.0.1", 56070)));
  EXPECT_TRUE(log_.Has(
      "Add command channel faileld, can not create socket, the ip 127.0.0.1 port 44332"));
  EXPECT_TRUE(log_.Has("error Create debug point cloud socket and add delegate failed."));

  const int detection_holder = CreateSocket(kDetectionPort, false, false, false, "127.0.0.1", "");
  EXPECT_FALSE(channels_.CreateDetectionChannel("127.0.0.1"));
  EXPECT_TRUE(log_.Has("error Create detection socket failed."));

  ViewLidarIpInfo view;
  view.host_ip = "127.0.0.1";
  view.host_point_port = 56460;
  EXPECT_FALSE(channels_.CreateViewDataChannel(view));
  EXPECT_TRUE(log_.Has("Create View point data channel faileld, can not create socket, the ip "
                       "127.0.0.1 port 56460"));
  for (int sock : {holder, debug_holder, detection_holder}) ::close(sock);
}

TEST_F(DeviceChannelsTest, ViewDataChannelBroadcastsOnTheDataLoop) {
  ViewLidarIpInfo view;
  view.host_ip = "127.0.0.1";
  view.host_point_port = 56180;
  view.host_imu_port = 56181;
  ASSERT_TRUE(channels_.CreateViewDataChannel(view));
  const int point = channels_.FindSocket("127.0.0.1", 56180);
  ASSERT_GE(point, 0);
  EXPECT_NE(IntOption(point, SO_BROADCAST), 0);
  SendFrom("127.0.0.2", "127.0.0.1", 56181);
  ASSERT_TRUE(delegate_.WaitFor(1));
}

TEST_F(DeviceChannelsTest, TeardownClosesEverySocket) {
  ASSERT_TRUE(channels_.CreateDetectionChannel("127.0.0.1"));
  ASSERT_TRUE(channels_.CreateCommandChannel(kDeviceTypeOmni, Host("127.0.0.1", 56190)));
  ASSERT_TRUE(channels_.CreateDataChannel(Host("127.0.0.1", 56190)));
  channels_.RemoveDelegates();
  channels_.CloseCommandAndDataSockets();
  EXPECT_EQ(channels_.FindSocket("127.0.0.1", 56190), kInvalidSocket);
  EXPECT_GE(channels_.detection_socket(), 0);
  channels_.CloseDetectionSocket();
  EXPECT_EQ(channels_.detection_socket(), kInvalidSocket);
  // A select still blocked on a closed socket keeps its binding until it returns; the device
  // manager joins its IO threads next, after which every port is free again.
  for (auto* thread : {&detection_, &command_, &data_}) thread->Join();
  for (uint16_t port : {56000, 56190, 56290, 56390, 56490, 56590, 44332}) {
    const int again = CreateSocket(port, false, false, false, "127.0.0.1", "");
    EXPECT_GE(again, 0) << port;
    ::close(again);
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
  in_addr group{};
  ::inet_pton(AF_INET, "239.1.2.3", &group);
  char hex[9];
  std::snprintf(hex, sizeof(hex), "%08X", group.s_addr);
  EXPECT_TRUE(IgmpMembership("sb-host", hex));

  InLidarNamespace(lidar_ns, [&] {
    SendFrom(lidar_ip, host_ip, host.point_data_port);
    SendFrom(lidar_ip, host_ip, host.imu_data_port);
  });
  ASSERT_TRUE(delegate_.WaitFor(2));
  std::lock_guard<std::mutex> lock(delegate_.mutex);
  EXPECT_EQ(delegate_.received[0].thread, delegate_.received[1].thread);
}

TEST(CreateSocket, FailedMulticastJoinKeepsAUnicastSocket) {
  ::testing::internal::CaptureStdout();
  const int sock = CreateSocket(56801, true, true, false, "127.0.0.1", "10.1.1.1");
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "setsockopt failed\n");
  ASSERT_GE(sock, 0);
  SendFrom("127.0.0.2", "127.0.0.1", 56801);
  char buffer[8];
  std::this_thread::sleep_for(milliseconds(20));
  EXPECT_EQ(::recv(sock, buffer, sizeof(buffer), MSG_DONTWAIT), 4);
  ::close(sock);
}

}  // namespace
}  // namespace lidar::sdk
