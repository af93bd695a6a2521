// The two state documents published every supervisor cycle.
#pragma once

#include "app/core/shared_state.h"

namespace app {

inline constexpr const char* kLidarDocumentKey = "ctx:dados_modulo_Lidar";
inline constexpr const char* kImuDocumentKey = "ctx:dados_modulo_Imu";

bool publish_lidar_document(const StatusSnapshot& snapshot);
void publish_imu_document();

}  // namespace app
