#include "robot_config.h"

#include "core/config_member.h"

namespace app {
namespace {

using nlohmann::json;

constexpr const char* kMember = "robot_box";

// The box's corner `name`: [x, y, z], three numbers finite as f32.
bool read_corner(const json& box, const char* name, float (&out)[3]) {
  const auto it = box.find(name);
  return it != box.end() && read_finite_triple(*it, out);
}

std::optional<std::string> refusal(const std::string& path, const std::string& reason) {
  return "[ERR] robot_box invalido em " + path + ": " + reason +
         "; use \"robot_box\": {\"min\": [x, y, z], \"max\": [x, y, z]} em metros, no "
         "referencial da LiDAR, com min < max e a LiDAR (0, 0, 0) dentro da caixa\n";
}

}  // namespace

std::optional<std::string> read_robot_box(const std::string& config_path, RobotBox& box) {
  // Deeper than a corner's coordinates nothing is kept.
  const std::optional<json> member = read_config_member(config_path, kMember);
  if (!member) return std::nullopt;

  if (!member->is_object()) return refusal(config_path, "nao e um objeto");
  float lo[3], hi[3];
  if (!read_corner(*member, "min", lo) || !read_corner(*member, "max", hi)) {
    return refusal(config_path, "\"min\" e \"max\" devem ser listas de tres numeros");
  }
  for (int axis = 0; axis < 3; ++axis) {
    if (!(lo[axis] < hi[axis])) return refusal(config_path, "min deve ser menor que max");
    if (lo[axis] > 0.f || hi[axis] < 0.f) {
      return refusal(config_path, "a caixa nao contem a LiDAR (0, 0, 0)");
    }
  }
  box = RobotBox{lo[0], lo[1], lo[2], hi[0], hi[1], hi[2]};
  return std::nullopt;
}

}  // namespace app
