// What the kernel's receive stamps cost the data path: batches of 32 point-sized datagrams taken
// off a loopback socket with recvmmsg, with and without SO_TIMESTAMPNS (Arg 1 and 0), per
// datagram. Opens sockets: run it only inside tools/sandbox/netns-run.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <vector>

#include <benchmark/benchmark.h>

#include "base/socket_platform.h"

namespace {

using lidar::sdk::ReceiveBatch;

constexpr std::size_t kBatch = 32;
constexpr std::size_t kDatagram = 1362;  // a point datagram of 96 high-precision points

int LoopbackSocket(sockaddr_in& bound) {
  const int sock = ::socket(AF_INET, SOCK_DGRAM, 0);
  bound = sockaddr_in{};
  bound.sin_family = AF_INET;
  bound.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(sock, reinterpret_cast<const sockaddr*>(&bound), sizeof(bound));
  socklen_t length = sizeof(bound);
  ::getsockname(sock, reinterpret_cast<sockaddr*>(&bound), &length);
  return sock;
}

void BM_ReceiveBatch(benchmark::State& state) {
  sockaddr_in to{}, from{};
  const int receiver = LoopbackSocket(to);
  const int sender = LoopbackSocket(from);
  const int stamped = static_cast<int>(state.range(0));
  ::setsockopt(receiver, SOL_SOCKET, SO_TIMESTAMPNS, &stamped, sizeof(stamped));
  const int buffer = 8 << 20;
  ::setsockopt(receiver, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof(buffer));
  const std::vector<uint8_t> datagram(kDatagram, 0x5A);
  ReceiveBatch batch(kBatch, 8192);
  std::size_t received = 0;
  for (auto _ : state) {
    state.PauseTiming();
    for (std::size_t i = 0; i < kBatch; ++i) {
      ::sendto(sender, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr*>(&to),
               sizeof(to));
    }
    state.ResumeTiming();
    received += batch.Receive(receiver, kBatch);
  }
  state.SetItemsProcessed(static_cast<int64_t>(received));
  ::close(receiver);
  ::close(sender);
}
BENCHMARK(BM_ReceiveBatch)->Arg(0)->Arg(1);

}  // namespace
