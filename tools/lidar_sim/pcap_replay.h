// Captured point and IMU datagrams played back in place of the scene: the capture is read with
// libpcap (Ethernet or Linux cooked link layers, IPv4/UDP), the stream datagrams are picked out by
// their headers and handed out at the recorded pace or as fast as the caller asks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "lidar_sim/stream_packet.h"
#include "lidar_sim/wire.h"

namespace lidar_sim {

struct CapturedUdp {
  uint64_t ts_us = 0;
  Ipv4 src;
  Ipv4 dst;
  uint16_t src_port = 0;
  uint16_t dst_port = 0;
  Bytes payload;
};

// Link-layer types handled (pcap's numbering).
constexpr int kLinkEthernet = 1;
constexpr int kLinkRaw = 101;
constexpr int kLinkLinuxCooked = 113;
constexpr int kLinkLinuxCooked2 = 276;

// The UDP datagram inside one captured frame; nothing for other protocols, IP fragments and
// frames cut short by the capture.
std::optional<CapturedUdp> extract_udp(int link_type, const uint8_t* frame, std::size_t caplen, uint64_t ts_us);

class PcapReader {
 public:
  PcapReader();
  ~PcapReader();
  PcapReader(const PcapReader&) = delete;
  PcapReader& operator=(const PcapReader&) = delete;

  bool open(const std::string& path, std::string& error);
  // Next UDP datagram of the capture; false at its end.
  bool next(CapturedUdp& out);

 private:
  struct Handle;
  std::unique_ptr<Handle> handle_;
  int link_type_ = 0;
};

struct ReplayDatagram {
  StreamKind kind = StreamKind::kNone;
  Bytes bytes;
};

class PcapReplay {
 public:
  PcapReplay(std::string path, bool as_fast_as_possible, bool loop);
  bool open(std::string& error);
  // Stream datagrams due once `elapsed_us` of replay time have passed, at most `limit` of them.
  // False once the capture is exhausted (and not looping).
  bool due(uint64_t elapsed_us, std::size_t limit, std::vector<ReplayDatagram>& out);
  uint64_t passes() const { return passes_; }

 private:
  bool fetch();
  std::string path_;
  bool fast_;
  bool loop_;
  PcapReader reader_;
  std::optional<CapturedUdp> pending_;
  std::optional<uint64_t> first_ts_us_;
  uint64_t pass_offset_us_ = 0;  // replay time at which the current pass began
  uint64_t last_rel_us_ = 0;
  uint64_t passes_ = 0;
  bool any_stream_ = false;
};

}  // namespace lidar_sim
