#include "device_info.h"

#include <cstdio>
#include <mutex>
#include <string>

#include "app/core/shared_state.h"
#include "lidar_byte_io.h"

namespace app {
namespace {

constexpr uint16_t kKeyLidarIpConfig = 0x0004;
constexpr uint16_t kKeyProductInfo = 0x8001;
constexpr uint16_t kKeyCoreTemp = 0x8007;
constexpr uint16_t kKeyPowerUpCount = 0x8008;

constexpr std::size_t kResponseHeaderSize = 3;  // ret_code u8, param_num u16
constexpr std::size_t kEntryHeaderSize = 4;     // key u16, length u16

constexpr uint8_t kWorkModeNormal = 1;
constexpr uint8_t kPclDataTypeCartesianHigh = 1;

void store_text(std::string& field, std::string value) {
  std::lock_guard<std::mutex> hold(state_mutex);
  field = std::move(value);
}

std::string dotted_quad(const uint8_t* bytes) {
  char text[16];
  std::snprintf(text, sizeof(text), "%u.%u.%u.%u", static_cast<unsigned>(bytes[0]),
                static_cast<unsigned>(bytes[1]), static_cast<unsigned>(bytes[2]),
                static_cast<unsigned>(bytes[3]));
  return text;
}

// The text that follows the tag, up to the next space or the end; false when the tag is absent.
bool tagged_value(const std::string& text, const std::string& tag, std::string& value) {
  const std::size_t at = text.find(tag);
  if (at == std::string::npos) return false;
  const std::size_t begin = at + tag.size();
  const std::size_t space = text.find(' ', at);
  value = text.substr(begin, space == std::string::npos ? std::string::npos : space - begin);
  return true;
}

void apply_product_info(const uint8_t* value, std::size_t length) {
  std::string text(reinterpret_cast<const char*>(value), length);
  const std::size_t last = text.find_last_not_of('\0');
  text.erase(last == std::string::npos ? 0 : last + 1);
  std::string field;
  if (tagged_value(text, "DevType:", field)) store_text(dev_type, std::move(field));
  if (tagged_value(text, "FmVer:", field)) store_text(firmware_version, std::move(field));
}

void apply_entry(uint16_t key, const uint8_t* value, std::size_t length) {
  switch (key) {
    case kKeyLidarIpConfig:
      if (length < 12) return;
      store_text(lidar_ip, dotted_quad(value));
      store_text(host_ip, dotted_quad(value + 8));
      return;
    case kKeyProductInfo:
      if (length < 1) return;
      apply_product_info(value, length);
      return;
    case kKeyCoreTemp: {
      if (length < 4) return;
      const float celsius = static_cast<float>(lidar::load_le<int32_t>(value)) / 100.0f;
      std::lock_guard<std::mutex> hold(state_mutex);
      temperatura = celsius;
      return;
    }
    case kKeyPowerUpCount: {
      if (length < 4) return;
      const uint32_t count = lidar::load_le<uint32_t>(value);
      std::lock_guard<std::mutex> hold(state_mutex);
      vezes_ligado = count;
      return;
    }
    default:
      return;
  }
}

}  // namespace

void apply_internal_info(const uint8_t* bytes, std::size_t length) {
  lidar::ByteReader reader(bytes, length);
  uint8_t ret_code = 0;
  uint16_t param_num = 0;
  if (!reader.read(ret_code) || !reader.read(param_num)) return;
  for (uint16_t i = 0; i < param_num; ++i) {
    uint16_t key = 0;
    uint16_t value_length = 0;
    if (!reader.read(key) || !reader.read(value_length)) return;
    const uint8_t* value = reader.take(value_length);
    if (!value) return;
    apply_entry(key, value, value_length);
  }
}

void on_info_change(uint32_t handle, const LidarInfo* info, void*) {
  std::printf("[INFO] InfoChange handle=%u\n", static_cast<unsigned>(handle));
  std::fflush(stdout);
  if (!info) return;
  // A second unit coming up does not take the place of the one whose stream is followed.
  const uint32_t followed = followed_handle.load();
  if (followed == 0 || followed == handle) lidar_handle.store(handle);
  const CommandStatus work_mode = LidarSetWorkMode(handle, kWorkModeNormal, nullptr, nullptr);
  const CommandStatus data_type =
      LidarSetPclDataType(handle, kPclDataTypeCartesianHigh, nullptr, nullptr);
  const CommandStatus point_send = LidarEnablePointSend(handle, nullptr, nullptr);
  std::printf("  WM=%d DT=%d EN=%d\n", static_cast<int>(work_mode), static_cast<int>(data_type),
              static_cast<int>(point_send));
  std::fflush(stdout);
}

void on_internal_info(CommandStatus status, uint32_t, LidarDiagInternalInfoResponse* response,
                      void*) {
  if (status != kStatusSuccess || !response) return;
  const auto* bytes = reinterpret_cast<const uint8_t*>(response);
  const uint16_t param_num = lidar::load_le<uint16_t>(bytes + 1);
  if (param_num == 0) return;
  // The answer arrives without its size, but the SDK limits param_num to the entries that lie
  // wholly inside the received bytes, so their headers give the length.
  std::size_t length = kResponseHeaderSize;
  for (uint16_t i = 0; i < param_num; ++i)
    length += kEntryHeaderSize + lidar::load_le<uint16_t>(bytes + length + 2);
  apply_internal_info(bytes, length);
}

}  // namespace app
