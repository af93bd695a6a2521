// Control-protocol framing: 24-byte header (sof 0xAA, version 0, length, seq, cmd id/type,
// sender, CRC-16 over the header, CRC-32 over the payload) followed by the payload.
#pragma once

#include <cstdint>
#include <memory>

namespace lidar::sdk {

constexpr uint8_t kSof = 0xAA;
constexpr uint32_t kFrameHeaderSize = 24;
constexpr uint32_t kMaxCommandBufferSize = 1400;  // largest frame the SDK packs
constexpr uint8_t kCommandTypeRequest = 0;
constexpr uint8_t kCommandTypeAck = 1;
constexpr uint8_t kSenderHost = 0;

constexpr uint16_t kCommandIdDetection = 0x0000;
constexpr uint16_t kCommandIdWriteKeyValue = 0x0100;
constexpr uint16_t kCommandIdReadInternalInfo = 0x0101;
constexpr uint16_t kCommandIdPushMessage = 0x0102;

// A decoded frame, or one to be packed.
struct CommPacket {
  uint8_t protocol = 0;     // 0 for this protocol; Pack refuses others
  uint8_t version = 0;      // requests carry 3; never written to the frame
  uint32_t seq_num = 0;
  uint16_t cmd_id = 0;
  uint8_t cmd_type = 0;
  uint8_t sender_type = 0;
  uint8_t* data = nullptr;  // for a decoded frame: points into the received buffer
  uint16_t data_len = 0;
};

class Protocol {
 public:
  virtual ~Protocol() = default;
  virtual bool ParsePacket(uint8_t* bytes, uint32_t count, CommPacket* packet) = 0;
  // 0 on success, -1 when the packet cannot be framed into the buffer.
  virtual int32_t Pack(uint8_t* buffer, uint32_t buffer_size, uint32_t* frame_length,
                       const CommPacket& packet) = 0;
  virtual uint32_t GetPreambleLen() = 0;
  virtual uint32_t GetPacketWrapperLen() = 0;
  virtual uint32_t GetPacketLen(const uint8_t* bytes) = 0;
  virtual bool CheckPacket(const uint8_t* bytes, uint32_t count) = 0;
};

class SdkProtocol : public Protocol {
 public:
  bool ParsePacket(uint8_t* bytes, uint32_t count, CommPacket* packet) override;
  int32_t Pack(uint8_t* buffer, uint32_t buffer_size, uint32_t* frame_length,
               const CommPacket& packet) override;
  uint32_t GetPreambleLen() override;
  uint32_t GetPacketWrapperLen() override;
  uint32_t GetPacketLen(const uint8_t* bytes) override;
  bool CheckPacket(const uint8_t* bytes, uint32_t count) override;

 private:
  uint16_t crc16_ = 0;
  uint32_t crc32_ = 0;
};

// Owner of one SdkProtocol; not for concurrent use from two threads.
class CommPort {
 public:
  CommPort();
  int32_t Pack(uint8_t* buffer, uint32_t buffer_size, const CommPacket& packet,
               uint32_t* frame_length);
  // CheckPacket then ParsePacket; a failed check prints "Comm Port Check Preamble error.".
  bool ParseCommStream(uint8_t* bytes, uint32_t count, CommPacket* packet);

 private:
  std::unique_ptr<Protocol> protocol_;
};

// Process-wide request sequence numbers: 2, 3, ..., 65535, 1, 2, ...
uint32_t GenerateSeq();

}  // namespace lidar::sdk
