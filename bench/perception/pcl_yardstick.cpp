#include "pcl_yardstick.h"

#include <cmath>
#include <memory>
#include <vector>

#include <benchmark/benchmark.h>
#include <pcl/filters/voxel_grid.h>
#include <pcl/search/kdtree.h>
#include <pcl/segmentation/extract_clusters.h>

#include "perception/frame_processing.h"

namespace bench {
namespace {

PclCloud::Ptr region_of_interest(const PclCloud& cloud, const app::ProcessingParams& p) {
  auto roi = std::make_shared<PclCloud>();
  roi->points.reserve(cloud.points.size());
  for (const auto& pt : cloud.points) {
    if (pt.x >= p.roi_x_min && pt.x <= p.roi_x_max && pt.y >= p.roi_y_min && pt.y <= p.roi_y_max &&
        pt.z >= p.roi_z_min && pt.z <= p.roi_z_max) {
      roi->points.push_back(pt);
    }
  }
  roi->width = static_cast<uint32_t>(roi->points.size());
  roi->height = 1;
  return roi;
}

// The thinned library cloud as the service's working cloud, for the service's own distance scan
// (the library has none).
app::Cloud to_work_cloud(const PclCloud& cloud) {
  app::Cloud work;
  work.points.reserve(cloud.points.size());
  for (const pcl::PointXYZ& point : cloud.points)
    work.points.emplace_back(point.x, point.y, point.z);
  work.width = static_cast<uint32_t>(work.points.size());
  return work;
}

}  // namespace

PclCloud::Ptr frame_to_cloud(const app::PointFrame& frame) {
  auto cloud = std::make_shared<PclCloud>();
  cloud->points.reserve(frame.points.size());
  for (const app::CloudPoint& point : frame.points) {
    if (!std::isfinite(point.x) || !std::isfinite(point.y) || !std::isfinite(point.z)) continue;
    cloud->points.emplace_back(point.x, point.y, point.z);
  }
  cloud->width = static_cast<uint32_t>(cloud->points.size());
  cloud->height = 1;
  cloud->is_dense = false;
  return cloud;
}

std::size_t pcl_frame(const app::PointFrame& frame, const app::ProcessingParams& params,
                      uint64_t t) {
  const PclCloud::Ptr cloud = frame_to_cloud(frame);
  pcl::VoxelGrid<pcl::PointXYZ> grid;
  grid.setLeafSize(params.voxel_size, params.voxel_size, params.voxel_size);
  grid.setInputCloud(cloud);
  PclCloud thinned;
  grid.filter(thinned);
  benchmark::DoNotOptimize(app::directional_distances(to_work_cloud(thinned), params, t));
  const PclCloud::Ptr roi = region_of_interest(thinned, params);
  auto tree = std::make_shared<pcl::search::KdTree<pcl::PointXYZ>>();
  tree->setInputCloud(roi);
  std::vector<pcl::PointIndices> found;
  pcl::EuclideanClusterExtraction<pcl::PointXYZ> extraction;
  // Neighbouring voxels touch within one and a half leaves.
  extraction.setClusterTolerance(1.5 * params.voxel_size);
  extraction.setMinClusterSize(static_cast<int>(params.min_cluster_voxels));
  extraction.setMaxClusterSize(static_cast<int>(params.max_cluster_voxels));
  extraction.setSearchMethod(tree);
  extraction.setInputCloud(roi);
  extraction.extract(found);
  return found.size();
}

}  // namespace bench
