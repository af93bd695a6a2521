#include "base/socket_system.h"

#include <gtest/gtest.h>

#include "tests/sdk_core/base/socket_test_support.h"

#include "base/sdk_socket.h"

namespace lidar::sdk::testing {
namespace {

class SocketLibrary : public ::testing::Environment {
 public:
  void SetUp() override { ASSERT_TRUE(SocketLibraryStartup()); }
  void TearDown() override { SocketLibraryCleanup(); }
};

// gtest owns the environment. This file is compiled into each test program that opens
// sockets, so the registration runs there before any test.
::testing::Environment* const kSocketLibrary =
    ::testing::AddGlobalTestEnvironment(new SocketLibrary);

}  // namespace

DatagramPair::DatagramPair()
    : sock(CreateSocket(0, true, PortSharing::kNone, false, "127.0.0.1", "")),
      peer(CreateSocket(0, true, PortSharing::kNone, false, "127.0.0.1", "")) {}

DatagramPair::~DatagramPair() {
  CloseSocket(sock);
  CloseSocket(peer);
}

void DatagramPair::Send() const {
  Ipv4Endpoint to;
  LocalEndpoint(sock, &to);
  const uint8_t byte = 'x';
  SendDatagram(peer, &byte, 1, to);
}

std::string LocalAddress(SocketHandle sock) {
  Ipv4Endpoint local;
  if (!LocalEndpoint(sock, &local)) return "";
  return HandleToIp(local.address) + ":" + std::to_string(local.port);
}

int SocketOption(SocketHandle sock, int option) {
  int value = 0;
  SockLen length = sizeof(value);
  ::getsockopt(Native(sock), SOL_SOCKET, option, reinterpret_cast<char*>(&value), &length);
  return value;
}

void SendFrom(const std::string& from, const std::string& to_ip, uint16_t to_port) {
  const SocketHandle sock = CreateSocket(0, false, PortSharing::kNone, false, from, "");
  const uint8_t ping[] = {'p', 'i', 'n', 'g'};
  SendDatagram(sock, ping, sizeof(ping), Ipv4Endpoint{IpToHandle(to_ip), to_port});
  CloseSocket(sock);
}

}  // namespace lidar::sdk::testing
