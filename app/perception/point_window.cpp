#include "point_window.h"

#include <algorithm>
#include <utility>

namespace app {

namespace {

// Dropped entries leave their buffers for later appends; beyond this many they are released.
constexpr std::size_t kMaxSpareBuffers = 256;

std::size_t point_budget(const PointWindow& window) {
  const int64_t max_points = window.max_points.load();
  return max_points > 0 ? static_cast<std::size_t>(max_points) : 0;
}

// An entry's buffer leaves the queue: kept for a later append, or while a read may still be
// going through it, or released.
void retire_locked(PointWindow& window, std::vector<CloudPoint>& points) {
  if (window.readers > 0) {
    window.retired.push_back(std::move(points));
  } else if (window.spare.size() < kMaxSpareBuffers) {
    window.spare.push_back(std::move(points));
  }
}

void drop_oldest_locked(PointWindow& window) {
  PointFrame& oldest = window.queue.front();
  window.stored_points -= oldest.points.size();
  retire_locked(window, oldest.points);
  window.queue.pop_front();
}

// Appends an entry and applies both retention rules. Caller holds window.lock.
void append_locked(PointWindow& window, const CloudPoint* points, std::size_t count, uint64_t now,
                   Tilt tilt) {
  ++window.revision;
  window_prune_locked(window, now);
  if (count > 0) {
    if (window.queue.empty()) window.run_start_ms = now;
    PointFrame entry;
    if (!window.spare.empty()) {
      entry.points = std::move(window.spare.back());
      window.spare.pop_back();
    }
    entry.points.assign(points, points + count);
    entry.stamp_ms = now;
    entry.tilt = tilt;
    window.queue.push_back(std::move(entry));
    window.stored_points += count;
  }
  const std::size_t keep = point_budget(window);
  while (window.queue.size() > 1 &&
         window.stored_points - window.queue.front().points.size() >= keep) {
    drop_oldest_locked(window);
  }
}

// Calls `run` with each entry's share of a snapshot, newest entry first, an entry cut by the
// budget giving its last points; returns the newest entry's stamp. Caller holds window.lock.
template <typename Run>
uint64_t for_each_run_locked(const PointWindow& window, Run&& run) {
  if (window.queue.empty()) return 0;
  std::size_t budget = point_budget(window);
  for (auto it = window.queue.rbegin(); it != window.queue.rend() && budget > 0; ++it) {
    const auto& points = it->points;
    const std::size_t take = std::min(points.size(), budget);
    run(points.data() + (points.size() - take), take, it->tilt);
    budget -= take;
  }
  return window.queue.back().stamp_ms;
}

// One read's shares of the entries, taken under the lock and gone through after it. While a
// read is counted, the buffers of entries leaving the queue are retired instead of reused or
// released; the last read to end hands them back.
class OutsideRead {
 public:
  struct Share {
    const CloudPoint* points;
    std::size_t count;
    Tilt tilt;
  };

  explicit OutsideRead(PointWindow& window) : window_(window) {
    std::lock_guard<std::mutex> hold(window.lock);
    shares_.reserve(window.queue.size());
    stamp_ = for_each_run_locked(
        window, [this](const CloudPoint* points, std::size_t count, const Tilt& tilt) {
          shares_.push_back({points, count, tilt});
        });
    ++window.readers;
  }

  ~OutsideRead() {
    std::lock_guard<std::mutex> hold(window_.lock);
    if (--window_.readers > 0) return;
    for (auto& points : window_.retired) retire_locked(window_, points);
    window_.retired.clear();
  }

  OutsideRead(const OutsideRead&) = delete;
  OutsideRead& operator=(const OutsideRead&) = delete;

  uint64_t stamp() const { return stamp_; }
  const std::vector<Share>& shares() const { return shares_; }

 private:
  PointWindow& window_;
  std::vector<Share> shares_;
  uint64_t stamp_ = 0;
};

// The snapshot of the queue as it stands. Caller holds window.lock.
void snapshot_locked(const PointWindow& window, PointFrame& out) {
  out.points.clear();
  out.points.reserve(std::min(window.stored_points, point_budget(window)));
  out.stamp_ms =
      for_each_run_locked(window, [&out](const CloudPoint* points, std::size_t count, const Tilt&) {
        out.points.insert(out.points.end(), points, points + count);
      });
}

}  // namespace

void window_prune_locked(PointWindow& window, uint64_t now) {
  const int64_t window_ms = window.window_ms.load();
  if (window_ms == 0) return;
  const uint64_t limit = static_cast<uint64_t>(window_ms);
  // An entry stamped after `now` (a caller's clock read before another's append) is not old.
  while (!window.queue.empty() && now > window.queue.front().stamp_ms &&
         now - window.queue.front().stamp_ms > limit) {
    drop_oldest_locked(window);
  }
}

void window_append(PointWindow& window, const CloudPoint* points, std::size_t count, uint64_t now,
                   Tilt tilt) {
  std::lock_guard<std::mutex> hold(window.lock);
  append_locked(window, points, count, now, tilt);
}

uint64_t window_read(PointWindow& window,
                     const std::function<void(const CloudPoint*, std::size_t)>& run) {
  return window_read(window, [&run](const CloudPoint* points, std::size_t count, const Tilt&) {
    run(points, count);
  });
}

uint64_t window_read(PointWindow& window,
                     const std::function<void(const CloudPoint*, std::size_t, const Tilt&)>& run) {
  const OutsideRead read(window);
  for (const auto& share : read.shares()) run(share.points, share.count, share.tilt);
  return read.stamp();
}

uint64_t window_run_ms(PointWindow& window) {
  std::lock_guard<std::mutex> hold(window.lock);
  if (window.queue.empty()) return 0;
  const uint64_t newest = window.queue.back().stamp_ms;
  return newest > window.run_start_ms ? newest - window.run_start_ms : 0;
}

void window_clear(PointWindow& window) {
  std::lock_guard<std::mutex> hold(window.lock);
  if (window.readers > 0) {
    for (auto& entry : window.queue) window.retired.push_back(std::move(entry.points));
  }
  window.queue.clear();
  window.stored_points = 0;
  window.published = window.revision;
  window.clears.fetch_add(1);
}

// A clear that lands between the two holds wins: the clearer empties the record after the
// window, so a copy built before the clear is dropped.
PointFrame window_copy_published(PointWindow& window, PointFrame& record,
                                 std::mutex& record_mutex) {
  PointFrame fresh;
  bool rebuilt = false;
  uint64_t clears = 0;
  {
    std::lock_guard<std::mutex> hold(window.lock);
    if (window.published != window.revision) {
      snapshot_locked(window, fresh);
      window.published = window.revision;
      clears = window.clears.load();
      rebuilt = true;
    }
  }
  std::lock_guard<std::mutex> hold(record_mutex);
  if (rebuilt && window.clears.load() == clears) {
    record.points.swap(fresh.points);
    record.stamp_ms = fresh.stamp_ms;
  }
  return record;
}

}  // namespace app
