// Little-endian reads and writes over byte buffers. Reads are bounds-checked against the bytes
// actually present, so untrusted datagrams are never read through packed structs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

namespace lidar {

// Value of type T stored little-endian at p (caller guarantees sizeof(T) bytes).
template <typename T>
inline T load_le(const uint8_t* p) {
  static_assert(std::is_trivially_copyable<T>::value, "plain values only");
  using U = std::conditional_t<sizeof(T) == 1, uint8_t,
            std::conditional_t<sizeof(T) == 2, uint16_t,
            std::conditional_t<sizeof(T) == 4, uint32_t, uint64_t>>>;
  static_assert(sizeof(T) == sizeof(U), "1, 2, 4 or 8 bytes");
  U u = 0;
  for (std::size_t i = 0; i < sizeof(U); ++i) u |= static_cast<U>(static_cast<U>(p[i]) << (8 * i));
  T value;
  std::memcpy(&value, &u, sizeof(T));
  return value;
}

// Stores value little-endian at p (caller guarantees sizeof(T) bytes of room).
template <typename T>
inline void store_le(uint8_t* p, T value) {
  static_assert(std::is_trivially_copyable<T>::value, "plain values only");
  using U = std::conditional_t<sizeof(T) == 1, uint8_t,
            std::conditional_t<sizeof(T) == 2, uint16_t,
            std::conditional_t<sizeof(T) == 4, uint32_t, uint64_t>>>;
  static_assert(sizeof(T) == sizeof(U), "1, 2, 4 or 8 bytes");
  U u;
  std::memcpy(&u, &value, sizeof(T));
  for (std::size_t i = 0; i < sizeof(U); ++i) p[i] = static_cast<uint8_t>(u >> (8 * i));
}

// Sequential reader over [data, data + size); every read reports whether the bytes were there.
class ByteReader {
 public:
  ByteReader(const uint8_t* data, std::size_t size) : data_(data), size_(data ? size : 0) {}

  template <typename T>
  bool read(T& out) {
    if (remaining() < sizeof(T)) return false;
    out = load_le<T>(data_ + pos_);
    pos_ += sizeof(T);
    return true;
  }
  bool skip(std::size_t n) {
    if (remaining() < n) return false;
    pos_ += n;
    return true;
  }
  // Points at the next n bytes and moves past them; null when fewer remain.
  const uint8_t* take(std::size_t n) {
    if (remaining() < n) return nullptr;
    const uint8_t* p = data_ + pos_;
    pos_ += n;
    return p;
  }
  std::size_t remaining() const { return size_ - pos_; }
  std::size_t position() const { return pos_; }

 private:
  const uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

}  // namespace lidar
