#include "json_path.h"

namespace app {

void set_json_path(nlohmann::json& document, const std::string& path,
                   const std::string& value_text, const std::string& separator) {
  nlohmann::json* node = &document;
  std::size_t start = 0;
  if (!separator.empty()) {
    for (std::size_t p = path.find(separator, start); p != std::string::npos;
         p = path.find(separator, start)) {
      const std::string name = path.substr(start, p - start);
      if (!node->is_object()) *node = nlohmann::json::object();
      nlohmann::json& member = (*node)[name];
      if (!member.is_object()) member = nlohmann::json::object();
      node = &member;
      start = p + separator.size();
    }
  }
  if (!node->is_object()) *node = nlohmann::json::object();
  nlohmann::json& last = (*node)[path.substr(start)];
  try {
    last = nlohmann::json::parse(value_text);
  } catch (const nlohmann::json::exception&) {
    last = value_text;
  }
}

}  // namespace app
