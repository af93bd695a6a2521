#include "config_member.h"

#include <cmath>
#include <cstring>
#include <exception>
#include <fstream>
#include <iterator>

namespace app {

std::optional<nlohmann::json> read_config_member(const std::string& config_path, const char* name,
                                                 int depth) {
  using nlohmann::json;
  std::ifstream in(config_path, std::ios::binary);
  if (!in) return std::nullopt;
  // The rest of the file (which may be large or deeply nested) is the LiDAR layer's business.
  const auto keep = [name, depth](int level, json::parse_event_t event, json& parsed) {
    if (event == json::parse_event_t::key && level == 1) return parsed == name;
    return level <= depth + 1;
  };
  json document;
  try {
    document =
        json::parse(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>(), keep);
  } catch (const std::exception&) {
    // Not JSON, or not readable at all (a directory opens, then fails to read).
    return std::nullopt;
  }
  if (!document.is_object()) return std::nullopt;
  const auto member = document.find(name);
  if (member == document.end()) return std::nullopt;
  return *member;
}

bool read_finite_triple(const nlohmann::json& value, float (&out)[3]) {
  if (!value.is_array() || value.size() != 3) return false;
  for (std::size_t i = 0; i < 3; ++i) {
    if (!value[i].is_number()) return false;
    out[i] = static_cast<float>(value[i].get<double>());
    if (!std::isfinite(out[i])) return false;
  }
  return true;
}

}  // namespace app
