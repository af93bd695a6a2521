// The application's health counters: frames the processing worker handled or let pass, how long
// processing took, and failed Redis publications, plus the worker's progress mark that the
// service watchdog reads. Lock-free atomics only; the worker pays a few stores per turn.
#pragma once

#include <chrono>
#include <cstdint>

namespace app {

// What the supervisor last concluded about the LiDAR link.
enum class LinkState : uint8_t {
  kNoDetectionReply,       // no LiDAR has answered detection
  kUnconfiguredLidar,      // only LiDARs the configuration file has no record for answered
  kAwaitingConfiguration,  // a LiDAR answered but has not taken the host configuration
  kReconfiguring,          // the LiDAR came back after its stream was lost and is configured again
  kNoData,                 // a configured LiDAR, but neither points nor IMU samples arrive
  kPointsMissing,          // IMU samples or undecodable point datagrams, but no points
  kOk,                     // points arrive
};

// The state's name in the diagnostics document.
const char* link_state_name(LinkState state);

struct AppHealth {
  uint64_t frames_processed = 0;
  uint64_t frames_skipped = 0;   // taken from the mailbox within the minimum frame interval
  uint64_t last_frame_ns = 0;    // processing time of the newest processed frame
  uint64_t max_frame_ns = 0;     // longest processing time since start
  uint64_t redis_failures = 0;   // publications that did not reach Redis
  uint64_t worker_pass_ms = 0;   // steady_ms of the worker's last turn; 0 before the first
  uint64_t undecoded_point_datagrams = 0;  // point datagrams that yielded no points
  uint64_t foreign_unit_datagrams = 0;     // stream datagrams of a LiDAR this service ignores
  uint64_t stream_entries_written = 0;     // frame-stream entries Redis took
  uint64_t stream_entries_dropped = 0;     // ... given up: queue full, or Redis did not take them
  uint64_t reconfigurations = 0;           // bring-ups of a LiDAR after its first
  uint64_t repeated_writes = 0;            // writes sent again: not acknowledged, or points missing
  uint64_t live_view_clients = 0;          // live view connections open now
  uint64_t live_view_sent = 0;             // live view messages written to clients
  uint64_t live_view_dropped = 0;          // ... dropped oldest first from a client's full queue
  uint64_t live_view_refused = 0;          // connections refused over the live view's limit
  LinkState link_state = LinkState::kNoDetectionReply;
};

// One turn of the processing worker that processed nothing; `skipped` when it took a frame and
// let it go.
void note_worker_pass(bool skipped);
// One processed frame and its processing time; also a worker turn.
void note_frame_processed(uint64_t duration_ns);
void note_publication_failure();
void note_undecoded_point_datagram();
void note_foreign_unit_datagram();
void note_stream_entry_written();
void note_stream_entry_dropped();
void note_live_view_clients(uint64_t open);
void note_live_view_sent();
void note_live_view_dropped();
void note_live_view_refused();
void note_link_state(LinkState state);
void note_reconfiguration();
void note_repeated_write();

// Runs `process` (the processing of one frame) and records it with its duration, which it
// returns in nanoseconds.
template <typename Process>
uint64_t measure_frame_processing(Process&& process) {
  const auto start = std::chrono::steady_clock::now();
  process();
  const auto took = std::chrono::steady_clock::now() - start;
  const auto ns =
      static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(took).count());
  note_frame_processed(ns);
  return ns;
}

AppHealth copy_app_health();

}  // namespace app
