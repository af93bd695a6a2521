#include "live_view_feed.h"
#include "core/shared_state.h"

#include <atomic>
#include <mutex>
#include <utility>

namespace app {
namespace {

std::atomic<unsigned> wanted{0};

std::mutex feed_mutex;
LiveFrame slot;
bool slot_full = false;
std::function<void()> wake;

}  // namespace

void set_live_view_wants(unsigned wants) { wanted.store(wants); }

unsigned live_view_wants() { return wanted.load(); }

void offer_live_view_frame(const StreamEntry& entry, const Cloud& thinned) {
  const unsigned wants = wanted.load();
  if (wants == 0) return;
  // Copied before the feed's lock: the box list has its own.
  std::vector<ObstacleBox> boxes;
  if (wants & kWantBoxes) boxes = copy_obstacle_boxes();

  std::lock_guard<std::mutex> hold(feed_mutex);
  slot.entry = entry;
  slot.has_points = (wants & kWantPoints) != 0;
  if (slot.has_points) {
    slot.points.assign(thinned.points.begin(), thinned.points.end());
  } else {
    slot.points.clear();
  }
  slot.has_boxes = (wants & kWantBoxes) != 0;
  slot.boxes.swap(boxes);
  slot_full = true;
  if (wake) wake();
}

bool take_live_view_frame(LiveFrame& out) {
  std::lock_guard<std::mutex> hold(feed_mutex);
  if (!slot_full) return false;
  std::swap(slot, out);
  slot_full = false;
  return true;
}

void set_live_view_waker(std::function<void()> waker) {
  std::lock_guard<std::mutex> hold(feed_mutex);
  wake = std::move(waker);
  slot_full = false;
}

}  // namespace app
