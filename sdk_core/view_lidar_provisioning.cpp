// Host-address mode's provisioning of the LiDARs the device manager views: a detected LiDAR
// is asked for its internal information, its data ports are opened from the answer, and it is
// told the host's address until it accepts.
#include <memory>

#include "lidar_byte_io.h"
#include "lidar_keys.h"
#include "base/sdk_log.h"
#include "command_handler/general_command_handler.h"
#include "device_channels.h"
#include "device_manager.h"

namespace lidar::sdk {

void DeviceManager::ProvisionViewLidar(uint32_t handle, const DetectionData& data,
                                       bool fw_type_known, bool fw_type_zero) {
  GeneralCommandHandler& general = GeneralCommandHandler::GetInstance();
  std::shared_ptr<ViewLidarState> state;
  {
    std::lock_guard<std::mutex> lock(view_mutex_);
    auto& slot = view_lidars_[handle];
    if (!slot) {
      slot = std::make_shared<ViewLidarState>();
      slot->handle = handle;
      slot->lidar_cmd_port = data.cmd_port;
      slot->dev_type = data.dev_type;
    }
    state = slot;
  }
  if (!fw_type_known) return;
  if (fw_type_zero) {
    general.LidarInfoChange(handle);
    return;
  }
  if (!state->added) {
    QueryLidarInternalInfo(handle, &DeviceManager::GetLidarInternalInfoCallback, this);
    return;
  }
  if (state->configured) return;
  std::shared_ptr<ViewLidarIpInfo> info;
  {
    std::lock_guard<std::mutex> lock(view_info_mutex_);
    const auto it = view_lidar_infos_.find(handle);
    if (it != view_lidar_infos_.end()) info = it->second;
  }
  if (!info) {
    LIDAR_LOG_ERROR("Update view lidar cfg failed, can not find lidar info, the handle:{}", handle);
    return;
  }
  general.UpdateViewLidarCfg(*info);
}

void DeviceManager::GetLidarInternalInfoCallback(CommandStatus status, uint32_t handle,
                                                 LidarDiagInternalInfoResponse* response,
                                                 void* client_data) {
  if (client_data == nullptr) {
    LIDAR_LOG_ERROR("Get lidar internal info failed, client data is nullptr.");
    return;
  }
  if (status != kStatusSuccess || response == nullptr) {
    LIDAR_LOG_ERROR("Get lidar internal info failed, the status:{}", status);
    return;
  }
  static_cast<DeviceManager*>(client_data)->AddViewLidar(handle, *response);
}

void DeviceManager::AddViewLidar(uint32_t handle, const LidarDiagInternalInfoResponse& response) {
  if (response.ret_code != 0) {
    LIDAR_LOG_ERROR("Get lidar internal info failed, the ret_code:{}", response.ret_code);
    return;
  }
  std::shared_ptr<ViewLidarState> state;
  {
    std::lock_guard<std::mutex> lock(view_mutex_);
    const auto it = view_lidars_.find(handle);
    if (it != view_lidars_.end()) state = it->second;
  }
  if (!state || state->added) return;
  if (state->lidar_cmd_port == 0) {
    LIDAR_LOG_ERROR("Add view lidar failed, can not get cmd port, the handle:{}", handle);
    return;
  }

  auto info = std::make_shared<ViewLidarIpInfo>();
  info->handle = handle;
  info->dev_type = state->dev_type;
  info->host_ip = host_ip_;
  info->lidar_cmd_port = state->lidar_cmd_port;
  KeyValueEntries entries =
      KeyValueEntries::OfDeliveredAnswer(reinterpret_cast<const uint8_t*>(&response));
  KeyValueEntry entry;
  while (entries.next(entry)) {
    if (entry.length < kHostIpCfgValueLength) continue;
    const uint16_t host_port = load_le<uint16_t>(entry.value + kHostIpCfgDstPortOffset);
    const uint16_t lidar_port = load_le<uint16_t>(entry.value + kHostIpCfgSrcPortOffset);
    if (entry.key == kKeyPointCloudHostIpCfg) {
      info->host_point_port = host_port;
      info->lidar_point_port = lidar_port;
    } else if (entry.key == kKeyImuHostIpCfg) {
      info->host_imu_port = host_port;
      info->lidar_imu_port = lidar_port;
    }
  }
  if (info->dev_type == kDeviceTypeOmni) {
    info->lidar_point_port = kOmniPointDataPort;
    info->lidar_imu_port = kOmniImuDataPort;
  }

  channels_->CreateViewDataChannel(*info);
  {
    std::lock_guard<std::mutex> lock(view_info_mutex_);
    view_lidar_infos_[handle] = info;
  }
  state->added = true;
  GeneralCommandHandler::GetInstance().UpdateViewLidarCfg(*info);
}

void DeviceManager::UpdateViewLidarCfgCallback(uint32_t handle) {
  std::shared_ptr<ViewLidarIpInfo> info;
  {
    std::lock_guard<std::mutex> lock(view_info_mutex_);
    const auto it = view_lidar_infos_.find(handle);
    if (it != view_lidar_infos_.end()) info = it->second;
  }
  if (!info) {
    LIDAR_LOG_ERROR(
        "Device manager change lidar faield, can not find the view device info, the handle:{}",
        handle);
    return;
  }
  // Called once the LiDAR accepted its addresses. Nothing is sent from here: this runs inside
  // the handling of the LiDAR's answer, and a request sent from it would be answered and
  // handled again at once, as fast as the LiDAR replies.
  std::lock_guard<std::mutex> lock(view_mutex_);
  const auto it = view_lidars_.find(handle);
  if (it != view_lidars_.end()) it->second->configured = true;
}

void DeviceManager::ForgetViewLidarCfg(uint32_t handle) {
  std::lock_guard<std::mutex> lock(view_mutex_);
  const auto it = view_lidars_.find(handle);
  if (it != view_lidars_.end()) it->second->configured = false;
}

}  // namespace lidar::sdk
