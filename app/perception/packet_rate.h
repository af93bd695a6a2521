// Smoothed packet-rate statistic shared by the point and IMU intakes.
#pragma once

#include <atomic>
#include <cstdint>

namespace app {

// Records a packet arriving at `now` (steady ms) against the previous arrival in `last_ms` and
// folds its rate into `rate_hz` as 0.8 x old + 0.2 x new (the first rate is taken as is). A
// first packet or a zero interval leaves the rate unchanged.
void note_packet_arrival(std::atomic<uint64_t>& last_ms, std::atomic<double>& rate_hz,
                         uint64_t now);

}  // namespace app
