// What the SDK-level tests share: a configuration file in a fresh temporary directory, a
// recorder behind the SDK's callbacks, and waiting with a deadline.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "lidar_sdk.h"
#include "base/ipv4_address.h"

namespace lidar::sdk::testing {

inline uint32_t Handle(const char* ip) { return IpToHandle(ip); }

// Polls `done` every 5 ms until it holds or `timeout` has passed.
inline bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

struct ConfigOptions {
  bool master_sdk = false;
  bool log_enable = false;
  std::string log_path;      // default: <dir>/logs
  std::string lidar_ip;      // non-empty: a record for this one LiDAR instead of all Omni units
};

// A record for the one LiDAR at `lidar_ip`, so every channel opens at Init.
inline ConfigOptions OneLidar(const std::string& lidar_ip) {
  ConfigOptions options;
  options.lidar_ip = lidar_ip;
  return options;
}

class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::filesystem::path& path() const { return path_; }
  // Writes an Omni configuration (host 127.0.0.1, host ports 56101..56501).
  std::string WriteConfig(const ConfigOptions& options) const;

 private:
  std::filesystem::path path_;
};

inline std::size_t HeaderHash(const uint8_t* datagram) {
  return std::hash<std::string_view>{}(
      std::string_view(reinterpret_cast<const char*>(datagram), kPacketHeaderSize));
}

// Everything the SDK hands back through the three public callbacks.
class Recorder {
 public:
  struct Data {
    uint32_t handle;
    uint8_t dev_type;
    uint8_t data_type;
    std::size_t header_hash;  // tells datagrams apart: their headers carry a checksum
  };

  // Registers this recorder with the SDK's three callback setters.
  void Attach();

  std::size_t points() const;
  std::size_t imus() const;
  std::vector<Data> point_data() const;
  std::vector<Data> imu_data() const;
  std::vector<std::pair<uint32_t, LidarInfo>> infos() const;

 private:
  static void OnPoint(uint32_t handle, uint8_t dev_type, LidarEthernetPacket* packet, void* self);
  static void OnImu(uint32_t handle, uint8_t dev_type, LidarEthernetPacket* packet, void* self);
  static void OnInfo(uint32_t handle, const LidarInfo* info, void* self);

  mutable std::mutex mutex_;
  std::vector<Data> points_;
  std::vector<Data> imus_;
  std::vector<std::pair<uint32_t, LidarInfo>> infos_;
};

}  // namespace lidar::sdk::testing
