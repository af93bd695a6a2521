#include "control_frame.h"

#include "base/crc.h"

namespace lidar_sim {

const char* describe(FrameCheck check) {
  switch (check) {
    case FrameCheck::kOk: return "ok";
    case FrameCheck::kTooShort: return "shorter than a header";
    case FrameCheck::kBadStart: return "bad start byte";
    case FrameCheck::kBadVersion: return "unknown version";
    case FrameCheck::kBadLength: return "length field disagrees with datagram";
    case FrameCheck::kBadHeaderCrc: return "header CRC mismatch";
    case FrameCheck::kBadPayloadCrc: return "payload CRC mismatch";
  }
  return "?";
}

Bytes encode_frame(const ControlFrame& frame) {
  const std::size_t length = kFrameHeaderSize + frame.payload.size();
  Bytes out(length, 0);
  out[0] = kFrameStart;
  out[1] = 0;
  put_u16(&out[2], static_cast<uint16_t>(length));
  put_u32(&out[4], frame.seq);
  put_u16(&out[8], frame.cmd_id);
  out[10] = frame.cmd_type;
  out[11] = frame.sender_type;
  put_u16(&out[18], lidar::sdk::Crc16(out.data(), 18));
  const uint32_t crc32 =
      frame.payload.empty() ? 0 : lidar::sdk::Crc32(frame.payload.data(), frame.payload.size());
  put_u32(&out[20], crc32);
  std::copy(frame.payload.begin(), frame.payload.end(), out.begin() + kFrameHeaderSize);
  return out;
}

FrameCheck decode_frame(const uint8_t* data, std::size_t size, ControlFrame& out) {
  if (data == nullptr || size < kFrameHeaderSize) return FrameCheck::kTooShort;
  if (data[0] != kFrameStart) return FrameCheck::kBadStart;
  if (data[1] != 0) return FrameCheck::kBadVersion;
  const uint16_t length = get_u16(data + 2);
  if (length < kFrameHeaderSize || length > size) return FrameCheck::kBadLength;
  if (lidar::sdk::Crc16(data, 18) != get_u16(data + 18)) return FrameCheck::kBadHeaderCrc;
  const std::size_t payload_size = length - kFrameHeaderSize;
  const uint32_t crc32 = payload_size == 0 ? 0 : lidar::sdk::Crc32(data + kFrameHeaderSize, payload_size);
  if (crc32 != get_u32(data + 20)) return FrameCheck::kBadPayloadCrc;
  out.seq = get_u32(data + 4);
  out.cmd_id = get_u16(data + 8);
  out.cmd_type = data[10];
  out.sender_type = data[11];
  out.payload.assign(data + kFrameHeaderSize, data + length);
  return FrameCheck::kOk;
}

}  // namespace lidar_sim
