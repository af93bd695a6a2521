#include "zone_events.h"

#include <array>
#include <atomic>
#include <limits>

#include "core/drop_oldest_queue.h"

namespace app {
namespace {

std::vector<std::string> names;
std::array<std::atomic<uint8_t>, kMaxZones> states{};
std::atomic<uint32_t> epoch{0};
std::atomic<uint64_t> written{0};
std::atomic<uint64_t> dropped{0};

DropOldestQueue<ZoneEvent, kZoneQueueCapacity> queue;

}  // namespace

void configure_zone_events(const std::vector<ZoneSettings>& zones) {
  names.clear();
  for (const ZoneSettings& zone : zones) names.push_back(zone.name);
  for (auto& state : states) state.store(static_cast<uint8_t>(ZoneState::kUnknown));
  queue_clear(queue);
}

const std::vector<std::string>& zone_names() { return names; }

void offer_zone_event(const ZoneEvent& event) {
  if (event.zone >= names.size()) return;
  states[event.zone].store(static_cast<uint8_t>(event.state), std::memory_order_relaxed);
  if (queue_offer(queue, event)) note_zone_event_dropped();
}

bool take_zone_event(ZoneEvent& out, std::chrono::milliseconds wait) {
  return queue_take(queue, out, wait);
}

void wake_zone_events() { queue_wake(queue); }

ZoneStates copy_zone_states() {
  ZoneStates out;
  out.count = names.size();
  for (std::size_t i = 0; i < out.count; ++i)
    out.state[i] = static_cast<ZoneState>(states[i].load(std::memory_order_relaxed));
  return out;
}

void declare_zones_unknown(uint64_t wall_now_ms) {
  if (names.empty()) return;
  epoch.fetch_add(1);
  for (std::size_t i = 0; i < names.size(); ++i) {
    ZoneEvent event;
    event.zone = static_cast<uint8_t>(i);
    event.state = ZoneState::kUnknown;
    event.nearest_m = std::numeric_limits<float>::quiet_NaN();
    event.stamp_ms = wall_now_ms;
    offer_zone_event(event);
  }
}

uint32_t zone_epoch() { return epoch.load(std::memory_order_acquire); }

void note_zone_event_written() { written.fetch_add(1, std::memory_order_relaxed); }
void note_zone_event_dropped() { dropped.fetch_add(1, std::memory_order_relaxed); }
uint64_t zone_events_written() { return written.load(std::memory_order_relaxed); }
uint64_t zone_events_dropped() { return dropped.load(std::memory_order_relaxed); }

}  // namespace app
