#include "device_command_handler.h"

#include <string>

#include "base/sdk_log.h"
#include "command_handler/build_request.h"
#include "command_handler/general_command_handler.h"

namespace lidar::sdk {

DeviceCommandHandler::DeviceCommandHandler(FrameSender* sender, const DevicePorts& ports)
    : sender_(sender), comm_port_(std::make_unique<CommPort>()), ports_(ports) {}

bool DeviceCommandHandler::Init(const std::map<uint32_t, LidarCfg>& custom_lidar_cfgs) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& [handle, cfg] : custom_lidar_cfgs) {
    if (cfg.device_type == ports_.dev_type) custom_lidar_cfgs_.emplace(handle, cfg);
  }
  return true;
}

bool DeviceCommandHandler::Init(bool host_mode) {
  host_mode_ = host_mode;
  return true;
}

void DeviceCommandHandler::Handle(uint32_t handle, uint16_t local_port, const Command& command) {
  const CommPacket& packet = command.packet;
  if (packet.cmd_type == kCommandTypeAck) {
    LIDAR_LOG_INFO(" Receive Ack: Id {} Seq {}", packet.cmd_id, packet.seq_num);
    CompleteAcknowledged(command, handle);
    return;
  }
  if (packet.cmd_type != kCommandTypeRequest) return;
  LIDAR_LOG_INFO(" Receive Command: Id {} Seq {}", packet.cmd_id, packet.seq_num);
  if (packet.cmd_id == kCommandIdPushMessage && IsPushPort(handle, local_port)) {
    GeneralCommandHandler::GetInstance().PushLidarInfo(handle, packet);
  }
}

bool DeviceCommandHandler::IsPushPort(uint32_t handle, uint16_t local_port) {
  if (local_port == ports_.push_msg_local) return true;
  // The configuration request names the record's host push port as the state messages'
  // destination, and the host's sockets are bound to the host ports.
  std::lock_guard<std::mutex> lock(mutex_);
  const auto it = custom_lidar_cfgs_.find(handle);
  return it != custom_lidar_cfgs_.end() && local_port == it->second.host_net_info.push_msg_port;
}

void DeviceCommandHandler::UpdateLidarCfg(uint32_t handle, uint16_t lidar_cmd_port) {
  LidarCfg cfg;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (configured_lidars_.count(handle) != 0) return;
    auto it = custom_lidar_cfgs_.find(handle);
    if (it == custom_lidar_cfgs_.end()) return;
    cfg = it->second;
  }
  SetCustomLidar(handle, lidar_cmd_port, cfg);
}

void DeviceCommandHandler::UpdateLidarCfg(const ViewLidarIpInfo& info) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (configured_lidars_.count(info.handle) != 0) return;
  }
  SetViewLidar(info);
}

void DeviceCommandHandler::ForgetLidarCfg(uint32_t handle) {
  std::lock_guard<std::mutex> lock(mutex_);
  configured_lidars_.erase(handle);
}

void DeviceCommandHandler::SetCustomLidar(uint32_t handle, uint16_t lidar_cmd_port,
                                          const LidarCfg& cfg) {
  uint8_t request[kMaxCommandBufferSize] = {};
  uint16_t length = 0;
  if (!BuildLidarCfgRequest(cfg, request, length)) {
    LIDAR_LOG_ERROR("Build update lidar cfg request failed.");
    return;
  }
  SendCfgRequest(handle, lidar_cmd_port, request, length);
}

void DeviceCommandHandler::SetViewLidar(const ViewLidarIpInfo& info) {
  uint8_t request[kMaxCommandBufferSize] = {};
  uint16_t length = 0;
  if (!BuildUpdateViewLidarCfgRequest(info, request, length)) {
    LIDAR_LOG_ERROR("Build update view lidar cfg request failed.");
    return;
  }
  SendCfgRequest(info.handle, info.lidar_cmd_port, request, length);
}

void DeviceCommandHandler::SendCfgRequest(uint32_t handle, uint16_t port, uint8_t* request,
                                          uint16_t length) {
  auto callback =
      std::make_shared<FunctionStatusCallback<LidarAsyncControlResponse>>(UpdateCallback(), this);
  SendCommand(MakeRequest(handle, kCommandIdWriteKeyValue, request, length, GenerateSeq(),
                          callback),
              port);
}

void DeviceCommandHandler::SendCommand(const Command& command) {
  Send(command, ports_.cmd_port, false);
}

void DeviceCommandHandler::SendCommand(const Command& command, uint16_t port) {
  RegisterPending(command);
  Send(command, port, false);
}

void DeviceCommandHandler::RegisterPending(const Command& command) {
  GeneralCommandHandler::GetInstance().AddCommand(command);
}

void DeviceCommandHandler::SendLoggerCommand(const Command& command) {
  Send(command, ports_.log_port, true);
}

void DeviceCommandHandler::Send(const Command& command, uint16_t port, bool logger) {
  if (command.packet.cmd_type == kCommandTypeAck) return;
  uint8_t frame[kMaxCommandBufferSize] = {};
  uint32_t frame_length = 0;
  int32_t packed = 0;
  {
    std::lock_guard<std::mutex> lock(pack_mutex_);
    packed = comm_port_->Pack(frame, sizeof(frame), command.packet, &frame_length);
  }

  int sent = -1;
  if (packed == 0 && sender_ != nullptr) {
    const Ipv4Endpoint dest{IpToHandle(command.lidar_ip), port};
    sent =
        logger
            ? sender_->SendLoggerCommand(ports_.dev_type, command.handle, frame, frame_length, dest)
            : sender_->SendCommand(ports_.dev_type, command.handle, frame, frame_length, dest);
  }
  if (sent >= 0) return;

  LIDAR_LOG_ERROR("Sent cmd to lidar failed, the send_byte:{}, cmd_id:{}, seq:{}, lidar_ip:{}",
                  sent, command.packet.cmd_id, command.packet.seq_num, command.lidar_ip);
  // The request can never be acknowledged: it leaves the pending table here, so the time-out
  // does not complete it a second time.
  const bool waiting = GeneralCommandHandler::GetInstance().WithdrawCommand(
      command.packet.seq_num, command.callback.get());
  if (waiting && command.callback) {
    (*command.callback)(kStatusSendFailed, command.handle, nullptr, 0);
  }
}

void DeviceCommandHandler::CompleteLidarCfg(CommandStatus status, uint32_t handle,
                                            LidarAsyncControlResponse* response, void* client_data,
                                            uint8_t dev_type) {
  if (status != kStatusSuccess) {
    LIDAR_LOG_INFO("Update lidar failed, the status:{}", status);
    return;
  }
  if (response == nullptr) {
    LIDAR_LOG_ERROR("Update lidar failed, the handle:{}, status:{}, response is nullptr.", handle,
                    status);
    return;
  }
  const uint8_t ret_code = response->ret_code;
  const uint16_t error_key = response->error_key;
  GeneralCommandHandler& general = GeneralCommandHandler::GetInstance();
  if (ret_code == 0 && error_key == 0) {
    // The handler that sent the request may have been released since (SDK teardown); only
    // the live handler of the type is marked.
    auto handler =
        std::dynamic_pointer_cast<DeviceCommandHandler>(general.GetCommandHandler(dev_type));
    if (client_data != nullptr && handler.get() == client_data) {
      std::lock_guard<std::mutex> lock(handler->mutex_);
      handler->configured_lidars_.insert(handle);
    }
    LIDAR_LOG_INFO("Update lidar:{} succ.", handle);
    general.LidarInfoChange(handle);
    return;
  }
  LIDAR_LOG_ERROR("Update lidar failed, the ret_code:{}, error_key:{}", ret_code, error_key);
}

}  // namespace lidar::sdk
