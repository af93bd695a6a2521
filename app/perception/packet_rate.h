// Smoothed packet-rate statistic shared by the point and IMU intakes.
#pragma once

#include <atomic>
#include <cstdint>

namespace app {

// Per-stream bookkeeping of the rate: packets seen within the millisecond of the last arrival.
// Touched only by the SDK's data thread.
struct PacketRateCounter {
  uint32_t same_ms_packets = 0;
};

// Records a packet arriving at `now` (steady ms) against the previous arrival in `last_ms` and
// folds its rate into `rate_hz` as 0.8 x old + 0.2 x new (the first rate is taken as is). A
// first packet, or one in the same millisecond as the previous, leaves the rate unchanged; a
// same-millisecond packet still counts towards the next interval, so a stream faster than one
// packet per millisecond reads its real rate instead of saturating at 1000 Hz.
void note_packet_arrival(std::atomic<uint64_t>& last_ms, std::atomic<double>& rate_hz,
                         PacketRateCounter& counter, uint64_t now);

}  // namespace app
