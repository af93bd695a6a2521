// Minimal blocking Redis client over one connection (TCP or a Unix socket): just the commands
// the publisher sends.
// WATCH, GET and a MULTI/EXEC transaction all go over the same connection, so an optimistic
// lock taken with WATCH really guards the transaction that follows.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

struct redisContext;
struct redisReply;

namespace app {

// A command failed: the text is the server's error reply or the socket's error.
class RedisError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// EXEC returned no result because a watched key changed after WATCH.
class RedisWatchError : public RedisError {
 public:
  using RedisError::RedisError;
};

// Where and as whom the service reaches Redis: "tcp://host[:port]" (port 6379 when none) or
// "unix:///path/of/the/socket", and, for a server that asks for it, the password and the ACL
// user (empty: the server's default user).
struct RedisSettings {
  RedisSettings() = default;
  // A URI alone: the server's default user, no password.
  RedisSettings(std::string server_uri) : uri(std::move(server_uri)) {}
  std::string uri = "tcp://127.0.0.1:6379";
  std::string user;
  std::string password;
};

// The server refused the service's credentials or rights: a wrong password or user (AUTH), none
// given where one is required (NOAUTH), or an ACL that forbids a command or key (NOPERM).
class RedisAuthError : public RedisError {
 public:
  using RedisError::RedisError;
};

// Whether `uri` is a form RedisClient takes; the reason when not.
std::optional<std::string> redis_uri_problem(const std::string& uri);

class RedisClient {
 public:
  // Throws RedisError for a URI of another form. Does not connect yet. Connecting (with its
  // AUTH when a password is set) and every reply are bounded by a one-second time-out, so a dead
  // or hung server costs a caller at most about that long.
  explicit RedisClient(const RedisSettings& settings);
  ~RedisClient();
  RedisClient(const RedisClient&) = delete;
  RedisClient& operator=(const RedisClient&) = delete;

  // PING and WATCH open a fresh connection when there is none (first contact, or after the
  // previous one failed). The other commands belong to a sequence that began with one of those
  // two on the same connection: when that connection is gone they fail instead of silently
  // reconnecting, since a new connection would carry neither the watch nor the open MULTI.
  void ping();
  void watch(const std::string& key);
  std::optional<std::string> get(const std::string& key);
  // Forgets the watched keys. Without a connection there is nothing to forget.
  void unwatch();
  void multi();
  // After MULTI: SET of the value, EXPIRE when `ttl_seconds` > 0, and EXEC, sent together and
  // answered in one round trip. Throws RedisWatchError when a watched key changed since WATCH
  // (EXEC releases the watch either way); on any other failure the connection is dropped.
  void commit(const std::string& key, const std::string& value, int64_t ttl_seconds);

  // Appends an entry (field, value pairs) to the stream under the key, letting the server trim
  // it to about max_length entries (XADD key MAXLEN ~ max_length * ...) and returns the entry's
  // id. A command of its own, so like PING it opens a connection when there is none.
  std::string xadd(const std::string& key, std::size_t max_length,
                   const std::vector<std::pair<std::string, std::string>>& fields);
  // PUBLISH of the message on the channel; the same connection rules as xadd.
  void publish(const std::string& channel, const std::string& message);

 private:
  struct ContextFree {
    void operator()(redisContext* context) const;
  };
  struct ReplyFree {
    void operator()(redisReply* reply) const;
  };
  using Reply = std::unique_ptr<redisReply, ReplyFree>;

  void connect();
  Reply command(const std::vector<std::string>& args, bool may_connect);
  // The two halves of a command, so that several can be sent before their replies are read.
  void send(const std::vector<std::string>& args);
  Reply receive(const std::string& name);
  // A command between MULTI and EXEC; a failure drops the connection.
  void queue(const std::vector<std::string>& args);

  std::string host_;
  int port_ = 6379;
  std::string socket_path_;  // set for a Unix socket
  std::string user_;
  std::string password_;
  std::unique_ptr<redisContext, ContextFree> context_;
};

}  // namespace app
