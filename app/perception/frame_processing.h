// Frame processing on the worker thread: clean and thin a frame's points, derive the six
// directional obstacle distances (anywhere sideways, and inside the robot's corridors) and the
// obstacle boxes, and store them in the shared state.
#pragma once

#include <cstdint>

#include "perception/point_window.h"
#include "core/stream_queue.h"
#include "perception/cloud_types.h"

namespace app {

// Processes the window's content as the newest frame, handed off at steady time t: thinned
// (read in place while the intake goes on appending), then the distances, the ground and the
// boxes. Results go to `distances`, `corridor_distances` and `obstacle_boxes`, and are returned
// in the stream's form. The distances are NaN until the window has held points for its whole
// span.
FrameSummary process_window(PointWindow& window, uint64_t t);

// The thinned cloud of the calling thread's last processed frame (the worker's), valid until it
// processes the next one.
const Cloud& last_thinned_cloud();

struct FrameDistances {
  // Nearest positive coordinate along each axis direction over the whole cloud.
  ObstacleDistances axes;
  // The same, counting only points in the volume the robot's box sweeps moving that way: ahead
  // of its front face within its y and z extents, and so on for the other five directions.
  ObstacleDistances corridor;
};

// Both kinds of distances in one pass over the cloud; each is kept only when it lies within its
// range limit (0 otherwise): the region of interest's faces for the distances anywhere sideways,
// the corridors' own limits for the corridors.
FrameDistances frame_distances(const Cloud& cloud, const ProcessingParams& params, uint64_t t);
// The same with the frame's ground: a seen plane's points (within the margin above it, or below
// it) count for no corridor, and the corridor below then reaches down to the ground.
FrameDistances frame_distances(const Cloud& cloud, const ProcessingParams& params,
                               const GroundEstimate& ground, uint64_t t);

// The distances anywhere sideways alone.
ObstacleDistances directional_distances(const Cloud& cloud, const ProcessingParams& params,
                                        uint64_t t);

}  // namespace app
