// The service's own members of the configuration file that the LiDAR layer reads and whose other
// members it ignores ("robot_box", "live_view").
#pragma once

#include <optional>
#include <string>

#include <nlohmann/json.hpp>

namespace app {

// The file's top-level member `name`; nothing when the file has none, or cannot be read as a
// JSON object at all (the LiDAR layer then refuses the file and says why). Only that member is
// kept while parsing, down to `depth` levels below it.
std::optional<nlohmann::json> read_config_member(const std::string& config_path, const char* name,
                                                 int depth);

// `value` as exactly three numbers, each finite as a float (a point, a pose's angles).
bool read_finite_triple(const nlohmann::json& value, float (&out)[3]);

}  // namespace app
