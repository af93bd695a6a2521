#include "io_thread.h"

#include "base/sdk_health_counters.h"

namespace lidar::sdk {

IOThread::~IOThread() {
  if (thread_) Join();
  if (loop_) loop_->Uninit();
  loop_.reset();
}

bool IOThread::Init(bool enable_timer) {
  loop_ = std::make_shared<IOLoop>(enable_timer);
  return loop_->Init();
}

void IOThread::ThreadFunc() {
  const std::shared_ptr<IOLoop> loop = loop_;
  if (!loop) return;
  if (progress_) progress_->store(HealthClockMs(), std::memory_order_relaxed);
  while (!quit_) {
    loop->Loop();
    if (progress_) progress_->store(HealthClockMs(), std::memory_order_relaxed);
  }
  if (progress_) progress_->store(0, std::memory_order_relaxed);
}

}  // namespace lidar::sdk
