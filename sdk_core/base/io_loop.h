// One IO loop: a select-based multiplexer plus a list of tasks posted from any thread and run
// on the loop's own thread after each poll. Registrations are posted as tasks, so all
// multiplexer state is touched only by the loop thread.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "base/multiple_io_base.h"

namespace lidar::sdk {

class IOLoop {
 public:
  // Receiver of the events of the sockets it registers. Not owned by the loop: it must outlive
  // its registrations. Its handlers run on the loop thread.
  class IOLoopDelegate {
   public:
    virtual void OnData(int sock, void* client_data) = 0;
    virtual void OnTimer(TimePoint now) = 0;

   protected:
    ~IOLoopDelegate() = default;
  };

  static constexpr int kPollSize = 48;
  static constexpr int kPollTimeoutMs = 50;

  explicit IOLoop(bool enable_timer);
  ~IOLoop();
  IOLoop(const IOLoop&) = delete;
  IOLoop& operator=(const IOLoop&) = delete;

  bool Init();
  void Uninit();
  // One pass: poll up to 50 ms, then run the tasks posted so far in posting order.
  void Loop();

  // Before the loop thread starts: passes that handed a delegate socket data begin at least
  // `interval` apart, so datagrams arriving close together are taken in one receive rather than
  // a wake-up each. Zero, the default, serves every event as it comes.
  void SetGatherInterval(std::chrono::microseconds interval) { gather_interval_ = interval; }

  // Post the registration or removal of `sock` to the loop thread and wake it; returns at once.
  void AddDelegate(int sock, IOLoopDelegate* delegate, void* client_data);
  void RemoveDelegate(int sock, IOLoopDelegate* delegate);

 private:
  void PostTask(std::function<void()> task);

  std::mutex mutex_;
  bool enable_timer_;
  std::vector<std::function<void()>> tasks_;
  std::chrono::microseconds gather_interval_{0};
  bool served_ = false;  // the current pass handed a delegate socket data; loop thread only
  std::unique_ptr<MultipleIOBase> poller_;
};

}  // namespace lidar::sdk
