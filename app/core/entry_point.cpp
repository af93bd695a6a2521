#include "entry_point.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "core/lidar_bring_up.h"
#include "core/platform.h"
#include "core/robot_config.h"
#include "core/self_check.h"
#include "core/service_notify.h"
#include "core/shared_state.h"
#include "core/supervisor.h"
#include "perception/imu_intake.h"
#include "perception/point_intake.h"
#include "publication/frame_stream.h"
#include "publication/redis_publisher.h"
#include "viewer/viewer.h"
#include "lidar_sdk.h"

namespace app {
namespace {

constexpr const char* kUsage = "Uso: app <config.json> [--debug]\n";
constexpr const char* kRedisUri = "tcp://127.0.0.1:6379";

std::thread worker_thread;
std::thread supervisor_thread;

void stop_worker() {
  const bool was_active = processing_active.load();
  stop_processing_worker();
  if (was_active && worker_thread.joinable()) worker_thread.join();
}

void stop_supervisor() {
  stop_supervisor_loop();
  if (supervisor_thread.joinable()) supervisor_thread.join();
}

}  // namespace

int run_app(int argc, char** argv) {
  if (argc < 2) {
    std::fputs(kUsage, stdout);
    std::fflush(stdout);
    return -1;
  }
  const std::string config_path = argv[1];
  debug_mode.store(argc >= 3 && std::strcmp(argv[2], "--debug") == 0);

  ProcessingParams params;
  if (const auto refused = read_robot_box(config_path, params.robot)) {
    std::fputs(refused->c_str(), stderr);
    std::fflush(stderr);
    return -1;
  }

  install_console_control();
  SelfCheckSettings checks;
  checks.config_path = config_path;
  checks.redis_uri = kRedisUri;
  run_self_check(checks);

  reset_shared_state();
  set_processing_params(params);

  if (!processing_active.exchange(true)) worker_thread = std::thread(processing_worker_loop);

  redis_publisher = std::make_unique<RedisPublisher>(kRedisUri);
  start_frame_stream(kRedisUri);

  if (!LidarSdkInit(config_path.c_str(), "", nullptr)) {
    std::fputs("[ERR] LidarSdkInit falhou\n", stderr);
    stop_worker();
    stop_frame_stream();
    return -1;
  }
  SetLidarPointCloudCallback(on_point_cloud, nullptr);
  SetLidarImuDataCallback(on_imu_data, nullptr);
  SetLidarInfoChangeCallback(on_info_change, nullptr);

  if (!LidarSdkStart()) {
    std::fputs("[ERR] LidarSdkStart falhou\n", stderr);
    LidarSdkUninit();
    stop_worker();
    stop_frame_stream();
    return -1;
  }

  LidarHealthCounters sdk_health{};
  LidarGetHealthCounters(&sdk_health);
  notify_ready(sdk_health.io_threads);

  supervisor_active.store(true);
  supervisor_thread = std::thread(supervisor_loop, SupervisorConfig{});

  while (running.load()) std::this_thread::sleep_for(std::chrono::milliseconds(100));

  notify_stopping();
  stop_supervisor();
  publish_final_status();
  stop_worker();
  stop_frame_stream();
  stop_viewer();
  LidarSdkUninit();
  return 0;
}

}  // namespace app
