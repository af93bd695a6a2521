// A whole frame through the worker's path, for the perception tests: the frame becomes the one
// entry of a window that keeps everything, which is then thinned or processed as the worker
// processes live_window.
#pragma once

#include <cstdint>

#include "perception/point_window.h"
#include "perception/cloud_thinning.h"
#include "perception/frame_processing.h"
#include "tests/app/window_test_support.h"

namespace app::test {

// `window` holding exactly `frame`, with no time limit (so it counts as having held its span).
inline void load_window(PointWindow& window, const PointFrame& frame) {
  window_clear(window);
  window.window_ms = 0;
  window.max_points = static_cast<int64_t>(frame.points.size());
  PointFrame untilted = frame;
  untilted.tilt = Tilt{};
  push_frame(window, untilted);
}

// The frame's points thinned as the worker thins its window.
inline void thin_frame(const PointFrame& frame, float leaf, Cloud& out) {
  PointWindow window;
  load_window(window, frame);
  thin_window(window, leaf, out);
}

// The frame processed as the worker processes its window, at steady time t.
inline FrameSummary process_frame(const PointFrame& frame, uint64_t t) {
  PointWindow window;
  load_window(window, frame);
  return process_window(window, t);
}

}  // namespace app::test
