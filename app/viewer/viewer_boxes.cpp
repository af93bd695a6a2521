#include <algorithm>
#include <cstddef>

#include <vtkCellArray.h>
#include <vtkPoints.h>
#include <vtkPolyData.h>

#include <pcl/visualization/pcl_visualizer.h>

#include "core/shared_state.h"
#include "viewer_internal.h"

namespace app {

uint64_t last_boxes_draw_ms = 0;
uint64_t drawn_box_count = 0;

namespace {

const char* const kBoxesId = "bboxes_all";

constexpr std::size_t kCornersPerBox = 8;
constexpr std::size_t kEdgesPerBox = 12;
constexpr int kEdges[kEdgesPerBox][2] = {{0, 1}, {1, 2}, {2, 3}, {3, 0}, {4, 5}, {5, 6},
                                          {6, 7}, {7, 4}, {0, 4}, {1, 5}, {2, 6}, {3, 7}};

}  // namespace

vtkSmartPointer<vtkPolyData> build_box_polydata(const std::vector<ObstacleBox>& boxes,
                                                std::size_t max_boxes) {
  const std::size_t count = std::min(boxes.size(), max_boxes);
  auto points = vtkSmartPointer<vtkPoints>::New();
  points->SetDataTypeToFloat();
  points->Allocate(static_cast<vtkIdType>(count * kCornersPerBox));
  auto lines = vtkSmartPointer<vtkCellArray>::New();
  lines->AllocateEstimate(static_cast<vtkIdType>(count * kEdgesPerBox), 2);

  for (std::size_t i = 0; i < count; ++i) {
    const ObstacleBox& box = boxes[i];
    const double x0 = box.min_x, y0 = box.min_y, z0 = box.min_z;
    const double x1 = box.max_x, y1 = box.max_y, z1 = box.max_z;
    const vtkIdType base = points->GetNumberOfPoints();
    points->InsertNextPoint(x0, y0, z0);
    points->InsertNextPoint(x1, y0, z0);
    points->InsertNextPoint(x1, y1, z0);
    points->InsertNextPoint(x0, y1, z0);
    points->InsertNextPoint(x0, y0, z1);
    points->InsertNextPoint(x1, y0, z1);
    points->InsertNextPoint(x1, y1, z1);
    points->InsertNextPoint(x0, y1, z1);
    for (const auto& edge : kEdges) {
      const vtkIdType ids[2] = {base + edge[0], base + edge[1]};
      lines->InsertNextCell(2, ids);
    }
  }

  auto polydata = vtkSmartPointer<vtkPolyData>::New();
  polydata->SetPoints(points);
  polydata->SetLines(lines);
  return polydata;
}

void draw_boxes(Visualizer& viewer, uint64_t now_ms) {
  if (now_ms - last_boxes_draw_ms < kBoxesRefreshMs) return;

  const std::vector<ObstacleBox> boxes = copy_obstacle_boxes();
  if (!boxes.empty()) {
    namespace vis = pcl::visualization;
    viewer.removeShape(kBoxesId);
    viewer.addModelFromPolyData(build_box_polydata(boxes, kMaxDrawnBoxes), kBoxesId);
    viewer.setShapeRenderingProperties(vis::PCL_VISUALIZER_COLOR, 0.0, 1.0, 0.0, kBoxesId);
    viewer.setShapeRenderingProperties(vis::PCL_VISUALIZER_LINE_WIDTH, 1.5, kBoxesId);
    viewer.setShapeRenderingProperties(vis::PCL_VISUALIZER_OPACITY, 1.0, kBoxesId);
    viewer.setShapeRenderingProperties(vis::PCL_VISUALIZER_SHADING,
                                       vis::PCL_VISUALIZER_SHADING_FLAT, kBoxesId);
    viewer.setShapeRenderingProperties(vis::PCL_VISUALIZER_REPRESENTATION,
                                       vis::PCL_VISUALIZER_REPRESENTATION_WIREFRAME, kBoxesId);
    drawn_box_count = std::min(boxes.size(), kMaxDrawnBoxes);
  } else if (drawn_box_count != 0) {
    viewer.removeShape(kBoxesId);
    drawn_box_count = 0;
  }
  last_boxes_draw_ms = now_ms;
}

}  // namespace app
