// The application's two clocks, in whole milliseconds.
#pragma once

#include <cstdint>

namespace app {

// Monotonic clock, whole milliseconds.
uint64_t steady_ms();
// Milliseconds since 1970-01-01 UTC.
uint64_t wall_ms();

}  // namespace app
