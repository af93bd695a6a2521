// The point window as first built, as the oracle for the current one: every datagram pushes
// its frame and takes a full snapshot of the window.
#pragma once

#include <algorithm>
#include <cstdint>
#include <deque>
#include <vector>

#include "core/records.h"

namespace app::reference {

// The window as first built: every datagram pushes its frame and takes a full snapshot.
struct SnapshotWindow {
  int64_t window_ms = 150;
  int64_t max_points = 200000;
  std::deque<PointFrame> queue;

  PointFrame datagram(const std::vector<CloudPoint>& points, uint64_t now) {
    if (!points.empty()) queue.push_back(PointFrame{points, now, Tilt{}});
    while (window_ms != 0 && !queue.empty() &&
           now - queue.front().stamp_ms > static_cast<uint64_t>(window_ms))
      queue.pop_front();
    PointFrame snap;
    if (queue.empty()) return snap;
    snap.stamp_ms = queue.back().stamp_ms;
    std::size_t budget = static_cast<std::size_t>(std::max<int64_t>(0, max_points));
    for (auto it = queue.rbegin(); it != queue.rend() && budget > 0; ++it) {
      const std::size_t take = std::min(budget, it->points.size());
      snap.points.insert(snap.points.end(), it->points.end() - static_cast<std::ptrdiff_t>(take),
                         it->points.end());
      budget -= take;
    }
    return snap;
  }
};

}  // namespace app::reference
