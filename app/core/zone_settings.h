// The robot's zones: boxes in the robot box's frame (the robot's axes when a mounting is given,
// origin at the LiDAR) that raise an alarm as soon as enough points arrive inside them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace app {

inline constexpr std::size_t kMaxZones = 16;
inline constexpr std::size_t kMaxZoneNameLength = 32;

// A zone's state as published: unknown before it was watched long enough and while the stream is
// down (consumers treat it as occupied).
enum class ZoneState : uint8_t { kUnknown, kFree, kOccupied };

struct ZoneSettings {
  std::string name;  // 1 to 32 of A-Z a-z 0-9 _ -: it ends Redis field names ("zona.<name>")
  float min[3] = {0.f, 0.f, 0.f};
  float max[3] = {0.f, 0.f, 0.f};
  uint32_t min_points = 5;    // points within the last 20 ms that make it occupied
  uint32_t release_ms = 300;  // how long without a single point makes it free again
};

}  // namespace app
