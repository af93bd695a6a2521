// Debug viewer thread control. Only viewer sources include PCL's visualisation headers.
#pragma once

namespace app {

// Starts the viewer thread unless one is marked active; true when a viewer is (now) running.
// False when no window can be shown: no X display can be opened (said in one "[VIEWER]" line on
// standard error, once per process), the thread cannot be created, or the build has no viewer
// (also said once). The service goes on without a window.
bool start_viewer();
// Whether this build and this computer can show the window at all (a viewer build and an X display
// that opens); says nothing either way.
bool viewer_can_open_window();
// The window is replaced (by the live view): from now on start_viewer opens nothing and says
// nothing, since the replacement says where to look.
void forgo_viewer_window();
// Clears viewer_active and joins the viewer thread if it was running (never from the viewer
// thread itself). True when a running viewer was stopped.
bool stop_viewer();

}  // namespace app
