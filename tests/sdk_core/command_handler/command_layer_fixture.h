// Shared set-up of the command layer tests: the singletons are emptied before and after every
// test, completions are recorded in the fixture, and LiDAR datagrams are fed in directly.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "command_handler/general_command_handler.h"
#include "device_ports.h"
#include "tests/sdk_core/base/log_capture.h"
#include "tests/sdk_core/command_handler/fake_device_manager.h"
#include "tests/sdk_core/command_handler/test_frames.h"

namespace lidar::sdk::testing {

constexpr uint16_t kHostCmdPort = 56101;

// Records every completion of one request.
struct RecordingCallback : CommandCallback {
  struct Call {
    CommandStatus status;
    uint32_t handle;
    std::vector<uint8_t> response;  // empty when the pointer was null
    bool null_response;
    uint16_t length;
  };
  void operator()(CommandStatus status, uint32_t handle, const void* response,
                  uint16_t length) override {
    const auto* bytes = static_cast<const uint8_t*>(response);
    calls.push_back({status, handle,
                     bytes ? std::vector<uint8_t>(bytes, bytes + length) : std::vector<uint8_t>(),
                     response == nullptr, length});
  }
  std::vector<Call> calls;
};

class CommandLayerTest : public ::testing::Test {
 protected:
  struct AsyncResult {
    CommandStatus status;
    uint32_t handle;
    bool has_response;
    LidarAsyncControlResponse response;
  };
  struct InfoResult {
    CommandStatus status;
    bool has_response;
    uint8_t ret_code;
    uint16_t param_num;
    std::vector<uint16_t> keys;  // keys of the param_num entries
  };
  struct InfoChange {
    uint32_t handle;
    LidarInfo info;
  };

  void SetUp() override { Reset(); }
  void TearDown() override { Reset(); }

  void Reset() {
    General().Uninit();
    // Requests left over complete here, into this fixture, while it is still alive.
    General().CommandsHandle(std::chrono::steady_clock::now() + std::chrono::hours(1));
    ResetFakeDevices();
  }

  static GeneralCommandHandler& General() { return GeneralCommandHandler::GetInstance(); }
  static FakeDeviceManager* Manager() { return &FakeManager(); }

  void InitConfigMode(const std::vector<LidarCfg>& cfgs = {}) {
    General().Init(cfgs, Manager(), Manager());
    General().SetLidarInfoChangeCallback(&CommandLayerTest::OnInfoChange, this);
  }

  // A detection reply from `ip`, as the device manager hands it over before it knows the LiDAR.
  void Detect(const char* ip, uint8_t dev_type, const std::string& sn = "SN0001",
              uint16_t cmd_port = 56100, uint8_t ret_code = 0) {
    auto reply = DetectionReply(ret_code, dev_type, sn, ip, cmd_port);
    General().Handler(HandleOf(ip), kDetectionPort, reply.data(),
                      static_cast<uint32_t>(reply.size()));
  }

  // Registers a LiDAR's device type without the firmware-type query.
  void Register(const char* ip, uint8_t dev_type) {
    const bool master = FakeDevices().master_sdk;
    FakeDevices().master_sdk = false;
    Detect(ip, dev_type);
    FakeDevices().master_sdk = master;
  }

  // An acknowledgement arriving on the host command port of a LiDAR of known type.
  void Acknowledge(uint8_t dev_type, const char* ip, uint32_t seq, uint16_t cmd_id,
                   const std::vector<uint8_t>& payload) {
    auto frame = Ack(seq, cmd_id, payload);
    General().Handler(dev_type, HandleOf(ip), kHostCmdPort, frame.data(),
                      static_cast<uint32_t>(frame.size()));
  }

  SentRequest LastSent() const {
    return FakeDevices().sent.empty() ? SentRequest{} : Decode(FakeDevices().sent.back().bytes);
  }

  static void OnAsync(CommandStatus status, uint32_t handle, LidarAsyncControlResponse* response,
                      void* client_data) {
    auto* self = static_cast<CommandLayerTest*>(client_data);
    self->async_results.push_back(
        {status, handle, response != nullptr,
         response ? *response : LidarAsyncControlResponse{}});
  }

  static void OnInfo(CommandStatus status, uint32_t, LidarDiagInternalInfoResponse* response,
                     void* client_data) {
    auto* self = static_cast<CommandLayerTest*>(client_data);
    InfoResult result{status, response != nullptr, 0, 0, {}};
    if (response != nullptr) {
      const auto* bytes = reinterpret_cast<const uint8_t*>(response);
      result.ret_code = bytes[0];
      result.param_num = load_le<uint16_t>(bytes + 1);
      KeyValueEntries entries = KeyValueEntries::OfDeliveredAnswer(bytes);
      KeyValueEntry entry;
      while (entries.next(entry)) result.keys.push_back(entry.key);
    }
    self->info_results.push_back(result);
  }

  static void OnInfoChange(uint32_t handle, const LidarInfo* info, void* client_data) {
    static_cast<CommandLayerTest*>(client_data)->info_changes.push_back({handle, *info});
  }

  std::vector<AsyncResult> async_results;
  std::vector<InfoResult> info_results;
  std::vector<InfoChange> info_changes;
};

}  // namespace lidar::sdk::testing
