// Capture of the LiDARs' own log stream. When the configuration enables it, every datagram that
// arrives on a log port is stored as one record in the capture files of its LiDAR under
// "lidar_log_path", and the files are rotated so that together they stay within
// "lidar_log_cache_size_MB". When it is disabled nothing is created or written.
//
// Record layout (little-endian): u64 wall-clock milliseconds since 1970, u16 local port the
// datagram arrived on, u16 byte count, then the datagram's bytes.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

#include "command_handler/detection_data.h"
#include "config_types.h"
#include "logger_handler/log_file_store.h"

namespace lidar::sdk {

constexpr std::size_t kLogRecordHeaderSize = 12;

class LoggerManager {
 public:
  static LoggerManager& GetInstance();

  // Takes the capture settings. Enabled: creates the directory (false when it cannot be
  // created) and takes over the capture files already in it. Disabled: only remembers that.
  bool Init(const LidarLoggerCfg& cfg);
  // Closes the files; later datagrams are ignored until the next Init.
  void Uninit();
  bool enabled() const { return enabled_.load(); }

  // One datagram from the LiDAR `handle` (network byte order) received on `local_port`.
  void HandleLogData(uint32_t handle, uint16_t local_port, const uint8_t* bytes, uint32_t count);
  // A valid detection reply: names the LiDAR's capture files after its serial number.
  void HandleDetectionData(uint32_t handle, const DetectionData& data);

  LoggerManager(const LoggerManager&) = delete;
  LoggerManager& operator=(const LoggerManager&) = delete;

 private:
  LoggerManager() = default;

  // "<dotted address>" or "<dotted address>_<serial number>", safe as part of a file name.
  std::string FileLabel(uint32_t handle) const;

  std::atomic<bool> enabled_{false};
  std::mutex mutex_;  // datagrams arrive on several IO threads
  LogFileStore store_;
  std::map<uint32_t, std::string> serial_numbers_;
};

}  // namespace lidar::sdk
