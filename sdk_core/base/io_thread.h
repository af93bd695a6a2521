// A thread that runs passes of its own IO loop until it is joined.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "base/io_loop.h"
#include "base/thread_base.h"

namespace lidar::sdk {

class IOThread : public ThreadBase {
 public:
  IOThread() = default;
  ~IOThread() override;

  // Creates a fresh loop (replacing an earlier one) and initialises it.
  bool Init(bool enable_timer);
  std::shared_ptr<IOLoop> loop() const { return loop_; }
  // Before Start: the thread stores the steady-clock milliseconds of every completed pass in
  // `slot`, and 0 when it ends, so a stuck loop can be told from an idle one.
  void ReportProgressTo(std::atomic<int64_t>* slot) { progress_ = slot; }

 protected:
  void ThreadFunc() override;

 private:
  std::shared_ptr<IOLoop> loop_;
  std::atomic<int64_t>* progress_ = nullptr;
};

}  // namespace lidar::sdk
