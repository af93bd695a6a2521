// A redis-server process on a free loopback port, for tests that run inside the network
// sandbox, and a plain connection to inspect what it stores. On Linux the server is a child of
// the test; a Windows test (under Wine) has its wrapper, redis_control.py, run it.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

struct redisContext;

namespace testing_support {

// A port on 127.0.0.1 that nothing listens on right now.
int free_loopback_port();

class RedisServer {
 public:
  explicit RedisServer(int port = free_loopback_port());
  ~RedisServer();
  RedisServer(const RedisServer&) = delete;
  RedisServer& operator=(const RedisServer&) = delete;

  // Starts the server and waits until it answers PING; false when it never does.
  bool start();
  // Ends it (SIGKILL, as a crash would) and reaps it.
  void kill();
  void pause_process();   // SIGSTOP: the server accepts connections but never answers
  void resume_process();  // SIGCONT

  int port() const { return port_; }
  std::string uri() const;

 private:
  int port_;
  long long pid_ = -1;
};

// One entry of a stream: its id and its field, value pairs in order.
struct StreamRecord {
  std::string id;
  std::vector<std::pair<std::string, std::string>> fields;
};

// A direct connection for checking the stored values; every call fails the test on error.
class RedisProbe {
 public:
  explicit RedisProbe(int port);
  ~RedisProbe();
  RedisProbe(const RedisProbe&) = delete;
  RedisProbe& operator=(const RedisProbe&) = delete;

  std::optional<std::string> get(const std::string& key);
  void set(const std::string& key, const std::string& value);
  long long ttl(const std::string& key);
  void expire(const std::string& key, long long seconds);
  void del(const std::string& key);
  void config_set(const std::string& name, const std::string& value);
  // Every entry of the stream under the key, oldest first (XRANGE key - +).
  std::vector<StreamRecord> xrange(const std::string& key);

 private:
  redisContext* context_ = nullptr;
};

}  // namespace testing_support
