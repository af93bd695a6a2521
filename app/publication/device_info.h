// The internal-information callback: fills the device fields from the LiDAR's answer (the
// information-change callback, which brings the LiDAR to streaming, is core/lidar_bring_up).
#pragma once

#include <cstddef>
#include <cstdint>

#include "lidar_sdk.h"

namespace app {

// Completion of the internal-information query: a successful answer updates the device
// strings, the temperature and the power-on count.
void on_internal_info(CommandStatus status, uint32_t handle,
                      LidarDiagInternalInfoResponse* response, void* client_data);

// Walks an internal-information answer held in `length` bytes (ret_code u8, param_num u16, then
// key u16, length u16, value per entry) and stores the device fields it carries. Stops after
// param_num entries or at the first entry that does not lie wholly inside the bytes.
void apply_internal_info(const uint8_t* bytes, std::size_t length);

}  // namespace app
