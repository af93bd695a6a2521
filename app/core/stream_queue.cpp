#include "stream_queue.h"

#include <array>
#include <condition_variable>
#include <mutex>

#include "core/app_health.h"

namespace app {
namespace {

// A ring of fixed slots: offering copies into a slot and never allocates.
std::mutex queue_mutex;
std::condition_variable queue_ready;
std::array<StreamEntry, kStreamQueueCapacity> slots;
std::size_t first = 0;
std::size_t count = 0;

}  // namespace

FrameSummary summarize_frame(const ObstacleDistances& nearest, const ObstacleDistances& corridor,
                             const std::vector<ObstacleBox>& boxes) {
  FrameSummary summary;
  summary.distances = nearest;
  summary.corridor = corridor;
  summary.box_count = static_cast<uint32_t>(boxes.size());
  for (const ObstacleBox& box : boxes) {
    if (!summary.has_nearest_box || box.frente_m < summary.nearest_box.frente_m) {
      summary.nearest_box = box;
      summary.has_nearest_box = true;
    }
  }
  return summary;
}

void offer_stream_entry(const StreamEntry& entry) {
  bool dropped = false;
  {
    std::lock_guard<std::mutex> hold(queue_mutex);
    if (count == kStreamQueueCapacity) {
      first = (first + 1) % kStreamQueueCapacity;
      --count;
      dropped = true;
    }
    slots[(first + count) % kStreamQueueCapacity] = entry;
    ++count;
  }
  if (dropped) note_stream_entry_dropped();
  queue_ready.notify_one();
}

bool take_stream_entry(StreamEntry& out, std::chrono::milliseconds wait) {
  std::unique_lock<std::mutex> hold(queue_mutex);
  if (count == 0) queue_ready.wait_for(hold, wait);
  if (count == 0) return false;
  out = slots[first];
  first = (first + 1) % kStreamQueueCapacity;
  --count;
  return true;
}

void wake_stream_queue() {
  // Passing through the lock first: a writer between its check and its wait cannot miss this.
  { std::lock_guard<std::mutex> hold(queue_mutex); }
  queue_ready.notify_all();
}

}  // namespace app
