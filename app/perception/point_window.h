// The rolling window of recent point packets: its container and the operations on it. The
// intake appends to it, the worker thins it in place (without holding up the intake), the
// readers copy it when they look.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <vector>

#include "core/records.h"

namespace app {

// Rolling accumulator of recent packets, one entry per non-empty packet, oldest first. Its
// reader does not get a copy per packet: a packet only appends its own points, and the window
// counts the change so that the reader builds its copy when it next looks.
struct PointWindow {
  std::atomic<int64_t> window_ms{0};   // entries older than this are dropped; 0 = keep
  std::atomic<int64_t> max_points{0};  // bound on the points a snapshot returns
  std::mutex lock;
  std::deque<PointFrame> queue;
  std::size_t stored_points = 0;               // sum of the queued entries' sizes
  std::vector<std::vector<CloudPoint>> spare;  // buffers of dropped entries, reused by appends
  uint64_t revision = 0;                       // counts appends and pushes
  uint64_t published = 0;                      // revision the reader's copy was last built from
  std::atomic<uint64_t> clears{0};             // counts window_clear calls
  uint64_t run_start_ms = 0;  // stamp of the first entry since the window was empty
  // Entries' buffers dropped while window_read calls go through the entries (`readers` of
  // them): left untouched until the last such read ends, then spare.
  std::vector<std::vector<CloudPoint>> retired;
  int readers = 0;
};

// One packet's intake: appends its points (when there are any) as an entry stamped `now`, then
// prunes with `now`. Costs the packet's own points, whatever the window holds. Beyond the time
// rule, entries are dropped oldest first while the newer ones alone still hold max_points
// points, so a window that never expires (window_ms 0) cannot grow without bound.
void window_append(PointWindow& window, const CloudPoint* points, std::size_t count, uint64_t now,
                   Tilt tilt = {});
// Drops entries older than window_ms relative to now. Caller holds window.lock.
void window_prune_locked(PointWindow& window, uint64_t now);
// The window's content as of the last append, without pruning, read in place: at most
// max_points points, newest entries first, each entry's points in their stored order, an entry
// cut by the budget giving its last points. `run` is called with each entry's share in that
// order after the window's lock is released: appends, prunes and clears go on meanwhile and
// the entries read stay as they were until the read ends. Returns the content's stamp (0 for
// an empty window).
uint64_t window_read(PointWindow& window,
                     const std::function<void(const CloudPoint*, std::size_t)>& run);
// The same, with each entry's tilt.
uint64_t window_read(PointWindow& window,
                     const std::function<void(const CloudPoint*, std::size_t, const Tilt&)>& run);
// How long the window has held points without a break: its newest stamp less the stamp of the
// first entry appended since it was last empty (0 for an empty window). A window that has not
// yet held its whole span of points sees only part of the scene.
uint64_t window_run_ms(PointWindow& window);
// Empties the queue. Whoever clears a window also clears the copy its reader keeps, so the
// appends before the clear no longer count as unpublished.
void window_clear(PointWindow& window);
// Rebuilds `record` (guarded by `record_mutex`) from the window when packets arrived since it
// was last built, then copies it out (window lock, then the record's own lock, one after the
// other).
PointFrame window_copy_published(PointWindow& window, PointFrame& record, std::mutex& record_mutex);

}  // namespace app
