// Start-up self-check of the machine's set-up: one actionable console line per problem found,
// before the SDK starts. It only reports; the service starts whatever it finds.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "core/platform.h"
#include "publication/redis_client.h"

namespace app {

struct SelfCheckSettings {
  std::string config_path;  // the SDK configuration file, read for host addresses and ports
  RedisSettings redis;
  // The Lidar document this service will write: another service already writing it (the same
  // instance name, or none, twice) is named.
  std::string lidar_document_key = "ctx:dados_modulo_Lidar";
  uint32_t writer_watch_ms = 700;  // how long a fresh document is watched for a change
  std::string rmem_max_path = receive_buffer_limit_path();  // empty: not checked
  uint64_t receive_buffer_bytes = 209715200;  // what the SDK asks for on every socket
  // The machine's interface addresses; nothing when the system cannot list them.
  std::function<std::optional<std::set<std::string>>()> list_interfaces = interface_addresses;
};

// The problem lines, each tagged "[ERR] " and ending in a newline; empty when all is well.
std::vector<std::string> find_setup_problems(const SelfCheckSettings& settings);

// Prints the problems on standard error, or one "[INFO]" line on standard output when there
// are none.
void run_self_check(const SelfCheckSettings& settings);

}  // namespace app
