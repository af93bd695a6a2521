// Hand-off of the zones' changes of state from the data thread (and the supervisor, when the
// stream goes OFF) to the zone publisher (app/publication/zone_stream), which sends them to
// Redis on a connection of its own. Offering never waits for Redis: the queue is a small ring,
// its lock is held only to copy an event in or out, and a full queue gives up its oldest event
// (counted as dropped). The zones' current states are kept here too, for the frame stream.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/zone_settings.h"

namespace app {

struct ZoneEvent {
  uint8_t zone = 0;  // index in the configured list
  ZoneState state = ZoneState::kUnknown;
  uint32_t points = 0;
  float nearest_m = 0.f;  // NaN when no point counted
  uint64_t stamp_ms = 0;  // wall_ms of the deciding datagram's arrival, or of the OFF
};

// The zones' current states, as of the latest change handed off.
struct ZoneStates {
  std::size_t count = 0;
  ZoneState state[kMaxZones] = {};
};

inline constexpr std::size_t kZoneQueueCapacity = 64;

// Set before the LiDAR layer starts (every zone unknown); read-only afterwards.
void configure_zone_events(const std::vector<ZoneSettings>& zones);
const std::vector<std::string>& zone_names();

// Records the zone's new state and queues the event for the publisher.
void offer_zone_event(const ZoneEvent& event);
// The oldest queued event, waiting up to `wait`; false when none came or wake_zone_events cut
// the wait short.
bool take_zone_event(ZoneEvent& out, std::chrono::milliseconds wait);
void wake_zone_events();

ZoneStates copy_zone_states();

// The stream went OFF: every zone is offered as unknown, stamped `wall_now_ms`, and the data
// thread starts over (zone_epoch changes).
void declare_zones_unknown(uint64_t wall_now_ms);
uint32_t zone_epoch();

// The publisher's counts, for the diagnostics.
void note_zone_event_written();
void note_zone_event_dropped();
uint64_t zone_events_written();
uint64_t zone_events_dropped();

}  // namespace app
