// The control frame's two checksums, table-driven (slicing by 4).
#pragma once

#include <cstddef>
#include <cstdint>

namespace lidar::sdk {

// CRC-16/CCITT-FALSE: poly 0x1021, init 0xFFFF, no reflection, no final XOR ("123456789" -> 0x29B1).
uint16_t Crc16(const uint8_t* data, std::size_t size);
// CRC-32 (ISO-HDLC / zlib): reflected poly 0xEDB88320, init and final XOR 0xFFFFFFFF
// ("123456789" -> 0xCBF43926).
uint32_t Crc32(const uint8_t* data, std::size_t size);

}  // namespace lidar::sdk
