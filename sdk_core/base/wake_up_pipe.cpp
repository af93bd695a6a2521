#include "wake_up_pipe.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/select.h>
#include <sys/socket.h>

namespace lidar::sdk {
namespace {

constexpr int kAcceptTimeoutSeconds = 2;

// Closes the listener on every way out of Open.
struct ListenerGuard {
  SocketHandle sock;
  ~ListenerGuard() { CloseSocket(sock); }
};

}  // namespace

WakeUpPipe::~WakeUpPipe() { Close(); }

bool WakeUpPipe::Open() {
  Close();
  ListenerGuard listener{::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP)};
  if (!IsOpenSocket(listener.sock)) return false;

  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  socklen_t addr_len = sizeof(addr);
  if (::bind(listener.sock, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 ||
      ::getsockname(listener.sock, reinterpret_cast<sockaddr*>(&addr), &addr_len) != 0 ||
      ::listen(listener.sock, 1) != 0) {
    return false;
  }

  writer_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (!IsOpenSocket(writer_) ||
      ::connect(writer_, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 ||
      !SetSocketNonBlocking(listener.sock, true) || listener.sock >= FD_SETSIZE) {
    Close();
    return false;
  }

  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(listener.sock, &readable);
  timeval timeout{kAcceptTimeoutSeconds, 0};
  if (::select(listener.sock + 1, &readable, nullptr, nullptr, &timeout) <= 0) {
    Close();
    return false;
  }
  reader_ = ::accept(listener.sock, nullptr, nullptr);
  if (!IsOpenSocket(reader_)) {
    Close();
    return false;
  }
  // Single bytes must leave at once rather than wait for more to coalesce.
  const int on = 1;
  ::setsockopt(writer_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
  return true;
}

void WakeUpPipe::Close() {
  CloseSocket(writer_);
  CloseSocket(reader_);
  writer_ = kInvalidSocket;
  reader_ = kInvalidSocket;
}

bool WakeUpPipe::WakeUp() {
  if (!IsOpenSocket(writer_)) return false;
  const char byte = '1';
  return ::send(writer_, &byte, 1, MSG_DONTWAIT | MSG_NOSIGNAL) == 1;
}

void WakeUpPipe::Drain() {
  if (!IsOpenSocket(reader_)) return;
  char buffer[512];
  ::recv(reader_, buffer, sizeof(buffer), MSG_DONTWAIT);
}

}  // namespace lidar::sdk
