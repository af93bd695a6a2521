// Pieces of the debug viewer shared by its own sources and its tests. Everything here runs on
// the viewer thread; PCL and VTK types are only forward-declared, so including this header costs
// nothing, and only the .cpp files that draw pull in the visualiser.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <vtkSmartPointer.h>

#include "core/records.h"

class vtkPolyData;

namespace pcl {
struct PointXYZRGB;
namespace visualization {
class PCLVisualizer;
class KeyboardEvent;
}  // namespace visualization
}  // namespace pcl

namespace app {

using Visualizer = pcl::visualization::PCLVisualizer;

constexpr const char* kViewerWindowTitle = "LiDAR Debug Viewer";
// Boxes drawn per overlay refresh, and the overlay's minimum refresh spacing.
constexpr std::size_t kMaxDrawnBoxes = 20;
constexpr uint64_t kBoxesRefreshMs = 10;

// Box overlay bookkeeping (viewer thread only): when it was last rebuilt and how many boxes it
// shows, so vanished boxes are removed once and not on every cycle.
extern uint64_t last_boxes_draw_ms;
extern uint64_t drawn_box_count;

struct Vec3f {
  float x, y, z;
};
struct Rgb {
  double r, g, b;
};

// Thread body: opens the window, refreshes it until viewer_active clears or the user closes it.
void viewer_main();

// The window of one viewer session, on an empty scene with the keyboard handler registered.
// The library's X interactor cannot be torn down safely (a later window then works on a
// dangling display connection), so close_window hides the window and keeps its visualiser,
// emptied, for the next open_window. One thread at a time may hold it.
std::shared_ptr<Visualizer> open_window();
void close_window(std::shared_ptr<Visualizer> viewer);

// Background, reference axes, camera and the initial "cloud".
void setup_scene(Visualizer& viewer);
// One refresh: the chosen cloud recoloured, both HUD lines and the overlays the flags ask for.
void refresh_scene(Visualizer& viewer, uint64_t now_ms);

// Jet ramp colour by distance from the origin (0..5 m) or by height (-0.2..1.5 m).
void colorize_point(pcl::PointXYZRGB& point, bool by_distance);

void draw_hud_top(Visualizer& viewer);
void draw_hud_bottom(Visualizer& viewer);
void draw_distance_lines(Visualizer& viewer);
// Removes the six lines and six labels of the distance overlay.
void remove_distance_lines(Visualizer& viewer);
void draw_direction(Visualizer& viewer, const std::string& line_id, const std::string& text_id,
                    Vec3f direction, float distance, Rgb colour, const char* label);

// Rebuilds "bboxes_all" from obstacle_boxes, at most every kBoxesRefreshMs.
void draw_boxes(Visualizer& viewer, uint64_t now_ms);
// Wireframe of the first max_boxes boxes: 8 corners and 12 two-point line cells per box.
vtkSmartPointer<vtkPolyData> build_box_polydata(const std::vector<ObstacleBox>& boxes,
                                                std::size_t max_boxes);

// Keyboard handler of the window: single letters toggle the view flags, "c" clears the map.
void on_key(const pcl::visualization::KeyboardEvent& event);

}  // namespace app
