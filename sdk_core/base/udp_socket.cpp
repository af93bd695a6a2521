#include "udp_socket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdio>

#include "sdk_core/base/health_counters.h"
#include "sdk_core/base/receive_scope.h"

namespace lidar::sdk {
namespace {

bool SetFlag(SocketHandle sock, int level, int option) {
  const int on = 1;
  return ::setsockopt(sock, level, option, &on, sizeof(on)) == 0;
}

// Dotted quad to a network-order address; empty means any address.
bool ParseAddress(const std::string& ip, in_addr& out) {
  if (ip.empty()) {
    out.s_addr = htonl(INADDR_ANY);
    return true;
  }
  return ::inet_pton(AF_INET, ip.c_str(), &out) == 1;
}

}  // namespace

SocketHandle CreateSocket(uint16_t port, bool non_block, bool reuse, bool broadcast,
                          const std::string& ip, const std::string& multicast_ip) {
  const SocketHandle sock = ::socket(AF_INET, SOCK_DGRAM, 0);
  if (!IsOpenSocket(sock)) return kInvalidSocket;

  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  const int receive_buffer = kSocketReceiveBufferSize;
  if ((non_block && !SetSocketNonBlocking(sock, true)) ||
      (reuse && !SetFlag(sock, SOL_SOCKET, SO_REUSEADDR)) ||
      (broadcast && !SetFlag(sock, SOL_SOCKET, SO_BROADCAST)) ||
      ::setsockopt(sock, SOL_SOCKET, SO_RCVBUF, &receive_buffer, sizeof(receive_buffer)) != 0 ||
      !ParseAddress(GroupReceiveBindAddress(ip, multicast_ip), addr.sin_addr) ||
      ::bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) {
    CloseSocket(sock);
    return kInvalidSocket;
  }

  // The kernel's count of datagrams dropped on this socket then comes with every datagram
  // received; a kernel without it just leaves the count out.
  SetFlag(sock, SOL_SOCKET, SO_RXQ_OVFL);
  HealthCounters::Instance().ResetKernelDrops(sock);

  if (broadcast && !SetFlag(sock, SOL_SOCKET, SO_BROADCAST)) {
    CloseSocket(sock);
    std::printf("broad cast failed\n");
    return kInvalidSocket;
  }

  if (!multicast_ip.empty()) {
    ip_mreq membership{};
    if (::inet_pton(AF_INET, multicast_ip.c_str(), &membership.imr_multiaddr) != 1 ||
        !ParseAddress(ip, membership.imr_interface) ||
        ::setsockopt(sock, IPPROTO_IP, IP_ADD_MEMBERSHIP, &membership, sizeof(membership)) != 0) {
      std::printf("setsockopt failed\n");
    }
  }
  return sock;
}

}  // namespace lidar::sdk
