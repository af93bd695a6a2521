#include "logger_manager.h"

#include <chrono>
#include <cstring>
#include <vector>

#include "lidar_byte_io.h"
#include "base/ipv4_address.h"
#include "base/sdk_log.h"

namespace lidar::sdk {
namespace {

constexpr uint64_t kBytesPerMb = 1024ull * 1024ull;
// Larger budgets than this (16 TiB) are taken as this, so the byte count cannot overflow.
constexpr uint64_t kMaxBudgetMb = 16ull * 1024ull * 1024ull;

uint64_t WallMs() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::system_clock::now().time_since_epoch())
                                   .count());
}

// Serial numbers come from the network: keep only characters that are harmless in a file name.
std::string FileSafe(const char* text, std::size_t max_length) {
  std::string out;
  for (std::size_t i = 0; i < max_length && text[i] != '\0'; ++i) {
    const char c = text[i];
    const bool safe = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                      c == '-';
    out.push_back(safe ? c : '-');
  }
  return out;
}

}  // namespace

LoggerManager& LoggerManager::GetInstance() {
  static LoggerManager instance;
  return instance;
}

bool LoggerManager::Init(const LidarLoggerCfg& cfg) {
  std::lock_guard<std::mutex> lock(mutex_);
  enabled_ = false;
  store_.Close();
  serial_numbers_.clear();
  if (!cfg.lidar_log_enable) return true;

  const std::string path = cfg.lidar_log_path.empty() ? "./" : cfg.lidar_log_path;
  const uint64_t budget_mb = cfg.lidar_log_cache_size < kMaxBudgetMb ? cfg.lidar_log_cache_size
                                                                     : kMaxBudgetMb;
  std::string reason;
  if (!store_.Open(path, budget_mb * kBytesPerMb, &reason)) {
    LIDAR_LOG_ERROR("Lidar log path can not be created, the path:{}, the reason:{}", path, reason);
    return false;
  }
  if (budget_mb == 0) {
    LIDAR_LOG_WARN("Lidar log cache size is 0 MB, no lidar log is stored.");
  }
  LIDAR_LOG_INFO("Lidar log capture enabled, the path:{}, the cache size:{} MB.", path, budget_mb);
  enabled_ = true;
  return true;
}

void LoggerManager::Uninit() {
  std::lock_guard<std::mutex> lock(mutex_);
  enabled_ = false;
  store_.Close();
  serial_numbers_.clear();
}

void LoggerManager::HandleLogData(uint32_t handle, uint16_t local_port, const uint8_t* bytes,
                                  uint32_t count) {
  if (!enabled_ || bytes == nullptr || count == 0 || count > UINT16_MAX) return;
  std::vector<uint8_t> record(kLogRecordHeaderSize + count);
  store_le<uint64_t>(record.data(), WallMs());
  store_le<uint16_t>(record.data() + 8, local_port);
  store_le<uint16_t>(record.data() + 10, static_cast<uint16_t>(count));
  std::memcpy(record.data() + kLogRecordHeaderSize, bytes, count);

  std::lock_guard<std::mutex> lock(mutex_);
  if (!enabled_) return;
  store_.Append(handle, FileLabel(handle), record.data(), record.size());
}

void LoggerManager::HandleDetectionData(uint32_t handle, const DetectionData& data) {
  if (!enabled_ || data.ret_code != 0) return;
  std::string sn = FileSafe(data.sn, sizeof(data.sn));
  std::lock_guard<std::mutex> lock(mutex_);
  if (!enabled_) return;
  serial_numbers_[handle] = std::move(sn);
}

std::string LoggerManager::FileLabel(uint32_t handle) const {
  std::string label = HandleToIp(handle);
  const auto it = serial_numbers_.find(handle);
  if (it != serial_numbers_.end() && !it->second.empty()) label += "_" + it->second;
  return label;
}

}  // namespace lidar::sdk
