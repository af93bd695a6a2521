// Recording stand-in for the SDK's public functions, linked into entry-point tests.
#pragma once

#include <string>
#include <vector>

#include "lidar_sdk.h"

namespace fake_sdk {

extern std::vector<std::string> calls;
extern bool init_result;
extern bool start_result;
extern std::string init_path;
extern LidarPointCloudCallback point_callback;
extern LidarImuDataCallback imu_callback;
extern LidarInfoChangeCallback info_callback;
// Called by LidarSdkUninit after recording it, when set.
extern void (*uninit_hook)();

void reset();

}  // namespace fake_sdk
