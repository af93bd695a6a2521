// A control request or acknowledgement in flight, and the interface of the per-device-type
// command handlers that send requests and complete acknowledgements.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "base/ipv4_address.h"
#include "command_handler/command_impl.h"
#include "config_types.h"
#include "sdk_protocol.h"

namespace lidar::sdk {

constexpr uint8_t kRequestVersion = 3;
constexpr uint32_t kCommandTimeoutMs = 1000;

struct Command {
  CommPacket packet;  // data/data_len point at the caller's payload or the received ack
  uint32_t handle = 0;
  std::string lidar_ip;  // dotted-quad text of the handle
  uint32_t time_out = kCommandTimeoutMs;
  std::shared_ptr<CommandCallback> callback;  // may be empty
};

// Builds a request (protocol 0, version 3, request, from host) to the LiDAR with `handle`.
Command MakeRequest(uint32_t handle, uint16_t cmd_id, uint8_t* data, uint16_t data_len,
                    uint32_t seq_num, std::shared_ptr<CommandCallback> callback);

// Completes the callback, if any, of a request whose acknowledgement `command` now carries: with
// its payload, or with -4 when it came without one (there is nothing to read).
void CompleteAcknowledged(const Command& command, uint32_t handle);

class CommandHandler {
 public:
  virtual ~CommandHandler() = default;
  // Takes the configuration records of the handler's device type.
  virtual bool Init(const std::map<uint32_t, LidarCfg>& custom_lidar_cfgs) = 0;
  virtual bool Init(bool host_mode) = 0;
  // An acknowledgement (completes its callback) or a command sent by the LiDAR.
  virtual void Handle(uint32_t handle, uint16_t local_port, const Command& command) = 0;
  // Sends the host's addresses and ports to a LiDAR that has not accepted them yet.
  virtual void UpdateLidarCfg(uint32_t handle, uint16_t lidar_cmd_port) = 0;
  virtual void UpdateLidarCfg(const ViewLidarIpInfo& info) = 0;
  // Forgets that `handle` accepted its configuration, so that UpdateLidarCfg sends it again.
  virtual void ForgetLidarCfg(uint32_t handle) = 0;
  // Sends a request to the device type's command port, or its log port. A request carrying a
  // callback must already be in the general handler's pending table: a failed send takes it
  // out and completes the callback with -9.
  virtual void SendCommand(const Command& command) = 0;
  virtual void SendLoggerCommand(const Command& command) = 0;
};

}  // namespace lidar::sdk
