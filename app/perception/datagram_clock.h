// The time a point or IMU datagram arrived, for the intakes that stamp it. The LiDAR layer
// delivers datagrams in batches, so the moment a callback runs says little about when its
// datagram came: several arrive "at once", then none for the length of a batch.
#pragma once

#include <cstdint>

namespace app {

// Reports, inside a data callback, when its datagram arrived in nanoseconds of
// std::chrono::steady_clock (the clock of steady_ms); 0 when it cannot say.
using DatagramArrivalClock = int64_t (*)();

// Set before the data callbacks are registered (the entry point gives the LiDAR layer's);
// without one, or when it says 0, a datagram arrived when its callback reads the time.
void use_datagram_arrival_clock(DatagramArrivalClock clock);

// The current callback's datagram's arrival on steady_ms's clock, in nanoseconds,
// microseconds and milliseconds.
uint64_t datagram_arrival_ns();
uint64_t datagram_arrival_us();
uint64_t datagram_arrival_ms();

}  // namespace app
