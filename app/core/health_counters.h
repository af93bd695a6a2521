// The application's health counters: frames the processing worker handled or let pass, how long
// processing took, and failed Redis publications, plus the worker's progress mark that the
// service watchdog reads. Lock-free atomics only; the worker pays a few stores per turn.
#pragma once

#include <chrono>
#include <cstdint>

namespace app {

struct AppHealth {
  uint64_t frames_processed = 0;
  uint64_t frames_skipped = 0;   // taken from the mailbox within the minimum frame interval
  uint64_t last_frame_ns = 0;    // processing time of the newest processed frame
  uint64_t max_frame_ns = 0;     // longest processing time since start
  uint64_t redis_failures = 0;   // publications that did not reach Redis
  uint64_t worker_pass_ms = 0;   // steady_ms of the worker's last turn; 0 before the first
};

// One turn of the processing worker that processed nothing; `skipped` when it took a frame and
// let it go.
void note_worker_pass(bool skipped);
// One processed frame and its processing time; also a worker turn.
void note_frame_processed(uint64_t duration_ns);
void note_publication_failure();

// Runs `process` (the processing of one frame) and records it with its duration.
template <typename Process>
void measure_frame_processing(Process&& process) {
  const auto start = std::chrono::steady_clock::now();
  process();
  const auto took = std::chrono::steady_clock::now() - start;
  note_frame_processed(
      static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(took).count()));
}

AppHealth copy_app_health();

}  // namespace app
