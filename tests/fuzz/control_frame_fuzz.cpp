// Control frames from any sender: the frame check, the parse behind it and the checksums.
// Input: one mode byte (bit 0: write valid checksums first, so the parse is reached), then the
// datagram.
#include <cstring>
#include <vector>

#include "tests/fuzz/fuzz_support.h"
#include "tests/sdk_core/base/bitwise_crc.h"

namespace {

using lidar::sdk::CommPacket;
using lidar::sdk::CommPort;
using lidar::sdk::kFrameHeaderSize;
using lidar::sdk::SdkProtocol;
using lidar::sdk::testing::BitwiseCrc16;
using lidar::sdk::testing::BitwiseCrc32;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::QuietSdkLogger();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const bool seal = (data[0] & 1) != 0;
  std::vector<uint8_t> frame(data + 1, data + size);
  if (seal) fuzz::SealFrame(frame);
  const auto count = static_cast<uint32_t>(frame.size());

  // The table-driven checksums agree with the textbook ones at every alignment.
  for (std::size_t offset = 0; offset < 4 && offset <= frame.size(); ++offset) {
    const uint8_t* start = frame.data() + offset;
    FUZZ_CHECK(lidar::sdk::Crc16(start, frame.size() - offset) ==
               BitwiseCrc16(start, frame.size() - offset));
    FUZZ_CHECK(lidar::sdk::Crc32(start, frame.size() - offset) ==
               BitwiseCrc32(start, frame.size() - offset));
  }

  CommPort port;
  CommPacket packet;
  if (!port.ParseCommStream(frame.data(), count, &packet)) return 0;

  // An accepted frame's payload lies inside the datagram.
  FUZZ_CHECK(packet.data == frame.data() + kFrameHeaderSize);
  FUZZ_CHECK(kFrameHeaderSize + packet.data_len <= frame.size());

  // Packing the decoded record again gives a frame that passes the check and carries the same
  // command and payload.
  packet.protocol = 0;
  std::vector<uint8_t> packed(kFrameHeaderSize + packet.data_len, 0);
  uint32_t packed_length = 0;
  CommPort packer;
  FUZZ_CHECK(packer.Pack(packed.data(), static_cast<uint32_t>(packed.size()), packet,
                         &packed_length) == 0);
  FUZZ_CHECK(packed_length == packed.size());
  SdkProtocol protocol;
  FUZZ_CHECK(protocol.CheckPacket(packed.data(), packed_length));
  CommPacket again;
  FUZZ_CHECK(protocol.ParsePacket(packed.data(), packed_length, &again));
  FUZZ_CHECK(again.cmd_id == packet.cmd_id && again.cmd_type == packet.cmd_type &&
             again.sender_type == packet.sender_type &&
             again.seq_num == (packet.seq_num & 0xFFFFu) && again.data_len == packet.data_len);
  FUZZ_CHECK(packet.data_len == 0 || std::memcmp(again.data, packet.data, packet.data_len) == 0);

  // One byte too small a buffer is refused.
  if (!packed.empty()) {
    std::vector<uint8_t> small(packed.size() - 1, 0);
    FUZZ_CHECK(packer.Pack(small.data(), static_cast<uint32_t>(small.size()), packet,
                           &packed_length) == -1);
  }
  return 0;
}
