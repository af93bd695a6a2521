#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "sdk_core/base/crc.h"

namespace lidar::sdk {
namespace {

// Bit-at-a-time definitions of the two checksums, the reference for the sliced tables.
uint16_t ReferenceCrc16(const uint8_t* data, std::size_t size) {
  uint16_t crc = 0xFFFF;
  for (std::size_t i = 0; i < size; ++i) {
    crc = static_cast<uint16_t>(crc ^ (data[i] << 8));
    for (int b = 0; b < 8; ++b)
      crc = static_cast<uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
  }
  return crc;
}

uint32_t ReferenceCrc32(const uint8_t* data, std::size_t size) {
  uint32_t crc = 0xFFFFFFFFu;
  for (std::size_t i = 0; i < size; ++i) {
    crc ^= data[i];
    for (int b = 0; b < 8; ++b) crc = (crc & 1) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
  }
  return crc ^ 0xFFFFFFFFu;
}

TEST(Crc, PublishedCheckValues) {
  const auto* digits = reinterpret_cast<const uint8_t*>("123456789");
  EXPECT_EQ(Crc16(digits, 9), 0x29B1);
  EXPECT_EQ(Crc32(digits, 9), 0xCBF43926u);
  EXPECT_EQ(Crc16(digits, 0), 0xFFFF);
  EXPECT_EQ(Crc32(digits, 0), 0u);
}

// Every start alignment and every length up to a few rounds past 16 bytes exercises the
// leading bytes, the 16-byte rounds and the tail in all combinations.
TEST(Crc, SlicedTablesMatchBitwiseOnEveryAlignmentAndLength) {
  std::mt19937 rng(12345);
  std::vector<uint8_t> buffer(4096 + 8);
  for (auto& b : buffer) b = static_cast<uint8_t>(rng());
  for (std::size_t offset = 0; offset < 8; ++offset) {
    for (std::size_t len = 0; len <= 80; ++len) {
      const uint8_t* p = buffer.data() + offset;
      ASSERT_EQ(Crc16(p, len), ReferenceCrc16(p, len)) << "offset " << offset << " len " << len;
      ASSERT_EQ(Crc32(p, len), ReferenceCrc32(p, len)) << "offset " << offset << " len " << len;
    }
    const uint8_t* p = buffer.data() + offset;
    const std::size_t len = 4096 - offset;
    EXPECT_EQ(Crc16(p, len), ReferenceCrc16(p, len));
    EXPECT_EQ(Crc32(p, len), ReferenceCrc32(p, len));
  }
}

}  // namespace
}  // namespace lidar::sdk
