#include "redis_client.h"

#include <hiredis/hiredis.h>
#include <sys/time.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>

namespace app {
namespace {

constexpr const char* kTcpScheme = "tcp://";
constexpr const char* kUnixScheme = "unix://";
constexpr int kDefaultPort = 6379;
constexpr int kTimeoutMs = 1000;

timeval to_timeval(int ms) {
  timeval tv{};
  tv.tv_sec = ms / 1000;
  tv.tv_usec = (ms % 1000) * 1000;
  return tv;
}

// A refusal of the service's credentials or rights repeats on every connection or command until
// someone changes the server or the configuration file: each kind (the server's error word with
// the command refused) is said once, as one [ERR] line that says what to check. The usual
// [REDIS] lines of the caller, rate-limited, go on saying that writes fail.
bool is_refusal(const std::string& server_text) {
  const std::string word = server_text.substr(0, server_text.find(' '));
  return word == "WRONGPASS" || word == "NOAUTH" || word == "NOPERM";
}

void say_refusal(const std::string& command, const std::string& server_text) {
  static std::mutex mutex;
  static std::set<std::string> said;
  const std::string word = server_text.substr(0, server_text.find(' '));
  {
    std::lock_guard<std::mutex> hold(mutex);
    if (said.size() >= 64 || !said.insert(word + " " + command).second) return;
  }
  std::fprintf(stderr,
               "[ERR] o servidor Redis recusou %s (%s): confira \"user\" e \"password_file\" "
               "do membro \"redis\" do arquivo de configuracao e as permissoes (ACL) desse "
               "usuario\n",
               command.c_str(), server_text.c_str());
  std::fflush(stderr);
}

std::string describe(const redisContext* context, const char* fallback) {
  if (context && context->err && context->errstr[0] != '\0') return context->errstr;
  return fallback;
}

}  // namespace

void RedisClient::ContextFree::operator()(redisContext* context) const { redisFree(context); }
void RedisClient::ReplyFree::operator()(redisReply* reply) const { freeReplyObject(reply); }

std::optional<std::string> redis_uri_problem(const std::string& uri) {
  try {
    RedisClient client(uri);
  } catch (const RedisError& error) {
    return std::string(error.what());
  }
  return std::nullopt;
}

RedisClient::RedisClient(const RedisSettings& settings)
    : user_(settings.user), password_(settings.password) {
  const std::string& uri = settings.uri;
  if (uri.compare(0, std::strlen(kUnixScheme), kUnixScheme) == 0) {
    socket_path_ = uri.substr(std::strlen(kUnixScheme));
    if (socket_path_.empty() || socket_path_[0] != '/')
      throw RedisError("a Unix socket URI names an absolute path (unix:///run/redis/redis.sock): " +
                       uri);
    return;
  }
  const std::string scheme = kTcpScheme;
  if (uri.compare(0, scheme.size(), scheme) != 0)
    throw RedisError("unsupported URI (expected tcp://host[:port] or unix:///path): " + uri);
  std::string rest = uri.substr(scheme.size());
  const std::size_t slash = rest.find('/');
  if (slash != std::string::npos) rest.erase(slash);
  const std::size_t colon = rest.rfind(':');
  host_ = rest.substr(0, colon);
  port_ = kDefaultPort;
  if (colon != std::string::npos) {
    const std::string port_text = rest.substr(colon + 1);
    char* end = nullptr;
    const long port = std::strtol(port_text.c_str(), &end, 10);
    if (port_text.empty() || *end != '\0' || port <= 0 || port > 65535)
      throw RedisError("invalid port in URI: " + uri);
    port_ = static_cast<int>(port);
  }
  if (host_.empty()) throw RedisError("missing host in URI: " + uri);
}

RedisClient::~RedisClient() = default;

void RedisClient::connect() {
  context_.reset();
  std::unique_ptr<redisContext, ContextFree> fresh(
      socket_path_.empty()
          ? redisConnectWithTimeout(host_.c_str(), port_, to_timeval(kTimeoutMs))
          : redisConnectUnixWithTimeout(socket_path_.c_str(), to_timeval(kTimeoutMs)));
  if (!fresh) throw RedisError("cannot allocate a Redis connection");
  if (fresh->err) throw RedisError(describe(fresh.get(), "connection failed"));
  if (redisSetTimeout(fresh.get(), to_timeval(kTimeoutMs)) != REDIS_OK)
    throw RedisError(describe(fresh.get(), "cannot set the socket time-out"));
  if (!password_.empty()) {
    // The password goes only to the server, never into an error text.
    std::vector<const char*> argv = {"AUTH"};
    std::vector<std::size_t> lengths = {4};
    if (!user_.empty()) {
      argv.push_back(user_.c_str());
      lengths.push_back(user_.size());
    }
    argv.push_back(password_.c_str());
    lengths.push_back(password_.size());
    Reply reply(static_cast<redisReply*>(
        redisCommandArgv(fresh.get(), static_cast<int>(argv.size()), argv.data(), lengths.data())));
    if (!reply) throw RedisError(describe(fresh.get(), "no reply to AUTH"));
    if (reply->type == REDIS_REPLY_ERROR) {
      const std::string text(reply->str, reply->len);
      if (is_refusal(text)) say_refusal("AUTH", text);
      throw RedisAuthError(text);
    }
  }
  context_ = std::move(fresh);
}

RedisClient::Reply RedisClient::command(const std::vector<std::string>& args, bool may_connect) {
  if (!context_) {
    if (!may_connect) throw RedisError("connection lost");
    connect();
  }
  send(args);
  return receive(args.front());
}

void RedisClient::send(const std::vector<std::string>& args) {
  std::vector<const char*> argv;
  std::vector<std::size_t> lengths;
  argv.reserve(args.size());
  lengths.reserve(args.size());
  for (const auto& arg : args) {
    argv.push_back(arg.data());
    lengths.push_back(arg.size());
  }
  if (redisAppendCommandArgv(context_.get(), static_cast<int>(argv.size()), argv.data(),
                             lengths.data()) != REDIS_OK) {
    const std::string text = describe(context_.get(), "command not sent");
    context_.reset();
    throw RedisError(text);
  }
}

RedisClient::Reply RedisClient::receive(const std::string& name) {
  void* raw = nullptr;
  if (redisGetReply(context_.get(), &raw) != REDIS_OK || raw == nullptr) {
    // An I/O failure or time-out leaves the connection unusable (a late reply would be read
    // as the answer to the next command), so it is dropped and the next sequence reconnects.
    const std::string text = describe(context_.get(), "no reply from server");
    context_.reset();
    throw RedisError(text);
  }
  Reply reply(static_cast<redisReply*>(raw));
  if (reply->type == REDIS_REPLY_ERROR) {
    const std::string text(reply->str, reply->len);
    if (is_refusal(text)) {
      say_refusal(name, text);
      throw RedisAuthError(text);
    }
    throw RedisError(text);
  }
  return reply;
}

void RedisClient::ping() { command({"PING"}, true); }

void RedisClient::watch(const std::string& key) { command({"WATCH", key}, true); }

std::optional<std::string> RedisClient::get(const std::string& key) {
  const Reply reply = command({"GET", key}, false);
  if (reply->type == REDIS_REPLY_STRING) return std::string(reply->str, reply->len);
  if (reply->type == REDIS_REPLY_NIL) return std::nullopt;
  throw RedisError("unexpected reply type to GET");
}

void RedisClient::unwatch() {
  if (context_) command({"UNWATCH"}, false);
}

void RedisClient::queue(const std::vector<std::string>& args) {
  try {
    command(args, false);
  } catch (const RedisError&) {
    // The server may still hold the transaction open; a fresh connection is the sure way out.
    context_.reset();
    throw;
  }
}

void RedisClient::multi() { queue({"MULTI"}); }

std::string RedisClient::xadd(const std::string& key, std::size_t max_length,
                              const std::vector<std::pair<std::string, std::string>>& fields) {
  std::vector<std::string> args = {"XADD", key, "MAXLEN", "~", std::to_string(max_length), "*"};
  args.reserve(args.size() + 2 * fields.size());
  for (const auto& [field, value] : fields) {
    args.push_back(field);
    args.push_back(value);
  }
  const Reply reply = command(args, true);
  if (reply->type != REDIS_REPLY_STRING) return std::string();
  return std::string(reply->str, reply->len);
}

void RedisClient::publish(const std::string& channel, const std::string& message) {
  command({"PUBLISH", channel, message}, true);
}

void RedisClient::commit(const std::string& key, const std::string& value, int64_t ttl_seconds) {
  if (!context_) throw RedisError("connection lost");
  std::vector<std::vector<std::string>> commands = {{"SET", key, value}};
  if (ttl_seconds > 0) commands.push_back({"EXPIRE", key, std::to_string(ttl_seconds)});
  commands.push_back({"EXEC"});
  Reply reply;
  try {
    for (const auto& args : commands) send(args);
    for (const auto& args : commands) reply = receive(args.front());
  } catch (const RedisError&) {
    // A refused SET leaves its EXEC (and the server's open transaction) behind on this
    // connection: only a fresh one is sure to be clean.
    context_.reset();
    throw;
  }
  if (reply->type == REDIS_REPLY_NIL)
    throw RedisWatchError("transaction aborted: watched key changed");
}

}  // namespace app
