// Sockets for the SDK tests through the SDK's own platform layer, so the same tests run on
// Linux and on Windows. Linking socket_test_support.cpp into a test program also starts the
// socket library for the whole program (Windows refuses sockets before that).
#pragma once

#include <cstdint>
#include <string>

#include "base/socket_platform.h"

namespace lidar::sdk::testing {

// Two non-blocking UDP sockets on 127.0.0.1: a datagram sent from `peer` makes `sock` readable.
struct DatagramPair {
  DatagramPair();
  ~DatagramPair();
  DatagramPair(const DatagramPair&) = delete;
  DatagramPair& operator=(const DatagramPair&) = delete;

  void Send() const;
  SocketHandle sock = kInvalidSocket;
  SocketHandle peer = kInvalidSocket;
};

// "address:port" the socket is bound to.
std::string LocalAddress(SocketHandle sock);
// The value of an int-valued socket-level option (SOL_SOCKET), 0 when it cannot be read.
int SocketOption(SocketHandle sock, int option);
// Sends "ping" from a socket bound to `from` (any port) to to_ip:to_port.
void SendFrom(const std::string& from, const std::string& to_ip, uint16_t to_port);

}  // namespace lidar::sdk::testing
