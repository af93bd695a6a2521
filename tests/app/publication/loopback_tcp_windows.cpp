#include "loopback_tcp.h"

#include <winsock2.h>
#include <ws2tcpip.h>

namespace testing_support::tcp {
namespace {

// Winsock stays started for the life of the test program.
bool winsock_started() {
  static const bool started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return started;
}

sockaddr_in loopback(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<u_short>(port));
  return address;
}

SOCKET native(Socket socket) { return static_cast<SOCKET>(socket); }

Socket wrap(SOCKET socket) {
  return socket == INVALID_SOCKET ? kNoSocket : static_cast<Socket>(socket);
}

}  // namespace

Socket listen_loopback(int& port) {
  if (!winsock_started()) return kNoSocket;
  const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address = loopback(0);
  int size = sizeof(address);
  if (s == INVALID_SOCKET ||
      ::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
      ::listen(s, 4) != 0 || ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    if (s != INVALID_SOCKET) ::closesocket(s);
    return kNoSocket;
  }
  port = ntohs(address.sin_port);
  return wrap(s);
}

Socket accept_connection(Socket listener) {
  return wrap(::accept(native(listener), nullptr, nullptr));
}

Socket connect_loopback(int port) {
  if (!winsock_started()) return kNoSocket;
  const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return kNoSocket;
  const sockaddr_in address = loopback(port);
  if (::connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
    ::closesocket(s);
    return kNoSocket;
  }
  return wrap(s);
}

long receive_some(Socket socket, char* data, std::size_t size) {
  return ::recv(native(socket), data, static_cast<int>(size), 0);
}

bool send_all(Socket socket, const char* data, std::size_t size) {
  while (size > 0) {
    const int n = ::send(native(socket), data, static_cast<int>(size), 0);
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

void shut_down(Socket socket) { ::shutdown(native(socket), SD_BOTH); }

void close_socket(Socket socket) {
  if (socket != kNoSocket) ::closesocket(native(socket));
}

}  // namespace testing_support::tcp
