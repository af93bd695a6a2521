// What the operator reads while no stream arrives: every supervisor cycle judges the LiDAR link
// from the stream times and the SDK's detection counters, notes the state for the diagnostics
// document and, while nothing streams, says what is missing and its most likely cause once per
// report period.
#pragma once

#include <cstdint>
#include <string>

#include "core/app_health.h"

namespace app {

struct LinkFacts {
  uint32_t handle = 0;              // lidar_handle
  bool stream_ok = false;           // points or IMU samples arrive
  bool points_alive = false;        // points arrive
  bool points_undecoded = false;    // point datagrams arrive, in a form not decoded here
  bool reconfiguring = false;       // it came back after its stream was lost, configured again
  uint64_t detection_replies = 0;   // from the SDK's health counters
  uint64_t unconfigured_replies = 0;
  uint32_t unconfigured_lidar = 0;
  uint16_t waiting_port = 0;  // a host port another process holds, 0 when none
};

LinkState judge_link(const LinkFacts& facts);

// The "[ERR]" line for a state in which nothing streams, empty for the others. `answering`:
// detection answers still arrive; `silent_s`: how long nothing has streamed.
std::string link_problem_line(LinkState state, const LinkFacts& facts, bool answering,
                              uint64_t silent_s);

// The supervisor's memory of the link between cycles.
struct LinkWatch {
  uint64_t silent_since_ms = 0;  // start of the current stretch without a stream; 0 streaming
  uint64_t last_line_ms = 0;
  uint64_t replies_seen = 0;
  uint64_t replies_grew_ms = 0;
};

// One cycle at `now` (steady ms): notes the state and prints the line once the link has been
// silent for `period_ms`, then every `period_ms` while it stays so.
LinkState watch_link(LinkWatch& watch, const LinkFacts& facts, uint64_t now, uint64_t period_ms);

}  // namespace app
