// Little-endian field access for the simulator's own encoders and decoders. Kept separate from the
// SDK's byte helpers on purpose: the simulator checks the SDK's framing, so it must not share it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace lidar_sim {

using Bytes = std::vector<uint8_t>;

inline uint16_t get_u16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t get_u32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline void put_u16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void put_u32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void put_u64(uint8_t* p, uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void put_i32(uint8_t* p, int32_t v) { put_u32(p, static_cast<uint32_t>(v)); }
inline void put_i16(uint8_t* p, int16_t v) { put_u16(p, static_cast<uint16_t>(v)); }
inline void put_f32(uint8_t* p, float v) {
  uint32_t u;
  std::memcpy(&u, &v, 4);
  put_u32(p, u);
}
inline float get_f32(const uint8_t* p) {
  uint32_t u = get_u32(p);
  float v;
  std::memcpy(&v, &u, 4);
  return v;
}

// Appending writer for building payloads.
class Writer {
 public:
  explicit Writer(Bytes& out) : out_(out) {}
  void u8(uint8_t v) { out_.push_back(v); }
  void u16(uint16_t v) { grow(2, [&](uint8_t* p) { put_u16(p, v); }); }
  void u32(uint32_t v) { grow(4, [&](uint8_t* p) { put_u32(p, v); }); }
  void u64(uint64_t v) { grow(8, [&](uint8_t* p) { put_u64(p, v); }); }
  void bytes(const uint8_t* p, std::size_t n) { out_.insert(out_.end(), p, p + n); }
  void bytes(const Bytes& b) { out_.insert(out_.end(), b.begin(), b.end()); }
  // Text padded with zeros (or cut) to exactly `size` bytes.
  void text(const std::string& s, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) out_.push_back(i < s.size() ? static_cast<uint8_t>(s[i]) : 0);
  }

 private:
  template <typename F>
  void grow(std::size_t n, F&& f) {
    out_.resize(out_.size() + n);
    f(out_.data() + out_.size() - n);
  }
  Bytes& out_;
};

// Sequential reader that refuses to step past the received bytes.
class Reader {
 public:
  Reader(const uint8_t* data, std::size_t size) : data_(data), size_(data ? size : 0) {}
  bool u8(uint8_t& v) {
    if (left() < 1) return false;
    v = data_[pos_++];
    return true;
  }
  bool u16(uint16_t& v) {
    if (left() < 2) return false;
    v = get_u16(data_ + pos_);
    pos_ += 2;
    return true;
  }
  const uint8_t* take(std::size_t n) {
    if (left() < n) return nullptr;
    const uint8_t* p = data_ + pos_;
    pos_ += n;
    return p;
  }
  std::size_t left() const { return size_ - pos_; }

 private:
  const uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

// IPv4 address as four octets, first octet first.
struct Ipv4 {
  uint8_t o[4] = {0, 0, 0, 0};
  bool operator==(const Ipv4& r) const { return std::memcmp(o, r.o, 4) == 0; }
  bool operator!=(const Ipv4& r) const { return !(*this == r); }
  bool is_zero() const { return (o[0] | o[1] | o[2] | o[3]) == 0; }
};

bool parse_ipv4(const std::string& text, Ipv4& out);
std::string to_string(const Ipv4& ip);

}  // namespace lidar_sim
