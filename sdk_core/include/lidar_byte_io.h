// Little-endian reads and writes over byte buffers, and the walk over key/value entry lists.
// Reads are bounds-checked against the bytes actually present, so untrusted datagrams are never
// read through packed structs.
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

// One key/value entry of a parameter list: key u16, value length u16, then the value.
struct KeyValueEntry {
  uint16_t key = 0;
  uint16_t length = 0;
  const uint8_t* value = nullptr;
};

// The fixed part of an answer that carries a key/value list (the internal-information
// acknowledgement): ret_code u8, then the number of entries u16.
constexpr std::size_t kKeyValueAnswerHeaderSize = 3;

// Walks key/value entries laid back to back in [data, data + size): at most `declared` of them,
// ending for good at the first one that does not lie wholly inside the bytes.
class KeyValueEntries {
 public:
  KeyValueEntries(const uint8_t* data, std::size_t size, uint16_t declared)
      : reader_(data, size), declared_(declared) {}

  // The entries of an answer received in `size` bytes: ret_code u8, count u16, entries.
  static KeyValueEntries OfAnswer(const uint8_t* answer, std::size_t size) {
    if (answer == nullptr || size < kKeyValueAnswerHeaderSize) {
      return KeyValueEntries(nullptr, 0, 0);
    }
    return KeyValueEntries(answer + kKeyValueAnswerHeaderSize, size - kKeyValueAnswerHeaderSize,
                           load_le<uint16_t>(answer + 1));
  }

  // The entries of an answer as the SDK hands it to a completion function: it arrives without
  // its size, but its count covers only the entries that were received whole, and those cannot
  // reach further than `count` entries of the longest value could.
  static KeyValueEntries OfDeliveredAnswer(const uint8_t* answer) {
    if (answer == nullptr) return KeyValueEntries(nullptr, 0, 0);
    const uint16_t count = load_le<uint16_t>(answer + 1);
    return KeyValueEntries(answer + kKeyValueAnswerHeaderSize,
                           static_cast<std::size_t>(count) * (4 + UINT16_MAX), count);
  }

  // The next whole entry; false once `declared` entries were walked or one is cut short.
  bool next(KeyValueEntry& entry) {
    if (walked_ == declared_) return false;
    KeyValueEntry found;
    if (!reader_.read(found.key) || !reader_.read(found.length) ||
        (found.value = reader_.take(found.length)) == nullptr) {
      declared_ = walked_;
      return false;
    }
    entry = found;
    ++walked_;
    return true;
  }

  // Walks past the remaining whole entries; the number of entries walked in all.
  uint16_t walk_to_end() {
    KeyValueEntry entry;
    while (next(entry)) {
    }
    return walked_;
  }

  // Entries walked so far.
  uint16_t walked() const { return walked_; }
  // Bytes left after the entries walked so far.
  std::size_t remaining() const { return reader_.remaining(); }

 private:
  ByteReader reader_;
  uint16_t declared_;
  uint16_t walked_ = 0;
};

}  // namespace lidar
