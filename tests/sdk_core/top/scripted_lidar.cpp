#include "scripted_lidar.h"

#include <cstring>

#include "lidar_byte_io.h"
#include "base/ipv4_address.h"
#include "base/sdk_socket.h"

namespace lidar::sdk::testing {

Bytes EncodeFrame(const Frame& frame) {
  Bytes out(24 + frame.payload.size(), 0);
  out[0] = 0xAA;
  out[1] = 0;
  store_le<uint16_t>(&out[2], static_cast<uint16_t>(out.size()));
  store_le<uint32_t>(&out[4], frame.seq);
  store_le<uint16_t>(&out[8], frame.cmd_id);
  out[10] = frame.cmd_type;
  out[11] = frame.sender_type;
  store_le<uint16_t>(&out[18], BitwiseCrc16(out.data(), 18));
  const uint32_t crc32 =
      frame.payload.empty() ? 0 : BitwiseCrc32(frame.payload.data(), frame.payload.size());
  store_le<uint32_t>(&out[20], crc32);
  std::copy(frame.payload.begin(), frame.payload.end(), out.begin() + 24);
  return out;
}

std::optional<Frame> DecodeFrame(const Bytes& bytes) {
  if (bytes.size() < 24 || bytes[0] != 0xAA || bytes[1] != 0) return std::nullopt;
  const uint16_t length = load_le<uint16_t>(&bytes[2]);
  if (length < 24 || length > bytes.size()) return std::nullopt;
  if (load_le<uint16_t>(&bytes[18]) != BitwiseCrc16(bytes.data(), 18)) return std::nullopt;
  const uint32_t crc32 = length == 24 ? 0 : BitwiseCrc32(bytes.data() + 24, length - 24);
  if (load_le<uint32_t>(&bytes[20]) != crc32) return std::nullopt;
  Frame frame;
  frame.seq = load_le<uint32_t>(&bytes[4]);
  frame.cmd_id = load_le<uint16_t>(&bytes[8]);
  frame.cmd_type = bytes[10];
  frame.sender_type = bytes[11];
  frame.payload.assign(bytes.begin() + 24, bytes.begin() + length);
  return frame;
}

Bytes DetectionReplyPayload(uint8_t ret_code, uint8_t dev_type, const std::string& sn,
                            const std::string& ip, uint16_t cmd_port) {
  Bytes out(24, 0);
  out[0] = ret_code;
  out[1] = dev_type;
  std::memcpy(&out[2], sn.data(), sn.size() < 16 ? sn.size() : 16);
  const uint32_t address = IpToHandle(ip);
  std::memcpy(&out[18], &address, 4);
  store_le<uint16_t>(&out[22], cmd_port);
  return out;
}

Bytes PointDatagram(uint16_t dots) {
  Bytes out(36 + dots * 14u, 0);
  store_le<uint16_t>(&out[5], dots);
  out[10] = 1;
  for (uint16_t i = 0; i < dots; ++i) store_le<int32_t>(&out[36 + i * 14u], 1000 + i);
  return out;
}

Bytes ImuDatagram() {
  Bytes out(36 + 24, 0);
  store_le<uint16_t>(&out[5], 1);
  out[10] = 0;
  store_le<float>(&out[36 + 20], 1.0f);
  return out;
}

UdpEndpoint::UdpEndpoint(const std::string& ip, uint16_t port, bool reuse)
    : sock_(CreateSocket(port, false, reuse ? PortSharing::kShared : PortSharing::kNone, true, ip,
                         "")) {}

UdpEndpoint::~UdpEndpoint() { CloseSocket(sock_); }

bool UdpEndpoint::SendTo(const std::string& ip, uint16_t port, const Bytes& bytes) const {
  return SendDatagram(sock_, bytes.data(), bytes.size(), Ipv4Endpoint{IpToHandle(ip), port}) ==
         static_cast<int>(bytes.size());
}

std::optional<Datagram> UdpEndpoint::Receive(std::chrono::milliseconds timeout) const {
  if (!WaitReadable(sock_, static_cast<int>(timeout.count()))) return std::nullopt;
  Datagram datagram;
  datagram.bytes.resize(65536);
  const ReceivedDatagram got = ReceiveDatagram(sock_, datagram.bytes.data(), datagram.bytes.size());
  if (got.length < 0) return std::nullopt;
  datagram.bytes.resize(static_cast<std::size_t>(got.length));
  datagram.from_ip = HandleToIp(got.from.address);
  datagram.from_port = got.from.port;
  return datagram;
}

std::optional<std::pair<Frame, Datagram>> UdpEndpoint::ReceiveCommand(
    uint16_t cmd_id, std::chrono::milliseconds timeout) const {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return std::nullopt;
    auto datagram = Receive(left);
    if (!datagram) return std::nullopt;
    auto frame = DecodeFrame(datagram->bytes);
    if (frame && frame->cmd_id == cmd_id) return std::make_pair(*frame, *datagram);
  }
}

bool PortIsFree(const std::string& ip, uint16_t port) {
  return UdpEndpoint(ip, port, false).valid();
}

}  // namespace lidar::sdk::testing
