// Talking to the service manager that started the process: start-up complete, stopping, and the
// watchdog keep-alive, which is sent only while the supervisor, the processing worker and the
// SDK's IO threads all make progress. Without a service manager (no NOTIFY_SOCKET in the
// environment, and always on Windows) nothing is sent and nothing is printed.
#pragma once

#include <cstdint>
#include <string>

#include "core/app_health.h"

namespace app {

struct ProgressLimits {
  uint64_t worker_ms = 5000;  // longest pause between two turns of the processing worker
  uint64_t io_ms = 5000;      // longest pause between two passes of an SDK IO thread
};

struct ProgressVerdict {
  bool ok = true;
  std::string stalled;  // what stopped making progress, for the console; empty when ok
};

// Whether the worker and the SDK's IO threads are still turning at `now_ms` (steady_ms): the
// worker's last turn and the IO threads' longest pause against the limits, and all the IO
// threads that were running at start-up still running.
ProgressVerdict judge_progress(uint64_t now_ms, const AppHealth& app, uint32_t io_threads,
                               uint32_t io_threads_expected, uint64_t io_stall_ms,
                               const ProgressLimits& limits = {});

// READY=1, once the SDK has started; remembers how many IO threads it runs.
void notify_ready(uint32_t sdk_io_threads);
// IO threads the SDK ran when READY=1 was sent.
uint32_t expected_io_threads();
// STOPPING=1, when the orderly shutdown begins.
void notify_stopping();
// Called once per supervisor cycle: WATCHDOG=1 while the verdict is ok; a console line when
// it turns bad and when it turns good again.
void watchdog_cycle(const ProgressVerdict& verdict);

}  // namespace app
