// The live view: what the LiDAR sees, for viewers of the robotics ecosystem that connect over the
// Foxglove WebSocket protocol, and for a browser, from a page served on the same port. Opt-in
// (the configuration file's "live_view", or --debug without a display). It runs on a thread of
// its own; the processing worker only leaves frames in its feed (live_view_feed.h).
#pragma once

#include <cstdint>
#include <string>

namespace app {

struct LiveViewSettings {
  std::string bind = "127.0.0.1";
  uint16_t port = 8765;
};

// Listens and starts the server's thread; returns the port it listens on. 0, with an
// "[ERR] live view ..." line, when it cannot listen there: the service runs on without it.
uint16_t start_live_view(const LiveViewSettings& settings);
// Closes every connection and joins the thread; nothing when it was not started.
void stop_live_view();

}  // namespace app
