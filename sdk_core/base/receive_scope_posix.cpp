#include "receive_scope.h"

namespace lidar::sdk {

// A socket bound to the wildcard address still receives the unicast datagrams sent to `ip`;
// the group membership, joined on the interface of `ip`, adds the group's datagrams.
std::string GroupReceiveBindAddress(const std::string& ip, const std::string& multicast_ip) {
  return multicast_ip.empty() ? ip : std::string();
}

// Bound to the wildcard address, the socket hears broadcasts itself.
bool BroadcastNeedsSeparateReceiver(const std::string& ip) { return !ip.empty(); }

}  // namespace lidar::sdk
