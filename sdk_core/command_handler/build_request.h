// Configuration requests that tell a LiDAR where to send its state information, point cloud and
// IMU data, and the address-text helpers they use.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "config_types.h"

namespace lidar::sdk {

// Each builder writes into a zero-filled `buffer` (at least 40 bytes) and sets `length` to the
// request length; false (with one error line) when an address is not valid. Address A of the
// entries is the record's multicast group when one is set, else its host address.
bool BuildUpdateOmniLidarCfgRequest(const LidarCfg& cfg, uint8_t* buffer, uint16_t& length);
bool BuildUpdateLidarCfgRequest(const LidarCfg& cfg, uint8_t* buffer, uint16_t& length);
bool BuildUpdateViewLidarCfgRequest(const ViewLidarIpInfo& info, uint8_t* buffer,
                                    uint16_t& length);

// Splits `ip` at `separator` and appends each piece, read as a decimal number from 0 to 255,
// to `out`; true only when there are exactly four pieces, all valid.
bool IpToU8(const std::string& ip, const std::string& separator, std::vector<uint8_t>& out);
// Writes the four octets of `ip` to `addr` (first octet first).
bool InitIpAddr(const std::string& ip, uint8_t* addr);

}  // namespace lidar::sdk
