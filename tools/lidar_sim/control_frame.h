// Control frames as the device sees them: 24-byte header (start byte, version, length, sequence,
// command, type, sender, reserved, CRC-16 of the header, CRC-32 of the payload) and the payload.
#pragma once

#include <cstddef>
#include <cstdint>

#include "lidar_sim/wire.h"

namespace lidar_sim {

constexpr std::size_t kFrameHeaderSize = 24;
constexpr uint8_t kFrameStart = 0xAA;

constexpr uint16_t kCmdDetection = 0x0000;
constexpr uint16_t kCmdWriteParams = 0x0100;
constexpr uint16_t kCmdQueryInfo = 0x0101;
constexpr uint16_t kCmdPushInfo = 0x0102;

constexpr uint8_t kCmdTypeRequest = 0;
constexpr uint8_t kCmdTypeAck = 1;
constexpr uint8_t kSenderHost = 0;
constexpr uint8_t kSenderLidar = 1;

struct ControlFrame {
  uint32_t seq = 0;
  uint16_t cmd_id = 0;
  uint8_t cmd_type = 0;
  uint8_t sender_type = 0;
  Bytes payload;
};

enum class FrameCheck {
  kOk,
  kTooShort,
  kBadStart,
  kBadVersion,
  kBadLength,
  kBadHeaderCrc,
  kBadPayloadCrc,
};

const char* describe(FrameCheck check);

// Whole frame for `frame`; the payload must fit the 16-bit length field.
Bytes encode_frame(const ControlFrame& frame);

// Checks both checksums and the length against the received count; fills `out` only when kOk.
FrameCheck decode_frame(const uint8_t* data, std::size_t size, ControlFrame& out);

}  // namespace lidar_sim
