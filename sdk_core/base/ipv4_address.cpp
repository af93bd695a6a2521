#include "ipv4_address.h"

#include <cstring>

namespace lidar::sdk {

bool ParseIpv4(std::string_view text, uint32_t* address) {
  uint8_t bytes[4] = {};
  std::size_t at = 0;
  for (int octet = 0; octet < 4; ++octet) {
    if (octet > 0) {
      if (at >= text.size() || text[at] != '.') return false;
      ++at;
    }
    const std::size_t start = at;
    unsigned value = 0;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9' && at - start < 3) {
      value = value * 10 + static_cast<unsigned>(text[at] - '0');
      ++at;
    }
    const std::size_t digits = at - start;
    // "010" would read as octal elsewhere: refused, like the C library's parser refuses it.
    if (digits == 0 || value > 255 || (digits > 1 && text[start] == '0')) return false;
    bytes[octet] = static_cast<uint8_t>(value);
  }
  if (at != text.size()) return false;
  if (address != nullptr) std::memcpy(address, bytes, sizeof(bytes));
  return true;
}

uint32_t IpToHandle(std::string_view text) {
  uint32_t address = 0;
  return ParseIpv4(text, &address) ? address : 0;
}

std::string HandleToIp(uint32_t handle) {
  uint8_t bytes[4];
  std::memcpy(bytes, &handle, sizeof(bytes));
  std::string text;
  for (int i = 0; i < 4; ++i) {
    if (i > 0) text.push_back('.');
    text += std::to_string(bytes[i]);
  }
  return text;
}

}  // namespace lidar::sdk
