// Device information callbacks: configure the LiDAR on an information change and fill the
// device fields from the internal-information answer.
#pragma once

#include <cstddef>
#include <cstdint>

#include "lidar_sdk.h"

namespace app {

// Records the handle and sends work mode 1, point data type 1 and point sending; prints the
// handle and the three send statuses. A null info prints the handle only.
void on_info_change(uint32_t handle, const LidarInfo* info, void* client_data);

// Completion of the internal-information query: a successful answer updates the device
// strings, the temperature and the power-on count.
void on_internal_info(CommandStatus status, uint32_t handle,
                      LidarDiagInternalInfoResponse* response, void* client_data);

// Walks an internal-information answer held in `length` bytes (ret_code u8, param_num u16, then
// key u16, length u16, value per entry) and stores the device fields it carries. Stops after
// param_num entries or at the first entry that does not lie wholly inside the bytes.
void apply_internal_info(const uint8_t* bytes, std::size_t length);

}  // namespace app
