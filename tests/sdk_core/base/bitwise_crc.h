// Bit-at-a-time definitions of the control frame's two checksums: the reference the sliced
// tables are checked against, and the checksums of frames that test peers build without the
// SDK's own code.
#pragma once

#include <cstddef>
#include <cstdint>

namespace lidar::sdk::testing {

// CRC-16/CCITT-FALSE.
inline uint16_t BitwiseCrc16(const uint8_t* data, std::size_t size) {
  uint16_t crc = 0xFFFF;
  for (std::size_t i = 0; i < size; ++i) {
    crc = static_cast<uint16_t>(crc ^ (data[i] << 8));
    for (int bit = 0; bit < 8; ++bit) {
      crc = static_cast<uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
    }
  }
  return crc;
}

// CRC-32 of ISO-HDLC / zlib.
inline uint32_t BitwiseCrc32(const uint8_t* data, std::size_t size) {
  uint32_t crc = 0xFFFFFFFFu;
  for (std::size_t i = 0; i < size; ++i) {
    crc ^= data[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
  }
  return crc ^ 0xFFFFFFFFu;
}

}  // namespace lidar::sdk::testing
