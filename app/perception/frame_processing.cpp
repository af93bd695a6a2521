#include "frame_processing.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
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

constexpr float kNone = std::numeric_limits<float>::infinity();

// Distance along one axis direction of a coordinate, or kNone when it lies on the other side
// (or on the axis plane). Written as a selection so the scan has no data-dependent branches.
inline float ahead(float v) { return v > 0.f ? v : kNone; }
inline float behind(float v) { return v < 0.f ? -v : kNone; }

// The nearest distance found, 0 when there was none or it lies beyond the region face.
inline float within(float nearest, float face) {
  return nearest == kNone || nearest > face ? 0.f : nearest;
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

  pcl::Indices kept;
  pcl::removeNaNFromPointCloud(*cloud, *cloud, kept);
  mark_unorganised(*cloud);
  return cloud;
}

ObstacleDistances directional_distances(const Cloud& cloud, const ProcessingParams& params,
                                        uint64_t t) {
  float frente = kNone, tras = kNone, esquerda = kNone, direita = kNone, cima = kNone,
        baixo = kNone;
  for (const pcl::PointXYZ& point : cloud.points) {
    frente = std::min(frente, ahead(point.x));
    tras = std::min(tras, behind(point.x));
    esquerda = std::min(esquerda, ahead(point.y));
    direita = std::min(direita, behind(point.y));
    cima = std::min(cima, ahead(point.z));
    baixo = std::min(baixo, behind(point.z));
  }
  ObstacleDistances result;
  result.frame_ms = t;
  result.frente = within(frente, params.roi_x_max);
  result.tras = within(tras, std::fabs(params.roi_x_min));
  result.esquerda = within(esquerda, params.roi_y_max);
  result.direita = within(direita, std::fabs(params.roi_y_min));
  result.cima = within(cima, params.roi_z_max);
  result.baixo = within(baixo, std::fabs(params.roi_z_min));
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
