#include "fake_sdk.h"

#include <chrono>
#include <map>
#include <mutex>

namespace fake_sdk {
namespace {

std::mutex mutex;
std::vector<Call> log;
std::map<std::string, CommandStatus> statuses;
std::map<std::string, std::pair<CommandStatus, uint8_t>> answers;
InitArgs last_init;
bool init_result = true;
bool start_result = true;
void (*uninit_hook)() = nullptr;

void record(const char* name, uint32_t handle, int value, const void* callback,
            void* client_data) {
  std::lock_guard<std::mutex> hold(mutex);
  const auto now = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now().time_since_epoch());
  log.push_back(Call{name, handle, value, callback, client_data, now.count()});
}

Call log_back() {
  std::lock_guard<std::mutex> hold(mutex);
  return log.back();
}

CommandStatus status_of(const char* name) {
  std::lock_guard<std::mutex> hold(mutex);
  const auto it = statuses.find(name);
  return it == statuses.end() ? kStatusSuccess : it->second;
}

CommandStatus operation(const char* name, uint32_t handle, int value, const void* callback,
                        void* client_data) {
  record(name, handle, value, callback, client_data);
  return status_of(name);
}

// A key/value write: recorded, then answered at once when the test says how.
CommandStatus write(const char* name, uint32_t handle, int value, AsyncControlCallback cb,
                    void* client_data) {
  const CommandStatus status =
      operation(name, handle, value, reinterpret_cast<const void*>(cb), client_data);
  std::pair<CommandStatus, uint8_t> reply;
  {
    std::lock_guard<std::mutex> hold(mutex);
    const auto it = answers.find(name);
    if (status != kStatusSuccess || it == answers.end()) return status;
    reply = it->second;
  }
  answer(log_back(), reply.first, reply.second);
  return status;
}

}  // namespace

void reset() {
  std::lock_guard<std::mutex> hold(mutex);
  log.clear();
  statuses.clear();
  answers.clear();
  last_init = InitArgs{};
  init_result = true;
  start_result = true;
  uninit_hook = nullptr;
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

InitArgs init_args() {
  std::lock_guard<std::mutex> hold(mutex);
  return last_init;
}

void set_init_result(bool result) {
  std::lock_guard<std::mutex> hold(mutex);
  init_result = result;
}

void set_start_result(bool result) {
  std::lock_guard<std::mutex> hold(mutex);
  start_result = result;
}

void set_status(const std::string& name, CommandStatus status) {
  std::lock_guard<std::mutex> hold(mutex);
  statuses[name] = status;
}

void set_answer(const std::string& name, CommandStatus status, uint8_t ret_code) {
  std::lock_guard<std::mutex> hold(mutex);
  answers[name] = {status, ret_code};
}

void answer(const Call& call, CommandStatus status, uint8_t ret_code) {
  auto cb = reinterpret_cast<AsyncControlCallback>(const_cast<void*>(call.callback));
  if (cb == nullptr) return;
  LidarAsyncControlResponse response{ret_code, 0};
  cb(status, call.handle, status == kStatusSuccess ? &response : nullptr, call.client_data);
}

void set_uninit_hook(void (*hook)()) {
  std::lock_guard<std::mutex> hold(mutex);
  uninit_hook = hook;
}

}  // namespace fake_sdk

using fake_sdk::operation;
using fake_sdk::record;

bool LidarSdkInit(const char* path, const char* host_ip, const LidarLoggerCfgInfo* log_cfg) {
  record("LidarSdkInit", 0, -1, nullptr, nullptr);
  std::lock_guard<std::mutex> hold(fake_sdk::mutex);
  fake_sdk::last_init = {path ? path : "<null>", host_ip ? host_ip : "<null>", log_cfg != nullptr};
  return fake_sdk::init_result;
}

bool LidarSdkStart() {
  record("LidarSdkStart", 0, -1, nullptr, nullptr);
  std::lock_guard<std::mutex> hold(fake_sdk::mutex);
  return fake_sdk::start_result;
}

void LidarSdkUninit() {
  record("LidarSdkUninit", 0, -1, nullptr, nullptr);
  void (*hook)() = nullptr;
  {
    std::lock_guard<std::mutex> hold(fake_sdk::mutex);
    hook = fake_sdk::uninit_hook;
  }
  if (hook != nullptr) hook();
}

CommandStatus LidarReconfigure(uint32_t handle) {
  return operation("LidarReconfigure", handle, -1, nullptr, nullptr);
}

void SetLidarPointCloudCallback(LidarPointCloudCallback cb, void* client_data) {
  record("SetLidarPointCloudCallback", 0, -1, reinterpret_cast<const void*>(cb), client_data);
}

int64_t LidarDatagramArrivalNs() { return 0; }

void LidarSetDataGatherInterval(uint32_t) {}

void SetLidarImuDataCallback(LidarImuDataCallback cb, void* client_data) {
  record("SetLidarImuDataCallback", 0, -1, reinterpret_cast<const void*>(cb), client_data);
}

void SetLidarInfoChangeCallback(LidarInfoChangeCallback cb, void* client_data) {
  record("SetLidarInfoChangeCallback", 0, -1, reinterpret_cast<const void*>(cb), client_data);
}

CommandStatus LidarSetWorkMode(uint32_t handle, uint8_t work_mode, AsyncControlCallback cb,
                               void* client_data) {
  return fake_sdk::write("LidarSetWorkMode", handle, work_mode, cb, client_data);
}

CommandStatus LidarSetPclDataType(uint32_t handle, uint8_t data_type, AsyncControlCallback cb,
                                  void* client_data) {
  return fake_sdk::write("LidarSetPclDataType", handle, data_type, cb, client_data);
}

CommandStatus LidarEnablePointSend(uint32_t handle, AsyncControlCallback cb, void* client_data) {
  return fake_sdk::write("LidarEnablePointSend", handle, -1, cb, client_data);
}

CommandStatus LidarEnableImuData(uint32_t handle, AsyncControlCallback cb, void* client_data) {
  return fake_sdk::write("LidarEnableImuData", handle, -1, cb, client_data);
}

CommandStatus QueryLidarInternalInfo(uint32_t handle, QueryLidarInternalInfoCallback cb,
                                     void* client_data) {
  return operation("QueryLidarInternalInfo", handle, -1, reinterpret_cast<const void*>(cb),
                   client_data);
}

void LidarGetHealthCounters(LidarHealthCounters* out) {
  if (out != nullptr) *out = LidarHealthCounters{};
}
