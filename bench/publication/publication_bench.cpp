// One publication of each state document against a local redis-server that this program starts.
// It opens sockets, so run it inside the sandbox:
//   tools/sandbox/netns-run -- build/bench/publication/publication_bench
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "publication/state_documents.h"
#include "tests/app/publication/redis_server.h"
#include "core/clocks.h"

namespace {

app::StatusSnapshot busy_snapshot() {
  app::StatusSnapshot s;
  s.timestamp = app::wall_ms();
  s.conectado = s.executando = s.sensor_ativo = true;
  s.lidar_ip = "192.168.1.12";
  s.host_ip = "192.168.1.50";
  s.firmware_version = "1.2.3";
  s.dev_type = "OMNI";
  s.handle = 201435328u;
  s.freq_pcl = 1000.0;
  s.freq_imu = 200.0;
  s.imu_timestamp = s.timestamp;
  s.roll_deg = 1.25;
  s.pitch_deg = -0.5;
  s.yaw_deg = 42.0;
  s.temperatura = 41.5;
  s.vezes_ligado = 321;
  s.frente = 1.23;
  s.tras = 0.0;
  s.esquerda = 0.87;
  s.direita = 1.9;
  s.cima = 1.1;
  s.baixo = 0.45;
  // The most clusters a frame can give; only the 20 nearest are written.
  for (int i = 0; i < 200; ++i) {
    app::ObstacleBox box;
    box.min_x = 0.5f + 0.02f * static_cast<float>(200 - i);
    box.max_x = box.min_x + 0.3f;
    box.min_y = -0.4f;
    box.max_y = 0.4f;
    box.min_z = -0.2f;
    box.max_z = 1.5f;
    box.t_ms = s.timestamp;
    box.voxels = static_cast<uint32_t>(60 + i);
    box.cx = box.frente_m = box.min_x + 0.15f;
    box.w = 0.8f;
    box.h = 1.7f;
    box.d = 0.3f;
    box.dist_m = box.dist_xy_m = box.cx;
    s.boxes.push_back(box);
  }
  return s;
}

void BM_PublishLidarDocument(benchmark::State& state) {
  const app::StatusSnapshot snapshot = busy_snapshot();
  for (auto _ : state) {
    if (!app::publish_lidar_document(snapshot)) state.SkipWithError("publication failed");
  }
}
BENCHMARK(BM_PublishLidarDocument)->Unit(benchmark::kMicrosecond);

void BM_PublishImuDocument(benchmark::State& state) {
  {
    std::lock_guard<std::mutex> hold(app::state_mutex);
    app::attitude = app::AttitudeState{app::wall_ms(), 0.1f, -0.2f, 1.5f, 0.8f, 200.f};
  }
  for (auto _ : state) app::publish_imu_document();
}
BENCHMARK(BM_PublishImuDocument)->Unit(benchmark::kMicrosecond);

// The document work alone, without the round trips.
void BM_BuildLidarEntries(benchmark::State& state) {
  const app::StatusSnapshot snapshot = busy_snapshot();
  for (auto _ : state) benchmark::DoNotOptimize(app::build_lidar_entries(snapshot));
}
BENCHMARK(BM_BuildLidarEntries)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  if (!std::getenv("LIDAR_SANDBOX_INSIDE")) {
    std::fputs("publication_bench opens sockets: run it through tools/sandbox/netns-run\n", stderr);
    return 2;
  }
  testing_support::RedisServer server;
  if (!server.start()) {
    std::fputs("cannot start redis-server\n", stderr);
    return 1;
  }
  app::redis_publisher = std::make_unique<app::RedisPublisher>(server.uri());
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  app::redis_publisher.reset();
  return 0;
}
