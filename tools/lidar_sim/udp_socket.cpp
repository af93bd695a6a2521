#include "udp_socket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace lidar_sim {

namespace {
sockaddr_in to_sockaddr(const Ipv4& ip, uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  std::memcpy(&a.sin_addr.s_addr, ip.o, 4);
  return a;
}
}  // namespace

UdpSocket::~UdpSocket() { close(); }

UdpSocket::UdpSocket(UdpSocket&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }

UdpSocket& UdpSocket::operator=(UdpSocket&& other) noexcept {
  if (this != &other) {
    close();
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

void UdpSocket::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool UdpSocket::open(const Ipv4& ip, uint16_t port, std::string& error) {
  close();
  const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    error = std::string("socket: ") + std::strerror(errno);
    return false;
  }
  const int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
  const int sndbuf = 4 << 20;
  ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &sndbuf, sizeof sndbuf);
  const sockaddr_in a = to_sockaddr(ip, port);
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) {
    error = "bind " + to_string(ip) + ":" + std::to_string(port) + ": " + std::strerror(errno);
    ::close(fd);
    return false;
  }
  fd_ = fd;
  return true;
}

long UdpSocket::receive(uint8_t* buf, std::size_t size, Ipv4& from_ip, uint16_t& from_port) {
  sockaddr_in a{};
  socklen_t len = sizeof a;
  const ssize_t n = ::recvfrom(fd_, buf, size, 0, reinterpret_cast<sockaddr*>(&a), &len);
  if (n < 0) return -1;
  std::memcpy(from_ip.o, &a.sin_addr.s_addr, 4);
  from_port = ntohs(a.sin_port);
  return static_cast<long>(n);
}

bool UdpSocket::send(const uint8_t* data, std::size_t size, const Ipv4& to_ip, uint16_t to_port) {
  const sockaddr_in a = to_sockaddr(to_ip, to_port);
  return ::sendto(fd_, data, size, 0, reinterpret_cast<const sockaddr*>(&a), sizeof a) ==
         static_cast<ssize_t>(size);
}

}  // namespace lidar_sim
