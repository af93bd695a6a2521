#include "zone_intake.h"

#include <atomic>
#include <memory>
#include <mutex>

#include "core/clocks.h"
#include "core/zone_events.h"
#include "perception/zone_occupancy.h"

namespace app {
namespace {

constexpr uint64_t kNsPerMs = 1000000;

// Written before the LiDAR layer starts; the occupancy is the data thread's alone afterwards.
std::unique_ptr<ZoneOccupancy> occupancy;
ZoneGround floor_guess;
float ground_margin = 0.f;

// The worker's latest plane, picked up by the data thread when its generation changes.
std::mutex zone_ground_mutex;
ZoneGround latest_ground;
std::atomic<uint32_t> ground_generation{0};

// The data thread's own copies.
ZoneGround judged_ground;
uint32_t judged_generation = 0;
uint32_t judged_epoch = 0;
std::vector<ZoneTransition> transitions;

}  // namespace

void set_intake_zones(const std::vector<ZoneSettings>& zones, const RobotBox& robot,
                      const GroundSettings& ground) {
  configure_zone_events(zones);
  occupancy = zones.empty() ? nullptr : std::make_unique<ZoneOccupancy>(zones);
  ground_margin = ground.margin_m;
  floor_guess = ZoneGround{};
  floor_guess.on = true;
  floor_guess.height = -robot.min_z;  // the plane z = min_z, where the robot's wheels stand
  floor_guess.margin = ground_margin;
  judged_ground = latest_ground = floor_guess;
  judged_epoch = zone_epoch();
  transitions.reserve(kMaxZones);
}

bool intake_has_zones() { return occupancy != nullptr; }

void note_zone_ground(const GroundEstimate& ground) {
  if (!occupancy) return;
  ZoneGround next;
  next.on = ground.seen;
  for (int axis = 0; axis < 3; ++axis) next.n[axis] = ground.normal[axis];
  next.height = ground.height_m;
  next.margin = ground_margin;
  {
    std::lock_guard<std::mutex> hold(zone_ground_mutex);
    latest_ground = next;
  }
  ground_generation.fetch_add(1, std::memory_order_release);
}

void judge_zones(const CloudPoint* points, std::size_t count, uint64_t arrival_ns) {
  if (!occupancy) return;
  const uint32_t epoch = zone_epoch();
  if (epoch != judged_epoch) {
    // The stream was declared OFF: its ground and its counts are forgotten with it.
    judged_epoch = epoch;
    occupancy->forget();
    std::lock_guard<std::mutex> hold(zone_ground_mutex);
    latest_ground = floor_guess;
    judged_ground = floor_guess;
    judged_generation = ground_generation.load(std::memory_order_acquire);
  }
  const uint32_t generation = ground_generation.load(std::memory_order_acquire);
  if (generation != judged_generation) {
    std::lock_guard<std::mutex> hold(zone_ground_mutex);
    judged_ground = latest_ground;
    judged_generation = generation;
  }
  transitions.clear();
  occupancy->judge(points, count, judged_ground, arrival_ns, transitions);
  if (transitions.empty()) return;
  // On the wall clock: the datagram arrived this long before now.
  const uint64_t arrival_ms = arrival_ns / kNsPerMs, now_ms = steady_ms();
  const uint64_t age_ms = now_ms > arrival_ms ? now_ms - arrival_ms : 0;
  const uint64_t stamp_ms = wall_ms() - age_ms;
  for (const ZoneTransition& t : transitions) {
    ZoneEvent event;
    event.zone = t.zone;
    event.state = t.state;
    event.points = t.points;
    event.nearest_m = t.nearest_m;
    event.stamp_ms = stamp_ms;
    offer_zone_event(event);
  }
}

}  // namespace app
