#include "service_health.h"

#include "core/app_health.h"
#include "core/service_notify.h"
#include "core/clocks.h"
#include "publication/diag_document.h"
#include "lidar_sdk.h"

namespace app {

void service_health_cycle() {
  LidarHealthCounters sdk{};
  LidarGetHealthCounters(&sdk);
  const ProgressVerdict verdict = judge_progress(steady_ms(), copy_app_health(), sdk.io_threads,
                                                 expected_io_threads(), sdk.io_stall_ms);
  watchdog_cycle(verdict);
  publish_diag_document(sdk, verdict);
}

}  // namespace app
