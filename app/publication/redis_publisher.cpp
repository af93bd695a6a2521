#include "redis_publisher.h"

#include <cstdio>

#include <nlohmann/json.hpp>

#include "core/app_health.h"
#include "core/clocks.h"
#include "publication/json_path.h"
#include "publication/redis_client.h"

namespace app {
namespace {

constexpr int kMaxAttempts = 5;
// Our documents nest a few levels. Another program may store anything under our keys, and
// serialising a document nested many thousand levels deep would exhaust the thread's stack.
constexpr int kMaxStoredDepth = 64;

struct TooDeep : std::exception {};

void print_error(RepeatedLine& place, const char* prefix, const std::exception& error) {
  write_repeated(place, stderr, std::string(prefix) + error.what() + "\n", steady_ms());
}

// The stored text, or an empty object when there is none, it is not JSON, it nests deeper than
// kMaxStoredDepth, or it is JSON that cannot take members.
nlohmann::json parse_document(const std::optional<std::string>& stored) {
  if (stored) {
    try {
      nlohmann::json parsed = nlohmann::json::parse(
          *stored, [](int depth, nlohmann::json::parse_event_t, nlohmann::json&) {
            if (depth > kMaxStoredDepth) throw TooDeep();
            return true;
          });
      if (parsed.is_object()) return parsed;
    } catch (const std::exception&) {
    }
  }
  return nlohmann::json::object();
}

}  // namespace

std::string merge_json_document(const std::optional<std::string>& stored,
                                const PathEntryList& entries, const std::string& separator) {
  nlohmann::json document = parse_document(stored);
  for (const auto& [path, value_text] : entries)
    set_json_path(document, path, value_text, separator);
  // Device text may hold bytes that are not UTF-8; they are replaced rather than refused.
  return document.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::unique_ptr<RedisPublisher> redis_publisher;

RedisPublisher::RedisPublisher(const RedisSettings& settings) {
  try {
    client_ = std::make_unique<RedisClient>(settings);
    client_->ping();
    std::fputs("[REDIS] conectado.\n", stdout);
    std::fflush(stdout);
  } catch (const RedisError& error) {
    print_error(connect_failed_, "[REDIS] falha ao conectar: ", error);
  }
}

RedisPublisher::~RedisPublisher() = default;

bool RedisPublisher::set_json_merge_paths(const std::string& key, const PathEntryList& entries,
                                          int32_t ttl_seconds, const std::string& separator) {
  const bool merged = merge(key, entries, ttl_seconds, separator);
  if (!merged) note_publication_failure();
  return merged;
}

bool RedisPublisher::merge(const std::string& key, const PathEntryList& entries,
                           int32_t ttl_seconds, const std::string& separator) {
  if (!client_) return false;
  RedisClient& client = *client_;
  try {
    for (int attempt = 0;; ++attempt) {
      if (attempt >= kMaxAttempts) {
        client.unwatch();
        return false;
      }
      client.watch(key);
      const std::string text = merge_json_document(client.get(key), entries, separator);
      try {
        client.multi();
        client.commit(key, text, ttl_seconds);
      } catch (const RedisWatchError&) {
        client.unwatch();
        continue;
      } catch (const RedisError& error) {
        try {
          client.unwatch();
        } catch (const RedisError&) {
        }
        print_error(exec_failed_, "[REDIS] exec falhou: ", error);
        return false;
      }
      // EXEC released the watch: no UNWATCH, which would cost the document a round trip.
      return true;
    }
  } catch (const std::exception& error) {
    // Redis failures above all; anything else must not end the supervisor thread either.
    print_error(merge_failed_, "[REDIS] erro set_json_merge_paths: ", error);
    return false;
  }
}

}  // namespace app
