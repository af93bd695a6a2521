// What the Omni and Forward command handlers share: framing and sending requests to the device
// type's fixed ports, completing acknowledgements, handing push messages on for rendering, and
// telling a LiDAR where to send its data until it accepts.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>

#include "command_handler/command_handler.h"
#include "command_handler/device_links.h"

namespace lidar::sdk {

// Fixed UDP ports of one device type, LiDAR side, and a host port its push messages reach.
struct DevicePorts {
  uint8_t dev_type;
  uint16_t cmd_port;        // requests are sent here
  uint16_t log_port;        // log-channel requests are sent here
  uint16_t push_msg_local;  // local port on which push messages are taken for every LiDAR
};

class DeviceCommandHandler : public CommandHandler {
 public:
  bool Init(const std::map<uint32_t, LidarCfg>& custom_lidar_cfgs) override;
  bool Init(bool host_mode) override;
  void Handle(uint32_t handle, uint16_t local_port, const Command& command) override;
  void UpdateLidarCfg(uint32_t handle, uint16_t lidar_cmd_port) override;
  void UpdateLidarCfg(const ViewLidarIpInfo& info) override;
  void ForgetLidarCfg(uint32_t handle) override;
  void SendCommand(const Command& command) override;
  // Unlike the form above, registers the request as pending first (RegisterPending), then
  // sends it to `port`: the configuration requests this handler makes itself have no general
  // handler in front of them to do it.
  void SendCommand(const Command& command, uint16_t port);
  void SendLoggerCommand(const Command& command) override;

  void SetCustomLidar(uint32_t handle, uint16_t lidar_cmd_port, const LidarCfg& cfg);
  void SetViewLidar(const ViewLidarIpInfo& info);

 protected:
  DeviceCommandHandler(FrameSender* sender, const DevicePorts& ports);

  // The configuration request of a configured LiDAR of this type.
  virtual bool BuildLidarCfgRequest(const LidarCfg& cfg, uint8_t* buffer, uint16_t& length) = 0;
  // Completion function of the configuration request (the type's UpdateLidarCallback).
  virtual AsyncControlCallback UpdateCallback() const = 0;

  // Shared body of UpdateLidarCallback. Only an accepted configuration is reported: a refused
  // one leaves the LiDAR unconfigured, and its next detection reply sends the request again.
  static void CompleteLidarCfg(CommandStatus status, uint32_t handle,
                               LidarAsyncControlResponse* response, void* client_data,
                               uint8_t dev_type);

 private:
  // Whether a push message from `handle` that arrived on `local_port` is taken: on the
  // type's fixed port, or on the host push port of the LiDAR's record.
  bool IsPushPort(uint32_t handle, uint16_t local_port);
  // Stores the request in the general handler's pending table, so its acknowledgement finds it.
  static void RegisterPending(const Command& command);
  void Send(const Command& command, uint16_t port, bool logger);
  void SendCfgRequest(uint32_t handle, uint16_t port, uint8_t* request, uint16_t length);

  FrameSender* sender_;
  std::unique_ptr<CommPort> comm_port_;
  std::mutex pack_mutex_;  // the comm port's checksum state is not shared between threads
  std::mutex mutex_;
  std::set<uint32_t> configured_lidars_;
  std::map<uint32_t, LidarCfg> custom_lidar_cfgs_;
  bool host_mode_ = false;
  const DevicePorts ports_;
};

}  // namespace lidar::sdk
