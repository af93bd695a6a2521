#include "service_notify.h"

#include <atomic>
#include <cstdio>

#include "core/platform.h"

namespace app {
namespace {

std::atomic<uint32_t> io_threads_at_start{0};
std::atomic<bool> last_verdict_ok{true};

}  // namespace

ProgressVerdict judge_progress(uint64_t now_ms, const AppHealth& app, uint32_t io_threads,
                               uint32_t io_threads_expected, uint64_t io_stall_ms,
                               const ProgressLimits& limits) {
  ProgressVerdict verdict;
  auto stalled = [&verdict](std::string what) {
    verdict.ok = false;
    if (!verdict.stalled.empty()) verdict.stalled += "; ";
    verdict.stalled += what;
  };
  if (app.worker_pass_ms == 0) {
    stalled("worker de processamento nao iniciou");
  } else if (now_ms > app.worker_pass_ms && now_ms - app.worker_pass_ms > limits.worker_ms) {
    stalled("worker de processamento parado ha " + std::to_string(now_ms - app.worker_pass_ms) +
            " ms");
  }
  if (io_threads < io_threads_expected) {
    stalled("threads de IO do SDK: " + std::to_string(io_threads) + " de " +
            std::to_string(io_threads_expected) + " rodando");
  }
  if (io_threads > 0 && io_stall_ms > limits.io_ms) {
    stalled("thread de IO do SDK parada ha " + std::to_string(io_stall_ms) + " ms");
  }
  return verdict;
}

void notify_ready(uint32_t sdk_io_threads) {
  io_threads_at_start.store(sdk_io_threads);
  last_verdict_ok.store(true);
  notify_service_manager("READY=1");
}

uint32_t expected_io_threads() { return io_threads_at_start.load(); }

void notify_stopping() { notify_service_manager("STOPPING=1"); }

void watchdog_cycle(const ProgressVerdict& verdict) {
  if (!service_manager_present()) return;
  const bool was_ok = last_verdict_ok.exchange(verdict.ok);
  if (verdict.ok) {
    notify_service_manager("WATCHDOG=1");
    if (!was_ok) {
      std::fputs("[SUP] progresso retomado; watchdog reativado\n", stdout);
      std::fflush(stdout);
    }
  } else if (was_ok) {
    // Without the keep-alive the service manager ends and restarts the service.
    std::fprintf(stderr, "[ERR] %s; watchdog suspenso\n", verdict.stalled.c_str());
    std::fflush(stderr);
  }
}

}  // namespace app
