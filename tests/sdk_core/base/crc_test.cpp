#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "base/crc.h"
#include "tests/sdk_core/base/bitwise_crc.h"

namespace lidar::sdk {
namespace {

using testing::BitwiseCrc16;
using testing::BitwiseCrc32;

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
      ASSERT_EQ(Crc16(p, len), BitwiseCrc16(p, len)) << "offset " << offset << " len " << len;
      ASSERT_EQ(Crc32(p, len), BitwiseCrc32(p, len)) << "offset " << offset << " len " << len;
    }
    const uint8_t* p = buffer.data() + offset;
    const std::size_t len = 4096 - offset;
    EXPECT_EQ(Crc16(p, len), BitwiseCrc16(p, len));
    EXPECT_EQ(Crc32(p, len), BitwiseCrc32(p, len));
  }
}

}  // namespace
}  // namespace lidar::sdk
