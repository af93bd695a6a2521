// Frame-processing and point-intake costs on realistic scenes, with the point-cloud library's
// voxel grid and Euclidean clustering on the same clouds as the baseline.
#include <memory>
#include <vector>

#include <benchmark/benchmark.h>
#include <pcl/filters/voxel_grid.h>
#include <pcl/point_cloud.h>
#include <pcl/point_types.h>
#include <pcl/search/kdtree.h>
#include <pcl/segmentation/extract_clusters.h>

#include "app/core/shared_state.h"
#include "app/perception/cloud_thinning.h"
#include "app/perception/frame_processing.h"
#include "app/perception/point_intake.h"
#include "app/perception/voxel_clustering.h"
#include "scene.h"

namespace {

const app::PointFrame& scene(int64_t count) {
  static const app::PointFrame small = bench::make_scene(30000);
  static const app::PointFrame large = bench::make_scene(200000);
  return count <= 30000 ? small : large;
}

app::CloudPtr region_of_interest(const app::Cloud& cloud, const app::ProcessingParams& p) {
  auto roi = std::make_shared<app::Cloud>();
  roi->points.reserve(cloud.points.size());
  for (const auto& pt : cloud.points) {
    if (pt.x >= p.roi_x_min && pt.x <= p.roi_x_max && pt.y >= p.roi_y_min &&
        pt.y <= p.roi_y_max && pt.z >= p.roi_z_min && pt.z <= p.roi_z_max) {
      roi->points.push_back(pt);
    }
  }
  roi->width = static_cast<uint32_t>(roi->points.size());
  roi->height = 1;
  return roi;
}

void BM_Conversion(benchmark::State& state) {
  const app::PointFrame& frame = scene(state.range(0));
  for (auto _ : state) benchmark::DoNotOptimize(app::frame_to_cloud(frame));
}

void BM_Thinning(benchmark::State& state) {
  const app::CloudPtr cloud = app::frame_to_cloud(scene(state.range(0)));
  std::size_t kept = 0;
  for (auto _ : state) {
    const app::CloudPtr thinned = app::thin_cloud(cloud, 0.05f);
    kept = thinned->points.size();
  }
  state.counters["thinned"] = static_cast<double>(kept);
}

void BM_Distances(benchmark::State& state) {
  const app::ProcessingParams params;
  const app::CloudPtr thinned = app::thin_cloud(app::frame_to_cloud(scene(state.range(0))), 0.05f);
  for (auto _ : state) benchmark::DoNotOptimize(app::directional_distances(*thinned, params, 1));
}

void BM_Clustering(benchmark::State& state) {
  const app::ProcessingParams params;
  const app::CloudPtr thinned = app::thin_cloud(app::frame_to_cloud(scene(state.range(0))), 0.05f);
  std::size_t boxes = 0;
  for (auto _ : state) boxes = app::cluster_obstacles(*thinned, params, 1).size();
  state.counters["boxes"] = static_cast<double>(boxes);
}

void BM_ProcessFrame(benchmark::State& state) {
  app::reset_shared_state();
  app::set_processing_params(app::ProcessingParams{});
  const app::PointFrame& frame = scene(state.range(0));
  for (auto _ : state) app::process_frame(frame, 1);
  state.counters["boxes"] = static_cast<double>(app::copy_obstacle_boxes().size());
}

void BM_PclVoxelGrid(benchmark::State& state) {
  const app::CloudPtr cloud = app::frame_to_cloud(scene(state.range(0)));
  pcl::VoxelGrid<pcl::PointXYZ> grid;
  grid.setLeafSize(0.05f, 0.05f, 0.05f);
  for (auto _ : state) {
    app::Cloud out;
    grid.setInputCloud(cloud);
    grid.filter(out);
    benchmark::DoNotOptimize(out.points.data());
  }
}

void BM_PclEuclideanClusters(benchmark::State& state) {
  const app::ProcessingParams params;
  const app::CloudPtr cloud = app::frame_to_cloud(scene(state.range(0)));
  pcl::VoxelGrid<pcl::PointXYZ> grid;
  grid.setLeafSize(0.05f, 0.05f, 0.05f);
  grid.setInputCloud(cloud);
  app::Cloud thinned;
  grid.filter(thinned);
  std::size_t clusters = 0;
  for (auto _ : state) {
    const app::CloudPtr roi = region_of_interest(thinned, params);
    auto tree = std::make_shared<pcl::search::KdTree<pcl::PointXYZ>>();
    tree->setInputCloud(roi);
    std::vector<pcl::PointIndices> found;
    pcl::EuclideanClusterExtraction<pcl::PointXYZ> extraction;
    extraction.setClusterTolerance(0.075);
    extraction.setMinClusterSize(60);
    extraction.setMaxClusterSize(50000);
    extraction.setSearchMethod(tree);
    extraction.setInputCloud(roi);
    extraction.extract(found);
    clusters = found.size();
  }
  state.counters["clusters"] = static_cast<double>(clusters);
}

// The point callback with a full window behind it: every 96-point datagram re-snapshots and
// re-publishes the whole window. The window is held at the given size by its point bound.
void BM_PointCallback(benchmark::State& state) {
  app::reset_shared_state();
  app::window_clear(app::live_window);
  app::live_window.window_ms = 0;
  app::live_window.max_points = state.range(0);
  auto datagrams = bench::make_datagrams(scene(state.range(0)), 96);
  for (auto& d : datagrams) {
    app::on_point_cloud(1, kDeviceTypeOmni, reinterpret_cast<LidarEthernetPacket*>(d.data()),
                        nullptr);
  }
  auto datagram = datagrams.front();
  for (auto _ : state) {
    app::on_point_cloud(1, kDeviceTypeOmni, reinterpret_cast<LidarEthernetPacket*>(datagram.data()),
                        nullptr);
  }
  state.counters["window"] = static_cast<double>(app::copy_latest_cloud().points.size());
  app::reset_shared_state();
  app::window_clear(app::live_window);
}

}  // namespace

BENCHMARK(BM_Conversion)->Arg(30000)->Arg(200000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Thinning)->Arg(30000)->Arg(200000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Distances)->Arg(30000)->Arg(200000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Clustering)->Arg(30000)->Arg(200000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ProcessFrame)->Arg(30000)->Arg(200000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PclVoxelGrid)->Arg(30000)->Arg(200000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PclEuclideanClusters)->Arg(30000)->Arg(200000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PointCallback)->Arg(30000)->Arg(200000)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
