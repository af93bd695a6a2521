#include "io_thread.h"

namespace lidar::sdk {

IOThread::~IOThread() {
  if (thread_) Join();
  if (loop_) loop_->Uninit();
  loop_.reset();
}

bool IOThread::Init(bool enable_timer, bool enable_wake) {
  loop_ = std::make_shared<IOLoop>(enable_timer, enable_wake);
  return loop_->Init();
}

void IOThread::ThreadFunc() {
  const std::shared_ptr<IOLoop> loop = loop_;
  if (!loop) return;
  while (!quit_) loop->Loop();
}

}  // namespace lidar::sdk
