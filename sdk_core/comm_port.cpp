#include <cstdio>

#include "base/log_throttle.h"
#include "sdk_protocol.h"

namespace lidar::sdk {

CommPort::CommPort() : protocol_(std::make_unique<SdkProtocol>()) {}

int32_t CommPort::Pack(uint8_t* buffer, uint32_t buffer_size, const CommPacket& packet,
                       uint32_t* frame_length) {
  return protocol_->Pack(buffer, buffer_size, frame_length, packet);
}

bool CommPort::ParseCommStream(uint8_t* bytes, uint32_t count, CommPacket* packet) {
  if (!protocol_->CheckPacket(bytes, count)) {
    // Any host on the segment can send junk to our ports: say so, but not once per datagram.
    static LogThrottle throttle;
    if (throttle.Allow()) std::printf("Comm Port Check Preamble error.\n");
    return false;
  }
  return protocol_->ParsePacket(bytes, count, packet);
}

}  // namespace lidar::sdk
