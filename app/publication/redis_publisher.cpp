#include "redis_publisher.h"

namespace app {

struct RedisPublisher::Client {};

std::unique_ptr<RedisPublisher> redis_publisher;

RedisPublisher::RedisPublisher(const std::string&) {}
RedisPublisher::~RedisPublisher() = default;

bool RedisPublisher::set_json_merge_paths(const std::string&, const PathEntryList&, int32_t,
                                          const std::string&) {
  return false;
}

}  // namespace app
