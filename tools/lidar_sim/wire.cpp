#include "wire.h"

#include <cstdio>

namespace lidar_sim {

bool parse_ipv4(const std::string& text, Ipv4& out) {
  Ipv4 ip;
  std::size_t pos = 0;
  for (int i = 0; i < 4; ++i) {
    if (pos >= text.size()) return false;
    unsigned value = 0;
    std::size_t digits = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && digits < 3) {
      value = value * 10 + static_cast<unsigned>(text[pos] - '0');
      ++pos;
      ++digits;
    }
    if (digits == 0 || value > 255) return false;
    ip.o[i] = static_cast<uint8_t>(value);
    if (i < 3) {
      if (pos >= text.size() || text[pos] != '.') return false;
      ++pos;
    }
  }
  if (pos != text.size()) return false;
  out = ip;
  return true;
}

std::string to_string(const Ipv4& ip) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%u.%u.%u.%u", ip.o[0], ip.o[1], ip.o[2], ip.o[3]);
  return buf;
}

}  // namespace lidar_sim
