// The SDK's public read-out of its health counters.
#include "lidar_sdk.h"
#include "base/sdk_health_counters.h"

void LidarGetHealthCounters(LidarHealthCounters* out) {
  if (out != nullptr) lidar::sdk::HealthCounters::Instance().Fill(*out);
}
