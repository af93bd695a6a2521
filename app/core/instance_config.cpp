#include "instance_config.h"

#include "core/config_member.h"

namespace app {
namespace {

constexpr std::size_t kMaxInstanceLength = 32;

bool is_instance_name(const std::string& name) {
  if (name.empty() || name.size() > kMaxInstanceLength) return false;
  for (const char c : name) {
    const bool allowed = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                         (c >= '0' && c <= '9') || c == '_' || c == '-';
    if (!allowed) return false;
  }
  return true;
}

}  // namespace

std::optional<std::string> read_instance(const std::string& config_path, std::string& instance) {
  const std::optional<nlohmann::json> member = read_config_member(config_path, "instance");
  if (!member) return std::nullopt;
  if (!member->is_string() || !is_instance_name(member->get<std::string>())) {
    return "[ERR] instance invalido em " + config_path +
           ": use um nome de 1 a 32 letras, digitos, \"_\" ou \"-\", como \"instance\": "
           "\"frente\"\n";
  }
  instance = member->get<std::string>();
  return std::nullopt;
}

}  // namespace app
