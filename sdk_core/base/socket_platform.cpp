// Socket operations written the same way on both platforms.
#include "base/socket_system.h"

#include <algorithm>

namespace lidar::sdk {
namespace {

constexpr int kAcceptTimeoutMs = 2000;

// Closes the listener on every way out of OpenLoopbackPair.
struct ListenerGuard {
  SocketHandle sock;
  ~ListenerGuard() { CloseSocket(sock); }
};

}  // namespace

std::size_t MaxDatagramsPerReceive() { return kMaxDatagramsPerReceive; }

ReceiveBatch::ReceiveBatch(std::size_t capacity, std::size_t datagram_size)
    : datagram_size_(datagram_size) {
  const std::size_t slots = std::max<std::size_t>(1, std::min(capacity, kMaxDatagramsPerReceive));
  storage_.resize(slots * datagram_size_);
  datagrams_.resize(slots);
}

std::size_t ReceiveBatch::ReceiveOne(SocketHandle sock) {
  datagrams_[0] = ReceiveDatagram(sock, bytes(0), datagram_size_);
  return datagrams_[0].length >= 0 ? 1 : 0;
}

int SendDatagram(SocketHandle sock, const uint8_t* bytes, std::size_t length,
                 const Ipv4Endpoint& to) {
  const sockaddr_in addr = ToSockaddr(to);
  return static_cast<int>(::sendto(Native(sock), reinterpret_cast<const char*>(bytes),
                                   static_cast<int>(length), 0,
                                   reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)));
}

bool LocalEndpoint(SocketHandle sock, Ipv4Endpoint* local) {
  sockaddr_in addr{};
  SockLen length = sizeof(addr);
  if (::getsockname(Native(sock), reinterpret_cast<sockaddr*>(&addr), &length) != 0) return false;
  *local = FromSockaddr(addr);
  return true;
}

bool WaitReadable(SocketHandle sock, int timeout_ms) {
  if (!IsOpenSocket(sock) || !SelectCanWatch(sock, 0)) return false;
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(Native(sock), &readable);
  timeval timeout{timeout_ms / 1000, (timeout_ms % 1000) * 1000};
  return ::select(sock + 1, &readable, nullptr, nullptr, &timeout) > 0;
}

bool OpenLoopbackPair(SocketHandle* writer, SocketHandle* reader) {
  *writer = kInvalidSocket;
  *reader = kInvalidSocket;
  ListenerGuard listener{FromNative(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP))};
  if (!IsOpenSocket(listener.sock)) return false;

  sockaddr_in addr = ToSockaddr(Ipv4Endpoint{htonl(INADDR_LOOPBACK), 0});
  SockLen addr_len = sizeof(addr);
  if (::bind(Native(listener.sock), reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 ||
      ::getsockname(Native(listener.sock), reinterpret_cast<sockaddr*>(&addr), &addr_len) != 0 ||
      ::listen(Native(listener.sock), 1) != 0) {
    return false;
  }

  const SocketHandle out = FromNative(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  if (!IsOpenSocket(out)) return false;
  SocketHandle in = kInvalidSocket;
  if (::connect(Native(out), reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0 &&
      SetSocketNonBlocking(listener.sock, true) && WaitReadable(listener.sock, kAcceptTimeoutMs)) {
    in = FromNative(::accept(Native(listener.sock), nullptr, nullptr));
  }
  // Both ends non-blocking: a full pipe already holds a pending wake-up, and draining must not
  // wait for bytes that are not there.
  if (!IsOpenSocket(in) || !SetSocketNonBlocking(in, true) || !SetSocketNonBlocking(out, true)) {
    CloseSocket(out);
    CloseSocket(in);
    return false;
  }
  // Single bytes must leave at once rather than wait for more to coalesce.
  SetIntOption(out, IPPROTO_TCP, TCP_NODELAY, 1);
  *writer = out;
  *reader = in;
  return true;
}

void DrainSocket(SocketHandle reader) {
  char buffer[512];
  ::recv(Native(reader), buffer, sizeof(buffer), 0);
}

}  // namespace lidar::sdk
