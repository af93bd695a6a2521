#include "service_health.h"

#include "app/core/app_health.h"
#include "app/core/service_notify.h"
#include "app/core/shared_state.h"
#include "app/publication/diag_document.h"
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
