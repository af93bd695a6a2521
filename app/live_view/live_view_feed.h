// Hand-off from the processing worker to the live view: one slot that the worker fills after each
// frame, beside its frame-stream entry, and the live view's thread empties. Offering never waits
// for a client: it copies what the connected clients asked for into the slot (replacing a frame
// the live view has not taken yet) and wakes the live view's thread. With no client connected it
// costs one atomic load.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "core/records.h"
#include "core/stream_queue.h"
#include "perception/cloud_types.h"

namespace app {

// What the clients want of each frame (a union of the flags below).
enum LiveViewWant : unsigned {
  kWantFrames = 1u,  // anything: the frame's summary (distances, corridors, nearest box)
  kWantPoints = 2u,  // the thinned cloud
  kWantBoxes = 4u,   // every obstacle box
};

struct LiveFrame {
  StreamEntry entry;  // the frame stream's entry of the frame
  std::vector<XyzPoint> points;
  bool has_points = false;
  std::vector<ObstacleBox> boxes;
  bool has_boxes = false;
};

// Set by the live view whenever its clients' subscriptions change.
void set_live_view_wants(unsigned wants);
unsigned live_view_wants();

// The worker's call after each frame: `entry` as offered to the frame stream, `thinned` the cloud
// the frame was processed from; the boxes are read from the shared state.
void offer_live_view_frame(const StreamEntry& entry, const Cloud& thinned);

// The newest offered frame, swapped into `out` (whose buffers go back to the slot for reuse);
// false when none came since the last take.
bool take_live_view_frame(LiveFrame& out);

// Called after each offer, inside the feed's lock (so a waker cleared by the live view's stop is
// never called afterwards); it must only post work, never wait. Empty: nobody is woken.
void set_live_view_waker(std::function<void()> waker);

}  // namespace app
