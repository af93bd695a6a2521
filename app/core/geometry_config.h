// The service's members of the configuration file that say where the LiDAR sits and what the
// robot's corridors look at: "mounting" (the LiDAR's pose on the robot), "corridors" (their
// range limits) and "ground" (how far above the ground plane its points reach). The LiDAR layer
// reads the same file and ignores them.
#pragma once

#include <optional>
#include <string>

#include "core/shared_state.h"

namespace app {

// Each sets its record from the file's member and returns nothing; the record keeps its default
// when the file has no such member or cannot be read as a JSON object at all (the LiDAR layer
// then refuses the file and says why). A member that is there but malformed gives the console
// line that refuses it.
std::optional<std::string> read_mounting(const std::string& config_path, MountingPose& pose);
std::optional<std::string> read_corridor_limits(const std::string& config_path,
                                                CorridorLimits& limits);
std::optional<std::string> read_ground_settings(const std::string& config_path,
                                                GroundSettings& settings);

}  // namespace app
