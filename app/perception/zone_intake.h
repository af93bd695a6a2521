// The zones on the data thread: each point datagram's points, already in the robot's axes, are
// judged against the zones as they are decoded, and every change of state is handed to the zone
// publisher at once. Ground points do not count: the latest frame's ground plane decides which
// are, and until a frame has fitted one the floor is taken where the robot box's bottom says it
// is. A frame that found no ground leaves every point counting.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/records.h"
#include "core/zone_settings.h"

namespace app {

// The LiDAR layer's data thread gathers datagrams for 20 ms between passes; with zones it gathers
// for this long, so a zone's first points wait at most that long to be judged. Each datagram
// keeps its own arrival time either way. Measured at 4,500 datagrams/s with four zones: an
// appearing obstacle's zone entry p99 17 ms against 28 ms with 20 ms, for the data thread's
// extra wake-ups within the noise of the service's CPU (about 0.1 % of a core).
inline constexpr uint32_t kZoneGatherIntervalUs = 10000;

// Before the LiDAR layer starts; with no zones, judge_zones does nothing.
void set_intake_zones(const std::vector<ZoneSettings>& zones, const RobotBox& robot,
                      const GroundSettings& ground);
bool intake_has_zones();

// The processing worker's ground plane of the latest frame.
void note_zone_ground(const GroundEstimate& ground);

// The data thread, for each point datagram that arrived at `arrival_ns` (steady clock).
void judge_zones(const CloudPoint* points, std::size_t count, uint64_t arrival_ns);

}  // namespace app
