#include "redis_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <hiredis/hiredis.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace testing_support {
namespace {

bool answers_ping(int port) {
  timeval tv{0, 200000};
  redisContext* context = redisConnectWithTimeout("127.0.0.1", port, tv);
  bool ok = false;
  if (context && !context->err) {
    redisSetTimeout(context, tv);
    auto* reply = static_cast<redisReply*>(redisCommand(context, "PING"));
    ok = reply && reply->type == REDIS_REPLY_STATUS;
    if (reply) freeReplyObject(reply);
  }
  if (context) redisFree(context);
  return ok;
}

struct Reply {
  redisReply* reply;
  ~Reply() {
    if (reply) freeReplyObject(reply);
  }
};

}  // namespace

int free_loopback_port() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  socklen_t size = sizeof(address);
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    if (fd >= 0) ::close(fd);
    throw std::runtime_error("no free loopback port");
  }
  ::close(fd);
  return ntohs(address.sin_port);
}

RedisServer::RedisServer(int port) : port_(port) {}

RedisServer::~RedisServer() { kill(); }

std::string RedisServer::uri() const { return "tcp://127.0.0.1:" + std::to_string(port_); }

bool RedisServer::start() {
  if (pid_ > 0) return true;
  const std::string port = std::to_string(port_);
  std::vector<std::string> args = {"redis-server", "--port", port,  "--bind", "127.0.0.1",
                                   "--save",       "",       "--appendonly", "no"};
  std::vector<char*> argv;
  for (auto& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  const int rc = posix_spawnp(&pid_, "redis-server", &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    pid_ = -1;
    return false;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (std::chrono::steady_clock::now() < deadline) {
    if (answers_ping(port_)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

void RedisServer::kill() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGKILL);
  ::waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

void RedisServer::pause_process() {
  if (pid_ > 0) ::kill(pid_, SIGSTOP);
}

void RedisServer::resume_process() {
  if (pid_ > 0) ::kill(pid_, SIGCONT);
}

RedisProbe::RedisProbe(int port) {
  context_ = redisConnect("127.0.0.1", port);
  if (!context_ || context_->err) throw std::runtime_error("probe cannot connect");
}

RedisProbe::~RedisProbe() {
  if (context_) redisFree(context_);
}

std::optional<std::string> RedisProbe::get(const std::string& key) {
  Reply r{static_cast<redisReply*>(redisCommand(context_, "GET %b", key.data(), key.size()))};
  if (!r.reply) throw std::runtime_error("probe GET failed");
  if (r.reply->type == REDIS_REPLY_NIL) return std::nullopt;
  return std::string(r.reply->str, r.reply->len);
}

void RedisProbe::set(const std::string& key, const std::string& value) {
  Reply r{static_cast<redisReply*>(
      redisCommand(context_, "SET %b %b", key.data(), key.size(), value.data(), value.size()))};
  if (!r.reply || r.reply->type == REDIS_REPLY_ERROR) throw std::runtime_error("probe SET failed");
}

long long RedisProbe::ttl(const std::string& key) {
  Reply r{static_cast<redisReply*>(redisCommand(context_, "TTL %b", key.data(), key.size()))};
  if (!r.reply || r.reply->type != REDIS_REPLY_INTEGER)
    throw std::runtime_error("probe TTL failed");
  return r.reply->integer;
}

void RedisProbe::expire(const std::string& key, long long seconds) {
  Reply r{static_cast<redisReply*>(
      redisCommand(context_, "EXPIRE %b %lld", key.data(), key.size(), seconds))};
  if (!r.reply) throw std::runtime_error("probe EXPIRE failed");
}

void RedisProbe::del(const std::string& key) {
  Reply r{static_cast<redisReply*>(redisCommand(context_, "DEL %b", key.data(), key.size()))};
  if (!r.reply) throw std::runtime_error("probe DEL failed");
}

}  // namespace testing_support
