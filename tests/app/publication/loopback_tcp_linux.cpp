#include "loopback_tcp.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace testing_support::tcp {
namespace {

sockaddr_in loopback(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  return address;
}

}  // namespace

Socket listen_loopback(int& port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address = loopback(0);
  socklen_t size = sizeof(address);
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
      ::listen(fd, 4) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    if (fd >= 0) ::close(fd);
    return kNoSocket;
  }
  port = ntohs(address.sin_port);
  return fd;
}

Socket accept_connection(Socket listener) {
  const int fd = ::accept(static_cast<int>(listener), nullptr, nullptr);
  return fd < 0 ? kNoSocket : fd;
}

Socket connect_loopback(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return kNoSocket;
  const sockaddr_in address = loopback(port);
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
    ::close(fd);
    return kNoSocket;
  }
  return fd;
}

long receive_some(Socket socket, char* data, std::size_t size) {
  return ::recv(static_cast<int>(socket), data, size, 0);
}

bool send_all(Socket socket, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::send(static_cast<int>(socket), data, size, MSG_NOSIGNAL);
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

void shut_down(Socket socket) { ::shutdown(static_cast<int>(socket), SHUT_RDWR); }

void close_socket(Socket socket) {
  if (socket != kNoSocket) ::close(static_cast<int>(socket));
}

}  // namespace testing_support::tcp
