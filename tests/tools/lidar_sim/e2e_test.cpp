// The simulator as a separate process against a scripted host on loopback. Runs only inside the
// network sandbox (registered as a sandboxed test).
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "tests/tools/lidar_sim/host_frames.h"

namespace {

using lidar_sim_test::Bytes;
using lidar_sim_test::le16;

class Socket {
 public:
  Socket(const char* ip, uint16_t port) {
    fd_ = ::socket(AF_INET, SOCK_DGRAM, 0);
    const int one = 1;
    ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    ::setsockopt(fd_, SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    ::inet_pton(AF_INET, ip, &a.sin_addr);
    bound_ = ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  }
  ~Socket() { ::close(fd_); }
  bool bound() const { return bound_; }

  void send(const Bytes& b, const char* ip, uint16_t port) const {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    ::inet_pton(AF_INET, ip, &a.sin_addr);
    ::sendto(fd_, b.data(), b.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a);
  }

  // Next datagram within `ms`; empty on time-out. `from` gets "address:port".
  Bytes receive(int ms, std::string* from = nullptr) const {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, ms) <= 0) return {};
    Bytes b(65536);
    sockaddr_in a{};
    socklen_t len = sizeof a;
    const ssize_t n = ::recvfrom(fd_, b.data(), b.size(), 0, reinterpret_cast<sockaddr*>(&a), &len);
    if (n < 0) return {};
    b.resize(static_cast<std::size_t>(n));
    if (from) {
      char text[INET_ADDRSTRLEN];
      ::inet_ntop(AF_INET, &a.sin_addr, text, sizeof text);
      *from = std::string(text) + ":" + std::to_string(ntohs(a.sin_port));
    }
    return b;
  }

 private:
  int fd_ = -1;
  bool bound_ = false;
};

class SimProcess {
 public:
  explicit SimProcess(std::vector<std::string> args) {
    args.insert(args.begin(), LIDAR_SIM_PATH);
    pid_ = ::fork();
    if (pid_ == 0) {
      std::vector<char*> argv;
      for (auto& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
  }
  ~SimProcess() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  // SIGTERM, then the exit status within two seconds (-1 if it did not stop).
  int stop() {
    ::kill(pid_, SIGTERM);
    for (int i = 0; i < 200; ++i) {
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return -1;
  }

 private:
  pid_t pid_ = -1;
};

// Broadcasts detection until a reply arrives (the simulator needs a moment to open its sockets).
Bytes detect(const Socket& detection, std::string* from, uint32_t seq) {
  for (int attempt = 0; attempt < 30; ++attempt) {
    detection.send(lidar_sim_test::host_request(0x0000, seq), "255.255.255.255", 56000);
    Bytes reply = detection.receive(200, from);
    if (!reply.empty()) return reply;
  }
  return {};
}

Bytes omni_config_loopback() {
  Bytes p = lidar_sim_test::omni_config_192_168_1_50();
  for (std::size_t at : {8u, 20u, 32u}) {
    p[at] = 127;
    p[at + 1] = 0;
    p[at + 2] = 0;
    p[at + 3] = 1;
  }
  return p;
}

TEST(SimulatorProcess, DetectionConfigurationAndStreamsAgainstAScriptedHost) {
  Socket detection("127.0.0.1", 56000), cmd("127.0.0.1", 56101), push("127.0.0.1", 56201),
      points("127.0.0.1", 56301), imu("127.0.0.1", 56401);
  ASSERT_TRUE(detection.bound() && cmd.bound() && push.bound() && points.bound() && imu.bound());
  SimProcess sim({"--ip", "127.0.0.2", "--seconds", "30", "--push-period", "0.3"});

  std::string from;
  const auto reply = lidar_sim_test::read_reply(detect(detection, &from, 41));
  ASSERT_TRUE(reply.valid);
  EXPECT_EQ(from, "127.0.0.2:56000");
  EXPECT_EQ(reply.seq, 41u);
  EXPECT_EQ(reply.cmd_type, 1);
  ASSERT_EQ(reply.payload.size(), 24u);
  EXPECT_EQ(reply.payload[1], 9);
  EXPECT_EQ(Bytes(reply.payload.begin() + 18, reply.payload.begin() + 22), (Bytes{127, 0, 0, 2}));
  const uint16_t cmd_port = le16(&reply.payload[22]);
  EXPECT_EQ(cmd_port, 56100);

  auto command = [&](uint32_t seq, const Bytes& payload, uint16_t cmd_id = 0x0100) {
    cmd.send(lidar_sim_test::host_request(cmd_id, seq, payload), "127.0.0.2", cmd_port);
    std::string ack_from;
    const auto ack = lidar_sim_test::read_reply(cmd.receive(1000, &ack_from));
    EXPECT_TRUE(ack.valid) << "no answer to seq " << seq;
    EXPECT_EQ(ack_from, "127.0.0.2:56100");
    EXPECT_EQ(ack.seq, seq);
    return ack.payload;
  };
  EXPECT_EQ(command(100, omni_config_loopback()), (Bytes{0, 0, 0}));
  EXPECT_EQ(command(101, lidar_sim_test::write_u8(0x001A, 1)), (Bytes{0, 0, 0}));
  EXPECT_EQ(command(102, lidar_sim_test::write_u8(0x0000, 1)), (Bytes{0, 0, 0}));
  EXPECT_EQ(command(103, lidar_sim_test::write_u8(0x0003, 0)), (Bytes{0, 0, 0}));

  std::string src;
  const Bytes p = points.receive(2000, &src);
  ASSERT_EQ(p.size(), 36u + 96u * 14u);
  EXPECT_EQ(src, "127.0.0.2:56300");
  EXPECT_EQ(le16(&p[5]), 96);
  EXPECT_EQ(p[10], 1);
  // Roughly 2,083 datagrams a second: count half a second's worth.
  int count = 0;
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
  while (std::chrono::steady_clock::now() < until)
    if (!points.receive(50).empty()) ++count;
  EXPECT_GT(count, 700);
  EXPECT_LT(count, 1300);

  const Bytes i = imu.receive(2000, &src);
  ASSERT_EQ(i.size(), 60u);
  EXPECT_EQ(src, "127.0.0.2:56400");
  EXPECT_EQ(i[10], 0);
  const Bytes state = push.receive(2000, &src);
  EXPECT_EQ(src, "127.0.0.2:56200");
  EXPECT_EQ(lidar_sim_test::read_reply(state).cmd_id, 0x0102);

  const Bytes info = command(104, lidar_sim_test::query_keys({0x0004, 0x8001, 0x8007, 0x8008}), 0x0101);
  ASSERT_GE(info.size(), 3u);
  EXPECT_EQ(le16(&info[1]), 4);

  EXPECT_EQ(sim.stop(), 0);
}

TEST(SimulatorProcess, PreconfiguredUnitsStreamAtOnceAndAnswerTogether) {
  Socket detection("127.0.0.1", 56000), points("127.0.0.1", 56301), other("127.0.0.1", 56311);
  ASSERT_TRUE(detection.bound() && points.bound() && other.bound());
  SimProcess a({"--ip", "127.0.0.2", "--preconfigured", "127.0.0.1", "--data-type", "2", "--seconds", "30"});
  SimProcess b({"--ip", "127.0.0.3", "--preconfigured", "127.0.0.1", "--host-ports", "56211,56311,56411",
                "--seconds", "30"});
  std::string src;
  const Bytes p = points.receive(3000, &src);
  ASSERT_EQ(p.size(), 36u + 96u * 8u);
  EXPECT_EQ(src, "127.0.0.2:56300");
  EXPECT_EQ(p[10], 2);
  ASSERT_FALSE(other.receive(3000, &src).empty());
  EXPECT_EQ(src, "127.0.0.3:56300");

  // One broadcast, one reply from each unit.
  std::vector<std::string> senders;
  std::string from;
  ASSERT_FALSE(detect(detection, &from, 7).empty());
  senders.push_back(from);
  while (!detection.receive(300, &from).empty()) senders.push_back(from);
  std::sort(senders.begin(), senders.end());
  senders.erase(std::unique(senders.begin(), senders.end()), senders.end());
  EXPECT_EQ(senders, (std::vector<std::string>{"127.0.0.2:56000", "127.0.0.3:56000"}));

  EXPECT_EQ(a.stop(), 0);
  EXPECT_EQ(b.stop(), 0);
}

}  // namespace
