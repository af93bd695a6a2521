// Console interrupt handling: the first SIGINT or SIGTERM clears `running` so the entry point
// shuts down in order; a second one ends the process at once.
#pragma once

namespace app {

void install_shutdown_signal_handlers();

}  // namespace app
