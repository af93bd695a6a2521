// Test-only stand-in for the device manager: records what the command layer sends and reports,
// and opens no socket.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/ipv4_address.h"
#include "command_handler/detection_data.h"
#include "command_handler/device_links.h"

namespace lidar::sdk::testing {

struct SentFrame {
  bool logger = false;  // sent on the log channel
  uint8_t dev_type = 0;
  uint32_t handle = 0;
  std::string dest_ip;
  uint16_t dest_port = 0;
  std::vector<uint8_t> bytes;
};

struct DetectionReport {
  uint32_t handle = 0;
  DetectionData data;
  bool fw_type_known = false;
  bool fw_type_zero = false;
};

struct FakeDeviceManagerState {
  bool fail_sends = false;  // sends return -1
  bool master_sdk = true;
  std::vector<SentFrame> sent;
  std::vector<DetectionReport> detections;
  std::vector<uint32_t> view_cfg_updates;
  std::vector<uint32_t> view_cfg_forgotten;
};

class FakeDeviceManager : public FrameSender, public DetectionSink {
 public:
  virtual ~FakeDeviceManager() = default;

  int SendCommand(uint8_t dev_type, uint32_t handle, const uint8_t* bytes, uint32_t length,
                  const Ipv4Endpoint& to) override {
    return Record(false, dev_type, handle, bytes, length, to);
  }
  int SendLoggerCommand(uint8_t dev_type, uint32_t handle, const uint8_t* bytes, uint32_t length,
                        const Ipv4Endpoint& to) override {
    return Record(true, dev_type, handle, bytes, length, to);
  }
  void HandleDetectionData(uint32_t handle, const DetectionData& data, bool fw_type_known,
                           bool fw_type_zero) override {
    state.detections.push_back({handle, data, fw_type_known, fw_type_zero});
  }
  void UpdateViewLidarCfgCallback(uint32_t handle) override {
    state.view_cfg_updates.push_back(handle);
  }
  void ForgetViewLidarCfg(uint32_t handle) override { state.view_cfg_forgotten.push_back(handle); }
  bool IsMasterSdk() const override { return state.master_sdk; }

  FakeDeviceManagerState state;

 private:
  int Record(bool logger, uint8_t dev_type, uint32_t handle, const uint8_t* bytes, uint32_t length,
             const Ipv4Endpoint& to) {
    if (state.fail_sends) return -1;
    state.sent.push_back({logger, dev_type, handle, HandleToIp(to.address), to.port,
                          std::vector<uint8_t>(bytes, bytes + length)});
    return static_cast<int>(length);
  }
};

// The one fake the command layer tests hand to the general command handler.
inline FakeDeviceManager& FakeManager() {
  static FakeDeviceManager manager;
  return manager;
}
inline FakeDeviceManagerState& FakeDevices() { return FakeManager().state; }
inline void ResetFakeDevices() { FakeDevices() = FakeDeviceManagerState{}; }

}  // namespace lidar::sdk::testing
