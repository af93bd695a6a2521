#include "sdk_protocol.h"

#include <atomic>
#include <cstring>
#include <limits>

#include "lidar_byte_io.h"
#include "base/crc.h"
#include "base/sdk_health_counters.h"

namespace lidar::sdk {
namespace {

// Header offsets.
constexpr uint32_t kOffsetSof = 0;
constexpr uint32_t kOffsetVersion = 1;
constexpr uint32_t kOffsetLength = 2;
constexpr uint32_t kOffsetSeq = 4;
constexpr uint32_t kOffsetCmdId = 8;
constexpr uint32_t kOffsetCmdType = 10;
constexpr uint32_t kOffsetSenderType = 11;
constexpr uint32_t kOffsetCrc16 = 18;
constexpr uint32_t kOffsetCrc32 = 20;
constexpr uint8_t kFrameVersion = 0;

}  // namespace

int32_t SdkProtocol::Pack(uint8_t* buffer, uint32_t buffer_size, uint32_t* frame_length,
                          const CommPacket& packet) {
  if (packet.protocol != 0 || buffer == nullptr || frame_length == nullptr) return -1;
  if (packet.data_len != 0 && packet.data == nullptr) return -1;
  // Computed wide: a payload near 64 KiB must not wrap the length and slip past the size check.
  const uint32_t length = kFrameHeaderSize + static_cast<uint32_t>(packet.data_len);
  if (length > buffer_size || length > std::numeric_limits<uint16_t>::max()) return -1;

  buffer[kOffsetSof] = kSof;
  buffer[kOffsetVersion] = kFrameVersion;
  store_le<uint16_t>(buffer + kOffsetLength, static_cast<uint16_t>(length));
  store_le<uint32_t>(buffer + kOffsetSeq, packet.seq_num & 0xFFFFu);
  store_le<uint16_t>(buffer + kOffsetCmdId, packet.cmd_id);
  buffer[kOffsetCmdType] = packet.cmd_type;
  buffer[kOffsetSenderType] = packet.sender_type;

  crc16_ = Crc16(buffer, kOffsetCrc16);
  store_le<uint16_t>(buffer + kOffsetCrc16, crc16_);
  crc32_ = packet.data_len != 0 ? Crc32(packet.data, packet.data_len) : 0;
  store_le<uint32_t>(buffer + kOffsetCrc32, crc32_);

  if (packet.data_len != 0) std::memcpy(buffer + kFrameHeaderSize, packet.data, packet.data_len);
  *frame_length = length;
  return 0;
}

bool SdkProtocol::CheckPacket(const uint8_t* bytes, uint32_t count) {
  if (bytes == nullptr) return false;
  HealthCounters& health = HealthCounters::Instance();
  const bool framed = count >= kFrameHeaderSize && bytes[kOffsetSof] == kSof &&
                      bytes[kOffsetVersion] == kFrameVersion;
  const uint32_t length = framed ? load_le<uint16_t>(bytes + kOffsetLength) : 0;
  if (!framed || length < kFrameHeaderSize || length > count) {
    health.CountMalformed();
    return false;
  }

  crc16_ = Crc16(bytes, kOffsetCrc16);
  if (crc16_ != load_le<uint16_t>(bytes + kOffsetCrc16)) {
    health.CountCrcRejected();
    return false;
  }
  crc32_ = length == kFrameHeaderSize
               ? 0
               : Crc32(bytes + kFrameHeaderSize, length - kFrameHeaderSize);
  if (crc32_ != load_le<uint32_t>(bytes + kOffsetCrc32)) {
    health.CountCrcRejected();
    return false;
  }
  return true;
}

bool SdkProtocol::ParsePacket(uint8_t* bytes, uint32_t count, CommPacket* packet) {
  if (bytes == nullptr || packet == nullptr || count < kFrameHeaderSize) return false;
  // The payload must lie inside the bytes received, even when the caller skipped CheckPacket.
  const uint32_t length = load_le<uint16_t>(bytes + kOffsetLength);
  if (length < kFrameHeaderSize || length > count) return false;

  *packet = CommPacket{};
  packet->version = bytes[kOffsetVersion];
  packet->seq_num = load_le<uint32_t>(bytes + kOffsetSeq);
  packet->cmd_id = load_le<uint16_t>(bytes + kOffsetCmdId);
  packet->cmd_type = bytes[kOffsetCmdType];
  packet->sender_type = bytes[kOffsetSenderType];
  packet->data = bytes + kFrameHeaderSize;
  packet->data_len = static_cast<uint16_t>(length - kFrameHeaderSize);
  return true;
}

uint32_t SdkProtocol::GetPreambleLen() { return kFrameHeaderSize; }

uint32_t SdkProtocol::GetPacketWrapperLen() { return kFrameHeaderSize; }

uint32_t SdkProtocol::GetPacketLen(const uint8_t* bytes) {
  return bytes == nullptr ? 0 : load_le<uint16_t>(bytes + kOffsetLength);
}

uint32_t GenerateSeq() {
  static std::atomic<uint32_t> seq{1};
  uint32_t current = seq.load();
  uint32_t next = 0;
  do {
    next = current >= 0xFFFFu ? 1 : current + 1;
  } while (!seq.compare_exchange_weak(current, next));
  return next;
}

}  // namespace lidar::sdk
