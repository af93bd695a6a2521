#include "zone_occupancy.h"

#include <algorithm>
#include <cstddef>
#include <cmath>
#include <limits>

#include "perception/lanes.h"

namespace app {
namespace {

// A point is read as four words starting with x, y, z.
static_assert(sizeof(CloudPoint) == 16 && offsetof(CloudPoint, z) == 8,
              "CloudPoint starts with x, y, z and spans four words");

constexpr uint64_t kWindowMs = 20;
constexpr uint64_t kNsPerMs = 1000000;

}  // namespace

ZoneOccupancy::ZoneOccupancy(const std::vector<ZoneSettings>& zones) {
  for (int axis = 0; axis < 3; ++axis) {
    all_min_[axis] = std::numeric_limits<float>::infinity();
    all_max_[axis] = -std::numeric_limits<float>::infinity();
  }
  for (const ZoneSettings& given : zones) {
    Zone zone;
    for (int axis = 0; axis < 3; ++axis) {
      zone.min[axis] = given.min[axis];
      zone.max[axis] = given.max[axis];
      all_min_[axis] = std::min(all_min_[axis], given.min[axis]);
      all_max_[axis] = std::max(all_max_[axis], given.max[axis]);
    }
    zone.min_points = given.min_points;
    zone.release_ns = static_cast<uint64_t>(given.release_ms) * kNsPerMs;
    zones_.push_back(zone);
  }
}

void ZoneOccupancy::forget() {
  for (Zone& zone : zones_) {
    zone.state = ZoneState::kUnknown;
    zone.watched_since_ns = 0;
    zone.last_point_ns = 0;
    for (Slot& slot : zone.slots) slot = Slot{};
  }
}

void ZoneOccupancy::count_point(const CloudPoint& p, const ZoneGround& ground) {
  // A record without a return decodes as the LiDAR's own origin.
  if (p.x == 0.f && p.y == 0.f && p.z == 0.f) return;
  if (ground.on &&
      ground.n[0] * p.x + ground.n[1] * p.y + ground.n[2] * p.z + ground.height < ground.margin)
    return;
  const float range_sq = p.x * p.x + p.y * p.y + p.z * p.z;
  for (Zone& zone : zones_) {
    if (p.x < zone.min[0] || p.x > zone.max[0] || p.y < zone.min[1] || p.y > zone.max[1] ||
        p.z < zone.min[2] || p.z > zone.max[2])
      continue;
    zone.hit_nearest_sq = zone.hits == 0 ? range_sq : std::min(zone.hit_nearest_sq, range_sq);
    ++zone.hits;
  }
}

void ZoneOccupancy::judge(const CloudPoint* points, std::size_t count, const ZoneGround& ground,
                          uint64_t arrival_ns, std::vector<ZoneTransition>& out) {
  // Most points miss the box around every zone: pick out the rest first, each point's three
  // coordinates tested at once and without a branch (whether a point lies near the zones is
  // unpredictable). A NaN coordinate is never near.
  constexpr float kInf = std::numeric_limits<float>::infinity();
  const lanes::Lanes lo = {all_min_[0], all_min_[1], all_min_[2], -kInf};
  const lanes::Lanes hi = {all_max_[0], all_max_[1], all_max_[2], kInf};
  constexpr std::size_t kRun = 128;
  uint32_t near[kRun];
  for (std::size_t base = 0; base < count; base += kRun) {
    const std::size_t m = std::min(kRun, count - base);
    std::size_t found = 0;
    for (std::size_t i = 0; i < m; ++i) {
      const lanes::Lanes q = lanes::load3(&points[base + i]);
      near[found] = static_cast<uint32_t>(base + i);
      found += lanes::all_three((q >= lo) & (q <= hi));
    }
    for (std::size_t k = 0; k < found; ++k) count_point(points[near[k]], ground);
  }
  for (std::size_t z = 0; z < zones_.size(); ++z) settle(zones_[z], z, arrival_ns, out);
}

void ZoneOccupancy::settle(Zone& zone, std::size_t index, uint64_t arrival_ns,
                           std::vector<ZoneTransition>& out) {
  if (zone.watched_since_ns == 0) zone.watched_since_ns = arrival_ns;
  const uint64_t now_ms = arrival_ns / kNsPerMs;
  ZoneTransition change;
  change.zone = static_cast<uint8_t>(index);
  change.arrival_ns = arrival_ns;
  change.nearest_m = std::numeric_limits<float>::quiet_NaN();

  if (zone.hits > 0) {
    const float nearest = std::sqrt(zone.hit_nearest_sq);
    Slot& slot = zone.slots[now_ms % kSlots];
    if (slot.ms != now_ms) slot = Slot{now_ms, 0, nearest};
    slot.points += zone.hits;
    slot.nearest_m = std::min(slot.nearest_m, nearest);
    zone.last_point_ns = std::max(zone.last_point_ns, arrival_ns);
    zone.hits = 0;
    // Only a datagram that brought points can make the zone occupied.
    if (zone.state != ZoneState::kOccupied) {
      uint32_t recent = 0;
      float nearest_recent = std::numeric_limits<float>::infinity();
      for (const Slot& s : zone.slots) {
        if (s.points == 0 || s.ms + kWindowMs <= now_ms || s.ms > now_ms) continue;
        recent += s.points;
        nearest_recent = std::min(nearest_recent, s.nearest_m);
      }
      if (recent >= zone.min_points) {
        zone.state = ZoneState::kOccupied;
        change.state = zone.state;
        change.points = recent;
        change.nearest_m = nearest_recent;
        out.push_back(change);
        return;
      }
    }
  }

  // Occupied turns free after a release time without a single point; unknown after a release
  // time watched without turning occupied (a few points now and then keep no zone unknown).
  const uint64_t since = zone.state == ZoneState::kOccupied  ? zone.last_point_ns
                         : zone.state == ZoneState::kUnknown ? zone.watched_since_ns
                                                             : arrival_ns;
  if (zone.state == ZoneState::kFree || arrival_ns < since || arrival_ns - since < zone.release_ns)
    return;
  zone.state = ZoneState::kFree;
  change.state = zone.state;
  out.push_back(change);
}

}  // namespace app
