#include "packet_rate.h"

namespace app {

void note_packet_arrival(std::atomic<uint64_t>& last_ms, std::atomic<double>& rate_hz,
                         PacketRateCounter& counter, uint64_t now) {
  const uint64_t prev = last_ms.exchange(now);
  if (prev == 0) {
    counter.packets = 0;
    return;
  }
  if (now < prev) return;
  // A new sample starts at the previous arrival; so does one whose start no longer precedes it.
  if (counter.packets == 0 || counter.since_ms > prev) {
    counter.packets = 0;
    counter.since_ms = prev;
  }
  ++counter.packets;
  const uint64_t elapsed = now - counter.since_ms;
  if (elapsed < kMinRateIntervalMs) return;
  const double rate = static_cast<double>(counter.packets) * 1000.0 / static_cast<double>(elapsed);
  counter.packets = 0;
  const double old = rate_hz.load();
  rate_hz.store(old > 0.0 ? 0.8 * old + 0.2 * rate : rate);
}

}  // namespace app
