// The fixed UDP ports of the LiDAR protocol: those of each device type on the LiDAR side, and
// the host ports on which the SDK recognises datagrams whatever its configuration says.
#pragma once

#include <cstdint>

namespace lidar::sdk {

// Detection broadcasts and their replies, on both sides.
constexpr uint16_t kDetectionPort = 56000;

// An Omni unit (device type 9).
constexpr uint16_t kOmniCmdPort = 56100;
constexpr uint16_t kOmniPushMsgPort = 56200;
constexpr uint16_t kOmniPointDataPort = 56300;
constexpr uint16_t kOmniImuDataPort = 56400;
constexpr uint16_t kOmniLogPort = 56500;

// A Forward unit (device type 10). It takes commands on the number of the detection port and
// pushes its state messages to the host's detection port.
constexpr uint16_t kForwardCmdPort = 56000;
constexpr uint16_t kForwardPointDataPort = 57000;
constexpr uint16_t kForwardImuDataPort = 58000;
constexpr uint16_t kForwardLogPort = 59000;

// The third device type (16), which this SDK has no command handler for.
constexpr uint16_t kThirdPartyPointDataPort = 10000;
// Its command datagrams, which are not framed, arrive on this local port.
constexpr uint16_t kThirdPartyCommandPort = 10001;
// The extra host command socket opened for its records.
constexpr uint16_t kThirdPartyHostCommandPort = 42867;

// A third port LiDARs send their log stream from, beside the Omni and Forward log ports.
constexpr uint16_t kLogPort1002 = 1002;

// Host socket of the debug point-cloud capture, opened with every data channel.
constexpr uint16_t kDebugPointCloudPort = 44332;

}  // namespace lidar::sdk
