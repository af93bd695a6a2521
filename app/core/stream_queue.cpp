#include "stream_queue.h"

#include "core/app_health.h"
#include "core/drop_oldest_queue.h"

namespace app {
namespace {

DropOldestQueue<StreamEntry, kStreamQueueCapacity> queue;

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
  if (queue_offer(queue, entry)) note_stream_entry_dropped();
}

bool take_stream_entry(StreamEntry& out, std::chrono::milliseconds wait) {
  return queue_take(queue, out, wait);
}

void wake_stream_queue() { queue_wake(queue); }

}  // namespace app
