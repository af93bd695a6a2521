// Four-lane float and integer vectors for the per-point arithmetic of thinning, distances and
// clustering: a point's x, y, z (and its fourth word) are handled in one operation. Compilers
// with GCC's vector extensions get real vector registers; others (and builds configured with
// LIDAR_SCALAR_PERCEPTION) get plain four-element arrays with the same operations, lane by lane.
// Every operation is the same IEEE operation per lane either way, so both give identical results.
#pragma once

#include <cstdint>
#include <cstring>

#if !defined(LIDAR_SCALAR_PERCEPTION) && !defined(__GNUC__)
#define LIDAR_SCALAR_PERCEPTION 1
#endif

namespace app::lanes {

#if LIDAR_SCALAR_PERCEPTION

struct Lanes {
  float v[4];
  float operator[](int i) const { return v[i]; }
};

// Integer lanes; comparisons give -1 (all bits set) for true and 0 for false.
struct IntLanes {
  int32_t v[4];
  int32_t operator[](int i) const { return v[i]; }
};

template <typename Op>
inline Lanes each(const Lanes& a, const Lanes& b, Op op) {
  return Lanes{{op(a.v[0], b.v[0]), op(a.v[1], b.v[1]), op(a.v[2], b.v[2]), op(a.v[3], b.v[3])}};
}

template <typename Op>
inline IntLanes test(const Lanes& a, const Lanes& b, Op op) {
  const auto bit = [&](int i) { return op(a.v[i], b.v[i]) ? int32_t{-1} : int32_t{0}; };
  return IntLanes{{bit(0), bit(1), bit(2), bit(3)}};
}

inline Lanes operator*(const Lanes& a, float s) {
  return each(a, a, [s](float x, float) { return x * s; });
}
inline Lanes operator/(const Lanes& a, const Lanes& b) {
  return each(a, b, [](float x, float y) { return x / y; });
}
inline Lanes operator-(const Lanes& a) {
  return each(a, a, [](float x, float) { return -x; });
}
inline IntLanes operator<(const Lanes& a, const Lanes& b) {
  return test(a, b, [](float x, float y) { return x < y; });
}
inline IntLanes operator>(const Lanes& a, const Lanes& b) { return b < a; }
inline IntLanes operator<=(const Lanes& a, const Lanes& b) {
  return test(a, b, [](float x, float y) { return x <= y; });
}
inline IntLanes operator>=(const Lanes& a, const Lanes& b) { return b <= a; }
inline IntLanes operator&(const IntLanes& a, const IntLanes& b) {
  return IntLanes{{a.v[0] & b.v[0], a.v[1] & b.v[1], a.v[2] & b.v[2], a.v[3] & b.v[3]}};
}
inline IntLanes operator+(const IntLanes& a, const IntLanes& b) {
  return IntLanes{{a.v[0] + b.v[0], a.v[1] + b.v[1], a.v[2] + b.v[2], a.v[3] + b.v[3]}};
}

inline Lanes select(const IntLanes& mask, const Lanes& a, const Lanes& b) {
  return Lanes{{mask.v[0] ? a.v[0] : b.v[0], mask.v[1] ? a.v[1] : b.v[1],
                mask.v[2] ? a.v[2] : b.v[2], mask.v[3] ? a.v[3] : b.v[3]}};
}

// Per axis lane, the other two axis lanes' masks both set; the fourth lane is kept as it is.
inline IntLanes both_others(const IntLanes& m) {
  return IntLanes{{m.v[1] & m.v[2], m.v[2] & m.v[0], m.v[0] & m.v[1], m.v[3]}};
}

// Conversion toward zero; every lane must lie within the 32-bit range.
inline IntLanes truncate(const Lanes& a) {
  return IntLanes{{static_cast<int32_t>(a.v[0]), static_cast<int32_t>(a.v[1]),
                   static_cast<int32_t>(a.v[2]), static_cast<int32_t>(a.v[3])}};
}
inline Lanes to_float(const IntLanes& a) {
  return Lanes{{static_cast<float>(a.v[0]), static_cast<float>(a.v[1]),
                static_cast<float>(a.v[2]), static_cast<float>(a.v[3])}};
}

// A record's x, y and z with the fourth lane cleared (the word after z may hold colour bytes).
inline Lanes load3(const void* record) {
  Lanes v{{0.f, 0.f, 0.f, 0.f}};
  std::memcpy(v.v, record, 3 * sizeof(float));
  return v;
}

inline void prefetch(const void*) {}
inline bool likely(bool condition) { return condition; }
// Index of the lowest set bit of a non-zero value.
inline int lowest_bit(unsigned bits) {
  int index = 0;
  while ((bits & 1u) == 0) {
    bits >>= 1;
    ++index;
  }
  return index;
}

#else

using Lanes = float __attribute__((vector_size(16)));
using IntLanes = int32_t __attribute__((vector_size(16)));

// A record's x, y and z with the fourth lane cleared: the word after z may hold colour bytes,
// which could read as a denormal. One load and one mask, no lane shuffling.
inline Lanes load3(const void* record) {
  IntLanes bits;
  std::memcpy(&bits, record, sizeof bits);
  bits &= IntLanes{-1, -1, -1, 0};
  Lanes v;
  std::memcpy(&v, &bits, sizeof v);
  return v;
}

inline Lanes select(IntLanes mask, Lanes a, Lanes b) { return mask ? a : b; }
// Per axis lane, the other two axis lanes' masks both set; the fourth lane is kept as it is.
inline IntLanes both_others(IntLanes m) {
  return __builtin_shufflevector(m, m, 1, 2, 0, 3) & __builtin_shufflevector(m, m, 2, 0, 1, 3);
}
inline IntLanes truncate(Lanes a) { return __builtin_convertvector(a, IntLanes); }
inline Lanes to_float(IntLanes a) { return __builtin_convertvector(a, Lanes); }
inline void prefetch(const void* address) { __builtin_prefetch(address); }
inline bool likely(bool condition) { return __builtin_expect(condition, 1); }
inline int lowest_bit(unsigned bits) { return __builtin_ctz(bits); }

#endif

// The four words of a point record (x, y, z and whatever follows them).
inline Lanes load4(const void* record) {
  Lanes v;
  std::memcpy(&v, record, sizeof v);
  return v;
}

inline bool all_three(IntLanes mask) { return (mask[0] & mask[1] & mask[2]) != 0; }
inline bool any_of_three(IntLanes mask) { return (mask[0] | mask[1] | mask[2]) != 0; }

}  // namespace app::lanes
