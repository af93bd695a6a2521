// The robot's box from the service's configuration file: the optional top-level member
// "robot_box", {"min": [x, y, z], "max": [x, y, z]} in metres in the LiDAR's frame. The LiDAR
// layer reads the same file and ignores the member.
#pragma once

#include <optional>
#include <string>

#include "core/shared_state.h"

namespace app {

// Sets `box` from the file's "robot_box" and returns nothing; leaves the default when the file
// has no such member, or cannot be read as a JSON object at all (the LiDAR layer then refuses
// the file and says why). A member that is there but malformed gives the console line that
// refuses it.
std::optional<std::string> read_robot_box(const std::string& config_path, RobotBox& box);

}  // namespace app
