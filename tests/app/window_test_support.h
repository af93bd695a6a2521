// Test-side ways into the point window and the frame stream's queue that the service itself
// never needs: a whole frame pushed as one entry, a copy of the window's content, an emptied
// queue. Built on the window's and the queue's own operations.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>

#include "perception/point_window.h"
#include "core/stream_queue.h"

namespace app::test {

// A frame as one window entry, stamped with its own stamp (an empty frame stores nothing).
inline void push_frame(PointWindow& window, const PointFrame& frame) {
  window_append(window, frame.points.data(), frame.points.size(), frame.stamp_ms, frame.tilt);
}

// The window's content as a reader sees it (newest entry first, within the point bound).
inline PointFrame content_of(PointWindow& window) {
  PointFrame out;
  out.stamp_ms = window_read(window, [&out](const CloudPoint* points, std::size_t count) {
    out.points.insert(out.points.end(), points, points + count);
  });
  return out;
}

// The same after pruning with `now`.
inline PointFrame snapshot(PointWindow& window, uint64_t now) {
  {
    std::lock_guard<std::mutex> hold(window.lock);
    window_prune_locked(window, now);
  }
  return content_of(window);
}

// Forgets every queued stream entry.
inline void clear_stream_queue() {
  StreamEntry entry;
  while (take_stream_entry(entry, std::chrono::milliseconds(0))) {
  }
}

}  // namespace app::test
