#include "device_keys.h"

#include <algorithm>
#include <iterator>

namespace lidar_sim {

namespace {

// Value sizes follow the device's parameter table; 0x001E and 0x8012 are kept as single bytes.
constexpr KeySpec kKeys[] = {
    {0x0000, 1, true},  {0x0001, 1, true},  {0x0002, 1, true},  {0x0003, 1, true},
    {0x0004, 12, false}, {0x0005, 8, true}, {0x0006, 8, true},  {0x0007, 8, true},
    {0x0008, 8, true},  {0x0009, 8, true},  {0x0010, 4, true},  {0x0011, 4, true},
    {0x0012, 24, true}, {0x0013, 4, true},  {0x0014, 1, true},  {0x0015, 20, true},
    {0x0016, 20, true}, {0x0017, 1, true},  {0x0018, 1, true},  {0x0019, 4, true},
    {0x001A, 1, true},  {0x001B, 1, true},  {0x001C, 1, true},  {0x001D, 1, true},
    {0x001E, 1, true},  {0x8000, 16, false}, {0x8001, 64, false}, {0x8002, 4, false},
    {0x8003, 4, false}, {0x8004, 4, false}, {0x8005, 6, false}, {0x8006, 1, false},
    {0x8007, 4, false}, {0x8008, 4, false}, {0x8009, 8, false}, {0x800A, 8, false},
    {0x800B, 8, false}, {0x800C, 1, false}, {0x800D, 32, false}, {0x800E, 2, false},
    {0x800F, 1, false}, {0x8010, 1, false}, {0x8011, 32, false}, {0x8012, 1, false},
    {0xFFFE, 1, true},
};

}  // namespace

const KeySpec* find_key(uint16_t k) {
  auto it = std::lower_bound(std::begin(kKeys), std::end(kKeys), k,
                             [](const KeySpec& s, uint16_t v) { return s.key < v; });
  return (it != std::end(kKeys) && it->key == k) ? it : nullptr;
}

const KeySpec* all_keys(std::size_t& count) {
  count = std::size(kKeys);
  return kKeys;
}

bool is_host_target_key(uint16_t k) { return k >= key::kStateInfoHost && k <= key::kLogHost; }

}  // namespace lidar_sim
