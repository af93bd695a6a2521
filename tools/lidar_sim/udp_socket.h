// Non-blocking IPv4 UDP socket owned by one object.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "lidar_sim/wire.h"

namespace lidar_sim {

class UdpSocket {
 public:
  UdpSocket() = default;
  ~UdpSocket();
  UdpSocket(UdpSocket&& other) noexcept;
  UdpSocket& operator=(UdpSocket&& other) noexcept;
  UdpSocket(const UdpSocket&) = delete;
  UdpSocket& operator=(const UdpSocket&) = delete;

  // Binds `ip` (all zeros for every address) and `port`; address reuse lets several units and the
  // host share the detection port.
  bool open(const Ipv4& ip, uint16_t port, std::string& error);
  // Bytes received (0..), or -1 when nothing is waiting.
  long receive(uint8_t* buf, std::size_t size, Ipv4& from_ip, uint16_t& from_port);
  bool send(const uint8_t* data, std::size_t size, const Ipv4& to_ip, uint16_t to_port);
  int fd() const { return fd_; }

 private:
  void close();
  int fd_ = -1;
};

}  // namespace lidar_sim
