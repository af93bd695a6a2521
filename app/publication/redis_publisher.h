// The system's only writer to Redis: merges dotted-path entries into the JSON document stored
// under a key, in a watched transaction with an expiry.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/repeated_line.h"
#include "publication/redis_client.h"

namespace app {

// Ordered (dotted path, JSON value text) pairs.
using PathEntryList = std::vector<std::pair<std::string, std::string>>;

// The read-modify-write step of a publication without Redis: the stored text (absent, not JSON,
// or JSON that cannot take members all count as an empty object) with every entry's path set,
// serialised compactly; text that is not UTF-8 is replaced rather than refused.
std::string merge_json_document(const std::optional<std::string>& stored,
                                const PathEntryList& entries, const std::string& separator);

class RedisPublisher {
 public:
  // Connects to the server the settings name (e.g. "tcp://127.0.0.1:6379") and pings it; a
  // failure is printed and the publisher stays usable (it reconnects on later calls). Only a
  // URI that cannot be used at all leaves it without a client, and every call then fails.
  explicit RedisPublisher(const RedisSettings& settings);
  ~RedisPublisher();
  RedisPublisher(const RedisPublisher&) = delete;
  RedisPublisher& operator=(const RedisPublisher&) = delete;

  // Reads the document under the key, sets each entry's path in it and writes it back in a
  // transaction guarded by WATCH, renewing the key's time to live when ttl_seconds > 0. A
  // transaction aborted by another writer is redone from the read, at most 5 attempts in all.
  // True when a transaction was executed.
  bool set_json_merge_paths(const std::string& key, const PathEntryList& entries,
                            int32_t ttl_seconds, const std::string& separator);

 private:
  // The read-modify-write itself; set_json_merge_paths counts the ones that fail.
  bool merge(const std::string& key, const PathEntryList& entries, int32_t ttl_seconds,
             const std::string& separator);

  std::unique_ptr<RedisClient> client_;
  // With Redis down every document of every cycle fails the same way: each of these lines is
  // written at most once a second.
  RepeatedLine connect_failed_, exec_failed_, merge_failed_;
};

// The process-wide publisher instance, created by the entry point.
extern std::unique_ptr<RedisPublisher> redis_publisher;

}  // namespace app
