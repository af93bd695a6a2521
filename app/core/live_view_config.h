// The live view's settings from the service's configuration file: the optional top-level member
// "live_view", {"bind": "127.0.0.1", "port": 8765}. The LiDAR layer reads the same file and
// ignores the member.
#pragma once

#include <optional>
#include <string>

#include "live_view/live_view.h"

namespace app {

struct LiveViewConfig {
  bool present = false;  // the file asks for the live view
  LiveViewSettings settings;
};

// Fills `config` from the file's "live_view" (either member may be left out: loopback, 8765)
// and returns nothing; a member that is there but malformed gives the console line that refuses
// it.
std::optional<std::string> read_live_view_config(const std::string& config_path,
                                                 LiveViewConfig& config);

}  // namespace app
