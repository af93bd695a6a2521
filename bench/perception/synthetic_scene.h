// Synthetic LiDAR scenes for the perception benchmarks: a floor, walls, a dozen box obstacles
// and scattered noise, seen from a sensor about half a metre above the floor.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/records.h"

namespace bench {

// `count` points in scan-like interleaved order: about 35 % floor, 30 % walls, 33 % obstacle
// faces and 2 % noise, each surface point jittered by about a centimetre.
app::PointFrame make_scene(std::size_t count, uint32_t seed = 1);

// The scene cut into consecutive high-precision point datagrams of `per_datagram` records.
std::vector<std::vector<uint8_t>> make_datagrams(const app::PointFrame& scene,
                                                 std::size_t per_datagram);

}  // namespace bench
