#include "faults.h"

#include "lidar_sim/control_frame.h"
#include "lidar_sim/stream_packet.h"

namespace lidar_sim {

PowerCycles::Event PowerCycles::step(double t) {
  if (next_ >= cuts_.size()) return Event::kNone;
  const Cut& cut = cuts_[next_];
  if (!down_ && t >= cut.at_s) {
    down_ = true;
    return Event::kCut;
  }
  if (down_ && t >= cut.at_s + cut.off_s) {
    down_ = false;
    ++next_;
    return Event::kBoot;
  }
  return Event::kNone;
}

FaultShaper::FaultShaper(const TransportFaults& faults, unsigned seed) : faults_(faults), rng_(seed) {}

bool FaultShaper::chance(double p) {
  if (p <= 0) return false;
  if (p >= 1) return true;
  return std::uniform_real_distribution<double>(0.0, 1.0)(rng_) < p;
}

std::vector<Bytes> FaultShaper::shape(Bytes d) {
  if (chance(faults_.loss)) {
    ++counters_.lost;
    return {};
  }
  if (!d.empty() && chance(faults_.bad_crc)) {
    ++counters_.corrupted;
    // Control frames carry their checksums at 18 and 20, stream datagrams theirs at 24.
    const bool control = d.size() >= kFrameHeaderSize && d[0] == kFrameStart;
    std::size_t at = control ? (std::uniform_int_distribution<int>(0, 1)(rng_) ? 18 : 20) : 24;
    if (at >= d.size()) at = d.size() - 1;
    d[at] ^= static_cast<uint8_t>(1u << std::uniform_int_distribution<int>(0, 7)(rng_));
  }
  if (d.size() > 1 && chance(faults_.truncate)) {
    ++counters_.truncated;
    d.resize(std::uniform_int_distribution<std::size_t>(1, d.size() - 1)(rng_));
  }
  std::vector<Bytes> out{d};
  if (chance(faults_.duplicate)) {
    ++counters_.duplicated;
    out.push_back(std::move(d));
  }
  return out;
}

Bytes FaultShaper::garbage() {
  auto byte = [&] { return static_cast<uint8_t>(std::uniform_int_distribution<int>(0, 255)(rng_)); };
  const int kind = std::uniform_int_distribution<int>(0, 3)(rng_);
  Bytes d;
  switch (kind) {
    case 0: {  // plain noise of any length
      d.resize(std::uniform_int_distribution<std::size_t>(1, 1500)(rng_));
      for (auto& b : d) b = byte();
      break;
    }
    case 1: {  // a control header whose length field promises more than is there
      d.resize(std::uniform_int_distribution<std::size_t>(4, 40)(rng_));
      for (auto& b : d) b = byte();
      d[0] = kFrameStart;
      d[1] = 0;
      put_u16(&d[2], 0xFFFF);
      break;
    }
    case 2: {  // a point header announcing many more records than it carries
      d.resize(kPacketHeaderSize + 14 * std::uniform_int_distribution<std::size_t>(0, 4)(rng_));
      for (auto& b : d) b = byte();
      put_u16(&d[5], 0xFFFF);
      d[10] = kDataTypeCartesianHigh;
      break;
    }
    default: {  // an IMU header with a dot count and nothing behind it
      d.resize(kPacketHeaderSize);
      for (auto& b : d) b = byte();
      put_u16(&d[5], static_cast<uint16_t>(std::uniform_int_distribution<int>(1, 400)(rng_)));
      d[10] = kDataTypeImu;
      break;
    }
  }
  return d;
}

}  // namespace lidar_sim
