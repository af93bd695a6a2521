// A TCP relay between a Redis client and a server that records every command the client sends
// and can act on the server just before a command is passed on (to make another writer's
// change land between a client's GET and its EXEC, for instance).
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/app/publication/loopback_tcp.h"

namespace testing_support {

using Command = std::vector<std::string>;

class CommandProxy {
 public:
  using Hook = std::function<void(const Command&)>;

  // Serves one client connection at a time (a client that reconnects is served again).
  CommandProxy(int server_port, Hook before_forward = {});
  ~CommandProxy();
  CommandProxy(const CommandProxy&) = delete;
  CommandProxy& operator=(const CommandProxy&) = delete;

  std::string uri() const;
  std::vector<Command> commands() const;
  // Names only (first word of each command).
  std::vector<std::string> command_names() const;
  void clear();

 private:
  void serve();
  void relay(tcp::Socket client);

  int server_port_;
  Hook before_forward_;
  tcp::Socket listener_ = tcp::kNoSocket;
  int port_ = 0;
  mutable std::mutex mutex_;
  std::vector<Command> commands_;
  bool stopping_ = false;
  tcp::Socket client_ = tcp::kNoSocket;
  std::thread thread_;
};

}  // namespace testing_support
