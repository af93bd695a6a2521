// IPv4 addresses as the SDK keeps them: a u32 holding the four address bytes in network order
// (the first octet in the lowest-addressed byte), the value a socket address carries. A LiDAR's
// handle is its address in this form. Parsing and formatting need no socket library, so they
// work before the library is started and in programs that never start it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace lidar::sdk {

// An address and a port (host byte order) to send to or received from.
struct Ipv4Endpoint {
  uint32_t address = 0;
  uint16_t port = 0;
};

// Strict dotted quad: four decimal numbers 0 to 255 without leading zeros, e.g. "192.168.1.12".
// False for anything else, "local" and the empty text included.
bool ParseIpv4(std::string_view text, uint32_t* address);
// The address of a dotted quad; 0 (no LiDAR has it) for any other text.
uint32_t IpToHandle(std::string_view text);
// Dotted-quad text of an address (a LiDAR's handle).
std::string HandleToIp(uint32_t handle);

}  // namespace lidar::sdk
