// The SDK's health counters: the per-port table under concurrent receivers, the kernel drop
// totals built from per-socket running counts, and the IO threads' progress.
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <memory>
#include <thread>
#include <vector>

#include "base/sdk_health_counters.h"
#include "base/io_thread.h"
#include "tests/sdk_core/base/socket_test_support.h"

namespace {

using lidar::sdk::HealthCounters;

LidarHealthCounters Read() {
  LidarHealthCounters out{};
  HealthCounters::Instance().Fill(out);
  return out;
}

std::map<uint16_t, uint64_t> PortTable(const LidarHealthCounters& c) {
  std::map<uint16_t, uint64_t> table;
  for (uint32_t i = 0; i < c.port_count; ++i) table[c.ports[i].port] = c.ports[i].datagrams;
  return table;
}

// The counters live for the whole process, so every test works on what it adds.
TEST(HealthCounters, PortsCountedExactlyUnderConcurrentReceiversAndOverflowIsKept) {
  const auto before = PortTable(Read());
  const uint64_t other_before = Read().other_port_datagrams;
  constexpr int kThreads = 4;
  constexpr int kPerThread = 20000;
  std::vector<std::thread> receivers;
  for (int t = 0; t < kThreads; ++t) {
    receivers.emplace_back([t] {
      for (int i = 0; i < kPerThread; ++i) {
        // Two ports every thread shares, one of its own: slots are claimed while others count.
        HealthCounters::Instance().CountReceived(i % 2 == 0 ? 56301 : 56401);
        if (i % 100 == 0) {
          HealthCounters::Instance().CountReceived(static_cast<uint16_t>(40000 + t));
        }
      }
    });
  }
  for (auto& r : receivers) r.join();

  auto after = PortTable(Read());
  auto added = [&](uint16_t port) {
    const auto old = before.find(port);
    return after[port] - (old == before.end() ? 0 : old->second);
  };
  EXPECT_EQ(added(56301), uint64_t{kThreads * kPerThread / 2});
  EXPECT_EQ(added(56401), uint64_t{kThreads * kPerThread / 2});
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(added(static_cast<uint16_t>(40000 + t)), 200u);

  // More ports than the table holds: the rest are counted together, none is lost.
  const uint32_t used = Read().port_count;
  const uint32_t extra = kLidarHealthMaxPorts - used + 3;
  for (uint32_t i = 0; i < extra; ++i) {
    HealthCounters::Instance().CountReceived(static_cast<uint16_t>(41000 + i));
  }
  const LidarHealthCounters full = Read();
  EXPECT_EQ(full.port_count, kLidarHealthMaxPorts);
  EXPECT_EQ(full.other_port_datagrams - other_before, 3u);
  EXPECT_EQ(PortTable(full).count(0), 0u);
}

TEST(HealthCounters, KernelDropsAddTheGrowthOfEachSocketsRunningCount) {
  auto& health = HealthCounters::Instance();
  const uint64_t start = Read().kernel_drops;
  health.ResetKernelDrops(7);
  health.ResetKernelDrops(8);
  health.NoteKernelDrops(7, 10);
  health.NoteKernelDrops(8, 4);
  health.NoteKernelDrops(7, 10);  // no new drops: nothing added
  health.NoteKernelDrops(7, 25);
  EXPECT_EQ(Read().kernel_drops - start, 29u);

  // A socket reopened on the same descriptor starts from zero, not from the old count.
  health.ResetKernelDrops(7);
  health.NoteKernelDrops(7, 2);
  EXPECT_EQ(Read().kernel_drops - start, 31u);

  // The kernel's 32-bit count wraps around.
  health.ResetKernelDrops(9);
  health.NoteKernelDrops(9, 0xFFFFFFF0u);
  health.NoteKernelDrops(9, 0x00000010u);
  EXPECT_EQ(Read().kernel_drops - start, uint64_t{31} + 0xFFFFFFF0u + 0x20u);

  // Descriptors outside the table are ignored rather than written past it.
  health.NoteKernelDrops(-1, 5);
  health.NoteKernelDrops(HealthCounters::kMaxTrackedSockets, 5);
  EXPECT_EQ(Read().kernel_drops - start, uint64_t{31} + 0xFFFFFFF0u + 0x20u);
}

TEST(HealthCounters, IoThreadsReportProgressWhileRunningAndNothingOnceJoined) {
  auto& slot = HealthCounters::Instance().IoProgress(HealthCounters::kDataIo);
  {
    auto thread = std::make_shared<lidar::sdk::IOThread>();
    thread->ReportProgressTo(&slot);
    ASSERT_TRUE(thread->Init(true));
    ASSERT_TRUE(thread->Start());
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    const LidarHealthCounters running = Read();
    EXPECT_EQ(running.io_threads, 1u);
    // An idle loop still completes a pass every poll time-out (50 ms).
    EXPECT_LT(running.io_stall_ms, 500u);
  }
  EXPECT_EQ(Read().io_threads, 0u);

  // A slot that stopped moving shows its age.
  slot.store(lidar::sdk::HealthClockMs() - 7000);
  const LidarHealthCounters stuck = Read();
  EXPECT_EQ(stuck.io_threads, 1u);
  EXPECT_GE(stuck.io_stall_ms, 7000u);
  slot.store(0);
}

}  // namespace
