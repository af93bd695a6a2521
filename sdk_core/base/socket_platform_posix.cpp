// The POSIX side of the socket platform layer.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "sdk_core/base/socket_system.h"

namespace lidar::sdk {

bool SocketLibraryStartup() { return true; }

void SocketLibraryCleanup() {}

void CloseSocket(SocketHandle sock) {
  if (IsOpenSocket(sock)) ::close(sock);
}

bool SetSocketNonBlocking(SocketHandle sock, bool non_block) {
  const int flags = ::fcntl(sock, F_GETFL, 0);
  if (flags < 0) return false;
  const int wanted = non_block ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
  return wanted == flags || ::fcntl(sock, F_SETFL, wanted) == 0;
}

int LastSocketError() { return errno; }

bool SetPortSharing(SocketHandle sock, PortSharing sharing) {
  if (sharing == PortSharing::kNone) return true;
  return SetIntOption(sock, SOL_SOCKET, SO_REUSEADDR, 1);
}

bool RequestKernelDropCount(SocketHandle sock) {
  return SetIntOption(sock, SOL_SOCKET, SO_RXQ_OVFL, 1);
}

bool KernelDropCountsAvailable() { return true; }

ReceivedDatagram ReceiveDatagram(SocketHandle sock, uint8_t* buffer, std::size_t size) {
  ReceivedDatagram result;
  sockaddr_in from{};
  iovec data{buffer, size};
  // Room for the kernel's drop count (SO_RXQ_OVFL), the only ancillary data asked for.
  alignas(cmsghdr) uint8_t control[CMSG_SPACE(sizeof(uint32_t))];
  msghdr message{};
  message.msg_name = &from;
  message.msg_namelen = sizeof(from);
  message.msg_iov = &data;
  message.msg_iovlen = 1;
  message.msg_control = control;
  message.msg_controllen = sizeof(control);
  const ssize_t received = ::recvmsg(sock, &message, 0);
  if (received < 0) return result;
  result.length = static_cast<int>(received);
  result.from = FromSockaddr(from);
  for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
    if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SO_RXQ_OVFL &&
        c->cmsg_len >= CMSG_LEN(sizeof(uint32_t))) {
      std::memcpy(&result.socket_drops, CMSG_DATA(c), sizeof(result.socket_drops));
      result.drop_count_reported = true;
    }
  }
  return result;
}

bool SelectCanWatch(SocketHandle sock, std::size_t) { return sock >= 0 && sock < FD_SETSIZE; }

bool SendWakeByte(SocketHandle writer) {
  const char byte = '1';
  return ::send(writer, &byte, 1, MSG_DONTWAIT | MSG_NOSIGNAL) == 1;
}

}  // namespace lidar::sdk
