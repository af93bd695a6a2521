#include "live_view_config.h"

#include <cstdlib>

#include "core/config_member.h"

namespace app {
namespace {

using nlohmann::json;

constexpr const char* kMember = "live_view";

std::optional<std::string> refusal(const std::string& path, const std::string& reason) {
  return "[ERR] live_view invalido em " + path + ": " + reason +
         "; use \"live_view\": {\"bind\": \"127.0.0.1\", \"port\": 8765} (bind: um endereco "
         "IPv4 desta maquina, 0.0.0.0 para todas; port: 1 a 65535)\n";
}

// A dotted quad of four decimal numbers 0 to 255, nothing else.
bool is_ipv4(const std::string& text) {
  int parts = 0;
  std::size_t i = 0;
  while (i <= text.size()) {
    std::size_t end = text.find('.', i);
    if (end == std::string::npos) end = text.size();
    const std::string part = text.substr(i, end - i);
    if (part.empty() || part.size() > 3 ||
        part.find_first_not_of("0123456789") != std::string::npos ||
        std::atoi(part.c_str()) > 255) {
      return false;
    }
    ++parts;
    i = end + 1;
  }
  return parts == 4;
}

}  // namespace

std::optional<std::string> read_live_view_config(const std::string& config_path,
                                                 LiveViewConfig& config) {
  const std::optional<json> member = read_config_member(config_path, kMember);
  if (!member) return std::nullopt;
  if (!member->is_object()) return refusal(config_path, "nao e um objeto");
  LiveViewSettings settings;
  for (const auto& [name, value] : member->items()) {
    if (name == "bind") {
      if (!value.is_string() || !is_ipv4(value.get<std::string>())) {
        return refusal(config_path, "\"bind\" deve ser um endereco IPv4 como \"127.0.0.1\"");
      }
      settings.bind = value.get<std::string>();
    } else if (name == "port") {
      if (!value.is_number_integer() || value.get<int64_t>() < 1 || value.get<int64_t>() > 65535) {
        return refusal(config_path, "\"port\" deve ser um inteiro de 1 a 65535");
      }
      settings.port = static_cast<uint16_t>(value.get<int64_t>());
    } else {
      return refusal(config_path, "membro desconhecido \"" + name + "\"");
    }
  }
  config.present = true;
  config.settings = settings;
  return std::nullopt;
}

}  // namespace app
