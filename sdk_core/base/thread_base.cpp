#include "thread_base.h"

#include <iostream>
#include <system_error>

#include "base/sdk_log.h"

namespace lidar::sdk {

ThreadBase::~ThreadBase() {
  // A derived class joins in its own destructor, before its ThreadFunc state goes away; this
  // is the last line of defence against destroying a joinable thread.
  if (thread_) Join();
}

bool ThreadBase::Start() {
  if (thread_) {
    LIDAR_LOG_ERROR("Start thread failed, the thread is already started.");
    return false;
  }
  quit_ = false;
  try {
    thread_ = std::make_shared<std::thread>([this] { ThreadFunc(); });
  } catch (const std::system_error& e) {
    LIDAR_LOG_ERROR("Start thread failed, {}", e.what());
    return false;
  }
  return true;
}

void ThreadBase::Join() {
  quit_ = true;
  const bool joinable = thread_ && thread_->joinable();
  if (joinable && thread_->get_id() != std::this_thread::get_id()) {
    thread_->join();
  } else {
    std::cout << "failed to join thread, joinable: " << (joinable ? 1 : 0) << std::endl;
    // A thread asked to join itself can only be let go; it ends at its next quit check.
    if (joinable) thread_->detach();
  }
  thread_.reset();
}

}  // namespace lidar::sdk
