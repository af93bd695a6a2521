// The POSIX side of the socket platform layer: select's limit on descriptor values, the
// kernel's drop counts and the options behind port sharing.
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "base/sdk_health_counters.h"
#include "base/multiple_io_select.h"
#include "base/sdk_socket.h"
#include "tests/sdk_core/base/socket_test_support.h"

namespace lidar::sdk {
namespace {

using testing::SocketOption;

uint64_t KernelDrops() {
  LidarHealthCounters out{};
  HealthCounters::Instance().Fill(out);
  EXPECT_FALSE(out.kernel_drops_unavailable);
  return out.kernel_drops;
}

TEST(PosixSockets, SelectRefusesDescriptorValuesFromFdSetSizeOn) {
  MultipleIOSelect poller;
  ASSERT_TRUE(poller.PollCreate(8));
  IODescriptor d;
  d.mask = kEventRead;
  d.on_event = [](uint32_t) {};
  d.fd = FD_SETSIZE - 1;
  EXPECT_TRUE(poller.AddDelegate(d));
  d.fd = FD_SETSIZE;
  EXPECT_FALSE(poller.AddDelegate(d)) << "an fd_set has no bit for this descriptor";
}

TEST(PosixSockets, EverySocketReportsItsKernelDropsFromZero) {
  auto& health = HealthCounters::Instance();
  const int sock = CreateSocket(0, true, PortSharing::kOwned, false, "127.0.0.1", "");
  ASSERT_GE(sock, 0);
  health.NoteKernelDrops(sock, 100);
  ::close(sock);
  const uint64_t start = KernelDrops();
  const int reopened = CreateSocket(0, true, PortSharing::kOwned, false, "127.0.0.1", "");
  ASSERT_EQ(reopened, sock) << "the lowest free descriptor is reused";
  health.NoteKernelDrops(reopened, 3);
  EXPECT_EQ(KernelDrops() - start, 3u) << "the reopened socket's count starts from zero";
  EXPECT_NE(SocketOption(reopened, SO_RXQ_OVFL), 0)
      << "the kernel is asked for its drop count on every SDK socket";
  ::close(reopened);
}

TEST(PosixSockets, SharedAndOwnedPortsBothUseAddressReuse) {
  const int shared = CreateSocket(0, true, PortSharing::kShared, true, "127.0.0.1", "");
  const int owned = CreateSocket(0, true, PortSharing::kOwned, false, "127.0.0.1", "");
  const int plain = CreateSocket(0, true, PortSharing::kNone, false, "127.0.0.1", "");
  EXPECT_NE(SocketOption(shared, SO_REUSEADDR), 0);
  EXPECT_NE(SocketOption(owned, SO_REUSEADDR), 0);
  EXPECT_EQ(SocketOption(plain, SO_REUSEADDR), 0);
  for (int sock : {shared, owned, plain}) ::close(sock);
}

}  // namespace
}  // namespace lidar::sdk
