// The SDK's health counters: what arrived, what was thrown away and why, and whether the IO
// threads are still turning. Every counter is a lock-free atomic, so the receive path pays a
// few relaxed increments and never waits on a reader.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "lidar_sdk.h"
#include "base/socket_platform.h"

namespace lidar::sdk {

class HealthCounters {
 public:
  // IO threads of the device manager, one progress slot each.
  enum IoRole { kDetectionIo = 0, kCommandIo = 1, kDataIo = 2, kIoRoles = 3 };
  // Descriptors whose kernel drop counts are followed; select() cannot serve larger ones anyway.
  // Only POSIX reports such counts: on Windows the slots stay unused.
  static constexpr int kMaxTrackedSockets = 1024;

  static HealthCounters& Instance();

  void CountReceived(uint16_t local_port);
  void CountShort() { dropped_short_.fetch_add(1, std::memory_order_relaxed); }
  void CountMalformed() { dropped_malformed_.fetch_add(1, std::memory_order_relaxed); }
  void CountUnknownSender() { dropped_unknown_sender_.fetch_add(1, std::memory_order_relaxed); }
  void CountCrcRejected() { crc_rejected_.fetch_add(1, std::memory_order_relaxed); }
  void CountTimedOut(uint64_t requests) {
    requests_timed_out_.fetch_add(requests, std::memory_order_relaxed);
  }
  void CountDetectionReply() { detection_replies_.fetch_add(1, std::memory_order_relaxed); }
  // A LiDAR answered detection but the configuration has no record for it, so it is not taken.
  void CountUnconfiguredReply(uint32_t handle) {
    last_unconfigured_lidar_.store(handle, std::memory_order_relaxed);
    unconfigured_replies_.fetch_add(1, std::memory_order_relaxed);
  }

  // The host ports that could not be opened yet (another process holds them), at most
  // kLidarHealthMaxWaitingPorts of them; written by the channels whenever the list changes.
  void SetWaitingPorts(const std::vector<uint16_t>& ports);

  // A socket was opened on this descriptor: its kernel drop count starts from zero.
  void ResetKernelDrops(SocketHandle sock);
  // The kernel's running drop count of `sock`, as delivered with a received datagram; the
  // growth since the previous report is added to the total.
  void NoteKernelDrops(SocketHandle sock, uint32_t socket_total);

  // Progress slot of an IO thread: the steady-clock milliseconds of its last completed pass,
  // 0 while no such thread runs.
  std::atomic<int64_t>& IoProgress(IoRole role) { return io_progress_ms_[role]; }

  void Fill(LidarHealthCounters& out) const;

  HealthCounters(const HealthCounters&) = delete;
  HealthCounters& operator=(const HealthCounters&) = delete;

 private:
  HealthCounters() = default;

  struct PortSlot {
    std::atomic<uint32_t> port{0};  // 0 = free; claimed once, never released
    std::atomic<uint64_t> datagrams{0};
  };

  PortSlot ports_[kLidarHealthMaxPorts];
  std::atomic<uint64_t> other_port_datagrams_{0};
  std::atomic<uint64_t> dropped_short_{0};
  std::atomic<uint64_t> dropped_malformed_{0};
  std::atomic<uint64_t> dropped_unknown_sender_{0};
  std::atomic<uint64_t> crc_rejected_{0};
  std::atomic<uint64_t> requests_timed_out_{0};
  std::atomic<uint64_t> kernel_drops_{0};
  std::atomic<uint64_t> detection_replies_{0};
  std::atomic<uint64_t> unconfigured_replies_{0};
  std::atomic<uint32_t> last_unconfigured_lidar_{0};
  std::atomic<uint32_t> kernel_seen_[kMaxTrackedSockets] = {};
  std::atomic<int64_t> io_progress_ms_[kIoRoles] = {};
  std::atomic<uint16_t> waiting_ports_[kLidarHealthMaxWaitingPorts] = {};  // 0 = unused
};

// Steady-clock milliseconds, the time base of the progress slots.
int64_t HealthClockMs();

}  // namespace lidar::sdk
