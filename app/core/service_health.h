// The supervisor's health step: the SDK's and the application's counters are read, the service
// watchdog is fed only while everything makes progress, and the diagnostics document is
// published.
#pragma once

namespace app {

// Once per supervisor cycle, on the supervisor thread.
void service_health_cycle();

}  // namespace app
