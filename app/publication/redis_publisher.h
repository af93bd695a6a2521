// The system's only writer to Redis: merges dotted-path entries into the JSON document stored
// under a key, in a watched transaction with an expiry.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace app {

// Ordered (dotted path, JSON value text) pairs.
using PathEntryList = std::vector<std::pair<std::string, std::string>>;

class RedisPublisher {
 public:
  // Connects to the server named by the URI (e.g. "tcp://127.0.0.1:6379") and pings it; a
  // failure is printed and the publisher stays usable (it reconnects on later calls).
  explicit RedisPublisher(const std::string& uri);
  ~RedisPublisher();
  RedisPublisher(const RedisPublisher&) = delete;
  RedisPublisher& operator=(const RedisPublisher&) = delete;

  bool set_json_merge_paths(const std::string& key, const PathEntryList& entries,
                            int32_t ttl_seconds, const std::string& separator);

 private:
  struct Client;
  std::unique_ptr<Client> client_;
};

// The process-wide publisher instance, created by the entry point.
extern std::unique_ptr<RedisPublisher> redis_publisher;

}  // namespace app
