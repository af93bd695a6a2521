#include "baseline_groundless.h"

#include <mutex>
#include <utility>
#include <vector>

#include "core/stream_queue.h"
#include "perception/cloud_thinning.h"
#include "perception/frame_processing.h"
#include "perception/voxel_clustering.h"

namespace baseline {

void process_frame_groundless(const app::PointFrame& frame, uint64_t t) {
  thread_local app::Cloud thinned;
  const app::ProcessingParams params = app::copy_processing_params();
  app::thin_frame(frame, params.voxel_size, thinned);
  app::FrameDistances found;
  found.axes.frame_ms = found.corridor.frame_ms = t;
  if (!thinned.points.empty()) found = app::frame_distances(thinned, params, t);
  {
    std::lock_guard<std::mutex> hold(app::state_mutex);
    app::distances = found.axes;
    app::corridor_distances = found.corridor;
  }
  std::vector<app::ObstacleBox> boxes;
  if (static_cast<int64_t>(thinned.points.size()) >= params.min_cluster_voxels) {
    boxes = app::cluster_obstacles(thinned, params, t);
  }
  app::StreamEntry entry;
  entry.frame = app::summarize_frame(found.axes, found.corridor, boxes);
  {
    std::lock_guard<std::mutex> hold(app::state_mutex);
    app::obstacle_boxes.swap(boxes);
  }
  app::offer_stream_entry(entry);
}

}  // namespace baseline
