#include "fake_sdk.h"

#include <chrono>
#include <map>
#include <mutex>

namespace fake_sdk {
namespace {

std::mutex mutex;
std::vector<Call> log;
std::map<std::string, CommandStatus> statuses;

CommandStatus record(const char* name, uint32_t handle, int value, const void* callback,
                     void* client_data) {
  std::lock_guard<std::mutex> hold(mutex);
  const auto now = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now().time_since_epoch());
  log.push_back(Call{name, handle, value, callback, client_data, now.count()});
  const auto it = statuses.find(name);
  return it == statuses.end() ? kStatusSuccess : it->second;
}

}  // namespace

void reset() {
  std::lock_guard<std::mutex> hold(mutex);
  log.clear();
  statuses.clear();
}

std::vector<Call> calls() {
  std::lock_guard<std::mutex> hold(mutex);
  return log;
}

std::vector<std::string> call_names() {
  std::vector<std::string> names;
  for (const auto& call : calls()) names.push_back(call.name);
  return names;
}

void set_status(const std::string& name, CommandStatus status) {
  std::lock_guard<std::mutex> hold(mutex);
  statuses[name] = status;
}

}  // namespace fake_sdk

CommandStatus LidarSetWorkMode(uint32_t handle, uint8_t work_mode, AsyncControlCallback cb,
                               void* client_data) {
  return fake_sdk::record("LidarSetWorkMode", handle, work_mode,
                          reinterpret_cast<const void*>(cb), client_data);
}

CommandStatus LidarSetPclDataType(uint32_t handle, uint8_t data_type, AsyncControlCallback cb,
                                  void* client_data) {
  return fake_sdk::record("LidarSetPclDataType", handle, data_type,
                          reinterpret_cast<const void*>(cb), client_data);
}

CommandStatus LidarEnablePointSend(uint32_t handle, AsyncControlCallback cb, void* client_data) {
  return fake_sdk::record("LidarEnablePointSend", handle, -1, reinterpret_cast<const void*>(cb),
                          client_data);
}

CommandStatus LidarEnableImuData(uint32_t handle, AsyncControlCallback cb, void* client_data) {
  return fake_sdk::record("LidarEnableImuData", handle, -1, reinterpret_cast<const void*>(cb),
                          client_data);
}

CommandStatus QueryLidarInternalInfo(uint32_t handle, QueryLidarInternalInfoCallback cb,
                                     void* client_data) {
  return fake_sdk::record("QueryLidarInternalInfo", handle, -1,
                          reinterpret_cast<const void*>(cb), client_data);
}

void LidarGetHealthCounters(LidarHealthCounters* out) {
  if (out != nullptr) *out = LidarHealthCounters{};
}
