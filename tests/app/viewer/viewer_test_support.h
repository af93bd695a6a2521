// What the viewer tests share: boxes given by two corners, and the viewer's flags as the service
// starts with them.
#pragma once

#include "core/shared_state.h"

namespace app {

// An obstacle box given by two opposite corners: all the viewer draws a box from.
inline ObstacleBox corner_box(float x0, float y0, float z0, float x1, float y1, float z1) {
  ObstacleBox box;
  box.min_x = x0;
  box.min_y = y0;
  box.min_z = z0;
  box.max_x = x1;
  box.max_y = y1;
  box.max_z = z1;
  return box;
}

inline void reset_view_flags() {
  map_mode.store(false);
  slam_enabled.store(false);
  color_by_distance.store(true);
  show_boxes.store(false);
  show_axes.store(false);
  sensor_inverted.store(false);
}

}  // namespace app
