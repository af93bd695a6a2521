// Keeps log lines that untrusted datagrams can trigger from flooding the log: each call site
// writes at most a few lines per second.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>

#include "base/sdk_log.h"

namespace lidar::sdk {

class LogThrottle {
 public:
  static constexpr uint32_t kLinesPerSecond = 10;

  // True when the site may write one more line in the current one-second window.
  bool Allow() {
    const auto now = std::chrono::steady_clock::now();
    std::lock_guard<std::mutex> lock(mutex_);
    if (now - window_start_ >= std::chrono::seconds(1)) {
      window_start_ = now;
      lines_ = 0;
    }
    if (lines_ >= kLinesPerSecond) return false;
    ++lines_;
    return true;
  }

 private:
  std::mutex mutex_;
  std::chrono::steady_clock::time_point window_start_{};
  uint32_t lines_ = 0;
};

}  // namespace lidar::sdk

#define LIDAR_LOG_LIMITED(LEVEL_MACRO, ...)              \
  do {                                                   \
    static ::lidar::sdk::LogThrottle lidar_log_throttle; \
    if (lidar_log_throttle.Allow()) LEVEL_MACRO(__VA_ARGS__); \
  } while (0)
