#include "geometry_config.h"

#include <cmath>
#include <utility>

#include "core/config_member.h"

namespace app {
namespace {

using nlohmann::json;

std::optional<std::string> mounting_refusal(const std::string& path, const std::string& reason) {
  return "[ERR] mounting invalido em " + path + ": " + reason +
         "; use \"mounting\": {\"rpy_deg\": [roll, pitch, yaw], \"xyz_m\": [x, y, z]} (graus e "
         "metros, a pose da LiDAR no robo: x para frente, y para a esquerda, z para cima)\n";
}

std::optional<std::string> corridor_refusal(const std::string& path, const std::string& reason) {
  return "[ERR] corridors invalido em " + path + ": " + reason +
         "; use \"corridors\": {\"ahead_m\": 6, \"behind_m\": 6, \"left_m\": 2, "
         "\"right_m\": 2, \"above_m\": 2, \"below_m\": 0.5} (metros a partir da LiDAR, "
         "cada um maior que 0; todos opcionais)\n";
}

std::optional<std::string> ground_refusal(const std::string& path, const std::string& reason) {
  return "[ERR] ground invalido em " + path + ": " + reason +
         "; use \"ground\": {\"margin_m\": 0.05} (metros acima do plano do chao que ainda "
         "contam como chao, de 0 a 0.5)\n";
}

}  // namespace

std::optional<std::string> read_ground_settings(const std::string& config_path,
                                                GroundSettings& settings) {
  const std::optional<json> member = read_config_member(config_path, "ground");
  if (!member) return std::nullopt;
  if (!member->is_object()) return ground_refusal(config_path, "nao e um objeto");
  GroundSettings read = settings;
  for (const auto& [name, value] : member->items()) {
    if (name != "margin_m")
      return ground_refusal(config_path, "membro desconhecido \"" + name + "\"");
    const float metres = value.is_number() ? static_cast<float>(value.get<double>()) : -1.f;
    if (!(metres >= 0.f && metres <= 0.5f)) {
      return ground_refusal(config_path, "\"margin_m\" deve ser um numero de 0 a 0.5");
    }
    read.margin_m = metres;
  }
  settings = read;
  return std::nullopt;
}

std::optional<std::string> read_corridor_limits(const std::string& config_path,
                                                CorridorLimits& limits) {
  const std::optional<json> member = read_config_member(config_path, "corridors");
  if (!member) return std::nullopt;
  if (!member->is_object()) return corridor_refusal(config_path, "nao e um objeto");
  CorridorLimits read = limits;
  const std::pair<const char*, float*> names[] = {
      {"ahead_m", &read.ahead}, {"behind_m", &read.behind}, {"left_m", &read.left},
      {"right_m", &read.right}, {"above_m", &read.above},   {"below_m", &read.below}};
  for (const auto& [name, value] : member->items()) {
    float* target = nullptr;
    for (const auto& [known, field] : names) {
      if (name == known) target = field;
    }
    if (target == nullptr)
      return corridor_refusal(config_path, "membro desconhecido \"" + name + "\"");
    const float metres = value.is_number() ? static_cast<float>(value.get<double>()) : 0.f;
    if (!(std::isfinite(metres) && metres > 0.f)) {
      return corridor_refusal(config_path, "\"" + name + "\" deve ser um numero maior que 0");
    }
    *target = metres;
    if (target == &read.below) read.below_to_ground = false;
  }
  limits = read;
  return std::nullopt;
}

std::optional<std::string> read_mounting(const std::string& config_path, MountingPose& pose) {
  const std::optional<json> member = read_config_member(config_path, "mounting");
  if (!member) return std::nullopt;
  if (!member->is_object()) return mounting_refusal(config_path, "nao e um objeto");
  MountingPose read;
  read.given = true;
  for (const auto& [name, value] : member->items()) {
    if (name == "rpy_deg") {
      if (!read_finite_triple(value, read.rpy_deg)) {
        return mounting_refusal(config_path, "\"rpy_deg\" deve ser uma lista de tres numeros");
      }
    } else if (name == "xyz_m") {
      if (!read_finite_triple(value, read.xyz_m)) {
        return mounting_refusal(config_path, "\"xyz_m\" deve ser uma lista de tres numeros");
      }
    } else {
      return mounting_refusal(config_path, "membro desconhecido \"" + name + "\"");
    }
  }
  pose = read;
  return std::nullopt;
}

}  // namespace app
