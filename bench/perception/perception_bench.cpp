// Frame-processing and point-intake costs on realistic scenes. A frame is measured on the path
// the service runs: the scene arrives in 96-point datagrams in the 150 ms window and the worker's
// pass processes the window and hands the frame on; the point-cloud library's voxel grid and
// Euclidean clustering run beside it on the same points as the yardstick.
#include <time.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <pcl/sample_consensus/method_types.h>
#include <pcl/sample_consensus/model_types.h>
#include <pcl/segmentation/sac_segmentation.h>

#include "core/shared_state.h"
#include "perception/cloud_thinning.h"
#include "perception/frame_processing.h"
#include "perception/ground_plane.h"
#include "perception/point_intake.h"
#include "perception/voxel_clustering.h"
#include "perception/zone_intake.h"
#include "pcl_yardstick.h"
#include "synthetic_scene.h"

namespace {

const app::PointFrame& scene(int64_t count) {
  static const app::PointFrame small = bench::make_scene(30000);
  static const app::PointFrame large = bench::make_scene(200000);
  return count <= 30000 ? small : large;
}

constexpr std::size_t kPointsPerDatagram = 96;

// The scene as the service's window holds it: one entry per 96-point datagram, their stamps
// spread over the window's 150 ms, so the window has held points for its whole span.
void fill_window(app::PointWindow& window, const app::PointFrame& scene) {
  app::window_clear(window);
  window.window_ms = app::kLiveWindowMs;
  window.max_points = static_cast<int64_t>(scene.points.size());
  const std::size_t datagrams = (scene.points.size() + kPointsPerDatagram - 1) / kPointsPerDatagram;
  for (std::size_t d = 0; d < datagrams; ++d) {
    const std::size_t first = d * kPointsPerDatagram;
    const std::size_t n = std::min(kPointsPerDatagram, scene.points.size() - first);
    const uint64_t stamp = 1000 + d * app::kLiveWindowMs / std::max<std::size_t>(1, datagrams - 1);
    app::window_append(window, scene.points.data() + first, n, stamp);
  }
}

// --- whole frame ---------------------------------------------------------------------------

// The worker's pass over the window: processing (thinning in place, distances, corridors, the
// ground, boxes) and the hand-off to the frame stream.
void BM_Frame_Service(benchmark::State& state) {
  app::reset_shared_state();
  app::set_processing_params(app::ProcessingParams{});
  app::PointWindow window;
  fill_window(window, scene(state.range(0)));
  for (auto _ : state) app::process_and_hand_off(window, 1);
  state.counters["boxes"] = static_cast<double>(app::copy_obstacle_boxes().size());
}

void BM_Frame_Pcl(benchmark::State& state) {
  const app::ProcessingParams params;
  const app::PointFrame& frame = scene(state.range(0));
  std::size_t clusters = 0;
  for (auto _ : state) clusters = bench::pcl_frame(frame, params, 1);
  state.counters["clusters"] = static_cast<double>(clusters);
}

double thread_cpu_ms() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0.0 : values[values.size() / 2];
}

// The two side by side: the service's pass and the library's pipeline on the same points, in
// turns whose order alternates, each timed on the thread's CPU clock, so that caches and other
// work on the machine weigh on both alike; the counters are the medians.
void BM_Frame_ServiceAgainstPcl(benchmark::State& state) {
  app::reset_shared_state();
  const app::ProcessingParams params;
  app::set_processing_params(params);
  const app::PointFrame& frame = scene(state.range(0));
  app::PointWindow window;
  fill_window(window, frame);
  std::vector<double> service_ms, pcl_ms, ratio;
  bool service_first = false;
  for (auto _ : state) {
    double took[2];
    for (int turn = 0; turn < 2; ++turn) {
      const bool service = (turn == 0) == service_first;
      const double start = thread_cpu_ms();
      if (service) {
        app::process_and_hand_off(window, 1);
      } else {
        benchmark::DoNotOptimize(bench::pcl_frame(frame, params, 1));
      }
      took[service ? 0 : 1] = thread_cpu_ms() - start;
    }
    service_first = !service_first;
    service_ms.push_back(took[0]);
    pcl_ms.push_back(took[1]);
    ratio.push_back(took[1] / took[0]);
  }
  state.counters["service_ms"] = median(service_ms);
  state.counters["pcl_ms"] = median(pcl_ms);
  state.counters["pcl_over_service"] = median(ratio);
}

// The synthetic scene's sensor stands 0.6 m above its floor: a robot box reaching down there.
app::ProcessingParams on_the_scenes_floor() {
  app::ProcessingParams params;
  params.robot.min_z = -0.58f;
  return params;
}

// What the ground estimate adds to the worker's pass, without a copy of the pass: the same pass
// on the same window, once with the robot's box standing on the scene's floor (the plane is
// found; its points leave the corridors and a second clustering makes the stream's boxes) and
// once with the box's floor where the scene has none (the fit finds no plane, and the pass goes
// as it does with no ground), in alternating turns timed on the thread's CPU clock.
void BM_Frame_GroundCost(benchmark::State& state) {
  app::reset_shared_state();
  const app::ProcessingParams with = on_the_scenes_floor();
  app::ProcessingParams without = with;
  without.robot.min_z = -2.5f;  // the scene's floor is 0.6 m below: nothing to fit down there
  app::PointWindow window;
  fill_window(window, scene(state.range(0)));
  std::vector<double> with_ms, without_ms, extra;
  bool with_first = false;
  bool seen = true, unseen = true;
  for (auto _ : state) {
    double took[2];
    for (int turn = 0; turn < 2; ++turn) {
      const bool ground = (turn == 0) == with_first;
      app::set_processing_params(ground ? with : without);
      const double start = thread_cpu_ms();
      app::process_and_hand_off(window, 1);
      took[ground ? 0 : 1] = thread_cpu_ms() - start;
      (ground ? seen : unseen) &= app::copy_ground_estimate().seen == ground;
    }
    with_first = !with_first;
    with_ms.push_back(took[0]);
    without_ms.push_back(took[1]);
    extra.push_back(took[0] - took[1]);
  }
  if (!seen || !unseen) state.SkipWithError("the ground was not found, or found where none is");
  state.counters["with_ms"] = median(with_ms);
  state.counters["without_ms"] = median(without_ms);
  state.counters["extra_ms"] = median(extra);
}

// --- stages of the frame processing ----------------------------------------------------

// The plane fit alone on the thinned cloud: the service's seeded least squares, and the
// library's sample consensus for a plane within 15 degrees of level (2 cm inliers).
const app::Cloud& thinned_scene(int64_t count) {
  static app::Cloud small, large;
  app::Cloud& cloud = count <= 30000 ? small : large;
  if (cloud.points.empty()) {
    app::PointWindow window;
    fill_window(window, scene(count));
    app::thin_window(window, 0.05f, cloud);
  }
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
  auto input = std::make_shared<bench::PclCloud>();
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

// Thinning the window in place, entry by entry.
void BM_Stage_Thinning(benchmark::State& state) {
  app::PointWindow window;
  fill_window(window, scene(state.range(0)));
  app::Cloud thinned;
  for (auto _ : state) app::thin_window(window, 0.05f, thinned);
  state.counters["thinned"] = static_cast<double>(thinned.points.size());
}

void BM_Stage_Distances(benchmark::State& state) {
  const app::ProcessingParams params;
  const app::Cloud& thinned = thinned_scene(state.range(0));
  for (auto _ : state) benchmark::DoNotOptimize(app::directional_distances(thinned, params, 1));
}

// Clustering of the thinned scene with `params`.
void cluster_stage(benchmark::State& state, const app::ProcessingParams& params) {
  const app::Cloud& thinned = thinned_scene(state.range(0));
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
void run_intake(benchmark::State& state, int64_t behind) {
  app::reset_shared_state();
  app::window_clear(app::live_window);
  app::live_window.window_ms = 0;
  app::live_window.max_points = behind;
  auto datagrams = bench::make_datagrams(scene(behind), 96);
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

void BM_Intake_Current(benchmark::State& state) { run_intake(state, state.range(0)); }

// The same datagram's intake with none and with four zones judged on it (30,000 points behind).
void BM_Intake_Zones(benchmark::State& state) {
  std::vector<app::ZoneSettings> zones;
  const float boxes[4][6] = {{0.3f, -0.3f, -0.3f, 1.0f, 0.3f, 0.3f},
                             {0.3f, -0.5f, -0.35f, 2.5f, 0.5f, 0.5f},
                             {-0.3f, 0.25f, -0.35f, 0.3f, 1.2f, 0.5f},
                             {-2.0f, -0.5f, -0.35f, -0.3f, 0.5f, 0.5f}};
  for (int64_t z = 0; z < state.range(0); ++z) {
    app::ZoneSettings given;
    given.name = "z" + std::to_string(z);
    std::copy(boxes[z], boxes[z] + 3, given.min);
    std::copy(boxes[z] + 3, boxes[z] + 6, given.max);
    zones.push_back(given);
  }
  app::set_intake_zones(zones, app::RobotBox{}, app::GroundSettings{});
  run_intake(state, 30000);
  app::set_intake_zones({}, app::RobotBox{}, app::GroundSettings{});
}

// What the viewer pays for its copy of latest_cloud (about 33 times a second) after a datagram
// arrived: the copy is built from the window when it is taken. The worker reads the window in
// place and copies nothing.
void BM_Intake_ReaderCopy(benchmark::State& state) {
  app::reset_shared_state();
  const app::PointFrame& points = scene(state.range(0));
  fill_window(app::live_window, points);
  // Stamped as the newest entry: the window keeps its span and, by its point bound, its size.
  const uint64_t newest = 1000 + app::kLiveWindowMs;
  std::size_t copied = 0;
  for (auto _ : state) {
    app::window_append(app::live_window, points.points.data(), kPointsPerDatagram, newest);
    copied = app::copy_latest_cloud().points.size();
  }
  state.counters["window"] = static_cast<double>(copied);
  app::reset_shared_state();
  app::window_clear(app::live_window);
}

}  // namespace

BENCHMARK(BM_Frame_Service)->Arg(30000)->Arg(200000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Frame_Pcl)->Arg(30000)->Arg(200000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Frame_ServiceAgainstPcl)->Arg(30000)->Arg(200000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Frame_GroundCost)->Arg(30000)->Arg(200000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Ground_Fit)->Arg(30000)->Arg(200000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Ground_PclSac)->Arg(30000)->Arg(200000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Stage_Thinning)->Arg(30000)->Arg(200000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Stage_Distances)->Arg(30000)->Arg(200000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Stage_Clustering)->Arg(30000)->Arg(200000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Stage_ClusteringHashPath)->Arg(30000)->Arg(200000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Intake_Current)->Arg(30000)->Arg(200000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Intake_Zones)->Arg(0)->Arg(4)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Intake_ReaderCopy)->Arg(30000)->Arg(200000)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
