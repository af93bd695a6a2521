#include "fake_device_manager.h"

#include "device_manager.h"

namespace lidar::sdk {
namespace {

int Record(bool logger, uint8_t dev_type, uint32_t handle, const uint8_t* bytes, uint32_t length,
           const Ipv4Endpoint& to) {
  testing::FakeDeviceManagerState& state = testing::FakeDevices();
  if (state.fail_sends) return -1;
  state.sent.push_back({logger, dev_type, handle, HandleToIp(to.address), to.port,
                        std::vector<uint8_t>(bytes, bytes + length)});
  return static_cast<int>(length);
}

}  // namespace

namespace testing {

FakeDeviceManagerState& FakeDevices() {
  static FakeDeviceManagerState state;
  return state;
}

void ResetFakeDevices() { FakeDevices() = FakeDeviceManagerState{}; }

}  // namespace testing

DeviceManager::DeviceManager() = default;
DeviceManager::~DeviceManager() = default;

DeviceManager& DeviceManager::GetInstance() {
  static DeviceManager instance;
  return instance;
}

int DeviceManager::SendCommand(uint8_t dev_type, uint32_t handle, const uint8_t* bytes,
                               uint32_t length, const Ipv4Endpoint& to) {
  return Record(false, dev_type, handle, bytes, length, to);
}

int DeviceManager::SendLoggerCommand(uint8_t dev_type, uint32_t handle, const uint8_t* bytes,
                                     uint32_t length, const Ipv4Endpoint& to) {
  return Record(true, dev_type, handle, bytes, length, to);
}

void DeviceManager::HandleDetectionData(uint32_t handle, const DetectionData& data,
                                        bool fw_type_known, bool fw_type_zero) {
  testing::FakeDevices().detections.push_back({handle, data, fw_type_known, fw_type_zero});
}

void DeviceManager::UpdateViewLidarCfgCallback(uint32_t handle) {
  testing::FakeDevices().view_cfg_updates.push_back(handle);
}

void DeviceManager::ForgetViewLidarCfg(uint32_t handle) {
  testing::FakeDevices().view_cfg_forgotten.push_back(handle);
}

bool DeviceManager::IsMasterSdk() const { return testing::FakeDevices().master_sdk; }

void DeviceManager::OnData(int, void*) {}
void DeviceManager::OnTimer(TimePoint) {}
void DeviceManager::OnWake() {}

}  // namespace lidar::sdk
