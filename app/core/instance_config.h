// The service's instance name from its configuration file: the optional top-level member
// "instance" (letters, digits, "_" and "-", at most 32), which suffixes every Redis key and
// channel it writes, so that one robot can run one service per LiDAR. The LiDAR layer reads the
// same file and ignores the member.
#pragma once

#include <optional>
#include <string>

namespace app {

// Fills `instance` ("" without the member) and returns nothing; a malformed name gives the
// console line that refuses the start.
std::optional<std::string> read_instance(const std::string& config_path, std::string& instance);

}  // namespace app
