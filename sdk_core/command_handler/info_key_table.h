// The LiDAR's key/value parameters and state: key numbers, names, value layouts, the record
// they are decoded into and their JSON rendering. Used for push messages (command 0x0102).
#pragma once

#include <cstdint>
#include <set>
#include <string>

#include "sdk_protocol.h"

namespace lidar::sdk {

#pragma pack(push, 1)
struct HostIpCfg {
  char ip[16];
  uint16_t dst_port;
  uint16_t src_port;
};

struct LidarIpCfg {
  char lidar_ip[16];
  char lidar_subnet_mask[16];
  char lidar_gateway[16];
};

struct InstallAttitude {
  float roll_deg;
  float pitch_deg;
  float yaw_deg;
  uint32_t x_mm;
  uint32_t y_mm;
  uint32_t z_mm;
};

struct FovCfg {
  int32_t yaw_start;
  int32_t yaw_stop;
  int32_t pitch_start;
  int32_t pitch_stop;
  uint8_t reserved[4];
};

struct FuncIoCfg {
  uint8_t in0;
  uint8_t in1;
  uint8_t out0;
  uint8_t out1;
};

// One decoded push message. Text fields are NUL-terminated unless they fill their size.
struct InfoRecord {
  uint8_t pcl_data_type;
  uint8_t pattern_mode;
  uint8_t dual_emit_en;
  uint8_t point_send_en;
  LidarIpCfg lidar_ipcfg;
  HostIpCfg state_info_host_ipcfg;
  HostIpCfg ponitcloud_host_ipcfg;
  HostIpCfg imu_host_ipcfg;
  HostIpCfg ctl_host_ipcfg;
  HostIpCfg log_host_ipcfg;
  int32_t vehicle_speed;
  int32_t environment_temp;
  InstallAttitude install_attitude;
  uint32_t blind_spot_set;
  uint8_t frame_rate;
  FovCfg fov_cfg0;
  FovCfg fov_cfg1;
  uint8_t fov_cfg_en;
  uint8_t detect_mode;
  FuncIoCfg func_io_cfg;
  uint8_t work_tgt_mode;
  uint8_t glass_heat;
  uint8_t imu_data_en;
  uint8_t fusa_en;
  char sn[16];
  char product_info[64];
  uint8_t version_app[4];
  uint8_t version_loader[4];
  uint8_t version_hardware[4];
  uint8_t mac[6];
  uint8_t cur_work_state;
  int32_t core_temp;
  uint32_t powerup_cnt;
  uint64_t local_time_now;
  uint64_t last_sync_time;
  int64_t time_offset;
  uint8_t time_sync_type;
  uint8_t status_code[32];
  uint16_t lidar_diag_status;
  uint8_t lidar_flash_status;
  uint8_t fw_type;
  uint32_t hms_code[8];
  uint8_t roi_mode;
};
#pragma pack(pop)

// Decodes the key/value list of `packet` (key_num u16, reserved u16, entries) into `record`
// and records which known keys were present. Unknown keys are skipped. False when an entry
// does not lie wholly inside the packet's data.
bool decode_push_info(const CommPacket& packet, InfoRecord& record, std::set<uint16_t>& keys);

// Renders the present keys, in ascending key order, as an indented JSON object.
void render_info_json(const InfoRecord& record, const std::set<uint16_t>& keys, std::string& out);

// Decodes and, when that succeeded, renders; the decoding result.
bool build_info_json(const CommPacket& packet, std::string& out);

}  // namespace lidar::sdk
