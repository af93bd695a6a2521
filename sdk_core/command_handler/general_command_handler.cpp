#include "general_command_handler.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>

#include "lidar_keys.h"
#include "base/sdk_health_counters.h"
#include "base/sdk_log.h"
#include "command_handler/forward_command_handler.h"
#include "command_handler/info_key_table.h"
#include "base/log_throttle.h"
#include "command_handler/omni_command_handler.h"
#include "device_ports.h"

namespace lidar::sdk {
namespace {

// Keys asked for by the internal-information query, per device type. The Forward list holds
// two keys (0x001E, 0x8012) that this program has no name or use for.
const std::set<uint16_t> kOmniInternalInfoKeys = {
    kKeyPclDataType, kKeyPatternMode, kKeyLidarIpCfg, kKeyStateInfoHostIpCfg,
    kKeyPointCloudHostIpCfg, kKeyImuHostIpCfg, kKeyInstallAttitude, kKeyFovCfg0, kKeyFovCfg1,
    kKeyFovCfgEn, kKeyDetectMode, kKeyFuncIoCfg, kKeyWorkTgtMode, kKeyImuDataEn, kKeySn,
    kKeyProductInfo, kKeyVersionApp, kKeyVersionLoader, kKeyVersionHardware, kKeyMac,
    kKeyCurWorkState, kKeyCoreTemp, kKeyPowerUpCnt, kKeyLocalTimeNow, kKeyLastSyncTime,
    kKeyTimeOffset, kKeyTimeSyncType, kKeyLidarDiagStatus, kKeyFwType, kKeyHmsCode};

const std::set<uint16_t> kForwardInternalInfoKeys = {
    kKeyPclDataType, kKeyPatternMode, kKeyDualEmitEn, kKeyPointSendEn, kKeyLidarIpCfg,
    kKeyPointCloudHostIpCfg, kKeyImuHostIpCfg, kKeyLogHostIpCfg, kKeyInstallAttitude,
    kKeyBlindSpotSet, kKeyWorkTgtMode, kKeyGlassHeat, kKeyImuDataEn, kKeyFusaEn, 0x001E, kKeySn,
    kKeyProductInfo, kKeyVersionApp, kKeyVersionLoader, kKeyVersionHardware, kKeyMac,
    kKeyCurWorkState, kKeyStatusCode, kKeyLidarDiagStatus, kKeyLidarFlashStatus, kKeyFwType,
    0x8012};

int64_t SteadyNanoseconds(std::chrono::steady_clock::time_point t) {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
}

}  // namespace

GeneralCommandHandler& GeneralCommandHandler::GetInstance() {
  static GeneralCommandHandler instance;
  return instance;
}

bool GeneralCommandHandler::Init(const std::vector<LidarCfg>& custom_lidar_cfgs,
                                 FrameSender* sender, DetectionSink* detections) {
  {
    std::lock_guard<std::mutex> lock(comm_port_mutex_);
    if (!comm_port_) {
      host_mode_ = false;
      sender_ = sender;
      detections_ = detections;
      comm_port_ = std::make_unique<CommPort>();
    }
  }
  FrameSender* stored_sender = sender_;
  std::lock_guard<std::mutex> lock(handlers_mutex_);
  if (handlers_.count(kDeviceTypeForward) == 0) {
    handlers_[kDeviceTypeForward] = std::make_shared<ForwardCommandHandler>(stored_sender);
  }
  if (handlers_.count(kDeviceTypeOmni) == 0) {
    handlers_[kDeviceTypeOmni] = std::make_shared<OmniCommandHandler>(stored_sender);
  }
  for (const LidarCfg& cfg : custom_lidar_cfgs) {
    custom_lidar_cfgs_.emplace(IpToHandle(cfg.lidar_net_info.lidar_ip), cfg);
  }
  return true;
}

bool GeneralCommandHandler::InitView(const std::string& host_ip, bool host_mode,
                                     FrameSender* sender, DetectionSink* detections) {
  host_mode_ = host_mode;
  {
    std::lock_guard<std::mutex> lock(host_mutex_);
    host_ip_ = host_ip;
  }
  sender_ = sender;
  detections_ = detections;
  std::lock_guard<std::mutex> lock(comm_port_mutex_);
  comm_port_ = std::make_unique<CommPort>();
  return true;
}

void GeneralCommandHandler::Uninit() {
  sender_ = nullptr;
  detections_ = nullptr;
  {
    std::lock_guard<std::mutex> lock(comm_port_mutex_);
    comm_port_.reset();
  }
  {
    std::lock_guard<std::mutex> lock(device_types_mutex_);
    device_types_.clear();
  }
  {
    std::lock_guard<std::mutex> lock(detected_mutex_);
    detected_lidars_.clear();
  }
  {
    // The records of one session must not shadow those of the next Init.
    std::lock_guard<std::mutex> lock(handlers_mutex_);
    handlers_.clear();
    custom_lidar_cfgs_.clear();
  }
  {
    std::lock_guard<std::mutex> lock(callbacks_mutex_);
    info_change_cb_ = nullptr;
    info_change_client_data_ = nullptr;
    push_info_cb_ = nullptr;
    push_info_client_data_ = nullptr;
    detection_hook_ = nullptr;
  }
  {
    std::lock_guard<std::mutex> lock(host_mutex_);
    host_ip_.clear();
  }
  host_mode_ = false;
}

void GeneralCommandHandler::SetLidarInfoChangeCallback(LidarInfoChangeCallback cb,
                                                       void* client_data) {
  std::lock_guard<std::mutex> lock(callbacks_mutex_);
  info_change_cb_ = cb;
  info_change_client_data_ = client_data;
}

void GeneralCommandHandler::SetLidarPushInfoCallback(LidarPushInfoCallback cb, void* client_data) {
  std::lock_guard<std::mutex> lock(callbacks_mutex_);
  push_info_cb_ = cb;
  push_info_client_data_ = client_data;
}

void GeneralCommandHandler::SetLoggerDetectionHook(DetectionHook hook) {
  std::lock_guard<std::mutex> lock(callbacks_mutex_);
  detection_hook_ = std::move(hook);
}

void GeneralCommandHandler::CreateCommandHandler(uint8_t dev_type) {
  std::lock_guard<std::mutex> lock(handlers_mutex_);
  if (!host_mode_) {
    if (dev_type != kDeviceTypeOmni && dev_type != kDeviceTypeForward &&
        dev_type != kDeviceTypeThirdParty) {
      return;
    }
    auto it = handlers_.find(dev_type);
    if (it == handlers_.end() || !it->second->Init(custom_lidar_cfgs_)) {
      LIDAR_LOG_ERROR(
          "General command handler init failed, the lidar of type:{} command init failed.",
          dev_type);
    }
    return;
  }
  if (handlers_.count(dev_type) != 0) return;
  std::shared_ptr<CommandHandler> handler;
  if (dev_type == kDeviceTypeForward) {
    handler = std::make_shared<ForwardCommandHandler>(sender_);
  } else if (dev_type == kDeviceTypeOmni) {
    handler = std::make_shared<OmniCommandHandler>(sender_);
  } else {
    return;
  }
  handlers_[dev_type] = handler;
  handler->Init(true);
}

std::shared_ptr<CommandHandler> GeneralCommandHandler::GetCommandHandler(uint8_t dev_type) {
  std::lock_guard<std::mutex> lock(handlers_mutex_);
  auto it = handlers_.find(dev_type);
  return it == handlers_.end() ? nullptr : it->second;
}

std::shared_ptr<CommandHandler> GeneralCommandHandler::GetLidarCommandHandler(uint32_t handle) {
  std::lock_guard<std::mutex> lock(device_types_mutex_);
  auto it = device_types_.find(handle);
  if (it == device_types_.end()) {
    LIDAR_LOG_LIMITED(LIDAR_LOG_ERROR,
                      "Get command handler failed, get dev type failed, the handle:{}", handle);
    return nullptr;
  }
  return GetCommandHandler(it->second);
}

CommandStatus GeneralCommandHandler::SendCommand(uint32_t handle, uint16_t cmd_id, uint8_t* data,
                                                 uint16_t data_len,
                                                 std::shared_ptr<CommandCallback> callback) {
  return Send(handle, cmd_id, data, data_len, std::move(callback), false);
}

CommandStatus GeneralCommandHandler::SendLoggerCommand(uint32_t handle, uint16_t cmd_id,
                                                       uint8_t* data, uint16_t data_len,
                                                       std::shared_ptr<CommandCallback> callback) {
  return Send(handle, cmd_id, data, data_len, std::move(callback), true);
}

CommandStatus GeneralCommandHandler::Send(uint32_t handle, uint16_t cmd_id, uint8_t* data,
                                          uint16_t data_len,
                                          std::shared_ptr<CommandCallback> callback,
                                          bool logger) {
  const Command command =
      MakeRequest(handle, cmd_id, data, data_len, GenerateSeq(), std::move(callback));
  std::shared_ptr<CommandHandler> handler = GetLidarCommandHandler(handle);
  if (!handler) {
    LIDAR_LOG_ERROR("Send command failed, get cmd handler failed, the handle:{}, command_id:{}.",
                    handle, cmd_id);
    return kStatusSendFailed;
  }
  // Stored before the frame leaves, so the acknowledgement always finds its request.
  AddCommand(command);
  if (logger) {
    handler->SendLoggerCommand(command);
  } else {
    handler->SendCommand(command);
  }
  return kStatusSuccess;
}

void GeneralCommandHandler::AddCommand(const Command& command) {
  if (command.packet.cmd_type == kCommandTypeAck) return;
  Command stored = command;
  stored.packet.data = nullptr;
  stored.packet.data_len = 0;
  const int64_t deadline = SteadyNanoseconds(Clock::now()) +
                           static_cast<int64_t>(command.time_out) * 1000000;
  std::lock_guard<std::mutex> lock(pending_mutex_);
  pending_[command.packet.seq_num] = std::make_pair(std::move(stored), deadline);
}

bool GeneralCommandHandler::WithdrawCommand(uint32_t seq_num, const CommandCallback* callback) {
  std::lock_guard<std::mutex> lock(pending_mutex_);
  auto it = pending_.find(seq_num);
  if (it == pending_.end() || it->second.first.callback.get() != callback) return false;
  pending_.erase(it);
  return true;
}

void GeneralCommandHandler::CommandsHandle(std::chrono::steady_clock::time_point now) {
  const int64_t now_ns = SteadyNanoseconds(now);
  std::vector<Command> expired;
  {
    std::lock_guard<std::mutex> lock(pending_mutex_);
    for (auto it = pending_.begin(); it != pending_.end();) {
      if (it->second.second < now_ns) {
        expired.push_back(std::move(it->second.first));
        it = pending_.erase(it);
      } else {
        ++it;
      }
    }
  }
  if (!expired.empty()) HealthCounters::Instance().CountTimedOut(expired.size());
  for (const Command& command : expired) {
    if (command.callback) (*command.callback)(kStatusTimeout, command.handle, nullptr, 0);
  }
}

bool GeneralCommandHandler::TakeAcknowledged(const CommPacket& ack, Command& out) {
  // Requests leave with the low 16 bits of their number and the upper half zero (their numbers
  // never exceed 65535), so acknowledgements are matched on those 16 bits.
  const uint32_t seq_num = ack.seq_num & 0xFFFFu;
  std::lock_guard<std::mutex> lock(pending_mutex_);
  auto it = pending_.find(seq_num);
  if (it == pending_.end()) return false;
  out = std::move(it->second.first);
  out.packet = ack;
  pending_.erase(it);
  return true;
}

bool GeneralCommandHandler::ParseFrame(uint8_t* bytes, uint32_t count, CommPacket& packet) {
  std::lock_guard<std::mutex> lock(comm_port_mutex_);
  return comm_port_ && comm_port_->ParseCommStream(bytes, count, &packet);
}

void GeneralCommandHandler::Handler(uint8_t dev_type, uint32_t handle, uint16_t local_port,
                                    uint8_t* bytes, uint32_t count) {
  if (bytes == nullptr || count == 0) return;
  if (dev_type == kDeviceTypeThirdParty && local_port == kThirdPartyCommandPort) {
    std::shared_ptr<CommandHandler> handler = GetCommandHandler(kDeviceTypeThirdParty);
    if (!handler) {
      LIDAR_LOG_LIMITED(LIDAR_LOG_ERROR, "GeneralCommandHandler::Handler get cmd handler failed");
      return;
    }
    // This device type's datagrams are not framed; its handler gets them as they came.
    Command raw;
    raw.packet.data = bytes;
    raw.packet.data_len = static_cast<uint16_t>(std::min<uint32_t>(count, UINT16_MAX));
    raw.handle = handle;
    handler->Handle(handle, local_port, raw);
    return;
  }

  CommPacket packet;
  if (!ParseFrame(bytes, count, packet)) {
    LIDAR_LOG_LIMITED(LIDAR_LOG_INFO, "Parse Command Stream failed.");
    return;
  }
  if (DivertDetection(handle, local_port, packet)) return;
  std::shared_ptr<CommandHandler> handler = GetCommandHandler(dev_type);
  if (!handler) return;

  Command command;
  if (packet.cmd_type == kCommandTypeAck) {
    TakeAcknowledged(packet, command);
  } else if (packet.cmd_type == kCommandTypeRequest) {
    command.packet = packet;
    command.handle = handle;
  }
  handler->Handle(handle, local_port, command);
}

void GeneralCommandHandler::Handler(uint32_t handle, uint16_t local_port, uint8_t* bytes,
                                    uint32_t count) {
  if (bytes == nullptr || count == 0) return;
  CommPacket packet;
  if (!ParseFrame(bytes, count, packet)) {
    LIDAR_LOG_LIMITED(LIDAR_LOG_INFO, "Parse GeneralCommandHandler Command Stream failed.");
    return;
  }
  if (DivertDetection(handle, local_port, packet)) return;
  if (packet.cmd_type != kCommandTypeAck) {
    if (packet.cmd_id != kCommandIdPushMessage) return;
    std::shared_ptr<CommandHandler> handler = GetLidarCommandHandler(handle);
    if (!handler) {
      LIDAR_LOG_LIMITED(LIDAR_LOG_ERROR,
                        "Handler general command failed, get push msg command handler faield.");
      return;
    }
    Command command;
    command.packet = packet;
    command.handle = handle;
    handler->Handle(handle, local_port, command);
    return;
  }
  if (!CompletePending(packet, handle)) {
    LIDAR_LOG_LIMITED(LIDAR_LOG_ERROR, "Handle cmd ack failed, can not find command");
  }
}

bool GeneralCommandHandler::CompletePending(const CommPacket& ack, uint32_t handle) {
  Command command;
  if (!TakeAcknowledged(ack, command)) return false;
  CompleteAcknowledged(command, handle);
  return true;
}

bool GeneralCommandHandler::DivertDetection(uint32_t handle, uint16_t local_port,
                                            const CommPacket& packet) {
  if (local_port != kDetectionPort || packet.cmd_id != kCommandIdDetection) return false;
  if (packet.cmd_type != kCommandTypeRequest) HandleDetectionData(handle, kDetectionPort, packet);
  return true;
}

bool GeneralCommandHandler::GetInternalInfoKeys(uint32_t handle, std::set<uint16_t>& keys) {
  std::lock_guard<std::mutex> lock(device_types_mutex_);
  auto it = device_types_.find(handle);
  if (it == device_types_.end()) return false;
  if (it->second == kDeviceTypeOmni) {
    keys = kOmniInternalInfoKeys;
  } else if (it->second == kDeviceTypeForward) {
    keys = kForwardInternalInfoKeys;
  } else {
    return false;
  }
  return true;
}

void GeneralCommandHandler::PushLidarInfo(uint32_t handle, const CommPacket& packet) {
  uint8_t dev_type = 0;
  {
    std::lock_guard<std::mutex> lock(device_types_mutex_);
    auto it = device_types_.find(handle);
    if (it == device_types_.end()) return;
    dev_type = it->second;
  }
  LidarPushInfoCallback cb = nullptr;
  void* client_data = nullptr;
  {
    std::lock_guard<std::mutex> lock(callbacks_mutex_);
    cb = push_info_cb_;
    client_data = push_info_client_data_;
  }
  if (cb == nullptr) return;
  // Text that could not be decoded is handed on empty, so the application still sees the push.
  std::string info;
  build_info_json(packet, info);
  cb(handle, dev_type, info.c_str(), client_data);
}

bool GeneralCommandHandler::IsMasterSdk() const {
  DetectionSink* detections = detections_;
  return detections != nullptr && detections->IsMasterSdk();
}

}  // namespace lidar::sdk
