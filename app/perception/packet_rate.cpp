#include "packet_rate.h"

namespace app {

void note_packet_arrival(std::atomic<uint64_t>& last_ms, std::atomic<double>& rate_hz,
                         PacketRateCounter& counter, uint64_t now) {
  const uint64_t prev = last_ms.exchange(now);
  if (prev == 0) return;
  if (now == prev) {
    ++counter.same_ms_packets;
    return;
  }
  if (now < prev) return;
  const double packets = 1.0 + static_cast<double>(counter.same_ms_packets);
  counter.same_ms_packets = 0;
  const double rate = packets * 1000.0 / static_cast<double>(now - prev);
  const double old = rate_hz.load();
  rate_hz.store(old > 0.0 ? 0.8 * old + 0.2 * rate : rate);
}

}  // namespace app
