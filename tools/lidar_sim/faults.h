// Transport faults applied to everything the unit sends, and the junk it can spray at the host.
#pragma once

#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

#include "lidar_sim/wire.h"

namespace lidar_sim {

struct TransportFaults {
  double loss = 0;      // probability that a datagram is not sent
  double duplicate = 0; // probability that it is sent twice
  double bad_crc = 0;   // probability that a checksum field is corrupted
  double truncate = 0;  // probability that it is cut short
};

struct FaultCounters {
  uint64_t lost = 0, duplicated = 0, corrupted = 0, truncated = 0;
};

// Power cuts at set times: the unit is down for a while each time, then boots afresh.
class PowerCycles {
 public:
  struct Cut {
    double at_s = 0;   // seconds after start
    double off_s = 0;  // without power
  };
  enum class Event { kNone, kCut, kBoot };

  void add(const Cut& cut) { cuts_.push_back(cut); }
  // What happens at `t` (seconds after start); called with a growing `t`.
  Event step(double t);
  bool down() const { return down_; }
  const Cut& current() const { return cuts_[next_]; }

 private:
  std::vector<Cut> cuts_;  // in the order given, which is the order of their times
  std::size_t next_ = 0;
  bool down_ = false;
};

class FaultShaper {
 public:
  FaultShaper(const TransportFaults& faults, unsigned seed);
  // What actually goes on the wire for one datagram: none, one or two copies, maybe damaged.
  std::vector<Bytes> shape(Bytes datagram);
  // A junk datagram: random bytes, or a frame or stream header that lies about its contents.
  Bytes garbage();
  const FaultCounters& counters() const { return counters_; }

 private:
  bool chance(double p);
  TransportFaults faults_;
  std::mt19937 rng_;
  FaultCounters counters_;
};

}  // namespace lidar_sim
