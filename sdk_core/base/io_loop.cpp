#include "io_loop.h"

#include <new>
#include <thread>
#include <utility>

#include "base/multiple_io_select.h"
#include "base/sdk_log.h"

namespace lidar::sdk {

IOLoop::IOLoop(bool enable_timer) : enable_timer_(enable_timer) {}

IOLoop::~IOLoop() { Uninit(); }

bool IOLoop::Init() {
  try {
    poller_ = std::make_unique<MultipleIOSelect>();
  } catch (const std::bad_alloc&) {
    LIDAR_LOG_ERROR("Creat Multiple IO Failed!");
    return false;
  }
  if (!poller_->PollCreate(kPollSize)) {
    LIDAR_LOG_ERROR("Poll Create Failed!");
    return false;
  }
  return true;
}

void IOLoop::Uninit() {
  if (poller_) poller_->PollDestroy();
}

void IOLoop::Loop() {
  const auto pass_start = std::chrono::steady_clock::now();
  served_ = false;
  if (poller_) poller_->Poll(kPollTimeoutMs);
  std::vector<std::function<void()>> tasks;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    tasks.swap(tasks_);
  }
  for (auto& task : tasks) task();
  // Only after data: an idle loop still answers its first datagram at once.
  if (served_ && gather_interval_.count() > 0) {
    std::this_thread::sleep_until(pass_start + gather_interval_);
  }
}

void IOLoop::AddDelegate(int sock, IOLoopDelegate* delegate, void* client_data) {
  PostTask([this, sock, delegate, client_data] {
    IODescriptor descriptor;
    descriptor.fd = sock;
    descriptor.mask = kEventRead;
    descriptor.on_event = [this, sock, delegate, client_data](uint32_t fired) {
      if ((fired & kEventRead) && delegate != nullptr) {
        delegate->OnData(sock, client_data);
        served_ = true;
      }
    };
    if (enable_timer_ && delegate != nullptr) {
      descriptor.on_timer = [delegate](TimePoint now) { delegate->OnTimer(now); };
    }
    if (poller_) poller_->AddDelegate(descriptor);
  });
}

void IOLoop::RemoveDelegate(int sock, IOLoopDelegate*) {
  PostTask([this, sock] {
    IODescriptor descriptor;
    descriptor.fd = sock;
    descriptor.mask = kEventRead;
    if (poller_) poller_->RemoveDelegate(descriptor);
  });
}

void IOLoop::PostTask(std::function<void()> task) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    tasks_.push_back(std::move(task));
  }
  if (poller_) poller_->WakeUp();
}

}  // namespace lidar::sdk
