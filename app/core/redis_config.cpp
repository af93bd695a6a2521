#include "redis_config.h"

#include <fstream>
#include <iterator>

#include "core/config_member.h"

namespace app {
namespace {

using nlohmann::json;

constexpr const char* kMember = "redis";
// A password file holds one line; anything larger is not one.
constexpr std::size_t kMaxPasswordBytes = 4096;

std::optional<std::string> refusal(const std::string& path, const std::string& reason) {
  return "[ERR] redis invalido em " + path + ": " + reason +
         "; use \"redis\": {\"url\": \"unix:///run/redis/redis.sock\" ou "
         "\"tcp://127.0.0.1:6379\", \"user\": \"nome\", \"password_file\": \"/caminho\"} (todos "
         "opcionais)\n";
}

// A user name as an ACL names it: printable, without spaces.
bool is_user_name(const std::string& name) {
  if (name.empty() || name.size() > 128) return false;
  for (const char c : name) {
    if (c <= ' ' || c > '~') return false;
  }
  return true;
}

// The file's first line, without its line end; nothing when it cannot be read or holds none.
std::optional<std::string> read_password(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return std::nullopt;
  std::string text;
  text.resize(kMaxPasswordBytes + 1);
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<std::size_t>(in.gcount()));
  if (text.size() > kMaxPasswordBytes) return std::nullopt;
  const std::size_t end = text.find_first_of("\r\n");
  if (end != std::string::npos) text.erase(end);
  if (text.empty()) return std::nullopt;
  return text;
}

}  // namespace

std::optional<std::string> read_redis_config(const std::string& config_path,
                                             RedisSettings& settings) {
  const std::optional<json> member = read_config_member(config_path, kMember);
  if (!member) return std::nullopt;
  if (!member->is_object()) return refusal(config_path, "nao e um objeto");
  RedisSettings read;
  for (const auto& [name, value] : member->items()) {
    if (name == "url") {
      if (!value.is_string()) return refusal(config_path, "\"url\" deve ser um texto");
      if (const auto problem = redis_uri_problem(value.get<std::string>())) {
        return refusal(config_path, "\"url\": " + *problem);
      }
      read.uri = value.get<std::string>();
    } else if (name == "user") {
      if (!value.is_string() || !is_user_name(value.get<std::string>())) {
        return refusal(config_path, "\"user\" deve ser um nome sem espacos");
      }
      read.user = value.get<std::string>();
    } else if (name == "password_file") {
      if (!value.is_string() || value.get<std::string>().empty()) {
        return refusal(config_path, "\"password_file\" deve ser o caminho de um arquivo");
      }
      const std::string file = value.get<std::string>();
      const std::optional<std::string> password = read_password(file);
      if (!password) {
        return refusal(config_path, "nao foi possivel ler a senha de \"" + file +
                                        "\" (uma linha, ate 4096 bytes, legivel pelo servico)");
      }
      read.password = *password;
    } else {
      return refusal(config_path, "membro desconhecido \"" + name + "\"");
    }
  }
  if (!read.user.empty() && read.password.empty()) {
    return refusal(config_path, "\"user\" pede \"password_file\"");
  }
  settings = read;
  return std::nullopt;
}

}  // namespace app
