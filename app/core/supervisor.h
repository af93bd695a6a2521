// Stream supervisor: judges the streams OK or OFF every cycle, keeps the LiDAR configured,
// queries its internal information and publishes the two state documents.
#pragma once

#include "app/core/shared_state.h"

namespace app {

// Thread body; returns when running or supervisor_active is cleared.
void supervisor_loop(SupervisorConfig config);

StatusSnapshot take_status_snapshot();

}  // namespace app
