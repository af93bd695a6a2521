// The service's own members of the configuration file that the LiDAR layer reads and whose other
// members it ignores.
#pragma once

#include <optional>
#include <string>

#include <nlohmann/json.hpp>

namespace app {

// The file's top-level member `name`, one of the service's own (robot_box, mounting, corridors,
// ground, live_view, redis, instance, zones); nothing when the file has none, or cannot be read as
// a JSON object at all (the LiDAR layer then refuses the file and says why). Only those members
// are kept while parsing, each down to the levels its reader looks at.
std::optional<nlohmann::json> read_config_member(const std::string& config_path, const char* name);

// `value` as exactly three numbers, each finite as a float (a point, a pose's angles).
bool read_finite_triple(const nlohmann::json& value, float (&out)[3]);

}  // namespace app
