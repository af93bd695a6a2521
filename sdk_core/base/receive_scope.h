// Which datagrams a UDP socket bound to one unicast address receives depends on the platform.
// On Windows such a socket also receives the broadcasts that arrive on that address's interface
// and the multicast groups it joined there. On POSIX systems it receives only datagrams
// addressed to that very address: broadcasts and group datagrams reach sockets bound to every
// local address (or to the broadcast or group address itself). The SDK asks these two questions
// wherever a socket must receive more than unicast, and opens its sockets accordingly.
#pragma once

#include <string>

namespace lidar::sdk {

// Local address to bind a socket to that must receive, on its port, unicast datagrams sent to
// `ip` as well as those sent to the group `multicast_ip` after joining it on the interface of
// `ip`. Empty means every local address. `ip` itself when `multicast_ip` is empty.
std::string GroupReceiveBindAddress(const std::string& ip, const std::string& multicast_ip);

// Whether a socket bound to `ip` (empty: every local address) misses the datagrams sent to the
// broadcast address on its port, so that hearing broadcast replies takes a second,
// receive-only socket bound to every local address on the same port.
bool BroadcastNeedsSeparateReceiver(const std::string& ip);

}  // namespace lidar::sdk
