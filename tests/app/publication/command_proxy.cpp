#include "command_proxy.h"

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

}  // namespace

CommandProxy::CommandProxy(int server_port, Hook before_forward)
    : server_port_(server_port), before_forward_(std::move(before_forward)) {
  listener_ = tcp::listen_loopback(port_);
  if (listener_ == tcp::kNoSocket) throw std::runtime_error("proxy cannot listen");
  thread_ = std::thread([this] { serve(); });
}

CommandProxy::~CommandProxy() {
  {
    std::lock_guard<std::mutex> hold(mutex_);
    stopping_ = true;
    if (client_ != tcp::kNoSocket) tcp::shut_down(client_);
  }
  // A connection of our own wakes the accept, which then sees the stop.
  tcp::close_socket(tcp::connect_loopback(port_));
  thread_.join();
  tcp::close_socket(listener_);
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
    const tcp::Socket client = tcp::accept_connection(listener_);
    if (client == tcp::kNoSocket) return;
    {
      std::lock_guard<std::mutex> hold(mutex_);
      if (stopping_) {
        tcp::close_socket(client);
        return;
      }
      client_ = client;
    }
    relay(client);
    std::lock_guard<std::mutex> hold(mutex_);
    client_ = tcp::kNoSocket;
    tcp::close_socket(client);
  }
}

void CommandProxy::relay(tcp::Socket client) {
  const tcp::Socket server = tcp::connect_loopback(server_port_);
  if (server == tcp::kNoSocket) return;
  std::thread replies([client, server] {
    char chunk[4096];
    for (;;) {
      const long n = tcp::receive_some(server, chunk, sizeof(chunk));
      if (n <= 0 || !tcp::send_all(client, chunk, static_cast<std::size_t>(n))) break;
    }
    tcp::shut_down(client);
  });
  std::string pending;
  char chunk[4096];
  for (;;) {
    const long n = tcp::receive_some(client, chunk, sizeof(chunk));
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
      forwarded = tcp::send_all(server, frame.data(), frame.size());
    }
    if (!forwarded) break;
  }
  tcp::shut_down(server);
  replies.join();
  tcp::close_socket(server);
}

}  // namespace testing_support
