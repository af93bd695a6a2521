// Socket multiplexer behind an IO loop: registered descriptors with their event and timer
// handlers, the wake-up pipe, and timer dispatch at most once per 50 ms.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>

#include "base/wake_up_pipe.h"

namespace lidar::sdk {

constexpr uint32_t kEventRead = 1u << 0;
constexpr uint32_t kEventWrite = 1u << 1;

using TimePoint = std::chrono::steady_clock::time_point;

struct IODescriptor {
  int fd = kInvalidSocket;
  uint32_t mask = 0;
  std::function<void(uint32_t fired)> on_event;
  std::function<void(TimePoint now)> on_timer;
};

class MultipleIOBase {
 public:
  MultipleIOBase() = default;
  virtual ~MultipleIOBase();
  MultipleIOBase(const MultipleIOBase&) = delete;
  MultipleIOBase& operator=(const MultipleIOBase&) = delete;

  // Prepares for up to `size` sockets besides the wake-up reader.
  virtual bool PollCreate(int size) = 0;
  virtual void PollDestroy() = 0;
  // False when the descriptor cannot be watched (capacity, or a descriptor select cannot hold).
  virtual bool AddDelegate(const IODescriptor& descriptor) = 0;
  virtual bool RemoveDelegate(const IODescriptor& descriptor) = 0;
  // Waits up to timeout_ms for events, runs their handlers, then the timers when due.
  virtual void Poll(int timeout_ms) = 0;
  // Makes a Poll in progress (or the next one) return at once. Safe from any thread.
  virtual void WakeUp();
  virtual void HandleTimers();
  virtual bool CreateWakeUpPipe();
  virtual void DestroyWakeUpPipe();

 protected:
  std::map<int, IODescriptor> descriptors_;
  std::unique_ptr<WakeUpPipe> wake_up_pipe_;
  int64_t last_timer_ = 0;  // steady-clock nanoseconds of the last timer dispatch
};

}  // namespace lidar::sdk
