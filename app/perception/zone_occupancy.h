// The zones' occupancy rule, judged datagram by datagram on each datagram's arrival time: a zone
// is occupied once at least `min_points` of its points arrived within the last 20 ms, and free
// again once none has arrived for `release_ms`. Ground points never count. A zone starts (and
// restarts, after `forget`) unknown; it turns free after `release_ms` of datagrams in which it
// was never occupied.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/records.h"
#include "core/zone_settings.h"

namespace app {

// Which points are ground while judging: below `margin` above the plane n . p + height = 0, or
// none at all when `on` is false.
struct ZoneGround {
  bool on = false;
  float n[3] = {0.f, 0.f, 1.f};
  float height = 0.f;
  float margin = 0.f;
};

struct ZoneTransition {
  uint8_t zone = 0;  // index in the configured list
  ZoneState state = ZoneState::kUnknown;
  uint32_t points = 0;      // counted within the last 20 ms (0 when it turns free)
  float nearest_m = 0.f;    // of those, the nearest to the LiDAR; NaN when none
  uint64_t arrival_ns = 0;  // the deciding datagram's arrival (steady clock)
};

class ZoneOccupancy {
 public:
  explicit ZoneOccupancy(const std::vector<ZoneSettings>& zones);

  // Counts the datagram's points (robot axes) in every zone and appends each zone's change of
  // state to `out`. Arrival times must not go backwards by more than the 20 ms window.
  void judge(const CloudPoint* points, std::size_t count, const ZoneGround& ground,
             uint64_t arrival_ns, std::vector<ZoneTransition>& out);
  // Back to unknown, with nothing counted (the stream was lost).
  void forget();

  std::size_t size() const { return zones_.size(); }
  ZoneState state(std::size_t zone) const { return zones_[zone].state; }

 private:
  static constexpr std::size_t kSlots = 32;  // one per millisecond, more than the 20 ms window

  struct Slot {
    uint64_t ms = 0;
    uint32_t points = 0;
    float nearest_m = 0.f;
  };
  struct Zone {
    float min[3], max[3];
    uint32_t min_points;
    uint64_t release_ns;
    ZoneState state = ZoneState::kUnknown;
    uint64_t watched_since_ns = 0;  // first datagram judged since unknown
    uint64_t last_point_ns = 0;
    Slot slots[kSlots];
    // This datagram's own count, before it goes into its slot.
    uint32_t hits = 0;
    float hit_nearest_sq = 0.f;
  };

  void count_point(const CloudPoint& p, const ZoneGround& ground);
  void settle(Zone& zone, std::size_t index, uint64_t arrival_ns, std::vector<ZoneTransition>& out);

  std::vector<Zone> zones_;
  float all_min_[3], all_max_[3];  // the box around every zone: most points miss it
};

}  // namespace app
