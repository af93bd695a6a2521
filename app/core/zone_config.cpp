#include "zone_config.h"

#include <cmath>

#include "core/config_member.h"

namespace app {
namespace {

using nlohmann::json;

constexpr uint32_t kMaxMinPoints = 100000;
constexpr uint32_t kMinReleaseMs = 20;  // the occupancy window: anything shorter flickers
constexpr uint32_t kMaxReleaseMs = 60000;

std::optional<std::string> refusal(const std::string& path, const std::string& reason) {
  return "[ERR] zones invalido em " + path + ": " + reason +
         "; use \"zones\": [{\"name\": \"parar\", \"min\": [x, y, z], \"max\": [x, y, z], "
         "\"min_points\": 5, \"release_ms\": 300}, ...] (ate 16 caixas em metros, no "
         "referencial de robot_box; nome de 1 a 32 letras, digitos, _ ou -, sem repetir; "
         "min_points de 1 a 100000; release_ms de 20 a 60000)\n";
}

bool safe_name(const std::string& name) {
  if (name.empty() || name.size() > kMaxZoneNameLength) return false;
  for (const char c : name) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    c == '_' || c == '-';
    if (!ok) return false;
  }
  return true;
}

// A whole number in [lo, hi]; 5.0 counts, 5.5 does not.
bool read_count(const json& value, uint32_t lo, uint32_t hi, uint32_t& out) {
  if (!value.is_number()) return false;
  const double v = value.get<double>();
  if (!(v >= lo && v <= hi) || std::floor(v) != v) return false;
  out = static_cast<uint32_t>(v);
  return true;
}

// One zone, or the reason it is refused (`where` names it in the line).
std::optional<std::string> read_zone(const json& item, const std::string& where,
                                     ZoneSettings& zone) {
  if (!item.is_object()) return where + " nao e um objeto";
  bool has_min = false, has_max = false;
  for (const auto& [key, value] : item.items()) {
    if (key == "name") {
      if (!value.is_string() || !safe_name(value.get<std::string>()))
        return where + ": \"name\" invalido";
      zone.name = value.get<std::string>();
    } else if (key == "min" || key == "max") {
      if (!read_finite_triple(value, key == "min" ? zone.min : zone.max))
        return where + ": \"" + key + "\" deve ser uma lista de tres numeros";
      (key == "min" ? has_min : has_max) = true;
    } else if (key == "min_points") {
      if (!read_count(value, 1, kMaxMinPoints, zone.min_points))
        return where + ": \"min_points\" deve ser um inteiro de 1 a 100000";
    } else if (key == "release_ms") {
      if (!read_count(value, kMinReleaseMs, kMaxReleaseMs, zone.release_ms))
        return where + ": \"release_ms\" deve ser um inteiro de 20 a 60000";
    } else {
      return where + ": membro desconhecido \"" + key + "\"";
    }
  }
  if (zone.name.empty()) return where + ": falta \"name\"";
  if (!has_min || !has_max) return where + ": faltam \"min\" e \"max\"";
  for (int axis = 0; axis < 3; ++axis) {
    if (!(zone.min[axis] < zone.max[axis])) return where + ": min deve ser menor que max";
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> read_zones(const std::string& config_path,
                                      std::vector<ZoneSettings>& zones) {
  const std::optional<json> member = read_config_member(config_path, "zones");
  if (!member) return std::nullopt;
  if (!member->is_array()) return refusal(config_path, "nao e uma lista");
  if (member->size() > kMaxZones) return refusal(config_path, "mais de 16 zonas");
  std::vector<ZoneSettings> read;
  for (std::size_t i = 0; i < member->size(); ++i) {
    ZoneSettings zone;
    const std::string where = "a zona " + std::to_string(i + 1);
    if (auto refused = read_zone((*member)[i], where, zone)) return refusal(config_path, *refused);
    for (const ZoneSettings& earlier : read) {
      if (earlier.name == zone.name)
        return refusal(config_path, "nome repetido \"" + zone.name + "\"");
    }
    read.push_back(zone);
  }
  zones = std::move(read);
  return std::nullopt;
}

}  // namespace app
