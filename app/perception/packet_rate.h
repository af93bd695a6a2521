// Smoothed packet-rate statistic shared by the point and IMU intakes.
#pragma once

#include <atomic>
#include <cstdint>

namespace app {

// Per-stream bookkeeping of the rate, touched only by the SDK's data thread: the packets that
// arrived since the last rate sample and the arrival time that sample ended at.
struct PacketRateCounter {
  uint32_t packets = 0;
  uint64_t since_ms = 0;
};

// Records a packet arriving at `now` (steady ms) against the previous arrival in `last_ms` and
// folds the rate into `rate_hz` as 0.8 x old + 0.2 x new (the first rate is taken as is).
// Packets closer together than kMinRateIntervalMs are pooled into one sample of
// packets x 1000 / elapsed ms, so a stream faster than one packet per millisecond reads its
// real rate instead of saturating at 1000 Hz or swinging with millisecond rounding; slower
// streams get one sample per packet, 1000 / interval. A first packet, or one no later than
// the previous, leaves the rate unchanged.
constexpr uint64_t kMinRateIntervalMs = 10;
void note_packet_arrival(std::atomic<uint64_t>& last_ms, std::atomic<double>& rate_hz,
                         PacketRateCounter& counter, uint64_t now);

}  // namespace app
