// A thread that runs passes of its own IO loop until it is joined.
#pragma once

#include <memory>

#include "sdk_core/base/io_loop.h"
#include "sdk_core/base/thread_base.h"

namespace lidar::sdk {

class IOThread : public ThreadBase {
 public:
  IOThread() = default;
  ~IOThread() override;

  // Creates a fresh loop (replacing an earlier one) and initialises it.
  bool Init(bool enable_timer, bool enable_wake);
  std::shared_ptr<IOLoop> loop() const { return loop_; }

 protected:
  void ThreadFunc() override;

 private:
  std::shared_ptr<IOLoop> loop_;
};

}  // namespace lidar::sdk
