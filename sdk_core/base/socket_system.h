// The system's socket headers, for the socket code of this folder (and the socket tests'
// support) only: everything else reaches sockets through socket_platform.h. Both platforms offer
// the same Berkeley calls; NativeSocket and SockLen cover the two places where their types differ.
#pragma once

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/select.h>
#include <sys/socket.h>
#endif

#include "base/socket_platform.h"

namespace lidar::sdk {

#ifdef _WIN32
using NativeSocket = SOCKET;
using SockLen = int;
// Winsock has no call that takes several datagrams at once.
constexpr std::size_t kMaxDatagramsPerReceive = 1;
#else
using NativeSocket = int;
using SockLen = socklen_t;
// Datagrams one recvmmsg call takes; its bookkeeping lives on the stack of the call.
constexpr std::size_t kMaxDatagramsPerReceive = 64;
#endif

inline NativeSocket Native(SocketHandle sock) { return static_cast<NativeSocket>(sock); }
inline SocketHandle FromNative(NativeSocket sock) { return static_cast<SocketHandle>(sock); }

inline sockaddr_in ToSockaddr(const Ipv4Endpoint& endpoint) {
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(endpoint.port);
  addr.sin_addr.s_addr = endpoint.address;
  return addr;
}

inline Ipv4Endpoint FromSockaddr(const sockaddr_in& addr) {
  return Ipv4Endpoint{static_cast<uint32_t>(addr.sin_addr.s_addr), ntohs(addr.sin_port)};
}

// setsockopt for an int-valued option (Winsock takes the value as const char*).
inline bool SetIntOption(SocketHandle sock, int level, int option, int value) {
  return ::setsockopt(Native(sock), level, option, reinterpret_cast<const char*>(&value),
                      sizeof(value)) == 0;
}

}  // namespace lidar::sdk
