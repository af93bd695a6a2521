// GeneralCommandHandler: detection replies, the firmware-type query and the reports of a
// LiDAR's information to the application.
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "lidar_byte_io.h"
#include "lidar_keys.h"
#include "base/sdk_health_counters.h"
#include "base/sdk_log.h"
#include "command_handler/build_request.h"
#include "command_handler/general_command_handler.h"
#include "base/log_throttle.h"

namespace lidar::sdk {
namespace {

constexpr uint8_t kMaxFwQueryRetries = 10;

void CopyCut(const std::string& text, char (&field)[16]) {
  std::memset(field, 0, sizeof(field));
  std::memcpy(field, text.data(), std::min(text.size(), sizeof(field) - 1));
}

}  // namespace

void GeneralCommandHandler::HandleDetectionData(uint32_t handle, uint16_t local_port,
                                                const CommPacket& packet) {
  if (packet.data == nullptr || packet.data_len == 0) return;
  const uint8_t ret_code = packet.data[0];
  if (ret_code != 0) {
    LIDAR_LOG_LIMITED(LIDAR_LOG_ERROR,
                      "Detection lidar faield, the handle:{}, lidar_port:{}, ret_code:{}", handle,
                      local_port, ret_code);
    return;
  }
  DetectionData data;
  if (!ParseDetectionData(packet.data, packet.data_len, &data)) {
    LIDAR_LOG_LIMITED(LIDAR_LOG_ERROR,
                      "Detection lidar faield, the handle:{}, lidar_port:{}, data length:{}",
                      handle, local_port, packet.data_len);
    return;
  }
  HealthCounters::Instance().CountDetectionReply();
  const std::string sn = SerialNumber(data);
  LIDAR_LOG_LIMITED(LIDAR_LOG_INFO,
                    "Handle detection data, handle:{}, dev_type:{}, sn:{}, cmd_port:{}", handle,
                    data.dev_type, sn, data.cmd_port);

  DetectionHook hook;
  {
    std::lock_guard<std::mutex> lock(callbacks_mutex_);
    hook = detection_hook_;
  }
  if (hook) hook(handle, data);

  if (!VerifyNetSegment(data)) return;
  CreateCommandHandler(data.dev_type);
  const std::string lidar_ip = LidarIpText(data);

  bool known = false;
  std::string known_sn;
  bool config_done = false;
  bool fw_type_known = false;
  bool fw_type_zero = false;
  {
    std::lock_guard<std::mutex> lock(detected_mutex_);
    auto it = detected_lidars_.find(handle);
    if (it != detected_lidars_.end()) {
      known = true;
      known_sn = it->second.sn;
      config_done = it->second.config_done;
      fw_type_known = it->second.fw_type_known;
      fw_type_zero = it->second.fw_type_zero;
    }
  }

  if (known) {
    if (!config_done && fw_type_known && !fw_type_zero && !host_mode_) {
      std::shared_ptr<CommandHandler> handler = GetCommandHandler(data.dev_type);
      if (handler && IsMasterSdk()) handler->UpdateLidarCfg(handle, data.cmd_port);
    }
    if (known_sn != sn) {
      LIDAR_LOG_LIMITED(LIDAR_LOG_ERROR, "Lidar ip conflic, the lidar ip:{}, the sn1:{}, the sn2:{}",
                        lidar_ip, known_sn, sn);
    }
    if (DetectionSink* detections = detections_) {
      detections->HandleDetectionData(handle, data, fw_type_known, fw_type_zero);
    }
    return;
  }

  {
    std::lock_guard<std::mutex> lock(device_types_mutex_);
    auto it = device_types_.find(handle);
    if (it == device_types_.end()) {
      device_types_[handle] = data.dev_type;
    } else if (it->second != data.dev_type) {
      LIDAR_LOG_LIMITED(LIDAR_LOG_ERROR,
                        "Lidar dev type conflic, the lidar ip:{}, the dev_type1:{}, the dev_type2:{}",
                        lidar_ip, it->second, data.dev_type);
    }
  }
  {
    std::lock_guard<std::mutex> lock(detected_mutex_);
    DetectedLidar& record = detected_lidars_[handle];
    record.sn = sn;
    record.lidar_ip = lidar_ip;
    record.dev_type = data.dev_type;
    fw_type_known = record.fw_type_known;
  }
  if (IsMasterSdk() && !fw_type_known) QueryFwType(handle);
}

bool GeneralCommandHandler::VerifyNetSegment(const DetectionData& data) {
  if (!host_mode_) return true;
  std::string host_ip;
  {
    std::lock_guard<std::mutex> lock(host_mutex_);
    host_ip = host_ip_;
  }
  if (host_ip.empty()) {
    LIDAR_LOG_ERROR("Verify net segment faield, the host ip is empty.");
    return false;
  }
  std::vector<uint8_t> host;
  if (!IpToU8(host_ip, ".", host)) return false;
  if (host[0] == data.lidar_ip[0] && host[1] == data.lidar_ip[1] && host[2] == data.lidar_ip[2]) {
    LIDAR_LOG_LIMITED(LIDAR_LOG_INFO, "Host ip:{}, lidar ip:{}.{}.{}.{}", host_ip,
                      data.lidar_ip[0], data.lidar_ip[1], data.lidar_ip[2], data.lidar_ip[3]);
    return true;
  }
  LIDAR_LOG_LIMITED(LIDAR_LOG_ERROR,
                    "The host address and lidar address are on different network segments, the "
                    "host_ip:{}, lidar_ip:{}",
                    host_ip, LidarIpText(data));
  return false;
}

CommandStatus GeneralCommandHandler::QueryFwType(uint32_t handle) {
  uint8_t payload[6] = {};
  const uint16_t length = BuildInternalInfoQuery({kKeyFwType}, payload);
  auto callback = std::make_shared<FunctionStatusCallback<LidarDiagInternalInfoResponse>>(
      &GeneralCommandHandler::QueryFwTypeCallback, this);
  return SendCommand(handle, kCommandIdReadInternalInfo, payload, length, callback);
}

void GeneralCommandHandler::ReportFwType(uint32_t handle, bool known, bool zero) {
  std::lock_guard<std::mutex> lock(detected_mutex_);
  auto it = detected_lidars_.find(handle);
  if (it == detected_lidars_.end()) return;
  it->second.fw_type_zero = zero;
  it->second.fw_type_known = known;
}

void GeneralCommandHandler::FwQueryFailed(uint32_t handle, bool retry) {
  ++fw_query_retries_;
  if (retry) QueryFwType(handle);
}

void GeneralCommandHandler::QueryFwTypeCallback(CommandStatus status, uint32_t handle,
                                                LidarDiagInternalInfoResponse* response,
                                                void* client_data) {
  GeneralCommandHandler& self = GetInstance();
  if (self.fw_query_retries_ > kMaxFwQueryRetries) {
    LIDAR_LOG_ERROR("Query lidar failed, the retry time more than 10.");
    self.ReportFwType(handle, true, false);
    self.fw_query_retries_ = 0;
    return;
  }
  if (client_data == nullptr) {
    LIDAR_LOG_ERROR("Query lidar Fw type failed, client data is nullptr.");
    self.FwQueryFailed(handle, false);
    return;
  }
  if (status != kStatusSuccess) {
    LIDAR_LOG_ERROR("Query lidar Fw type failed, the status:{}", status);
    self.FwQueryFailed(handle, true);
    return;
  }
  if (response == nullptr) {
    LIDAR_LOG_ERROR("Query lidar Fw type failed, the response is nullptr.");
    self.FwQueryFailed(handle, true);
    return;
  }
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(response);
  const uint8_t ret_code = bytes[0];
  if (ret_code != 0) {
    LIDAR_LOG_ERROR("Query lidar Fw type failed, the ret_code:{}", ret_code);
    self.FwQueryFailed(handle, true);
    return;
  }
  KeyValueEntry entry;
  if (!KeyValueEntries::OfDeliveredAnswer(bytes).next(entry)) {
    LIDAR_LOG_ERROR("Query lidar Fw type failed, the response has no entry.");
    self.FwQueryFailed(handle, true);
    return;
  }
  if (entry.key != kKeyFwType) {
    LIDAR_LOG_ERROR("Query Fw type filed, the key had fault, the key:{}", entry.key);
    self.FwQueryFailed(handle, true);
    return;
  }
  if (entry.length != 1) {
    LIDAR_LOG_ERROR("Query Fw type failed, the val lenth is error, the len:");
    self.FwQueryFailed(handle, true);
    return;
  }
  const uint8_t fw_type = entry.value[0];
  LIDAR_LOG_INFO("Query Fw type succ, the fw_type:{}", fw_type);
  self.fw_query_retries_ = 0;
  self.ReportFwType(handle, true, fw_type == 0);
}

void GeneralCommandHandler::LidarInfoChange(uint32_t handle) {
  LidarInfo info{};
  bool fw_type_zero = false;
  bool already_reported = false;
  {
    std::lock_guard<std::mutex> lock(detected_mutex_);
    auto it = detected_lidars_.find(handle);
    if (it == detected_lidars_.end()) {
      LIDAR_LOG_ERROR("Lidar info change failed, can not found device, the handle:{}", handle);
      return;
    }
    DetectedLidar& record = it->second;
    record.config_done = true;
    fw_type_zero = record.fw_type_zero;
    already_reported = record.info_reported.exchange(true);
    info.dev_type = record.dev_type;
    CopyCut(record.sn, info.sn);
    CopyCut(record.lidar_ip, info.lidar_ip);
  }
  DetectionSink* detections = detections_;
  if (detections != nullptr && host_mode_ && !fw_type_zero) {
    detections->UpdateViewLidarCfgCallback(handle);
  }

  LidarInfoChangeCallback cb = nullptr;
  void* client_data = nullptr;
  {
    std::lock_guard<std::mutex> lock(callbacks_mutex_);
    cb = info_change_cb_;
    client_data = info_change_client_data_;
  }
  if (!already_reported && cb != nullptr) cb(handle, &info, client_data);
}

CommandStatus GeneralCommandHandler::Reconfigure(uint32_t handle) {
  uint8_t dev_type = 0;
  {
    std::lock_guard<std::mutex> lock(detected_mutex_);
    auto it = detected_lidars_.find(handle);
    if (it == detected_lidars_.end()) {
      LIDAR_LOG_ERROR("Reconfigure lidar failed, can not found device, the handle:{}", handle);
      return kStatusNotRegistered;
    }
    it->second.config_done = false;
    it->second.info_reported = false;
    dev_type = it->second.dev_type;
  }
  if (std::shared_ptr<CommandHandler> handler = GetCommandHandler(dev_type)) {
    handler->ForgetLidarCfg(handle);
  }
  DetectionSink* detections = detections_;
  if (detections != nullptr && host_mode_) detections->ForgetViewLidarCfg(handle);
  LIDAR_LOG_INFO("Reconfigure lidar:{}, the configuration follows its next detection reply.",
                 handle);
  return kStatusSuccess;
}

void GeneralCommandHandler::UpdateViewLidarCfg(const ViewLidarIpInfo& info) {
  std::shared_ptr<CommandHandler> handler = GetCommandHandler(info.dev_type);
  if (handler && IsMasterSdk()) handler->UpdateLidarCfg(info);
}

}  // namespace lidar::sdk
