#include "base/socket_system.h"

#include <cstdio>

#include "base/sdk_health_counters.h"
#include "base/receive_scope.h"
#include "base/sdk_socket.h"

namespace lidar::sdk {
namespace {

// Dotted quad to an address; empty means any address.
bool BindAddress(const std::string& ip, uint32_t* address) {
  if (!ip.empty()) return ParseIpv4(ip, address);
  *address = htonl(INADDR_ANY);
  return true;
}

bool JoinGroup(SocketHandle sock, const std::string& group, const std::string& interface_ip) {
  uint32_t group_address = 0;
  uint32_t interface_address = 0;
  if (!ParseIpv4(group, &group_address) || !BindAddress(interface_ip, &interface_address)) {
    return false;
  }
  ip_mreq membership{};
  membership.imr_multiaddr.s_addr = group_address;
  membership.imr_interface.s_addr = interface_address;
  return ::setsockopt(Native(sock), IPPROTO_IP, IP_ADD_MEMBERSHIP,
                      reinterpret_cast<const char*>(&membership), sizeof(membership)) == 0;
}

}  // namespace

SocketHandle CreateSocket(uint16_t port, bool non_block, PortSharing sharing, bool broadcast,
                          const std::string& ip, const std::string& multicast_ip) {
  const SocketHandle sock = FromNative(::socket(AF_INET, SOCK_DGRAM, 0));
  if (!IsOpenSocket(sock)) return kInvalidSocket;

  Ipv4Endpoint local{0, port};
  const bool ready = (!non_block || SetSocketNonBlocking(sock, true)) &&
                     SetPortSharing(sock, sharing) &&
                     (!broadcast || SetIntOption(sock, SOL_SOCKET, SO_BROADCAST, 1)) &&
                     SetIntOption(sock, SOL_SOCKET, SO_RCVBUF, kSocketReceiveBufferSize) &&
                     BindAddress(GroupReceiveBindAddress(ip, multicast_ip), &local.address);
  const sockaddr_in addr = ToSockaddr(local);
  if (!ready || ::bind(Native(sock), reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)) != 0) {
    CloseSocket(sock);
    return kInvalidSocket;
  }

  // Where the platform keeps the kernel's count of datagrams dropped on this socket, it comes
  // with every datagram received, and so does the time each one arrived; a kernel without
  // them just leaves them out.
  RequestKernelDropCount(sock);
  RequestReceiveTimestamps(sock);
  HealthCounters::Instance().ResetKernelDrops(sock);

  if (broadcast && !SetIntOption(sock, SOL_SOCKET, SO_BROADCAST, 1)) {
    CloseSocket(sock);
    std::printf("broad cast failed\n");
    return kInvalidSocket;
  }
  if (!multicast_ip.empty() && !JoinGroup(sock, multicast_ip, ip)) {
    std::printf("setsockopt failed\n");
  }
  return sock;
}

}  // namespace lidar::sdk
