#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <exception>
#include <memory>
#include <thread>

#include <pcl/point_cloud.h>
#include <pcl/point_types.h>
#include <pcl/visualization/pcl_visualizer.h>
#include <vtkCallbackCommand.h>
#include <vtkCamera.h>
#include <vtkRenderer.h>
#include <vtkRendererCollection.h>
#include <vtkCommand.h>

#include "core/shared_state.h"
#include "core/clocks.h"
#include "viewer_internal.h"

namespace app {
namespace {

using DisplayCloud = pcl::PointCloud<pcl::PointXYZRGB>;

constexpr int kSpinMs = 15;
constexpr auto kCyclePause = std::chrono::milliseconds(15);

const char* const kCloudId = "cloud";

DisplayCloud::Ptr to_display_cloud(const PointFrame& frame) {
  auto cloud = std::make_shared<DisplayCloud>();
  cloud->points.reserve(frame.points.size());
  for (const CloudPoint& source : frame.points) {
    pcl::PointXYZRGB point;
    point.x = source.x;
    point.y = source.y;
    point.z = source.z;
    point.data[3] = 1.0f;
    point.r = source.r;
    point.g = source.g;
    point.b = source.b;
    point.a = 255;
    cloud->points.push_back(point);
  }
  cloud->width = static_cast<std::uint32_t>(cloud->points.size());
  cloud->height = 1;
  cloud->is_dense = true;
  return cloud;
}

// Frames the cloud and the sensor from behind, to the right and above, as the live view's page
// does, keeping the camera's view angle; false when the cloud has no finite point.
bool fit_camera(Visualizer& viewer, const DisplayCloud& cloud) {
  double lo[3] = {0.0, 0.0, 0.0}, hi[3] = {0.0, 0.0, 0.0};
  bool any = false;
  for (const pcl::PointXYZRGB& p : cloud.points) {
    if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z)) continue;
    const double xyz[3] = {p.x, p.y, p.z};
    for (int a = 0; a < 3; ++a) {
      lo[a] = std::min(lo[a], xyz[a]);
      hi[a] = std::max(hi[a], xyz[a]);
    }
    any = true;
  }
  if (!any) return false;
  double centre[3], radius = 0.0;
  for (int a = 0; a < 3; ++a) {
    centre[a] = (lo[a] + hi[a]) / 2;
    radius += (hi[a] - lo[a]) * (hi[a] - lo[a]) / 4;
  }
  radius = std::max(std::sqrt(radius), 0.5);
  vtkCamera* camera =
      viewer.getRenderWindow()->GetRenderers()->GetFirstRenderer()->GetActiveCamera();
  const double distance = radius / std::sin(camera->GetViewAngle() * M_PI / 360.0) * 0.9;
  double from[3] = {-0.75, -0.35, 0.55};
  const double norm = std::sqrt(from[0] * from[0] + from[1] * from[1] + from[2] * from[2]);
  for (double& f : from) f = f / norm * distance;
  viewer.setCameraPosition(centre[0] + from[0], centre[1] + from[1], centre[2] + from[2], centre[0],
                           centre[1], centre[2], 0.0, 0.0, 1.0);
  return true;
}

PointFrame frame_to_show() { return map_mode.load() ? copy_viewer_cloud() : copy_latest_cloud(); }

// Set when the user closes the window (or quits it from the keyboard); viewer thread only.
bool close_requested = false;
// Whether this window's camera was fitted to its first cloud: the library's default camera sits
// inside the axis markers, where the first view is two rectangles of colour. Viewer thread only.
bool camera_fitted = false;

void note_close_request(vtkObject*, unsigned long, void*, void*) { close_requested = true; }

// The library's own exit handling destroys the X window behind the visualiser's back, which
// leaves it unusable for a later session; a close request is taken over here instead and ends
// the session like any other stop.
void take_over_close_requests(Visualizer& viewer) {
  auto on_close = vtkSmartPointer<vtkCallbackCommand>::New();
  on_close->SetCallback(note_close_request);
  on_close->AbortFlagOnExecuteOn();
  viewer.getRenderWindow()->GetInteractor()->AddObserver(vtkCommand::ExitEvent, on_close, 1.0f);
}

bool window_closed(const Visualizer& viewer) { return close_requested || viewer.wasStopped(); }

// Deliberately never destroyed: tearing the visualiser down at process exit has the same
// dangling-display problem as tearing it down at a viewer stop.
std::shared_ptr<Visualizer>& parked_viewer() {
  static auto* const parked = new std::shared_ptr<Visualizer>();
  return *parked;
}

}  // namespace

std::shared_ptr<Visualizer> open_window() {
  close_requested = false;
  camera_fitted = false;
  std::shared_ptr<Visualizer> viewer = std::move(parked_viewer());
  if (viewer == nullptr) {
    viewer = std::make_shared<Visualizer>(kViewerWindowTitle, true);
    viewer->registerKeyboardCallback(on_key);
    take_over_close_requests(*viewer);
    return viewer;
  }
  viewer->resetStoppedFlag();
  viewer->getRenderWindow()->SetShowWindow(true);
  return viewer;
}

void close_window(std::shared_ptr<Visualizer> viewer) {
  viewer->removeAllPointClouds();
  viewer->removeAllShapes();
  viewer->removeAllCoordinateSystems();
  drawn_box_count = 0;
  vtkRenderWindow* window = viewer->getRenderWindow();
  window->SetShowWindow(false);
  // The next session may run on another thread, which must be able to make the context current.
  window->ReleaseCurrent();
  parked_viewer() = std::move(viewer);
}

void setup_scene(Visualizer& viewer) {
  viewer.setBackgroundColor(0.0, 0.0, 0.0);
  viewer.addCoordinateSystem(1.0, "reference");
  viewer.initCameraParameters();

  const DisplayCloud::Ptr cloud = to_display_cloud(copy_latest_cloud());
  const pcl::visualization::PointCloudGeometryHandlerXYZ<pcl::PointXYZRGB> geometry(cloud);
  const pcl::visualization::PointCloudColorHandlerRGBField<pcl::PointXYZRGB> colours(cloud);
  viewer.addPointCloud<pcl::PointXYZRGB>(cloud, colours, geometry, kCloudId);
  viewer.setPointCloudRenderingProperties(pcl::visualization::PCL_VISUALIZER_POINT_SIZE, 2.0,
                                          kCloudId);
}

void refresh_scene(Visualizer& viewer, uint64_t now_ms) {
  const DisplayCloud::Ptr cloud = to_display_cloud(frame_to_show());
  const bool by_distance = color_by_distance.load();
  for (pcl::PointXYZRGB& point : cloud->points) colorize_point(point, by_distance);
  const pcl::visualization::PointCloudColorHandlerRGBField<pcl::PointXYZRGB> colours(cloud);
  viewer.updatePointCloud<pcl::PointXYZRGB>(cloud, colours, kCloudId);
  if (!camera_fitted && !cloud->points.empty()) camera_fitted = fit_camera(viewer, *cloud);

  draw_hud_top(viewer);
  draw_hud_bottom(viewer);

  if (show_axes.load())
    draw_distance_lines(viewer);
  else
    remove_distance_lines(viewer);

  if (show_boxes.load()) {
    draw_boxes(viewer, now_ms);
  } else {
    viewer.removeShape("bboxes_all");
    drawn_box_count = 0;
  }
}

void viewer_main() {
  // Nothing may escape a thread body: an exception here would end the whole service.
  try {
    std::shared_ptr<Visualizer> viewer = open_window();
    setup_scene(*viewer);
    while (viewer_active.load()) {
      if (window_closed(*viewer)) break;
      refresh_scene(*viewer, steady_ms());
      viewer->spinOnce(kSpinMs);
      std::this_thread::sleep_for(kCyclePause);
    }
    close_window(std::move(viewer));
  } catch (const std::exception& error) {
    std::fprintf(stderr, "[VIEWER] Erro no viewer: %s\n", error.what());
  }
}

}  // namespace app
