// The optional member "zones" of the service's configuration file: up to 16 named boxes, each
// {"name", "min", "max", "min_points", "release_ms"}. The LiDAR layer ignores it.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/zone_settings.h"

namespace app {

// Sets `zones` from the file's member and returns nothing; leaves it empty when the file has no
// such member or cannot be read as a JSON object at all (the LiDAR layer then refuses the file).
// A member that is there but malformed (a box without volume, an unknown key, a name that is
// empty, too long, repeated or has other characters than letters, digits, '_' and '-', a 17th
// zone) gives the console line that refuses it.
std::optional<std::string> read_zones(const std::string& config_path,
                                      std::vector<ZoneSettings>& zones);

}  // namespace app
