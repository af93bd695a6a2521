#include "frame_processing.h"

#include <cmath>
#include <cstdint>
#include <utility>
#include <vector>

#include <pcl/filters/filter.h>
#include <pcl/point_cloud.h>
#include <pcl/point_types.h>

#include "app/perception/cloud_thinning.h"
#include "app/perception/voxel_clustering.h"

namespace app {
namespace {

void mark_unorganised(Cloud& cloud) {
  cloud.width = static_cast<uint32_t>(cloud.points.size());
  cloud.height = 1;
  cloud.is_dense = false;
}

void store_distances(const ObstacleDistances& result) {
  std::lock_guard<std::mutex> hold(state_mutex);
  distances = result;
}

void store_boxes(std::vector<ObstacleBox> boxes) {
  std::lock_guard<std::mutex> hold(state_mutex);
  obstacle_boxes.swap(boxes);
}

void store_empty_frame(uint64_t t) {
  ObstacleDistances none;
  none.frame_ms = t;
  store_distances(none);
  store_boxes({});
}

// Keeps the nearest positive distance seen so far in `nearest` (0 = none yet).
inline void keep_nearest(float& nearest, float distance) {
  if (nearest == 0.f || nearest > distance) nearest = distance;
}

inline void limit(float& distance, float face) {
  if (distance > face) distance = 0.f;
}

}  // namespace

CloudPtr frame_to_cloud(const PointFrame& frame) {
  auto cloud = std::make_shared<Cloud>();
  cloud->points.reserve(frame.points.size());
  for (const CloudPoint& point : frame.points) {
    if (!std::isfinite(point.x) || !std::isfinite(point.y) || !std::isfinite(point.z)) continue;
    cloud->points.emplace_back(point.x, point.y, point.z);
  }
  mark_unorganised(*cloud);
  if (cloud->points.empty()) return cloud;

  std::vector<int> kept;
  pcl::removeNaNFromPointCloud(*cloud, *cloud, kept);
  mark_unorganised(*cloud);
  return cloud;
}

ObstacleDistances directional_distances(const Cloud& cloud, const ProcessingParams& params,
                                        uint64_t t) {
  ObstacleDistances result;
  result.frame_ms = t;
  for (const pcl::PointXYZ& point : cloud.points) {
    if (point.x > 0.f) keep_nearest(result.frente, point.x);
    else if (point.x < 0.f) keep_nearest(result.tras, -point.x);
    if (point.y > 0.f) keep_nearest(result.esquerda, point.y);
    else if (point.y < 0.f) keep_nearest(result.direita, -point.y);
    if (point.z > 0.f) keep_nearest(result.cima, point.z);
    else if (point.z < 0.f) keep_nearest(result.baixo, -point.z);
  }
  limit(result.frente, params.roi_x_max);
  limit(result.tras, std::fabs(params.roi_x_min));
  limit(result.esquerda, params.roi_y_max);
  limit(result.direita, std::fabs(params.roi_y_min));
  limit(result.cima, params.roi_z_max);
  limit(result.baixo, std::fabs(params.roi_z_min));
  return result;
}

void process_frame(const PointFrame& frame, uint64_t t) {
  const ProcessingParams params = copy_processing_params();

  const CloudPtr cloud = frame_to_cloud(frame);
  if (cloud->points.empty()) {
    store_empty_frame(t);
    return;
  }

  const CloudPtr thinned = thin_cloud(cloud, params.voxel_size);
  store_distances(directional_distances(*thinned, params, t));

  if (static_cast<int64_t>(thinned->points.size()) < params.min_cluster_voxels) {
    store_boxes({});
    return;
  }
  store_boxes(cluster_obstacles(*thinned, params, t));
}

}  // namespace app
