// The socket platform layer as both platforms must behave: address text, datagrams with their
// sender, and the wake-up pair.
#include <chrono>
#include <cstring>
#include <thread>

#include <gtest/gtest.h>

#include "base/ipv4_address.h"
#include "base/sdk_socket.h"
#include "base/wake_up_pipe.h"
#include "tests/sdk_core/base/socket_test_support.h"

namespace lidar::sdk {
namespace {

TEST(Ipv4Address, OnlyStrictDottedQuadsParseAndHandlesAreNetworkOrder) {
  uint32_t address = 0;
  ASSERT_TRUE(ParseIpv4("192.168.1.12", &address));
  const uint8_t wire[4] = {192, 168, 1, 12};
  EXPECT_EQ(std::memcmp(&address, wire, 4), 0) << "first octet in the lowest-addressed byte";
  EXPECT_EQ(HandleToIp(address), "192.168.1.12");
  EXPECT_EQ(HandleToIp(IpToHandle("0.0.0.0")), "0.0.0.0");
  EXPECT_EQ(HandleToIp(0xFFFFFFFFu), "255.255.255.255");

  for (const char* bad : {"", "local", "1.2.3", "1.2.3.4.", "1.2.3.4.5", "256.1.1.1", "01.2.3.4",
                          "1..2.3", " 1.2.3.4", "1.2.3.4 ", "1.2.3.-4", "1.2.3.1000", "a.b.c.d"}) {
    EXPECT_FALSE(ParseIpv4(bad, &address)) << bad;
    EXPECT_EQ(IpToHandle(bad), 0u) << bad;
  }
}

TEST(Sockets, DatagramsCarryTheirSenderAndAreCutToTheBuffer) {
  testing::DatagramPair pair;
  ASSERT_TRUE(IsOpenSocket(pair.sock) && IsOpenSocket(pair.peer));
  uint8_t buffer[16];
  const auto start = std::chrono::steady_clock::now();
  EXPECT_LT(ReceiveDatagram(pair.sock, buffer, sizeof(buffer)).length, 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100))
      << "a non-blocking socket with nothing waiting returns at once";

  Ipv4Endpoint to;
  Ipv4Endpoint from;
  ASSERT_TRUE(LocalEndpoint(pair.sock, &to));
  ASSERT_TRUE(LocalEndpoint(pair.peer, &from));
  uint8_t big[100];
  for (int i = 0; i < 100; ++i) big[i] = static_cast<uint8_t>(i);
  ASSERT_EQ(SendDatagram(pair.peer, big, sizeof(big), to), 100);
  ASSERT_TRUE(WaitReadable(pair.sock, 1000));
  const ReceivedDatagram got = ReceiveDatagram(pair.sock, buffer, sizeof(buffer));
  EXPECT_EQ(got.length, 16) << "a datagram larger than the buffer arrives cut, not lost";
  EXPECT_EQ(std::memcmp(buffer, big, 16), 0);
  EXPECT_EQ(HandleToIp(got.from.address), "127.0.0.1");
  EXPECT_EQ(got.from.port, from.port);
}

int64_t SteadyNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// Datagrams read in a batch were read together, long after the first of them arrived: each must
// keep the time it arrived (the kernel's stamp where there is one, else the receive's own time).
TEST(Sockets, DatagramsKeepTheTimeTheyArrivedNotTheTimeTheyWereRead) {
  testing::DatagramPair pair;
  ASSERT_TRUE(IsOpenSocket(pair.sock) && IsOpenSocket(pair.peer));
  const bool stamped = RequestReceiveTimestamps(pair.sock);
  const int64_t first_sent = SteadyNs();
  pair.Send();
  std::this_thread::sleep_for(std::chrono::milliseconds(60));
  pair.Send();
  std::this_thread::sleep_for(std::chrono::milliseconds(60));
  ReceiveBatch batch(8, 64);
  const int64_t read_from = SteadyNs();
  const std::size_t received = batch.Receive(pair.sock, 8);
  const int64_t read_until = SteadyNs();
  ASSERT_GE(received, 1u);
  if (!stamped) {
    EXPECT_GE(batch.datagram(0).arrival_ns, read_from);
    EXPECT_LE(batch.datagram(0).arrival_ns, read_until);
    return;
  }
  ASSERT_EQ(received, 2u);
  const int64_t first = batch.datagram(0).arrival_ns, second = batch.datagram(1).arrival_ns;
  EXPECT_NEAR(first, first_sent, 20000000) << "on the steady clock, not the system clock";
  EXPECT_GT(second - first, 50000000);
  EXPECT_LT(second, read_from - 40000000) << "the arrival, not the read";
}

TEST(WakeUpPipe, AByteWakesTheReaderAndDrainingNeverWaits) {
  WakeUpPipe pipe;
  ASSERT_TRUE(pipe.Open());
  EXPECT_FALSE(WaitReadable(pipe.reader(), 0));
  EXPECT_TRUE(pipe.WakeUp());
  EXPECT_TRUE(WaitReadable(pipe.reader(), 1000));
  pipe.Drain();
  EXPECT_FALSE(WaitReadable(pipe.reader(), 0));

  // A loop may drain after another pass already did: the reader must not wait for a byte.
  const auto start = std::chrono::steady_clock::now();
  pipe.Drain();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));

  pipe.Close();
  EXPECT_FALSE(IsOpenSocket(pipe.reader()));
  EXPECT_FALSE(pipe.WakeUp());
}

}  // namespace
}  // namespace lidar::sdk
