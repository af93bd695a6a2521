// A fresh, uniquely named directory under the system's temporary directory.
#pragma once

#include <filesystem>
#include <random>
#include <string>
#include <system_error>

namespace lidar::sdk::testing {

inline std::filesystem::path MakeTempDir(const std::string& prefix) {
  std::random_device random;
  const std::filesystem::path base = std::filesystem::temp_directory_path();
  for (;;) {
    const std::filesystem::path path = base / (prefix + std::to_string(random()));
    std::error_code ec;
    // create_directory is false, without an error, when the name is already taken.
    if (std::filesystem::create_directory(path, ec)) return path;
    if (ec) return {};
  }
}

}  // namespace lidar::sdk::testing
