// Control datagrams from LiDARs and from anyone else on the segment, through the general command
// handler: detection replies, acknowledgements (matched or not) and push messages, against a
// device manager that only records what would be sent.
// Input: mode byte (bit 0: valid checksums; bit 1: untyped path; bit 2: the frame carries the
// sequence number of a request in flight), route byte (sender, device type, local port), then
// the datagram.
#include <chrono>
#include <cstring>
#include <vector>

#include "lidar_byte_io.h"
#include "base/ipv4_address.h"
#include "command_handler/general_command_handler.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/sdk_core/command_handler/fake_device_manager.h"

namespace {

using lidar::sdk::GeneralCommandHandler;

const char* const kSenders[] = {"127.0.0.2", "127.0.0.3", "192.168.1.12", "10.0.0.1"};
constexpr uint8_t kDeviceTypes[] = {kDeviceTypeOmni, kDeviceTypeForward, 16, 0};
constexpr uint16_t kLocalPorts[] = {56000, 56101, 56200, 56201, 10001, 56301, 56401, 0};

GeneralCommandHandler& General() { return GeneralCommandHandler::GetInstance(); }

// A detection reply from the registered LiDAR (127.0.0.2, Omni), framed as the LiDAR sends it.
std::vector<uint8_t> RegisteredLidarReply() {
  std::vector<uint8_t> payload(24, 0);
  payload[1] = kDeviceTypeOmni;
  std::memcpy(payload.data() + 2, "FUZZSN0001", 10);
  const uint8_t ip[] = {127, 0, 0, 2};
  std::memcpy(payload.data() + 18, ip, 4);
  lidar::store_le<uint16_t>(payload.data() + 22, 56100);
  lidar::sdk::CommPacket packet;
  packet.seq_num = 1;
  packet.cmd_type = lidar::sdk::kCommandTypeAck;
  packet.sender_type = 1;
  packet.data = payload.data();
  packet.data_len = static_cast<uint16_t>(payload.size());
  std::vector<uint8_t> frame(lidar::sdk::kFrameHeaderSize + payload.size(), 0);
  uint32_t length = 0;
  lidar::sdk::CommPort().Pack(frame.data(), static_cast<uint32_t>(frame.size()), packet, &length);
  return frame;
}

void StartSession() {
  General().Uninit();
  General().CommandsHandle(std::chrono::steady_clock::now() + std::chrono::hours(1));
  lidar::sdk::testing::ResetFakeDevices();
  General().Init({}, &lidar::sdk::testing::FakeManager(), &lidar::sdk::testing::FakeManager());
  General().SetLidarInfoChangeCallback(
      [](uint32_t, const LidarInfo* info, void*) {
        FUZZ_CHECK(info != nullptr);
        FUZZ_CHECK(strnlen(info->sn, sizeof(info->sn)) < sizeof(info->sn));
        FUZZ_CHECK(strnlen(info->lidar_ip, sizeof(info->lidar_ip)) < sizeof(info->lidar_ip));
      },
      nullptr);
  General().SetLidarPushInfoCallback(
      [](uint32_t, uint8_t, const char* text, void*) { FUZZ_CHECK(text != nullptr); }, nullptr);
  std::vector<uint8_t> reply = RegisteredLidarReply();
  General().Handler(lidar::sdk::IpToHandle("127.0.0.2"), 56000, reply.data(),
                    static_cast<uint32_t>(reply.size()));
}

// Reads every entry the delivered answer announces, as an application would.
void OnInternalInfo(CommandStatus status, uint32_t, LidarDiagInternalInfoResponse* response,
                    void*) {
  if (status != kStatusSuccess || response == nullptr) return;
  auto entries =
      lidar::KeyValueEntries::OfDeliveredAnswer(reinterpret_cast<const uint8_t*>(response));
  lidar::KeyValueEntry entry;
  volatile unsigned sum = 0;
  while (entries.next(entry)) {
    for (uint16_t k = 0; k < entry.length; ++k) sum = sum + entry.value[k];
  }
}

void OnControl(CommandStatus status, uint32_t, LidarAsyncControlResponse* response, void*) {
  if (status == kStatusSuccess) FUZZ_CHECK(response != nullptr);
}

uint32_t FirstSentSeq() {
  const auto& sent = lidar::sdk::testing::FakeDevices().sent;
  if (sent.empty() || sent.front().bytes.size() < 8) return 0;
  return lidar::load_le<uint32_t>(sent.front().bytes.data() + 4);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::QuietSdkLogger();
  StartSession();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  static unsigned runs = 0;
  if (++runs % 256 == 0) StartSession();
  lidar::sdk::testing::FakeDevices().sent.clear();

  const uint8_t mode = data[0];
  const uint8_t route = data[1];
  const uint32_t handle = lidar::sdk::IpToHandle(kSenders[route & 3]);
  const uint8_t dev_type = kDeviceTypes[(route >> 2) & 3];
  const uint16_t local_port = kLocalPorts[(route >> 4) & 7];

  // Requests in flight to the registered LiDAR, so acknowledgements can match them.
  const uint32_t lidar = lidar::sdk::IpToHandle("127.0.0.2");
  QueryLidarInternalInfo(lidar, OnInternalInfo, nullptr);
  LidarSetWorkMode(lidar, 1, OnControl, nullptr);

  std::vector<uint8_t> frame(data + 2, data + size);
  if ((mode & 4) != 0 && frame.size() >= 8) lidar::store_le<uint32_t>(frame.data() + 4, FirstSentSeq());
  if ((mode & 1) != 0) fuzz::SealFrame(frame);
  const auto count = static_cast<uint32_t>(frame.size());
  uint8_t* bytes = frame.empty() ? nullptr : frame.data();

  if ((mode & 2) != 0) {
    General().Handler(handle, local_port, bytes, count);
  } else {
    General().Handler(dev_type, handle, local_port, bytes, count);
  }
  // Whatever was not acknowledged times out now.
  General().CommandsHandle(std::chrono::steady_clock::now() + std::chrono::hours(1));
  return 0;
}
