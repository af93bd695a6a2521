#include "redis_server.h"

#include <hiredis/hiredis.h>
#include <sys/time.h>

#include <chrono>
#include <stdexcept>
#include <thread>

#include "tests/app/publication/loopback_tcp.h"
#include "tests/app/publication/redis_process.h"

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
  int port = 0;
  const tcp::Socket listener = tcp::listen_loopback(port);
  if (listener == tcp::kNoSocket) throw std::runtime_error("no free loopback port");
  tcp::close_socket(listener);
  return port;
}

RedisServer::RedisServer(int port) : port_(port) {}

RedisServer::~RedisServer() { kill(); }

std::string RedisServer::uri() const { return "tcp://127.0.0.1:" + std::to_string(port_); }

bool RedisServer::start() {
  if (pid_ > 0) return true;
  pid_ = redis_process::start(port_);
  if (pid_ <= 0) return false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (std::chrono::steady_clock::now() < deadline) {
    if (answers_ping(port_)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

void RedisServer::kill() {
  if (pid_ <= 0) return;
  redis_process::kill(pid_);
  pid_ = -1;
}

void RedisServer::pause_process() {
  if (pid_ > 0) redis_process::pause(pid_);
}

void RedisServer::resume_process() {
  if (pid_ > 0) redis_process::resume(pid_);
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

void RedisProbe::config_set(const std::string& name, const std::string& value) {
  Reply r{static_cast<redisReply*>(redisCommand(context_, "CONFIG SET %b %b", name.data(),
                                                name.size(), value.data(), value.size()))};
  if (!r.reply || r.reply->type == REDIS_REPLY_ERROR)
    throw std::runtime_error("probe CONFIG SET failed");
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

std::vector<StreamRecord> RedisProbe::xrange(const std::string& key) {
  Reply r{static_cast<redisReply*>(
      redisCommand(context_, "XRANGE %b - +", key.data(), key.size()))};
  if (!r.reply || r.reply->type != REDIS_REPLY_ARRAY) throw std::runtime_error("probe XRANGE failed");
  const auto text = [](const redisReply* e) { return std::string(e->str, e->len); };
  std::vector<StreamRecord> records;
  for (std::size_t i = 0; i < r.reply->elements; ++i) {
    const redisReply* entry = r.reply->element[i];
    StreamRecord record;
    record.id = text(entry->element[0]);
    const redisReply* fields = entry->element[1];
    for (std::size_t f = 0; f + 1 < fields->elements; f += 2)
      record.fields.emplace_back(text(fields->element[f]), text(fields->element[f + 1]));
    records.push_back(std::move(record));
  }
  return records;
}

}  // namespace testing_support
