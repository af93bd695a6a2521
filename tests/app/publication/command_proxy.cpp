#include "command_proxy.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

namespace testing_support {
namespace {

bool read_line(const std::string& buffer, std::size_t& pos, std::string& line) {
  const std::size_t end = buffer.find("\r\n", pos);
  if (end == std::string::npos) return false;
  line = buffer.substr(pos, end - pos);
  pos = end + 2;
  return true;
}

// One complete RESP array of bulk strings from the front of the buffer; false when incomplete.
bool take_command(std::string& buffer, Command& command) {
  std::size_t pos = 0;
  std::string line;
  if (!read_line(buffer, pos, line) || line.empty() || line[0] != '*') return false;
  const long count = std::strtol(line.c_str() + 1, nullptr, 10);
  Command parsed;
  for (long i = 0; i < count; ++i) {
    if (!read_line(buffer, pos, line) || line.empty() || line[0] != '$') return false;
    const std::size_t size = std::strtoul(line.c_str() + 1, nullptr, 10);
    if (buffer.size() < pos + size + 2) return false;
    parsed.push_back(buffer.substr(pos, size));
    pos += size + 2;
  }
  buffer.erase(0, pos);
  command = std::move(parsed);
  return true;
}

bool write_all(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

int connect_loopback(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

CommandProxy::CommandProxy(int server_port, Hook before_forward)
    : server_port_(server_port), before_forward_(std::move(before_forward)) {
  listen_fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof(address);
  if (listen_fd_ < 0 ||
      ::bind(listen_fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
      ::listen(listen_fd_, 4) != 0 ||
      ::getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&address), &size) != 0)
    throw std::runtime_error("proxy cannot listen");
  port_ = ntohs(address.sin_port);
  thread_ = std::thread([this] { serve(); });
}

CommandProxy::~CommandProxy() {
  {
    std::lock_guard<std::mutex> hold(mutex_);
    stopping_ = true;
    if (client_fd_ >= 0) ::shutdown(client_fd_, SHUT_RDWR);
  }
  ::shutdown(listen_fd_, SHUT_RDWR);
  thread_.join();
  ::close(listen_fd_);
}

std::string CommandProxy::uri() const { return "tcp://127.0.0.1:" + std::to_string(port_); }

std::vector<Command> CommandProxy::commands() const {
  std::lock_guard<std::mutex> hold(mutex_);
  return commands_;
}

std::vector<std::string> CommandProxy::command_names() const {
  std::vector<std::string> names;
  for (const auto& command : commands()) names.push_back(command.empty() ? "" : command[0]);
  return names;
}

void CommandProxy::clear() {
  std::lock_guard<std::mutex> hold(mutex_);
  commands_.clear();
}

void CommandProxy::serve() {
  for (;;) {
    const int client = ::accept(listen_fd_, nullptr, nullptr);
    if (client < 0) return;
    {
      std::lock_guard<std::mutex> hold(mutex_);
      if (stopping_) {
        ::close(client);
        return;
      }
      client_fd_ = client;
    }
    relay(client);
    std::lock_guard<std::mutex> hold(mutex_);
    client_fd_ = -1;
    ::close(client);
  }
}

void CommandProxy::relay(int client) {
  const int server = connect_loopback(server_port_);
  if (server < 0) return;
  std::thread replies([client, server] {
    char chunk[4096];
    for (;;) {
      const ssize_t n = ::recv(server, chunk, sizeof(chunk), 0);
      if (n <= 0 || !write_all(client, chunk, static_cast<std::size_t>(n))) break;
    }
    ::shutdown(client, SHUT_RDWR);
  });
  std::string pending;
  char chunk[4096];
  for (;;) {
    const ssize_t n = ::recv(client, chunk, sizeof(chunk), 0);
    if (n <= 0) break;
    pending.append(chunk, static_cast<std::size_t>(n));
    Command command;
    bool forwarded = true;
    while (forwarded && take_command(pending, command)) {
      {
        std::lock_guard<std::mutex> hold(mutex_);
        commands_.push_back(command);
      }
      if (before_forward_) before_forward_(command);
      std::string frame = "*" + std::to_string(command.size()) + "\r\n";
      for (const auto& part : command)
        frame += "$" + std::to_string(part.size()) + "\r\n" + part + "\r\n";
      forwarded = write_all(server, frame.data(), frame.size());
    }
    if (!forwarded) break;
  }
  ::shutdown(server, SHUT_RDWR);
  replies.join();
  ::close(server);
}

}  // namespace testing_support
