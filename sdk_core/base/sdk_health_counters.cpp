#include "sdk_health_counters.h"

#include <algorithm>
#include <chrono>

namespace lidar::sdk {

HealthCounters& HealthCounters::Instance() {
  static HealthCounters instance;
  return instance;
}

int64_t HealthClockMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void HealthCounters::CountReceived(uint16_t local_port) {
  const uint32_t wanted = local_port;
  for (PortSlot& slot : ports_) {
    uint32_t held = slot.port.load(std::memory_order_acquire);
    if (held == 0) {
      // Claim the free slot; a thread that lost the race sees which port won it.
      if (slot.port.compare_exchange_strong(held, wanted, std::memory_order_acq_rel)) {
        held = wanted;
      }
    }
    if (held == wanted) {
      slot.datagrams.fetch_add(1, std::memory_order_relaxed);
      return;
    }
  }
  other_port_datagrams_.fetch_add(1, std::memory_order_relaxed);
}

void HealthCounters::ResetKernelDrops(SocketHandle sock) {
  if (sock < 0 || sock >= kMaxTrackedSockets) return;
  kernel_seen_[sock].store(0, std::memory_order_relaxed);
}

void HealthCounters::NoteKernelDrops(SocketHandle sock, uint32_t socket_total) {
  if (sock < 0 || sock >= kMaxTrackedSockets) return;
  // One IO thread serves each socket, so nobody else moves this slot meanwhile; unsigned
  // arithmetic keeps a counter that wrapped around correct.
  const uint32_t seen = kernel_seen_[sock].exchange(socket_total, std::memory_order_relaxed);
  kernel_drops_.fetch_add(static_cast<uint32_t>(socket_total - seen), std::memory_order_relaxed);
}

void HealthCounters::SetWaitingPorts(const std::vector<uint16_t>& ports) {
  for (std::size_t i = 0; i < kLidarHealthMaxWaitingPorts; ++i) {
    waiting_ports_[i].store(i < ports.size() ? ports[i] : 0, std::memory_order_relaxed);
  }
}

void HealthCounters::Fill(LidarHealthCounters& out) const {
  out = LidarHealthCounters{};
  for (const PortSlot& slot : ports_) {
    const uint32_t port = slot.port.load(std::memory_order_acquire);
    if (port == 0) continue;
    out.ports[out.port_count].port = static_cast<uint16_t>(port);
    out.ports[out.port_count].datagrams = slot.datagrams.load(std::memory_order_relaxed);
    ++out.port_count;
  }
  out.other_port_datagrams = other_port_datagrams_.load(std::memory_order_relaxed);
  out.dropped_short = dropped_short_.load(std::memory_order_relaxed);
  out.dropped_malformed = dropped_malformed_.load(std::memory_order_relaxed);
  out.dropped_unknown_sender = dropped_unknown_sender_.load(std::memory_order_relaxed);
  out.kernel_drops = kernel_drops_.load(std::memory_order_relaxed);
  out.kernel_drops_unavailable = !KernelDropCountsAvailable();
  out.crc_rejected = crc_rejected_.load(std::memory_order_relaxed);
  out.requests_timed_out = requests_timed_out_.load(std::memory_order_relaxed);
  out.detection_replies = detection_replies_.load(std::memory_order_relaxed);
  out.unconfigured_replies = unconfigured_replies_.load(std::memory_order_relaxed);
  out.last_unconfigured_lidar = last_unconfigured_lidar_.load(std::memory_order_relaxed);

  for (const auto& port : waiting_ports_) {
    const uint16_t waiting = port.load(std::memory_order_relaxed);
    if (waiting != 0) out.waiting_ports[out.waiting_port_count++] = waiting;
  }

  const int64_t now = HealthClockMs();
  for (const auto& progress : io_progress_ms_) {
    const int64_t last = progress.load(std::memory_order_relaxed);
    if (last == 0) continue;
    ++out.io_threads;
    const uint64_t idle = static_cast<uint64_t>(std::max<int64_t>(0, now - last));
    out.io_stall_ms = std::max(out.io_stall_ms, idle);
  }
}

}  // namespace lidar::sdk
