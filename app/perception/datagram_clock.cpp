#include "datagram_clock.h"

#include <atomic>
#include <chrono>

namespace app {
namespace {

std::atomic<DatagramArrivalClock> arrival_clock{nullptr};

int64_t arrival_ns() {
  const DatagramArrivalClock clock = arrival_clock.load(std::memory_order_relaxed);
  const int64_t reported = clock != nullptr ? clock() : 0;
  if (reported > 0) return reported;
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

void use_datagram_arrival_clock(DatagramArrivalClock clock) { arrival_clock.store(clock); }

uint64_t datagram_arrival_ns() { return static_cast<uint64_t>(arrival_ns()); }

uint64_t datagram_arrival_us() { return static_cast<uint64_t>(arrival_ns()) / 1000u; }

uint64_t datagram_arrival_ms() { return static_cast<uint64_t>(arrival_ns()) / 1000000u; }

}  // namespace app
