// A bounded hand-off between two threads that never blocks the one offering: a ring of fixed
// slots (offering copies into a slot and never allocates) that drops its oldest item when full.
// The frame stream's entries and the zones' events go to their Redis writers through one each.
#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>

namespace app {

template <typename T, std::size_t Capacity>
struct DropOldestQueue {
  std::mutex mutex;
  std::condition_variable ready;
  std::array<T, Capacity> slots;
  std::size_t first = 0;
  std::size_t count = 0;
};

// Queues `item` and wakes the taker; returns true when the oldest item was dropped for it.
template <typename T, std::size_t Capacity>
bool queue_offer(DropOldestQueue<T, Capacity>& q, const T& item) {
  bool dropped = false;
  {
    std::lock_guard<std::mutex> hold(q.mutex);
    if (q.count == Capacity) {
      q.first = (q.first + 1) % Capacity;
      --q.count;
      dropped = true;
    }
    q.slots[(q.first + q.count) % Capacity] = item;
    ++q.count;
  }
  q.ready.notify_one();
  return dropped;
}

// The oldest item, waiting up to `wait` for one; false when none came.
template <typename T, std::size_t Capacity>
bool queue_take(DropOldestQueue<T, Capacity>& q, T& out, std::chrono::milliseconds wait) {
  std::unique_lock<std::mutex> hold(q.mutex);
  if (q.count == 0) q.ready.wait_for(hold, wait);
  if (q.count == 0) return false;
  out = q.slots[q.first];
  q.first = (q.first + 1) % Capacity;
  --q.count;
  return true;
}

// Wakes a taker now (to see a stop).
template <typename T, std::size_t Capacity>
void queue_wake(DropOldestQueue<T, Capacity>& q) {
  // Passing through the lock first: a taker between its check and its wait cannot miss this.
  { std::lock_guard<std::mutex> hold(q.mutex); }
  q.ready.notify_all();
}

template <typename T, std::size_t Capacity>
void queue_clear(DropOldestQueue<T, Capacity>& q) {
  std::lock_guard<std::mutex> hold(q.mutex);
  q.first = q.count = 0;
}

}  // namespace app
