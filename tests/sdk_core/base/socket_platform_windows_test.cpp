// The Windows Sockets side of the socket platform layer: select's limit on the number of
// sockets, exclusive ports, and kernel drop counts that do not exist.
#include <winsock2.h>

#include <gtest/gtest.h>

#include "base/sdk_health_counters.h"
#include "base/sdk_socket.h"

namespace lidar::sdk {
namespace {

TEST(WindowsSockets, SelectTakesAnyHandleValueButNoMoreThanFdSetSizeSockets) {
  EXPECT_TRUE(SelectCanWatch(5000, 0)) << "handles are not indexes into the set";
  EXPECT_TRUE(SelectCanWatch(5000, FD_SETSIZE - 1));
  EXPECT_FALSE(SelectCanWatch(5000, FD_SETSIZE));
  EXPECT_FALSE(SelectCanWatch(kInvalidSocket, 0));
}

TEST(WindowsSockets, OwnedPortsCannotBeTakenOverWhileSharedOnesCanBeJoined) {
  const auto open = [](uint16_t port, PortSharing sharing) {
    return CreateSocket(port, true, sharing, false, "127.0.0.1", "");
  };
  const SocketHandle owned = open(56910, PortSharing::kOwned);
  ASSERT_TRUE(IsOpenSocket(owned));
  EXPECT_EQ(open(56910, PortSharing::kShared), kInvalidSocket)
      << "SO_REUSEADDR must not take over a port the SDK owns";
  EXPECT_EQ(open(56910, PortSharing::kOwned), kInvalidSocket);

  const SocketHandle shared = open(56911, PortSharing::kShared);
  const SocketHandle joined = open(56911, PortSharing::kShared);
  EXPECT_TRUE(IsOpenSocket(shared));
  EXPECT_TRUE(IsOpenSocket(joined));
  for (SocketHandle sock : {owned, shared, joined}) CloseSocket(sock);
}

TEST(WindowsSockets, KernelDropCountsAreReportedUnavailable) {
  LidarHealthCounters out{};
  HealthCounters::Instance().Fill(out);
  EXPECT_TRUE(out.kernel_drops_unavailable);
}

}  // namespace
}  // namespace lidar::sdk
