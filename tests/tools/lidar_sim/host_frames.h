// The host's side of the control protocol, written out byte by byte for the tests so that the
// simulator's own encoder is never the only judge of its frames.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <vector>

#include "base/crc.h"

namespace lidar_sim_test {

using Bytes = std::vector<uint8_t>;

inline uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}

// A frame as the host sends it: start 0xAA, version 0, length, sequence, command, type 0,
// sender 0, six reserved zeros, CRC-16 of bytes 0..17, CRC-32 of the payload.
inline Bytes host_request(uint16_t cmd_id, uint32_t seq, const Bytes& payload = {}) {
  Bytes f(24 + payload.size(), 0);
  f[0] = 0xAA;
  const uint16_t len = static_cast<uint16_t>(f.size());
  f[2] = static_cast<uint8_t>(len);
  f[3] = static_cast<uint8_t>(len >> 8);
  for (int i = 0; i < 4; ++i) f[4 + i] = static_cast<uint8_t>(seq >> (8 * i));
  f[8] = static_cast<uint8_t>(cmd_id);
  f[9] = static_cast<uint8_t>(cmd_id >> 8);
  const uint16_t crc16 = lidar::sdk::Crc16(f.data(), 18);
  f[18] = static_cast<uint8_t>(crc16);
  f[19] = static_cast<uint8_t>(crc16 >> 8);
  const uint32_t crc32 = payload.empty() ? 0 : lidar::sdk::Crc32(payload.data(), payload.size());
  for (int i = 0; i < 4; ++i) f[20 + i] = static_cast<uint8_t>(crc32 >> (8 * i));
  for (std::size_t i = 0; i < payload.size(); ++i) f[24 + i] = payload[i];
  return f;
}

// One-key write of a one-byte value, as the host's parameter commands build it.
inline Bytes write_u8(uint16_t key, uint8_t value) {
  return Bytes{1, 0, 0, 0, static_cast<uint8_t>(key), static_cast<uint8_t>(key >> 8), 1, 0, value};
}

inline Bytes query_keys(std::initializer_list<uint16_t> keys) {
  Bytes p{static_cast<uint8_t>(keys.size()), static_cast<uint8_t>(keys.size() >> 8), 0, 0};
  for (uint16_t k : keys) {
    p.push_back(static_cast<uint8_t>(k));
    p.push_back(static_cast<uint8_t>(k >> 8));
  }
  return p;
}

// The Omni key list of the host's internal-information query.
inline const std::initializer_list<uint16_t>& omni_query_keys() {
  static const std::initializer_list<uint16_t> keys = {
      0x0000, 0x0001, 0x0004, 0x0005, 0x0006, 0x0007, 0x0012, 0x0015, 0x0016, 0x0017,
      0x0018, 0x0019, 0x001A, 0x001C, 0x8000, 0x8001, 0x8002, 0x8003, 0x8004, 0x8005,
      0x8006, 0x8007, 0x8008, 0x8009, 0x800A, 0x800B, 0x800C, 0x800E, 0x8010, 0x8011};
  return keys;
}

// The configuration request telling an Omni unit to send state, points and IMU data to
// 192.168.1.50 ports 56201, 56301, 56401 (from its ports 56200, 56300, 56400).
inline Bytes omni_config_192_168_1_50() {
  return Bytes{0x03, 0x00, 0x00, 0x00, 0x05, 0x00, 0x08, 0x00, 0xC0, 0xA8, 0x01, 0x32, 0x89, 0xDB,
               0x88, 0xDB, 0x06, 0x00, 0x08, 0x00, 0xC0, 0xA8, 0x01, 0x32, 0xED, 0xDB, 0xEC, 0xDB,
               0x07, 0x00, 0x08, 0x00, 0xC0, 0xA8, 0x01, 0x32, 0x51, 0xDC, 0x50, 0xDC};
}

struct ReplyView {
  bool valid = false;
  uint32_t seq = 0;
  uint16_t cmd_id = 0;
  uint8_t cmd_type = 0;
  uint8_t sender_type = 0;
  Bytes payload;
};

// Checks a frame from the unit the way the host does and splits it.
inline ReplyView read_reply(const Bytes& f) {
  ReplyView v;
  if (f.size() < 24 || f[0] != 0xAA || f[1] != 0) return v;
  const uint16_t len = le16(&f[2]);
  if (len < 24 || len > f.size()) return v;
  if (lidar::sdk::Crc16(f.data(), 18) != le16(&f[18])) return v;
  const uint32_t crc32 = len == 24 ? 0 : lidar::sdk::Crc32(f.data() + 24, len - 24u);
  if (crc32 != le32(&f[20])) return v;
  v.valid = true;
  v.seq = le32(&f[4]);
  v.cmd_id = le16(&f[8]);
  v.cmd_type = f[10];
  v.sender_type = f[11];
  v.payload.assign(f.begin() + 24, f.begin() + len);
  return v;
}

struct KeyValue {
  uint16_t key;
  Bytes value;
};

// Entries of an information answer (ret_code, param_num, entries) or of a state message
// (key_num, reserved, entries); `ok` is false when an entry runs past the end.
inline std::vector<KeyValue> walk_entries(const Bytes& p, std::size_t first, uint16_t count, bool& ok) {
  std::vector<KeyValue> out;
  std::size_t at = first;
  ok = true;
  for (uint16_t i = 0; i < count; ++i) {
    if (at + 4 > p.size()) {
      ok = false;
      break;
    }
    const uint16_t k = le16(&p[at]);
    const uint16_t n = le16(&p[at + 2]);
    if (at + 4 + n > p.size()) {
      ok = false;
      break;
    }
    out.push_back(KeyValue{k, Bytes(p.begin() + at + 4, p.begin() + at + 4 + n)});
    at += 4 + n;
  }
  if (at != p.size()) ok = false;
  return out;
}

}  // namespace lidar_sim_test
