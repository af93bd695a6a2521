#include "pcap_replay.h"

#include <pcap/pcap.h>

namespace lidar_sim {

namespace {

constexpr uint16_t kEtherIpv4 = 0x0800;
constexpr uint16_t kEtherVlan = 0x8100;
constexpr uint16_t kEtherQinQ = 0x88A8;
constexpr uint8_t kIpProtoUdp = 17;

uint16_t be16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }

std::optional<CapturedUdp> from_ipv4(const uint8_t* ip, std::size_t size, uint64_t ts_us) {
  if (size < 20 || (ip[0] >> 4) != 4) return std::nullopt;
  const std::size_t ihl = static_cast<std::size_t>(ip[0] & 0x0F) * 4;
  const std::size_t total = be16(ip + 2);
  if (ihl < 20 || total < ihl || total > size) return std::nullopt;
  const uint16_t frag = be16(ip + 6);
  if ((frag & 0x2000) != 0 || (frag & 0x1FFF) != 0) return std::nullopt;  // a piece of a fragmented datagram
  if (ip[9] != kIpProtoUdp) return std::nullopt;
  const uint8_t* udp = ip + ihl;
  const std::size_t udp_room = total - ihl;
  if (udp_room < 8) return std::nullopt;
  const std::size_t udp_len = be16(udp + 4);
  if (udp_len < 8 || udp_len > udp_room) return std::nullopt;
  CapturedUdp out;
  out.ts_us = ts_us;
  std::copy(ip + 12, ip + 16, out.src.o);
  std::copy(ip + 16, ip + 20, out.dst.o);
  out.src_port = be16(udp);
  out.dst_port = be16(udp + 2);
  out.payload.assign(udp + 8, udp + udp_len);
  return out;
}

}  // namespace

std::optional<CapturedUdp> extract_udp(int link_type, const uint8_t* frame, std::size_t caplen, uint64_t ts_us) {
  if (frame == nullptr) return std::nullopt;
  std::size_t offset = 0;
  uint16_t proto = 0;
  switch (link_type) {
    case kLinkEthernet: {
      if (caplen < 14) return std::nullopt;
      proto = be16(frame + 12);
      offset = 14;
      while ((proto == kEtherVlan || proto == kEtherQinQ) && caplen >= offset + 4) {
        proto = be16(frame + offset + 2);
        offset += 4;
      }
      break;
    }
    case kLinkLinuxCooked:
      if (caplen < 16) return std::nullopt;
      proto = be16(frame + 14);
      offset = 16;
      break;
    case kLinkLinuxCooked2:
      if (caplen < 20) return std::nullopt;
      proto = be16(frame);
      offset = 20;
      break;
    case kLinkRaw:
      proto = kEtherIpv4;
      break;
    default:
      return std::nullopt;
  }
  if (proto != kEtherIpv4 || caplen < offset) return std::nullopt;
  return from_ipv4(frame + offset, caplen - offset, ts_us);
}

struct PcapReader::Handle {
  pcap_t* pcap = nullptr;
  ~Handle() {
    if (pcap != nullptr) pcap_close(pcap);
  }
};

PcapReader::PcapReader() = default;
PcapReader::~PcapReader() = default;

bool PcapReader::open(const std::string& path, std::string& error) {
  char errbuf[PCAP_ERRBUF_SIZE] = {0};
  auto handle = std::make_unique<Handle>();
  handle->pcap = pcap_open_offline(path.c_str(), errbuf);
  if (handle->pcap == nullptr) {
    error = path + ": " + errbuf;
    return false;
  }
  link_type_ = pcap_datalink(handle->pcap);
  if (link_type_ != kLinkEthernet && link_type_ != kLinkLinuxCooked && link_type_ != kLinkLinuxCooked2 &&
      link_type_ != kLinkRaw) {
    error = path + ": unsupported link type " + std::to_string(link_type_);
    return false;
  }
  handle_ = std::move(handle);
  return true;
}

bool PcapReader::next(CapturedUdp& out) {
  if (!handle_) return false;
  for (;;) {
    pcap_pkthdr* header = nullptr;
    const u_char* data = nullptr;
    const int rc = pcap_next_ex(handle_->pcap, &header, &data);
    if (rc == 0) continue;
    if (rc != 1) return false;
    const uint64_t ts = static_cast<uint64_t>(header->ts.tv_sec) * 1000000ull +
                        static_cast<uint64_t>(header->ts.tv_usec);
    if (auto udp = extract_udp(link_type_, data, header->caplen, ts)) {
      out = std::move(*udp);
      return true;
    }
  }
}

PcapReplay::PcapReplay(std::string path, bool as_fast_as_possible, bool loop)
    : path_(std::move(path)), fast_(as_fast_as_possible), loop_(loop) {}

bool PcapReplay::open(std::string& error) {
  if (!reader_.open(path_, error)) return false;
  return true;
}

// Next stream datagram of the capture into pending_, reopening the file for another pass when
// looping. False when nothing is left.
bool PcapReplay::fetch() {
  CapturedUdp udp;
  for (;;) {
    while (reader_.next(udp)) {
      if (classify_stream_datagram(udp.payload.data(), udp.payload.size()) == StreamKind::kNone) continue;
      if (!first_ts_us_) first_ts_us_ = udp.ts_us;
      any_stream_ = true;
      pending_ = std::move(udp);
      return true;
    }
    ++passes_;
    if (!loop_ || !any_stream_) return false;
    std::string error;
    if (!reader_.open(path_, error)) return false;
    pass_offset_us_ += last_rel_us_ + 1;
    first_ts_us_.reset();
  }
}

bool PcapReplay::due(uint64_t elapsed_us, std::size_t limit, std::vector<ReplayDatagram>& out) {
  while (out.size() < limit) {
    if (!pending_ && !fetch()) return false;
    const uint64_t rel = pending_->ts_us >= *first_ts_us_ ? pending_->ts_us - *first_ts_us_ : 0;
    if (!fast_ && pass_offset_us_ + rel > elapsed_us) return true;
    last_rel_us_ = rel;
    ReplayDatagram d;
    d.kind = classify_stream_datagram(pending_->payload.data(), pending_->payload.size());
    d.bytes = std::move(pending_->payload);
    out.push_back(std::move(d));
    pending_.reset();
  }
  return true;
}

}  // namespace lidar_sim
