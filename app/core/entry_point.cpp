#include "entry_point.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/lidar_bring_up.h"
#include "core/clocks.h"
#include "core/geometry_config.h"
#include "core/instance_config.h"
#include "core/live_view_config.h"
#include "core/platform.h"
#include "core/redis_config.h"
#include "core/robot_config.h"
#include "core/self_check.h"
#include "core/service_notify.h"
#include "core/shared_state.h"
#include "core/supervisor.h"
#include "core/zone_config.h"
#include "core/zone_events.h"
#include "live_view/live_view.h"
#include "perception/datagram_clock.h"
#include "perception/imu_intake.h"
#include "perception/mounting.h"
#include "perception/point_intake.h"
#include "perception/zone_intake.h"
#include "publication/frame_stream.h"
#include "publication/redis_publisher.h"
#include "publication/service_keys.h"
#include "publication/state_documents.h"
#include "publication/zone_stream.h"
#include "viewer/viewer.h"
#include "lidar_sdk.h"

namespace app {
namespace {

constexpr const char* kUsage = "Uso: app <config.json> [--debug]\n";

std::thread worker_thread;
std::thread supervisor_thread;

void stop_worker() {
  const bool was_active = processing_active.load();
  stop_processing_worker();
  if (was_active && worker_thread.joinable()) worker_thread.join();
}

// The live view when the file asks for it, or in place of a debug window that this build or this
// computer cannot show (its one line then says where to look instead).
void start_live_view_if_asked(const LiveViewConfig& config, bool instead_of_window) {
  if (!config.present && !instead_of_window) return;
  const LiveViewSettings& s = config.settings;
  const uint16_t port = start_live_view(s);
  if (port == 0) return;
  if (instead_of_window) {
    std::printf(
        "[VIEWER] Sem janela de debug neste computador: abra http://%s:%u/ no navegador "
        "(Foxglove e Lichtblick: ws://%s:%u)\n",
        s.bind.c_str(), port, s.bind.c_str(), port);
  } else {
    std::printf(
        "[INFO] live view em http://%s:%u/ (navegador); Foxglove e Lichtblick: "
        "ws://%s:%u\n",
        s.bind.c_str(), port, s.bind.c_str(), port);
  }
  std::fflush(stdout);
}

// An option this program does not know (--help, a mistyped switch) asks for the usage text; it
// must not be taken for a file name or silently ignored.
bool unknown_option(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (argv[i][0] != '-') continue;
    if (std::strcmp(argv[i], "--debug") == 0) continue;
    return true;
  }
  return false;
}

void stop_supervisor() {
  stop_supervisor_loop();
  if (supervisor_thread.joinable()) supervisor_thread.join();
}

}  // namespace

int run_app(int argc, char** argv) {
  if (argc < 2 || unknown_option(argc, argv)) {
    std::fputs(kUsage, stdout);
    std::fflush(stdout);
    return -1;
  }
  const std::string config_path = argv[1];
  debug_mode.store(argc >= 3 && std::strcmp(argv[2], "--debug") == 0);

  // The service's own members of the file, each refusing the start when malformed.
  ProcessingParams params;
  LiveViewConfig live_view;
  RedisSettings redis;
  std::string instance;
  std::vector<ZoneSettings> zones;
  for (const auto& refused :
       {read_robot_box(config_path, params.robot), read_mounting(config_path, params.mounting),
        read_corridor_limits(config_path, params.corridor),
        read_ground_settings(config_path, params.ground),
        read_live_view_config(config_path, live_view), read_redis_config(config_path, redis),
        read_instance(config_path, instance), read_zones(config_path, zones)}) {
    if (!refused) continue;
    std::fputs(refused->c_str(), stderr);
    std::fflush(stderr);
    return -1;
  }
  set_service_instance(instance);
  // The probe before anything starts: on a computer without one the window is replaced at once.
  const bool view_instead_of_window = debug_mode.load() && !viewer_can_open_window();
  if (view_instead_of_window) forgo_viewer_window();

  install_console_control();
  SelfCheckSettings checks;
  checks.config_path = config_path;
  checks.redis = redis;
  checks.lidar_document_key = service_key(kLidarDocumentKey);
  run_self_check(checks);

  reset_shared_state();
  set_processing_params(params);
  set_intake_mounting(params.mounting);
  set_intake_zones(zones, params.robot, params.ground);

  if (!processing_active.exchange(true)) worker_thread = std::thread(processing_worker_loop);

  redis_publisher = std::make_unique<RedisPublisher>(redis);
  start_frame_stream(redis);
  start_zone_stream(redis);

  if (intake_has_zones()) LidarSetDataGatherInterval(kZoneGatherIntervalUs);
  if (!LidarSdkInit(config_path.c_str(), "", nullptr)) {
    std::fputs("[ERR] LidarSdkInit falhou\n", stderr);
    stop_worker();
    stop_frame_stream();
    stop_zone_stream();
    return -1;
  }
  use_datagram_arrival_clock(LidarDatagramArrivalNs);
  SetLidarPointCloudCallback(on_point_cloud, nullptr);
  SetLidarImuDataCallback(on_imu_data, nullptr);
  SetLidarInfoChangeCallback(on_info_change, nullptr);

  if (!LidarSdkStart()) {
    std::fputs("[ERR] LidarSdkStart falhou\n", stderr);
    LidarSdkUninit();
    stop_worker();
    stop_frame_stream();
    stop_zone_stream();
    return -1;
  }

  LidarHealthCounters sdk_health{};
  LidarGetHealthCounters(&sdk_health);
  notify_ready(sdk_health.io_threads);
  start_live_view_if_asked(live_view, view_instead_of_window);

  supervisor_active.store(true);
  supervisor_thread = std::thread(supervisor_loop, SupervisorConfig{});

  while (running.load()) std::this_thread::sleep_for(std::chrono::milliseconds(100));

  notify_stopping();
  stop_supervisor();
  publish_final_status();
  stop_worker();
  stop_frame_stream();
  // The service's zones are no longer watched: consumers must not keep trusting a "livre".
  declare_zones_unknown(wall_ms());
  stop_zone_stream();
  stop_live_view();
  stop_viewer();
  LidarSdkUninit();
  return 0;
}

}  // namespace app
