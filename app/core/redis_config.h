// Where the service reaches Redis, from its configuration file: the optional top-level member
// "redis", {"url": "unix:///run/redis/redis.sock" or "tcp://host:port", "user": "lidar",
// "password_file": "/etc/lidar-obstacle/redis.password"}. The password itself stays out of the
// configuration file. The LiDAR layer reads the same file and ignores the member.
#pragma once

#include <optional>
#include <string>

#include "publication/redis_client.h"

namespace app {

// Fills `settings` from the file's "redis" (every member may be left out: tcp://127.0.0.1:6379,
// the default user, no password) and returns nothing; a member that is there but malformed, or
// a password file that cannot be read, gives the console line that refuses the start.
std::optional<std::string> read_redis_config(const std::string& config_path,
                                             RedisSettings& settings);

}  // namespace app
