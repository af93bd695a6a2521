// Debug viewer thread control. Only viewer sources include PCL's visualisation headers.
#pragma once

namespace app {

// Starts the viewer thread unless one is marked active; true when a viewer is (now) running.
// False, with one "[VIEWER]" line on standard error, when no X display can be opened or the
// thread cannot be created; the service goes on without a window.
bool start_viewer();
// Clears viewer_active and joins the viewer thread if it was running (never from the viewer
// thread itself). True when a running viewer was stopped.
bool stop_viewer();

}  // namespace app
