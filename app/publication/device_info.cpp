#include "device_info.h"

#include <mutex>
#include <string>

#include "core/shared_state.h"
#include "lidar_byte_io.h"
#include "lidar_keys.h"

namespace app {
namespace {

void store_text(std::string& field, std::string value) {
  std::lock_guard<std::mutex> hold(state_mutex);
  field = std::move(value);
}

// Four address bytes as they travel, first octet first.
std::string dotted_quad(const uint8_t* bytes) {
  return handle_address(lidar::load_le<uint32_t>(bytes));
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

void apply_entry(const lidar::KeyValueEntry& entry) {
  const uint8_t* value = entry.value;
  const std::size_t length = entry.length;
  switch (entry.key) {
    case lidar::kKeyLidarIpCfg:
      if (length < lidar::kLidarIpCfgValueLength) return;
      store_text(lidar_ip, dotted_quad(value));
      store_text(host_ip, dotted_quad(value + lidar::kLidarIpCfgGatewayOffset));
      return;
    case lidar::kKeyProductInfo:
      if (length < 1) return;
      apply_product_info(value, length);
      return;
    case lidar::kKeyCoreTemp: {
      if (length < 4) return;
      const float celsius = static_cast<float>(lidar::load_le<int32_t>(value)) / 100.0f;
      std::lock_guard<std::mutex> hold(state_mutex);
      temperatura = celsius;
      return;
    }
    case lidar::kKeyPowerUpCnt: {
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

void apply_entries(lidar::KeyValueEntries entries) {
  lidar::KeyValueEntry entry;
  while (entries.next(entry)) apply_entry(entry);
}

}  // namespace

void apply_internal_info(const uint8_t* bytes, std::size_t length) {
  apply_entries(lidar::KeyValueEntries::OfAnswer(bytes, length));
}

void on_internal_info(CommandStatus status, uint32_t, LidarDiagInternalInfoResponse* response,
                      void*) {
  if (status != kStatusSuccess || !response) return;
  const auto* bytes = reinterpret_cast<const uint8_t*>(response);
  apply_entries(lidar::KeyValueEntries::OfDeliveredAnswer(bytes));
}

}  // namespace app
