#include "info_key_table.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>

#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>

#include "lidar_byte_io.h"
#include "lidar_keys.h"
#include "base/ipv4_address.h"

namespace lidar::sdk {
namespace {

constexpr std::size_t kPushListOffset = 4;  // after key_num u16 and two reserved bytes

// Values are copied into the record as the wire carries them (little-endian) and read back
// with the little-endian loaders, so the record means the same on any host.
enum class Kind {
  kU8,
  kU16,
  kU32,
  kI32,
  kU64,
  kI64,
  kText,
  kU8Array,
  kLidarIpCfg,
  kHostIpCfg,
  kInstallAttitude,
  kFovCfg,
  kFuncIoCfg,
  kStatusCode,
  kHmsCode,
};

struct KeyInfo {
  uint16_t key;
  const char* name;
  std::size_t offset;  // of the field inside InfoRecord
  std::size_t size;    // of the field
  Kind kind;
};

#define INFO_FIELD(field) offsetof(InfoRecord, field), sizeof(InfoRecord::field)

// Ascending key order, which is also the rendering order.
constexpr KeyInfo kKeyTable[] = {
    {kKeyPclDataType, "pcl_data_type", INFO_FIELD(pcl_data_type), Kind::kU8},
    {kKeyPatternMode, "pattern_mode", INFO_FIELD(pattern_mode), Kind::kU8},
    {kKeyDualEmitEn, "dual_emit_en", INFO_FIELD(dual_emit_en), Kind::kU8},
    {kKeyPointSendEn, "point_send_en", INFO_FIELD(point_send_en), Kind::kU8},
    {kKeyLidarIpCfg, "lidar_ipcfg", INFO_FIELD(lidar_ipcfg), Kind::kLidarIpCfg},
    {kKeyStateInfoHostIpCfg, "state_info_host_ipcfg", INFO_FIELD(state_info_host_ipcfg),
     Kind::kHostIpCfg},
    {kKeyPointCloudHostIpCfg, "ponitcloud_host_ipcfg", INFO_FIELD(ponitcloud_host_ipcfg),
     Kind::kHostIpCfg},
    {kKeyImuHostIpCfg, "imu_host_ipcfg", INFO_FIELD(imu_host_ipcfg), Kind::kHostIpCfg},
    {kKeyCtlHostIpCfg, "ctl_host_ipcfg", INFO_FIELD(ctl_host_ipcfg), Kind::kHostIpCfg},
    {kKeyLogHostIpCfg, "log_host_ipcfg", INFO_FIELD(log_host_ipcfg), Kind::kHostIpCfg},
    {kKeyVehicleSpeed, "vehicle_speed", INFO_FIELD(vehicle_speed), Kind::kI32},
    {kKeyEnvironmentTemp, "environment_temp", INFO_FIELD(environment_temp), Kind::kI32},
    {kKeyInstallAttitude, "install_attitude", INFO_FIELD(install_attitude), Kind::kInstallAttitude},
    {kKeyBlindSpotSet, "blind_spot_set", INFO_FIELD(blind_spot_set), Kind::kU32},
    {kKeyFrameRate, "frame_rate", INFO_FIELD(frame_rate), Kind::kU8},
    {kKeyFovCfg0, "fov_cfg0", INFO_FIELD(fov_cfg0), Kind::kFovCfg},
    {kKeyFovCfg1, "fov_cfg1", INFO_FIELD(fov_cfg1), Kind::kFovCfg},
    {kKeyFovCfgEn, "fov_cfg_en", INFO_FIELD(fov_cfg_en), Kind::kU8},
    {kKeyDetectMode, "detect_mode", INFO_FIELD(detect_mode), Kind::kU8},
    {kKeyFuncIoCfg, "func_io_cfg", INFO_FIELD(func_io_cfg), Kind::kFuncIoCfg},
    {kKeyWorkTgtMode, "work_tgt_mode", INFO_FIELD(work_tgt_mode), Kind::kU8},
    {kKeyGlassHeat, "glass_heat", INFO_FIELD(glass_heat), Kind::kU8},
    {kKeyImuDataEn, "imu_data_en", INFO_FIELD(imu_data_en), Kind::kU8},
    {kKeyFusaEn, "fusa_en", INFO_FIELD(fusa_en), Kind::kU8},
    {kKeySn, "sn", INFO_FIELD(sn), Kind::kText},
    {kKeyProductInfo, "product_info", INFO_FIELD(product_info), Kind::kText},
    {kKeyVersionApp, "version_app", INFO_FIELD(version_app), Kind::kU8Array},
    {kKeyVersionLoader, "version_loader", INFO_FIELD(version_loader), Kind::kU8Array},
    {kKeyVersionHardware, "version_hardware", INFO_FIELD(version_hardware), Kind::kU8Array},
    {kKeyMac, "mac", INFO_FIELD(mac), Kind::kU8Array},
    {kKeyCurWorkState, "cur_work_state", INFO_FIELD(cur_work_state), Kind::kU8},
    {kKeyCoreTemp, "core_temp", INFO_FIELD(core_temp), Kind::kI32},
    {kKeyPowerUpCnt, "powerup_cnt", INFO_FIELD(powerup_cnt), Kind::kU32},
    {kKeyLocalTimeNow, "local_time_now", INFO_FIELD(local_time_now), Kind::kU64},
    {kKeyLastSyncTime, "last_sync_time", INFO_FIELD(last_sync_time), Kind::kU64},
    {kKeyTimeOffset, "time_offset", INFO_FIELD(time_offset), Kind::kI64},
    {kKeyTimeSyncType, "time_sync_type", INFO_FIELD(time_sync_type), Kind::kU8},
    {kKeyStatusCode, "status_code", INFO_FIELD(status_code), Kind::kStatusCode},
    {kKeyLidarDiagStatus, "lidar_diag_status", INFO_FIELD(lidar_diag_status), Kind::kU16},
    {kKeyLidarFlashStatus, "lidar_flash_status", INFO_FIELD(lidar_flash_status), Kind::kU8},
    {kKeyFwType, "FW_TYPE", INFO_FIELD(fw_type), Kind::kU8},
    {kKeyHmsCode, "hms_code", INFO_FIELD(hms_code), Kind::kHmsCode},
    {kKeyRoiMode, "ROI_Mode", INFO_FIELD(roi_mode), Kind::kU8},
};

#undef INFO_FIELD

const KeyInfo* FindKey(uint16_t key) {
  const auto* end = std::end(kKeyTable);
  const auto* it = std::lower_bound(std::begin(kKeyTable), end, key,
                                    [](const KeyInfo& info, uint16_t k) { return info.key < k; });
  return it != end && it->key == key ? it : nullptr;
}

// Dotted decimal text of four address bytes, NUL-terminated in a 16-byte field.
void AddressText(const uint8_t* addr, char* text) {
  uint32_t address = 0;
  std::memcpy(&address, addr, sizeof(address));
  const std::string dotted = HandleToIp(address);
  std::memset(text, 0, 16);
  std::memcpy(text, dotted.data(), dotted.size());
}

void StoreLidarIpCfg(const uint8_t* value, std::size_t size, uint8_t* field) {
  char* texts[3] = {reinterpret_cast<char*>(field + offsetof(LidarIpCfg, lidar_ip)),
                    reinterpret_cast<char*>(field + offsetof(LidarIpCfg, lidar_subnet_mask)),
                    reinterpret_cast<char*>(field + offsetof(LidarIpCfg, lidar_gateway))};
  for (std::size_t i = 0; i < 3 && size >= 4 * (i + 1); ++i) AddressText(value + 4 * i, texts[i]);
}

void StoreHostIpCfg(const uint8_t* value, std::size_t size, uint8_t* field) {
  if (size >= 4) AddressText(value, reinterpret_cast<char*>(field + offsetof(HostIpCfg, ip)));
  if (size >= kHostIpCfgDstPortOffset + 2) {
    std::memcpy(field + offsetof(HostIpCfg, dst_port), value + kHostIpCfgDstPortOffset, 2);
  }
  if (size >= kHostIpCfgSrcPortOffset + 2) {
    std::memcpy(field + offsetof(HostIpCfg, src_port), value + kHostIpCfgSrcPortOffset, 2);
  }
}

void StoreValue(const KeyInfo& info, const uint8_t* value, std::size_t size, InfoRecord& record) {
  uint8_t* field = reinterpret_cast<uint8_t*>(&record) + info.offset;
  switch (info.kind) {
    case Kind::kLidarIpCfg: StoreLidarIpCfg(value, size, field); break;
    case Kind::kHostIpCfg: StoreHostIpCfg(value, size, field); break;
    default: std::memcpy(field, value, std::min(size, info.size)); break;
  }
}

using Writer = rapidjson::PrettyWriter<rapidjson::StringBuffer>;

void WriteText(Writer& writer, const uint8_t* field, std::size_t size) {
  const char* text = reinterpret_cast<const char*>(field);
  writer.String(text, static_cast<rapidjson::SizeType>(strnlen(text, size)));
}

void WriteHostIpCfg(Writer& writer, const uint8_t* field) {
  writer.StartObject();
  writer.Key("ip");
  WriteText(writer, field + offsetof(HostIpCfg, ip), sizeof(HostIpCfg::ip));
  writer.Key("dst_port");
  writer.Uint(load_le<uint16_t>(field + offsetof(HostIpCfg, dst_port)));
  writer.Key("src_port");
  writer.Uint(load_le<uint16_t>(field + offsetof(HostIpCfg, src_port)));
  writer.EndObject();
}

void WriteLidarIpCfg(Writer& writer, const uint8_t* field) {
  writer.StartObject();
  writer.Key("lidar_ip");
  WriteText(writer, field + offsetof(LidarIpCfg, lidar_ip), 16);
  writer.Key("lidar_subnet_mask");
  WriteText(writer, field + offsetof(LidarIpCfg, lidar_subnet_mask), 16);
  writer.Key("lidar_gateway");
  WriteText(writer, field + offsetof(LidarIpCfg, lidar_gateway), 16);
  writer.EndObject();
}

void WriteInstallAttitude(Writer& writer, const uint8_t* field) {
  writer.StartObject();
  const char* angles[] = {"roll_deg", "pitch_deg", "yaw_deg"};
  for (std::size_t i = 0; i < 3; ++i) {
    writer.Key(angles[i]);
    // JSON has no NaN or infinity; the writer would leave the member without a value.
    const float angle = load_le<float>(field + 4 * i);
    if (std::isfinite(angle)) {
      writer.Double(angle);
    } else {
      writer.Null();
    }
  }
  const char* offsets[] = {"x_mm", "y_mm", "z_mm"};
  for (std::size_t i = 0; i < 3; ++i) {
    writer.Key(offsets[i]);
    writer.Uint(load_le<uint32_t>(field + 12 + 4 * i));
  }
  writer.EndObject();
}

void WriteFovCfg(Writer& writer, const uint8_t* field) {
  writer.StartObject();
  const char* names[] = {"yaw_start", "yaw_stop", "pitch_start", "pitch_stop"};
  for (std::size_t i = 0; i < 4; ++i) {
    writer.Key(names[i]);
    writer.Int(load_le<int32_t>(field + 4 * i));
  }
  writer.EndObject();
}

void WriteFuncIoCfg(Writer& writer, const uint8_t* field) {
  writer.StartObject();
  const char* names[] = {"IN0", "IN1", "OUT0", "OUT1"};
  for (std::size_t i = 0; i < 4; ++i) {
    writer.Key(names[i]);
    writer.Uint(field[i]);
  }
  writer.EndObject();
}

// The 32 bytes from the last to the first, lower-case hexadecimal, separated by spaces.
void WriteStatusCode(Writer& writer, const uint8_t* field, std::size_t size) {
  std::string text;
  static const char kDigits[] = "0123456789abcdef";
  for (std::size_t i = size; i-- > 0;) {
    if (!text.empty()) text += ' ';
    if (field[i] >= 0x10) text += kDigits[field[i] >> 4];
    text += kDigits[field[i] & 0x0F];
  }
  writer.String(text.c_str(), static_cast<rapidjson::SizeType>(text.size()));
}

void WriteValue(Writer& writer, const KeyInfo& info, const uint8_t* field) {
  switch (info.kind) {
    case Kind::kU8: writer.Uint(field[0]); break;
    case Kind::kU16: writer.Uint(load_le<uint16_t>(field)); break;
    case Kind::kU32: writer.Uint(load_le<uint32_t>(field)); break;
    case Kind::kI32: writer.Int(load_le<int32_t>(field)); break;
    case Kind::kU64: writer.Uint64(load_le<uint64_t>(field)); break;
    case Kind::kI64: writer.Int64(load_le<int64_t>(field)); break;
    case Kind::kText: WriteText(writer, field, info.size); break;
    case Kind::kU8Array:
      writer.StartArray();
      for (std::size_t i = 0; i < info.size; ++i) writer.Uint(field[i]);
      writer.EndArray();
      break;
    case Kind::kLidarIpCfg: WriteLidarIpCfg(writer, field); break;
    case Kind::kHostIpCfg: WriteHostIpCfg(writer, field); break;
    case Kind::kInstallAttitude: WriteInstallAttitude(writer, field); break;
    case Kind::kFovCfg: WriteFovCfg(writer, field); break;
    case Kind::kFuncIoCfg: WriteFuncIoCfg(writer, field); break;
    case Kind::kStatusCode: WriteStatusCode(writer, field, info.size); break;
    case Kind::kHmsCode:
      writer.StartArray();
      for (std::size_t i = 0; i < info.size / 4; ++i) writer.Uint(load_le<uint32_t>(field + 4 * i));
      writer.EndArray();
      break;
  }
}

}  // namespace

bool decode_push_info(const CommPacket& packet, InfoRecord& record, std::set<uint16_t>& keys) {
  const std::size_t size = packet.data == nullptr ? 0 : packet.data_len;
  if (size < 2) return false;
  const uint16_t key_num = load_le<uint16_t>(packet.data);
  const std::size_t list_offset = std::min<std::size_t>(kPushListOffset, size);
  KeyValueEntries entries(packet.data + list_offset, size - list_offset, key_num);
  KeyValueEntry entry;
  while (entries.walked() < key_num) {
    // An entry carries its header and at least one value byte.
    if (entries.remaining() < 5 || !entries.next(entry)) return false;
    if (const KeyInfo* info = FindKey(entry.key)) {
      keys.insert(entry.key);
      StoreValue(*info, entry.value, entry.length, record);
    }
  }
  return true;
}

void render_info_json(const InfoRecord& record, const std::set<uint16_t>& keys, std::string& out) {
  rapidjson::StringBuffer buffer;
  Writer writer(buffer);
  writer.SetIndent(' ', 4);
  writer.StartObject();
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&record);
  for (const KeyInfo& info : kKeyTable) {
    if (keys.count(info.key) == 0) continue;
    writer.Key(info.name);
    WriteValue(writer, info, bytes + info.offset);
  }
  writer.EndObject();
  out.assign(buffer.GetString(), buffer.GetSize());
}

bool build_info_json(const CommPacket& packet, std::string& out) {
  InfoRecord record{};
  std::set<uint16_t> keys;
  if (!decode_push_info(packet, record, keys)) return false;
  render_info_json(record, keys, out);
  return true;
}

}  // namespace lidar::sdk
