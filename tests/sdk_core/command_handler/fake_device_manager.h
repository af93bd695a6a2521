// Test-only stand-in for the device manager: records what the command layer sends and reports,
// and opens no socket.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "command_handler/detection_data.h"

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

// The state behind DeviceManager::GetInstance() in the test programs; Reset between tests.
FakeDeviceManagerState& FakeDevices();
void ResetFakeDevices();

}  // namespace lidar::sdk::testing
