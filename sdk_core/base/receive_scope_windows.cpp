#include "receive_scope.h"

namespace lidar::sdk {

// A socket bound to `ip` receives the group's datagrams once it joined the group on the
// interface of `ip`.
std::string GroupReceiveBindAddress(const std::string& ip, const std::string&) { return ip; }

// Bound to an interface's address, the socket hears that interface's broadcasts itself.
bool BroadcastNeedsSeparateReceiver(const std::string&) { return false; }

}  // namespace lidar::sdk
