// Opening of the SDK's UDP sockets.
#pragma once

#include <cstdint>
#include <string>

#include "base/socket_platform.h"

namespace lidar::sdk {

constexpr int kSocketReceiveBufferSize = 200 * 1024 * 1024;

// An IPv4 datagram socket for `port` on `ip` (empty: any address), shared with other sockets as
// `sharing` says, with the options asked for and a 200 MiB receive buffer request. With a
// `multicast_ip` it joins that group on the interface `ip` and is bound as
// GroupReceiveBindAddress says, so it receives the group's datagrams as well as unicast.
// kInvalidSocket when it cannot be opened or bound. A failed multicast join keeps the socket
// (unicast only) and prints a line on standard output.
SocketHandle CreateSocket(uint16_t port, bool non_block, PortSharing sharing, bool broadcast,
                          const std::string& ip, const std::string& multicast_ip);

}  // namespace lidar::sdk
