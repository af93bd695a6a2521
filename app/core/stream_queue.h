// Hand-off to the frame stream: the processing worker leaves one entry per processed frame here,
// the supervisor one when the stream goes OFF and one when it is OK again, and the stream writer
// (app/publication/frame_stream) takes them in that order and sends them to Redis on a
// connection of its own. Offering never waits for Redis: the queue is small and bounded, its
// lock is held only to copy an entry in or out, and a full queue gives up its oldest entry
// (counted as dropped), so a stalled writer costs old entries, never a late frame.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/records.h"
#include "core/zone_events.h"

namespace app {

enum class StreamEvent : uint8_t {
  kFrame,      // a processed frame
  kStreamOff,  // the supervisor declared the stream OFF
  kStreamOk,   // ... and OK again
};

// What one frame gave, in the form the stream publishes it.
struct FrameSummary {
  ObstacleDistances distances;
  ObstacleDistances corridor;
  uint32_t box_count = 0;
  bool has_nearest_box = false;
  ObstacleBox nearest_box;  // smallest frente_m among the boxes given (the stream's: not ground)
  GroundEstimate ground;    // frames only
};

FrameSummary summarize_frame(const ObstacleDistances& nearest, const ObstacleDistances& corridor,
                             const std::vector<ObstacleBox>& boxes);

struct StreamEntry {
  StreamEvent event = StreamEvent::kFrame;
  uint64_t stamp_ms = 0;  // wall_ms of the frame's newest datagram, or of the transition
  FrameSummary frame;
  uint64_t processing_ns = 0;  // frames only
  ZoneStates zones;            // as they stood when the entry was made
};

inline constexpr std::size_t kStreamQueueCapacity = 16;

// Queues a copy of the entry and wakes the writer.
void offer_stream_entry(const StreamEntry& entry);
// The oldest queued entry, waiting up to `wait` for one; false when none came (or the wait was
// cut short by wake_stream_queue).
bool take_stream_entry(StreamEntry& out, std::chrono::milliseconds wait);
// Cuts a waiting take short, so a writer that is being stopped sees its flag at once.
void wake_stream_queue();

}  // namespace app
