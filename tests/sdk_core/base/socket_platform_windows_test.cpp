// The Windows Sockets side of the socket platform layer: select's limit on the number of
// sockets, exclusive ports, and kernel drop counts that do not exist.
#include <winsock2.h>

#include <gtest/gtest.h>

#include "sdk_core/base/health_counters.h"
#include "sdk_core/base/udp_socket.h"

namespace lidar::sdk {
namespace {

TEST(WindowsSockets, SelectTakesAnyHandleValueButNoMoreThanFdSetSizeSockets) {
  EXPECT_TRUE(SelectCanWatch(5000, 0)) << "handles are not indexes into the set";
  EXPECT_TRUE(SelectCanWatch(5000, FD_SETSIZE - 1));
  EXPECT_FALSE(SelectCanWatch(5000, FD_SETSIZE));
  EXPECT_FALSE(SelectCanWatch(kInvalidSocket, 0));
}

TEST(WindowsSockets, OwnedPortsCannotBeTakenOverWhileSharedOnesCanBeJoined) {
  const SocketHandle owned = CreateSocket(56910, true, PortSharing::kOwned, false, "127.0.0.1", "");
  ASSERT_TRUE(IsOpenSocket(owned));
  EXPECT_EQ(CreateSocket(56910, true, PortSharing::kShared, false, "127.0.0.1", ""), kInvalidSocket)
      << "SO_REUSEADDR must not take over a port the SDK owns";
  EXPECT_EQ(CreateSocket(56910, true, PortSharing::kOwned, false, "127.0.0.1", ""), kInvalidSocket);

  const SocketHandle shared = CreateSocket(56911, true, PortSharing::kShared, true, "127.0.0.1", "");
  const SocketHandle joined = CreateSocket(56911, true, PortSharing::kShared, true, "127.0.0.1", "");
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
