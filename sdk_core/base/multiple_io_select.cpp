#include "base/socket_system.h"

#include <algorithm>
#include <thread>

#include "base/multiple_io_select.h"

namespace lidar::sdk {
namespace {

bool InSet(const std::vector<int>& set, int fd) {
  return std::find(set.begin(), set.end(), fd) != set.end();
}

// Whether `fd` is in the set or select() can take it in as one more.
bool FitsSet(const std::vector<int>& set, int fd) {
  return InSet(set, fd) ||
         (set.size() < MultipleIOSelect::kMaxSetSize && SelectCanWatch(fd, set.size()));
}

void AddToSet(std::vector<int>& set, int fd) {
  if (!InSet(set, fd)) set.push_back(fd);
}

void RemoveFromSet(std::vector<int>& set, int fd) {
  set.erase(std::remove(set.begin(), set.end(), fd), set.end());
}

void FillFdSet(const std::vector<int>& fds, fd_set& set) {
  FD_ZERO(&set);
  for (int fd : fds) FD_SET(Native(fd), &set);
}

}  // namespace

MultipleIOSelect::~MultipleIOSelect() { PollDestroy(); }

bool MultipleIOSelect::PollCreate(int size) {
  read_fds_.clear();
  write_fds_.clear();
  capacity_ = size + 1;
  return CreateWakeUpPipe();
}

void MultipleIOSelect::PollDestroy() {
  DestroyWakeUpPipe();
  read_fds_.clear();
  write_fds_.clear();
}

bool MultipleIOSelect::AddDelegate(const IODescriptor& descriptor) {
  // A socket select() cannot watch is refused like one beyond capacity, never accepted and
  // then left unwatched.
  const int fd = descriptor.fd;
  if (!SelectCanWatch(fd, 0) || ((descriptor.mask & kEventRead) && !FitsSet(read_fds_, fd)) ||
      ((descriptor.mask & kEventWrite) && !FitsSet(write_fds_, fd))) {
    return false;
  }
  auto it = descriptors_.find(descriptor.fd);
  if (it == descriptors_.end()) {
    if (static_cast<int>(descriptors_.size()) >= capacity_) return false;
    descriptors_.emplace(descriptor.fd, descriptor);
  } else {
    it->second.mask = descriptor.mask;
    it->second.on_event = descriptor.on_event;
    it->second.on_timer = descriptor.on_timer;
  }
  max_fd_ = std::max(max_fd_, descriptor.fd);
  if (descriptor.mask & kEventRead) AddToSet(read_fds_, descriptor.fd);
  if (descriptor.mask & kEventWrite) AddToSet(write_fds_, descriptor.fd);
  return true;
}

bool MultipleIOSelect::RemoveDelegate(const IODescriptor& descriptor) {
  descriptors_.erase(descriptor.fd);
  RemoveFromSet(read_fds_, descriptor.fd);
  RemoveFromSet(write_fds_, descriptor.fd);
  max_fd_ = descriptors_.empty() ? -1 : descriptors_.rbegin()->first;
  return true;
}

void MultipleIOSelect::Poll(int timeout_ms) {
  if (descriptors_.empty()) {
    if (timeout_ms >= 1) {
      // One sleep can end a little early (Windows rounds it to its timer ticks): sleep again
      // until the clock has really advanced by the timeout.
      const auto deadline =
          std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
      for (auto now = std::chrono::steady_clock::now(); now < deadline;
           now = std::chrono::steady_clock::now()) {
        std::this_thread::sleep_until(deadline);
      }
    }
    return;
  }

  fd_set read_set;
  fd_set write_set;
  FillFdSet(read_fds_, read_set);
  FillFdSet(write_fds_, write_set);
  timeval timeout{timeout_ms / 1000, (timeout_ms % 1000) * 1000};
  const int ready =
      ::select(max_fd_ + 1, &read_set, &write_set, nullptr, timeout_ms < 0 ? nullptr : &timeout);

  if (ready > 0) {
    std::vector<std::pair<int, uint32_t>> fired;
    for (const auto& [fd, descriptor] : descriptors_) {
      uint32_t mask = 0;
      if (FD_ISSET(Native(fd), &read_set)) mask |= kEventRead;
      if (FD_ISSET(Native(fd), &write_set)) mask |= kEventWrite;
      if (mask != 0) fired.emplace_back(fd, mask);
    }
    // A handler may remove registrations, its own included: look each one up again and call a
    // copy of its handler.
    for (const auto& [fd, mask] : fired) {
      const auto it = descriptors_.find(fd);
      if (it == descriptors_.end() || !it->second.on_event) continue;
      const auto on_event = it->second.on_event;
      on_event(mask);
    }
  }
  HandleTimers();
}

}  // namespace lidar::sdk
