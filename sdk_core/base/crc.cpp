#include "crc.h"

#include <array>

#include "lidar_byte_io.h"

// Slicing by 4: table k holds the checksum contribution of a byte followed by k zero bytes, so
// four input bytes fold into the register with four lookups instead of four dependent steps.
namespace lidar::sdk {
namespace {

using Crc16Tables = std::array<std::array<uint16_t, 256>, 4>;
using Crc32Tables = std::array<std::array<uint32_t, 256>, 4>;

constexpr Crc16Tables MakeCrc16Tables() {
  Crc16Tables t{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t crc = i << 8;
    for (int b = 0; b < 8; ++b) crc = (crc & 0x8000u) ? (crc << 1) ^ 0x1021u : crc << 1;
    t[0][i] = static_cast<uint16_t>(crc);
  }
  for (std::size_t k = 1; k < 4; ++k) {
    for (std::size_t i = 0; i < 256; ++i) {
      const uint16_t prev = t[k - 1][i];
      t[k][i] = static_cast<uint16_t>((prev << 8) ^ t[0][prev >> 8]);
    }
  }
  return t;
}

constexpr Crc32Tables MakeCrc32Tables() {
  Crc32Tables t{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t crc = i;
    for (int b = 0; b < 8; ++b) crc = (crc & 1u) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
    t[0][i] = crc;
  }
  for (std::size_t k = 1; k < 4; ++k) {
    for (std::size_t i = 0; i < 256; ++i) {
      const uint32_t prev = t[k - 1][i];
      t[k][i] = (prev >> 8) ^ t[0][prev & 0xFFu];
    }
  }
  return t;
}

constexpr Crc16Tables kCrc16 = MakeCrc16Tables();
constexpr Crc32Tables kCrc32 = MakeCrc32Tables();

inline uint16_t Crc16Byte(uint16_t crc, uint8_t byte) {
  return static_cast<uint16_t>((crc << 8) ^ kCrc16[0][((crc >> 8) ^ byte) & 0xFFu]);
}

inline uint32_t Crc32Byte(uint32_t crc, uint8_t byte) {
  return (crc >> 8) ^ kCrc32[0][(crc ^ byte) & 0xFFu];
}

// The register meets the first two bytes of the word (most significant byte first).
inline uint16_t Crc16Word(uint16_t crc, const uint8_t* p) {
  return static_cast<uint16_t>(kCrc16[3][p[0] ^ (crc >> 8)] ^ kCrc16[2][p[1] ^ (crc & 0xFFu)] ^
                               kCrc16[1][p[2]] ^ kCrc16[0][p[3]]);
}

// Reflected: the register meets the word read little-endian.
inline uint32_t Crc32Word(uint32_t crc, const uint8_t* p) {
  crc ^= load_le<uint32_t>(p);
  return kCrc32[3][crc & 0xFFu] ^ kCrc32[2][(crc >> 8) & 0xFFu] ^ kCrc32[1][(crc >> 16) & 0xFFu] ^
         kCrc32[0][crc >> 24];
}

// Bytes until data is 4-byte aligned, capped at size.
inline std::size_t LeadingBytes(const uint8_t* data, std::size_t size) {
  const auto misalign = reinterpret_cast<std::uintptr_t>(data) & 3u;
  const std::size_t lead = misalign ? 4 - misalign : 0;
  return lead < size ? lead : size;
}

}  // namespace

uint16_t Crc16(const uint8_t* data, std::size_t size) {
  uint16_t crc = 0xFFFF;
  if (data == nullptr) return crc;
  const std::size_t lead = LeadingBytes(data, size);
  for (std::size_t i = 0; i < lead; ++i) crc = Crc16Byte(crc, *data++);
  size -= lead;
  for (; size >= 16; size -= 16, data += 16) {
    crc = Crc16Word(crc, data);
    crc = Crc16Word(crc, data + 4);
    crc = Crc16Word(crc, data + 8);
    crc = Crc16Word(crc, data + 12);
  }
  while (size-- > 0) crc = Crc16Byte(crc, *data++);
  return crc;
}

uint32_t Crc32(const uint8_t* data, std::size_t size) {
  uint32_t crc = 0xFFFFFFFFu;
  if (data == nullptr) return crc ^ 0xFFFFFFFFu;
  const std::size_t lead = LeadingBytes(data, size);
  for (std::size_t i = 0; i < lead; ++i) crc = Crc32Byte(crc, *data++);
  size -= lead;
  for (; size >= 16; size -= 16, data += 16) {
    crc = Crc32Word(crc, data);
    crc = Crc32Word(crc, data + 4);
    crc = Crc32Word(crc, data + 8);
    crc = Crc32Word(crc, data + 12);
  }
  while (size-- > 0) crc = Crc32Byte(crc, *data++);
  return crc ^ 0xFFFFFFFFu;
}

}  // namespace lidar::sdk
