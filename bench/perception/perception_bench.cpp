// Frame-processing and point-intake costs on realistic scenes, each next to its yardstick: the
// implementation as first built (baseline_*) and, for frame processing, the point-cloud
// library's voxel grid and Euclidean clustering on the same clouds.
#include <time.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include <benchmark/benchmark.h>
#include <pcl/filters/voxel_grid.h>
#include <pcl/sample_consensus/method_types.h>
#include <pcl/sample_consensus/model_types.h>
#include <pcl/segmentation/sac_segmentation.h>
#include <pcl/search/kdtree.h>
#include <pcl/segmentation/extract_clusters.h>

#include "core/shared_state.h"
#include "core/stream_queue.h"
#include "perception/cloud_thinning.h"
#include "perception/frame_processing.h"
#include "perception/ground_plane.h"
#include "perception/point_intake.h"
#include "perception/voxel_clustering.h"
#include "baseline_corridorless.h"
#include "baseline_frame.h"
#include "baseline_groundless.h"
#include "baseline_intake.h"
#include "synthetic_scene.h"

namespace {

const app::PointFrame& scene(int64_t count) {
  static const app::PointFrame small = bench::make_scene(30000);
  static const app::PointFrame large = bench::make_scene(200000);
  return count <= 30000 ? small : large;
}

baseline::PclCloud::Ptr region_of_interest(const baseline::PclCloud& cloud,
                                           const app::ProcessingParams& p) {
  auto roi = std::make_shared<baseline::PclCloud>();
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

// --- whole frame ---------------------------------------------------------------------------

void BM_Frame_Current(benchmark::State& state) {
  app::reset_shared_state();
  app::set_processing_params(app::ProcessingParams{});
  const app::PointFrame& frame = scene(state.range(0));
  for (auto _ : state) app::process_frame(frame, 1);
  state.counters["boxes"] = static_cast<double>(app::copy_obstacle_boxes().size());
}

// What the worker does with a frame now (processing with the corridor distances, timed, and the
// hand-off to the frame stream) against what it did before those two, in alternating order on
// the same frame. Each is timed on the thread's CPU clock and compared pairwise, so a machine
// busy with other work shifts both alike; the counters are the medians.
double thread_cpu_ms() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0.0 : values[values.size() / 2];
}

// The frame as the service makes it against a baseline, on the same frame, in turns whose order
// alternates so that caches and the machine's load fall on both alike; each run's thread CPU.
struct PairedRuns {
  std::vector<double> base_ms, now_ms;
};

template <typename Base>
PairedRuns run_paired(benchmark::State& state, const app::PointFrame& frame, Base base) {
  PairedRuns runs;
  bool now_first = false;
  for (auto _ : state) {
    double took[2];
    for (int turn = 0; turn < 2; ++turn) {
      const bool now = (turn == 0) == now_first;
      const double start = thread_cpu_ms();
      if (now) {
        app::process_and_hand_off(frame, 1);
      } else {
        base(frame);
      }
      took[now ? 1 : 0] = thread_cpu_ms() - start;
    }
    now_first = !now_first;
    runs.base_ms.push_back(took[0]);
    runs.now_ms.push_back(took[1]);
  }
  app::clear_stream_queue();
  return runs;
}

void BM_Frame_CorridorCost(benchmark::State& state) {
  app::reset_shared_state();
  app::set_processing_params(app::ProcessingParams{});
  const app::PointFrame& frame = scene(state.range(0));
  const PairedRuns runs = run_paired(
      state, frame, [](const app::PointFrame& f) { baseline::process_frame_six_distances(f, 1); });
  std::vector<double> extra;
  for (std::size_t i = 0; i < runs.now_ms.size(); ++i) {
    extra.push_back((runs.now_ms[i] / runs.base_ms[i] - 1.0) * 100.0);
  }
  state.counters["before_ms"] = median(runs.base_ms);
  state.counters["after_ms"] = median(runs.now_ms);
  state.counters["extra_pct"] = median(extra);
}

// The synthetic scene's sensor stands 0.6 m above its floor: a robot box reaching down there.
app::ProcessingParams on_the_scenes_floor() {
  app::ProcessingParams params;
  params.robot.min_z = -0.58f;
  return params;
}

// What the ground adds (the plane fit, the corridors' ground test and the stream's own
// clustering of the points that are not ground) against the frame without it, paired as above.
void BM_Frame_GroundCost(benchmark::State& state) {
  app::reset_shared_state();
  app::set_processing_params(on_the_scenes_floor());
  const app::PointFrame& frame = scene(state.range(0));
  const PairedRuns runs = run_paired(
      state, frame, [](const app::PointFrame& f) { baseline::process_frame_groundless(f, 1); });
  std::vector<double> extra;
  for (std::size_t i = 0; i < runs.now_ms.size(); ++i) {
    extra.push_back(runs.now_ms[i] - runs.base_ms[i]);
  }
  const app::GroundEstimate ground = app::copy_ground_estimate();
  state.counters["without_ms"] = median(runs.base_ms);
  state.counters["with_ms"] = median(runs.now_ms);
  state.counters["extra_ms"] = median(extra);
  state.counters["ground_seen"] = ground.seen ? 1 : 0;
  state.counters["ground_height_m"] = ground.height_m;
}

void BM_Frame_Baseline(benchmark::State& state) {
  const app::ProcessingParams params;
  const app::PointFrame& frame = scene(state.range(0));
  std::size_t boxes = 0;
  for (auto _ : state) boxes = baseline::process_frame(frame, params, 1).boxes.size();
  state.counters["boxes"] = static_cast<double>(boxes);
}

// The library's pipeline on the same frame: conversion, voxel grid over the whole cloud (the
// distances need all of it), then Euclidean clustering of the region of interest.
void BM_Frame_Pcl(benchmark::State& state) {
  const app::ProcessingParams params;
  const app::PointFrame& frame = scene(state.range(0));
  std::size_t clusters = 0;
  for (auto _ : state) {
    const baseline::PclCloud::Ptr cloud = baseline::frame_to_cloud(frame);
    pcl::VoxelGrid<pcl::PointXYZ> grid;
    grid.setLeafSize(0.05f, 0.05f, 0.05f);
    grid.setInputCloud(cloud);
    baseline::PclCloud thinned;
    grid.filter(thinned);
    benchmark::DoNotOptimize(
        app::directional_distances(baseline::to_work_cloud(thinned), params, 1));
    const baseline::PclCloud::Ptr roi = region_of_interest(thinned, params);
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

// --- stages of the current frame processing ----------------------------------------------------

// The plane fit alone on the thinned cloud: the service's seeded least squares, and the
// library's sample consensus for a plane within 15 degrees of level (2 cm inliers).
const app::Cloud& thinned_scene(int64_t count) {
  static app::Cloud small, large;
  app::Cloud& cloud = count <= 30000 ? small : large;
  if (cloud.points.empty()) app::thin_frame(scene(count), 0.05f, cloud);
  return cloud;
}

void BM_Ground_Fit(benchmark::State& state) {
  const app::Cloud& cloud = thinned_scene(state.range(0));
  const app::RobotBox robot = on_the_scenes_floor().robot;
  app::GroundEstimate g;
  for (auto _ : state) g = app::estimate_ground(cloud, robot, std::nullopt);
  state.counters["height_m"] = g.height_m;
  state.counters["tilt_deg"] = g.tilt_deg;
}

void BM_Ground_PclSac(benchmark::State& state) {
  const app::Cloud& cloud = thinned_scene(state.range(0));
  auto input = std::make_shared<baseline::PclCloud>();
  for (const app::XyzPoint& p : cloud.points) input->points.emplace_back(p.x, p.y, p.z);
  input->width = static_cast<uint32_t>(input->points.size());
  input->height = 1;
  pcl::ModelCoefficients plane;
  for (auto _ : state) {
    pcl::SACSegmentation<pcl::PointXYZ> sac;
    sac.setOptimizeCoefficients(true);
    sac.setModelType(pcl::SACMODEL_PERPENDICULAR_PLANE);
    sac.setAxis(Eigen::Vector3f(0.f, 0.f, 1.f));
    sac.setEpsAngle(15.0 * 3.14159265358979 / 180.0);
    sac.setMethodType(pcl::SAC_RANSAC);
    sac.setDistanceThreshold(0.02);
    sac.setMaxIterations(100);
    sac.setInputCloud(input);
    pcl::PointIndices inliers;
    sac.segment(inliers, plane);
    benchmark::DoNotOptimize(inliers.indices.size());
  }
  // a x + b y + c z + d = 0: the plane's depth below the sensor.
  if (plane.values.size() == 4) {
    state.counters["height_m"] =
        std::fabs(plane.values[3]) /
        std::sqrt(plane.values[0] * plane.values[0] + plane.values[1] * plane.values[1] +
                  plane.values[2] * plane.values[2]);
  }
}

void BM_Stage_Thinning(benchmark::State& state) {
  const app::PointFrame& frame = scene(state.range(0));
  app::Cloud thinned;
  for (auto _ : state) app::thin_frame(frame, 0.05f, thinned);
  state.counters["thinned"] = static_cast<double>(thinned.points.size());
}

void BM_Stage_Distances(benchmark::State& state) {
  const app::ProcessingParams params;
  app::Cloud thinned;
  app::thin_frame(scene(state.range(0)), 0.05f, thinned);
  for (auto _ : state) benchmark::DoNotOptimize(app::directional_distances(thinned, params, 1));
}

// Clustering of the thinned scene with `params`.
void cluster_stage(benchmark::State& state, const app::ProcessingParams& params) {
  app::Cloud thinned;
  app::thin_frame(scene(state.range(0)), 0.05f, thinned);
  std::size_t boxes = 0;
  for (auto _ : state) boxes = app::cluster_obstacles(thinned, params, 1).size();
  state.counters["boxes"] = static_cast<double>(boxes);
}

void BM_Stage_Clustering(benchmark::State& state) { cluster_stage(state, app::ProcessingParams{}); }

// Clustering through the hash table: a region of interest too large for the grid.
void BM_Stage_ClusteringHashPath(benchmark::State& state) {
  app::ProcessingParams params;
  params.roi_x_min = -1000.f;
  params.roi_x_max = 1000.f;
  params.roi_y_min = -1000.f;
  params.roi_y_max = 1000.f;
  cluster_stage(state, params);
}

// --- point intake ------------------------------------------------------------------------------

// One 96-point datagram with the given number of points behind it in the window, held there by
// the window's point bound.
void BM_Intake_Current(benchmark::State& state) {
  app::reset_shared_state();
  app::window_clear(app::live_window);
  app::live_window.window_ms = 0;
  app::live_window.max_points = state.range(0);
  auto datagrams = bench::make_datagrams(scene(state.range(0)), 96);
  for (auto& d : datagrams) {
    app::on_point_cloud(1, kDeviceTypeOmni, reinterpret_cast<LidarEthernetPacket*>(d.data()),
                        nullptr);
  }
  std::size_t i = 0;
  for (auto _ : state) {
    auto& datagram = datagrams[i++ % datagrams.size()];
    app::on_point_cloud(1, kDeviceTypeOmni, reinterpret_cast<LidarEthernetPacket*>(datagram.data()),
                        nullptr);
  }
  state.counters["window"] = static_cast<double>(app::copy_latest_cloud().points.size());
  app::reset_shared_state();
  app::window_clear(app::live_window);
}

void BM_Intake_Baseline(benchmark::State& state) {
  auto intake = std::make_unique<baseline::IntakeState>();
  intake->window.window_ms = 0;
  intake->window.max_points = state.range(0);
  auto datagrams = bench::make_datagrams(scene(state.range(0)), 96);
  for (auto& d : datagrams) {
    baseline::on_point_cloud(*intake, reinterpret_cast<LidarEthernetPacket*>(d.data()));
  }
  std::size_t i = 0;
  for (auto _ : state) {
    auto& datagram = datagrams[i++ % datagrams.size()];
    baseline::on_point_cloud(*intake, reinterpret_cast<LidarEthernetPacket*>(datagram.data()));
  }
  state.counters["window"] = static_cast<double>(intake->latest_cloud.points.size());
}

// What a copying reader pays instead: the viewer's copy of latest_cloud (about 33 per second),
// built from the window when taken. The worker reads the window in place and copies nothing.
void BM_Intake_ReaderSnapshot(benchmark::State& state) {
  app::PointWindow window;
  window.max_points = state.range(0);
  app::PointFrame frame;
  const app::PointFrame& points = scene(state.range(0));
  for (std::size_t first = 0; first < points.points.size(); first += 96) {
    const std::size_t n = std::min<std::size_t>(96, points.points.size() - first);
    app::window_append(window, points.points.data() + first, n, 1);
  }
  for (auto _ : state) {
    app::window_snapshot_into(window, frame);
    benchmark::DoNotOptimize(frame.points.data());
  }
  state.counters["window"] = static_cast<double>(frame.points.size());
}

}  // namespace

BENCHMARK(BM_Frame_Current)->Arg(30000)->Arg(200000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Frame_CorridorCost)->Arg(30000)->Arg(200000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Frame_GroundCost)->Arg(30000)->Arg(200000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Ground_Fit)->Arg(30000)->Arg(200000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Ground_PclSac)->Arg(30000)->Arg(200000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Frame_Baseline)->Arg(30000)->Arg(200000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Frame_Pcl)->Arg(30000)->Arg(200000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Stage_Thinning)->Arg(30000)->Arg(200000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Stage_Distances)->Arg(30000)->Arg(200000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Stage_Clustering)->Arg(30000)->Arg(200000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Stage_ClusteringHashPath)->Arg(30000)->Arg(200000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Intake_Current)->Arg(30000)->Arg(200000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Intake_Baseline)->Arg(30000)->Arg(200000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Intake_ReaderSnapshot)->Arg(30000)->Arg(200000)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
