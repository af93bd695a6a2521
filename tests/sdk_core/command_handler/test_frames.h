// Frames as a LiDAR sends them, and the decoding of frames the host sent, for the tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "lidar_byte_io.h"
#include "base/ipv4_address.h"
#include "sdk_protocol.h"

namespace lidar::sdk::testing {

inline uint32_t HandleOf(const char* ip) { return IpToHandle(ip); }

// One framed datagram.
inline std::vector<uint8_t> Frame(uint32_t seq, uint16_t cmd_id, uint8_t cmd_type,
                                  std::vector<uint8_t> payload) {
  CommPacket packet;
  packet.seq_num = seq;
  packet.cmd_id = cmd_id;
  packet.cmd_type = cmd_type;
  packet.sender_type = 1;
  packet.data = payload.empty() ? nullptr : payload.data();
  packet.data_len = static_cast<uint16_t>(payload.size());
  std::vector<uint8_t> frame(kFrameHeaderSize + payload.size(), 0);
  uint32_t length = 0;
  CommPort port;
  port.Pack(frame.data(), static_cast<uint32_t>(frame.size()), packet, &length);
  return frame;
}

inline std::vector<uint8_t> Ack(uint32_t seq, uint16_t cmd_id, std::vector<uint8_t> payload) {
  return Frame(seq, cmd_id, kCommandTypeAck, std::move(payload));
}

// Detection reply payload: ret_code, dev_type, sn[16], address, command port.
inline std::vector<uint8_t> DetectionPayload(uint8_t ret_code, uint8_t dev_type,
                                             const std::string& sn, const char* ip,
                                             uint16_t cmd_port) {
  std::vector<uint8_t> payload(24, 0);
  payload[0] = ret_code;
  payload[1] = dev_type;
  for (std::size_t i = 0; i < sn.size() && i < 16; ++i) payload[2 + i] = static_cast<uint8_t>(sn[i]);
  const uint32_t handle = IpToHandle(ip);
  for (std::size_t i = 0; i < 4; ++i) payload[18 + i] = static_cast<uint8_t>(handle >> (8 * i));
  store_le<uint16_t>(payload.data() + 22, cmd_port);
  return payload;
}

inline std::vector<uint8_t> DetectionReply(uint8_t ret_code, uint8_t dev_type,
                                           const std::string& sn, const char* ip,
                                           uint16_t cmd_port) {
  return Ack(1, kCommandIdDetection, DetectionPayload(ret_code, dev_type, sn, ip, cmd_port));
}

// A frame the host sent, decoded.
struct SentRequest {
  uint32_t seq = 0;
  uint16_t cmd_id = 0;
  uint8_t cmd_type = 0;
  std::vector<uint8_t> payload;
};

inline SentRequest Decode(std::vector<uint8_t> frame) {
  SentRequest out;
  CommPacket packet;
  CommPort port;
  if (!port.ParseCommStream(frame.data(), static_cast<uint32_t>(frame.size()), &packet)) return out;
  out.seq = packet.seq_num;
  out.cmd_id = packet.cmd_id;
  out.cmd_type = packet.cmd_type;
  out.payload.assign(packet.data, packet.data + packet.data_len);
  return out;
}

// One key/value entry of a parameter list.
struct Entry {
  uint16_t key;
  std::vector<uint8_t> value;
};

// Appends the entries as (key, length, value) after a list's fixed part of `fixed` bytes, whose
// u16 entry count sits at `count_offset`.
inline std::vector<uint8_t> EntryList(std::size_t fixed, std::size_t count_offset,
                                      const std::vector<Entry>& entries) {
  std::vector<uint8_t> list(fixed, 0);
  store_le<uint16_t>(list.data() + count_offset, static_cast<uint16_t>(entries.size()));
  for (const Entry& entry : entries) {
    const std::size_t at = list.size();
    list.resize(at + 4);
    store_le<uint16_t>(list.data() + at, entry.key);
    store_le<uint16_t>(list.data() + at + 2, static_cast<uint16_t>(entry.value.size()));
    list.insert(list.end(), entry.value.begin(), entry.value.end());
  }
  return list;
}

// Internal-information answer: ret_code, param_num, then the entries.
inline std::vector<uint8_t> InfoAnswer(uint8_t ret_code, const std::vector<Entry>& entries) {
  std::vector<uint8_t> payload = EntryList(kKeyValueAnswerHeaderSize, 1, entries);
  payload[0] = ret_code;
  return payload;
}

// Push message data: key_num, two reserved bytes, then the entries.
inline std::vector<uint8_t> PushData(const std::vector<Entry>& entries) {
  return EntryList(4, 0, entries);
}

}  // namespace lidar::sdk::testing
