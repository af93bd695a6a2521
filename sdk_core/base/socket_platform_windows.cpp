// The Windows Sockets side of the socket platform layer.
#include <chrono>

#include "base/socket_system.h"

namespace lidar::sdk {
namespace {
constexpr WORD kWinsockVersion = 0x0002;  // 2.0
}  // namespace

bool SocketLibraryStartup() {
  WSADATA data;
  return ::WSAStartup(kWinsockVersion, &data) == 0;
}

void SocketLibraryCleanup() { ::WSACleanup(); }

void CloseSocket(SocketHandle sock) {
  if (IsOpenSocket(sock)) ::closesocket(Native(sock));
}

bool SetSocketNonBlocking(SocketHandle sock, bool non_block) {
  u_long mode = non_block ? 1 : 0;
  return ::ioctlsocket(Native(sock), FIONBIO, &mode) == 0;
}

int LastSocketError() { return ::WSAGetLastError(); }

bool SetPortSharing(SocketHandle sock, PortSharing sharing) {
  switch (sharing) {
    case PortSharing::kNone:
      return true;
    case PortSharing::kShared:
      return SetIntOption(sock, SOL_SOCKET, SO_REUSEADDR, 1);
    case PortSharing::kOwned:
      return SetIntOption(sock, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, 1);
  }
  return false;
}

// Winsock keeps no per-socket count of datagrams dropped on a full receive buffer.
bool RequestKernelDropCount(SocketHandle) { return false; }

bool RequestReceiveTimestamps(SocketHandle) { return false; }

bool KernelDropCountsAvailable() { return false; }

ReceivedDatagram ReceiveDatagram(SocketHandle sock, uint8_t* buffer, std::size_t size) {
  ReceivedDatagram result;
  sockaddr_in from{};
  int from_length = sizeof(from);
  const int received =
      ::recvfrom(Native(sock), reinterpret_cast<char*>(buffer), static_cast<int>(size), 0,
                 reinterpret_cast<sockaddr*>(&from), &from_length);
  if (received != SOCKET_ERROR) {
    result.length = received;
  } else if (::WSAGetLastError() == WSAEMSGSIZE) {
    // The datagram was cut to the buffer, as POSIX delivers it; Winsock says so with an error.
    result.length = static_cast<int>(size);
  } else {
    return result;
  }
  result.from = FromSockaddr(from);
  // One datagram per call, taken as soon as select says it is there: the time of the receive.
  result.arrival_ns = std::chrono::duration_cast<std::chrono::nanoseconds>(
                          std::chrono::steady_clock::now().time_since_epoch())
                          .count();
  return result;
}

// Datagram by datagram: the batch holds one.
std::size_t ReceiveBatch::Receive(SocketHandle sock, std::size_t limit) {
  return limit == 0 ? 0 : ReceiveOne(sock);
}

bool SelectCanWatch(SocketHandle sock, std::size_t set_size) {
  return IsOpenSocket(sock) && set_size < FD_SETSIZE;
}

// The writer is non-blocking, and Winsock raises no signal for a closed peer.
bool SendWakeByte(SocketHandle writer) {
  const char byte = '1';
  return ::send(Native(writer), &byte, 1, 0) == 1;
}

}  // namespace lidar::sdk
