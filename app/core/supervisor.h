// Stream supervisor: judges the streams OK or OFF every cycle, keeps the LiDAR configured,
// queries its internal information and publishes the two state documents.
#pragma once

#include "core/records.h"

namespace app {

// Thread body; returns when running or supervisor_active is cleared, even in the middle of the
// cycle's pause: at once through stop_supervisor_loop, within about 100 ms otherwise.
void supervisor_loop(SupervisorConfig config);

// Clears supervisor_active and wakes the loop from its pause.
void stop_supervisor_loop();

// Status of this moment for the Lidar document; each group is copied under its own lock.
StatusSnapshot take_status_snapshot();

// The Lidar document once more on the way out, after the supervisor has stopped and before the
// LiDAR layer closes: executando and sensor_ativo false, so readers need not wait for the key to
// expire to learn that the service is gone.
void publish_final_status();

}  // namespace app
