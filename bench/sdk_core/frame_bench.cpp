// Checksums and control-frame packing/checking at the sizes the SDK sends and receives.
#include <cstdint>
#include <vector>

#include <benchmark/benchmark.h>

#include "base/crc.h"
#include "sdk_protocol.h"

namespace {

std::vector<uint8_t> Bytes(std::size_t n) {
  std::vector<uint8_t> v(n);
  for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(i * 131 + 7);
  return v;
}

void BM_Crc16(benchmark::State& state) {
  const auto data = Bytes(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(lidar::sdk::Crc16(data.data(), data.size()));
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_Crc16)->Arg(18)->Arg(1376)->Arg(65536);

void BM_Crc32(benchmark::State& state) {
  const auto data = Bytes(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(lidar::sdk::Crc32(data.data(), data.size()));
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_Crc32)->Arg(18)->Arg(1376)->Arg(65536);

// A full-size frame packed and then checked, as a request and its acknowledgement would be.
void BM_PackAndCheck(benchmark::State& state) {
  auto payload = Bytes(static_cast<std::size_t>(state.range(0)));
  std::vector<uint8_t> buffer(lidar::sdk::kMaxCommandBufferSize, 0);
  lidar::sdk::SdkProtocol protocol;
  lidar::sdk::CommPacket packet;
  packet.cmd_id = lidar::sdk::kCommandIdWriteKeyValue;
  packet.data = payload.data();
  packet.data_len = static_cast<uint16_t>(payload.size());
  uint32_t length = 0;
  for (auto _ : state) {
    protocol.Pack(buffer.data(), static_cast<uint32_t>(buffer.size()), &length, packet);
    benchmark::DoNotOptimize(protocol.CheckPacket(buffer.data(), length));
  }
}
BENCHMARK(BM_PackAndCheck)->Arg(0)->Arg(1376);

}  // namespace
