#include "device_info.h"

#include "app/core/shared_state.h"

namespace app {

void on_info_change(uint32_t handle, const LidarInfo* info, void*) {
  if (info) lidar_handle.store(handle);
}

void on_internal_info(CommandStatus, uint32_t, LidarDiagInternalInfoResponse*, void*) {}

}  // namespace app
