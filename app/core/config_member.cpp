#include "config_member.h"

#include <cmath>
#include <cstring>
#include <exception>
#include <fstream>
#include <functional>
#include <mutex>
#include <sstream>
#include <string_view>
#include <utility>

namespace app {
namespace {

using nlohmann::json;

// The service's own members and how deep below each one the parse keeps anything.
struct KnownMember {
  const char* name;
  int depth;
};
constexpr KnownMember kMembers[] = {{"robot_box", 2}, {"mounting", 2},  {"corridors", 1},
                                    {"ground", 1},    {"live_view", 1}, {"redis", 1},
                                    {"instance", 0},  {"zones", 3}};

int depth_of(const json& key) {
  for (const KnownMember& m : kMembers) {
    if (key == m.name) return m.depth;
  }
  return -1;
}

// Start-up reads every member from the same file: it is parsed once for all of them (a file of
// tens of megabytes took seconds per parse). The file's bytes are read each time and compared by
// size and hash, so a file that changed is parsed again.
struct ParsedFile {
  std::string path;
  std::size_t size = 0;
  std::size_t hash = 0;
  std::optional<json> members;  // nothing when the file is no JSON object
};

std::optional<json> parse_members(const std::string& text) {
  // The rest of the file (which may be large or deeply nested) is the LiDAR layer's business.
  int depth = -1;
  const auto keep = [&depth](int level, json::parse_event_t event, json& parsed) {
    if (event == json::parse_event_t::key && level == 1) {
      depth = depth_of(parsed);
      return depth >= 0;
    }
    return level <= depth + 1 || level <= 1;
  };
  json document;
  try {
    document = json::parse(text, keep);
  } catch (const std::exception&) {
    return std::nullopt;  // not JSON
  }
  if (!document.is_object()) return std::nullopt;
  return document;
}

}  // namespace

std::optional<nlohmann::json> read_config_member(const std::string& config_path, const char* name) {
  std::string text;
  try {
    std::ifstream in(config_path, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream bytes;
    bytes << in.rdbuf();
    if (in.bad()) return std::nullopt;
    text = std::move(bytes).str();
  } catch (const std::exception&) {
    // Not readable at all (a directory opens, then fails to read).
    return std::nullopt;
  }
  const std::size_t hash = std::hash<std::string_view>{}(text);

  static std::mutex mutex;
  static ParsedFile last;
  std::lock_guard<std::mutex> hold(mutex);
  if (last.path != config_path || last.size != text.size() || last.hash != hash) {
    last = ParsedFile{config_path, text.size(), hash, parse_members(text)};
  }
  if (!last.members) return std::nullopt;
  const auto member = last.members->find(name);
  if (member == last.members->end()) return std::nullopt;
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
