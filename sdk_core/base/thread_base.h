// A thread owned by one object: Start runs ThreadFunc on a new thread, Join stops it by the
// quit flag and waits for it.
#pragma once

#include <atomic>
#include <memory>
#include <thread>

#include "base/noncopyable.h"

namespace lidar::sdk {

class ThreadBase : public noncopyable {
 public:
  ThreadBase() = default;
  virtual ~ThreadBase();

  // Clears the quit flag and starts ThreadFunc on a new thread. False when this object already
  // runs a thread or the platform refuses a new one.
  bool Start();
  // Sets the quit flag and joins the thread; without a joinable thread it says so on standard
  // output. The thread object is released in both cases.
  void Join();

 protected:
  virtual void ThreadFunc() = 0;

  std::atomic<bool> quit_{false};
  std::shared_ptr<std::thread> thread_;
};

}  // namespace lidar::sdk
