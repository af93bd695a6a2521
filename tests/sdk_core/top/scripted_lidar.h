// A scripted LiDAR for the device manager tests: UDP sockets on the LiDAR's side of the sandbox's
// loopback, control frames built with checksums computed here bit by bit (independently of the
// SDK's tables), and point / IMU datagrams.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/socket_platform.h"
#include "tests/sdk_core/base/bitwise_crc.h"

namespace lidar::sdk::testing {

using Bytes = std::vector<uint8_t>;

// The host and the scripted LiDAR on the sandbox's loopback.
constexpr const char* kHost = "127.0.0.1";
constexpr const char* kLidar = "127.0.0.2";

struct Frame {
  uint32_t seq = 0;
  uint16_t cmd_id = 0;
  uint8_t cmd_type = 0;
  uint8_t sender_type = 0;
  Bytes payload;
};

Bytes EncodeFrame(const Frame& frame);
// Checks start byte, version, length and both checksums.
std::optional<Frame> DecodeFrame(const Bytes& bytes);

// Detection reply payload: return code, device type, serial number, address, command port.
Bytes DetectionReplyPayload(uint8_t ret_code, uint8_t dev_type, const std::string& sn,
                            const std::string& ip, uint16_t cmd_port);
// A point datagram of data type 1 with `dots` records, or an IMU datagram with one sample.
Bytes PointDatagram(uint16_t dots);
Bytes ImuDatagram();

struct Datagram {
  Bytes bytes;
  std::string from_ip;
  uint16_t from_port = 0;
};

class UdpEndpoint {
 public:
  // Bound to ip:port (port 0: any), broadcasting, shared with other sockets that ask for it
  // when `reuse`. valid() tells whether the bind succeeded.
  UdpEndpoint(const std::string& ip, uint16_t port, bool reuse = true);
  ~UdpEndpoint();
  UdpEndpoint(const UdpEndpoint&) = delete;
  UdpEndpoint& operator=(const UdpEndpoint&) = delete;

  bool valid() const { return IsOpenSocket(sock_); }
  bool SendTo(const std::string& ip, uint16_t port, const Bytes& bytes) const;
  std::optional<Datagram> Receive(std::chrono::milliseconds timeout) const;
  // Receives until a control frame with `cmd_id` arrives or the time is up.
  std::optional<std::pair<Frame, Datagram>> ReceiveCommand(uint16_t cmd_id,
                                                           std::chrono::milliseconds timeout) const;

 private:
  SocketHandle sock_ = kInvalidSocket;
};

// False when ip:port cannot be bound without address reuse, i.e. some socket holds it.
bool PortIsFree(const std::string& ip, uint16_t port);

}  // namespace lidar::sdk::testing
