#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <unistd.h>

#include "tests/tools/lidar_sim/host_frames.h"
#include "lidar_sim/pcap_replay.h"
#include "lidar_sim/stream_packet.h"

namespace lidar_sim {
namespace {

void be16_at(Bytes& b, std::size_t at, uint16_t v) {
  b[at] = static_cast<uint8_t>(v >> 8);
  b[at + 1] = static_cast<uint8_t>(v);
}

// IPv4 + UDP around a payload, 10.0.0.12:src -> 10.0.0.50:dst.
Bytes ipv4_udp(const Bytes& payload, uint16_t src, uint16_t dst, uint8_t proto = 17, uint16_t frag = 0) {
  Bytes ip(20 + 8 + payload.size(), 0);
  ip[0] = 0x45;
  be16_at(ip, 2, static_cast<uint16_t>(ip.size()));
  be16_at(ip, 6, frag);
  ip[8] = 64;
  ip[9] = proto;
  const uint8_t s[4] = {10, 0, 0, 12}, d[4] = {10, 0, 0, 50};
  std::copy(s, s + 4, &ip[12]);
  std::copy(d, d + 4, &ip[16]);
  be16_at(ip, 20, src);
  be16_at(ip, 22, dst);
  be16_at(ip, 24, static_cast<uint16_t>(8 + payload.size()));
  std::copy(payload.begin(), payload.end(), ip.begin() + 28);
  return ip;
}

Bytes ethernet(const Bytes& ip, bool vlan = false) {
  const std::size_t at = vlan ? 16 : 12;
  Bytes f(at + 2 + ip.size(), 0xEE);
  if (vlan) {
    f[12] = 0x81;
    f[13] = 0x00;
    f[14] = 0x00;
    f[15] = 0x05;
  }
  be16_at(f, at, 0x0800);
  std::copy(ip.begin(), ip.end(), f.begin() + static_cast<long>(at) + 2);
  return f;
}

Bytes linux_cooked(const Bytes& ip) {
  Bytes f(16 + ip.size(), 0);
  be16_at(f, 14, 0x0800);
  std::copy(ip.begin(), ip.end(), f.begin() + 16);
  return f;
}

// A capture file in the classic format, written without libpcap.
class CaptureFile {
 public:
  CaptureFile(uint32_t link_type) : path_("/tmp/lidar_sim_test_" + std::to_string(::getpid()) + "_" +
                                          std::to_string(counter_++) + ".pcap") {
    out_.open(path_, std::ios::binary);
    const uint32_t header[6] = {0xA1B2C3D4u, 0x00040002u, 0, 0, 65535, link_type};
    out_.write(reinterpret_cast<const char*>(header), sizeof header);
  }
  ~CaptureFile() { std::remove(path_.c_str()); }
  void add(uint64_t ts_us, const Bytes& frame) {
    const uint32_t rec[4] = {static_cast<uint32_t>(ts_us / 1000000), static_cast<uint32_t>(ts_us % 1000000),
                             static_cast<uint32_t>(frame.size()), static_cast<uint32_t>(frame.size())};
    out_.write(reinterpret_cast<const char*>(rec), sizeof rec);
    out_.write(reinterpret_cast<const char*>(frame.data()), static_cast<std::streamsize>(frame.size()));
  }
  const std::string& close() {
    out_.close();
    return path_;
  }

 private:
  static inline int counter_ = 0;
  std::string path_;
  std::ofstream out_;
};

Bytes points_packet(uint16_t udp_cnt) {
  PacketStamp s;
  s.udp_cnt = udp_cnt;
  return build_point_packet(kDataTypeCartesianHigh, std::vector<PointRecord>(kPointsPerPacket), s);
}

TEST(Pcap, ExtractsUdpFromEthernetAndCookedFramesOnly) {
  const Bytes payload = points_packet(1);
  const auto eth = extract_udp(kLinkEthernet, ethernet(ipv4_udp(payload, 56300, 56301)).data(),
                               ethernet(ipv4_udp(payload, 56300, 56301)).size(), 5);
  ASSERT_TRUE(eth.has_value());
  EXPECT_EQ(eth->payload, payload);
  EXPECT_EQ(eth->src_port, 56300);
  EXPECT_EQ(eth->dst_port, 56301);
  EXPECT_EQ(to_string(eth->src), "10.0.0.12");
  EXPECT_EQ(eth->ts_us, 5u);

  const Bytes vlan = ethernet(ipv4_udp(payload, 1, 2), true);
  EXPECT_TRUE(extract_udp(kLinkEthernet, vlan.data(), vlan.size(), 0).has_value());
  const Bytes cooked = linux_cooked(ipv4_udp(payload, 1, 2));
  EXPECT_TRUE(extract_udp(kLinkLinuxCooked, cooked.data(), cooked.size(), 0).has_value());

  const Bytes tcp = ethernet(ipv4_udp(payload, 1, 2, 6));
  EXPECT_FALSE(extract_udp(kLinkEthernet, tcp.data(), tcp.size(), 0).has_value());
  const Bytes fragment = ethernet(ipv4_udp(payload, 1, 2, 17, 0x2000));
  EXPECT_FALSE(extract_udp(kLinkEthernet, fragment.data(), fragment.size(), 0).has_value());
  // Cut short by the capture, or a UDP length beyond the IP packet.
  const Bytes whole = ethernet(ipv4_udp(payload, 1, 2));
  EXPECT_FALSE(extract_udp(kLinkEthernet, whole.data(), whole.size() - 10, 0).has_value());
  Bytes lying = ipv4_udp(payload, 1, 2);
  be16_at(lying, 24, static_cast<uint16_t>(lying.size()));
  const Bytes lying_frame = ethernet(lying);
  EXPECT_FALSE(extract_udp(kLinkEthernet, lying_frame.data(), lying_frame.size(), 0).has_value());
  EXPECT_FALSE(extract_udp(kLinkEthernet, whole.data(), 13, 0).has_value());
  EXPECT_FALSE(extract_udp(105, whole.data(), whole.size(), 0).has_value());
}

TEST(Pcap, ReplaysStreamDatagramsAtRecordedPaceOrAtOnce) {
  CaptureFile file(kLinkEthernet);
  const uint64_t t0 = 1700000000000000ull;
  file.add(t0, ethernet(ipv4_udp(points_packet(1), 56300, 56301)));
  file.add(t0 + 1000, ethernet(ipv4_udp(lidar_sim_test::host_request(0, 2), 56000, 56000)));  // control
  file.add(t0 + 2000, ethernet(ipv4_udp(build_imu_packet(ImuSample{}, PacketStamp{}), 56400, 56401)));
  file.add(t0 + 3000, ethernet(ipv4_udp(Bytes{1, 2, 3}, 5000, 5001)));  // not a stream datagram
  file.add(t0 + 500000, ethernet(ipv4_udp(points_packet(2), 56300, 56301)));
  const std::string path = file.close();

  PcapReplay paced(path, false, false);
  std::string error;
  ASSERT_TRUE(paced.open(error)) << error;
  std::vector<ReplayDatagram> out;
  EXPECT_TRUE(paced.due(0, 100, out));
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].kind, StreamKind::kPoints);
  EXPECT_TRUE(paced.due(1999, 100, out));
  EXPECT_EQ(out.size(), 1u);
  EXPECT_TRUE(paced.due(2000, 100, out));
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[1].kind, StreamKind::kImu);
  EXPECT_TRUE(paced.due(499999, 100, out));
  EXPECT_EQ(out.size(), 2u);
  EXPECT_FALSE(paced.due(500000, 100, out));
  ASSERT_EQ(out.size(), 3u);
  EXPECT_EQ(lidar_sim_test::le16(&out[2].bytes[7]), 2);

  PcapReplay fast(path, true, false);
  ASSERT_TRUE(fast.open(error));
  out.clear();
  EXPECT_TRUE(fast.due(0, 2, out));  // the limit holds back the rest
  EXPECT_EQ(out.size(), 2u);
  EXPECT_FALSE(fast.due(0, 100, out));
  EXPECT_EQ(out.size(), 3u);

  // Looping starts the capture again once its last datagram is out.
  PcapReplay loop(path, false, true);
  ASSERT_TRUE(loop.open(error));
  out.clear();
  EXPECT_TRUE(loop.due(500000, 100, out));
  EXPECT_EQ(out.size(), 3u);
  EXPECT_TRUE(loop.due(500001, 100, out));
  EXPECT_EQ(out.size(), 4u);  // the second pass begins right after the first
  EXPECT_EQ(loop.passes(), 1u);
}

TEST(Pcap, ReadsLinuxCookedCapturesAndRefusesOthers) {
  CaptureFile cooked(kLinkLinuxCooked);
  cooked.add(10, linux_cooked(ipv4_udp(points_packet(7), 56300, 56301)));
  PcapReader reader;
  std::string error;
  ASSERT_TRUE(reader.open(cooked.close(), error)) << error;
  CapturedUdp udp;
  ASSERT_TRUE(reader.next(udp));
  EXPECT_EQ(lidar_sim_test::le16(&udp.payload[7]), 7);
  EXPECT_FALSE(reader.next(udp));

  CaptureFile other(105);  // 802.11
  other.add(10, Bytes(40, 0));
  PcapReader refused;
  EXPECT_FALSE(refused.open(other.close(), error));
  EXPECT_FALSE(refused.open("/nonexistent.pcap", error));
}

}  // namespace
}  // namespace lidar_sim
