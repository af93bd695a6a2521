#include "multiple_io_base.h"

#include <vector>

namespace lidar::sdk {
namespace {
// Just over 50 ms, so a dispatch exactly 50 ms after the last one waits for the next pass.
constexpr int64_t kTimerIntervalNs = 50000001;
}  // namespace

MultipleIOBase::~MultipleIOBase() = default;

void MultipleIOBase::WakeUp() {
  if (wake_up_pipe_) wake_up_pipe_->WakeUp();
}

void MultipleIOBase::HandleTimers() {
  const TimePoint now = std::chrono::steady_clock::now();
  const int64_t now_ns =
      std::chrono::duration_cast<std::chrono::nanoseconds>(now.time_since_epoch()).count();
  if (now_ns - last_timer_ < kTimerIntervalNs) return;
  last_timer_ = now_ns;
  // Copies first: a timer handler may add or remove registrations.
  std::vector<std::function<void(TimePoint)>> timers;
  for (const auto& [fd, descriptor] : descriptors_) {
    if (descriptor.on_timer) timers.push_back(descriptor.on_timer);
  }
  for (const auto& timer : timers) timer(now);
}

bool MultipleIOBase::CreateWakeUpPipe() {
  DestroyWakeUpPipe();
  auto pipe = std::make_unique<WakeUpPipe>();
  if (!pipe->Open()) return false;
  WakeUpPipe* raw = pipe.get();
  wake_up_pipe_ = std::move(pipe);
  IODescriptor descriptor;
  descriptor.fd = raw->reader();
  descriptor.mask = kEventRead;
  descriptor.on_event = [raw](uint32_t) { raw->Drain(); };
  if (!AddDelegate(descriptor)) {
    wake_up_pipe_.reset();
    return false;
  }
  return true;
}

void MultipleIOBase::DestroyWakeUpPipe() {
  if (!wake_up_pipe_) return;
  IODescriptor descriptor;
  descriptor.fd = wake_up_pipe_->reader();
  descriptor.mask = kEventRead | kEventWrite;
  RemoveDelegate(descriptor);
  wake_up_pipe_.reset();
}

}  // namespace lidar::sdk
