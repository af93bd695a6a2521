#include "clocks.h"

#include <chrono>

namespace app {

uint64_t steady_ms() {
  const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(
      std::chrono::steady_clock::now().time_since_epoch());
  return static_cast<uint64_t>(ns.count()) / 1000000u;
}

uint64_t wall_ms() {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::system_clock::now().time_since_epoch());
  return static_cast<uint64_t>(ms.count());
}

}  // namespace app
