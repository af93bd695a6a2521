// Viewer pieces that need no window: the colour ramp, the keyboard commands and the box
// wireframe geometry.
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <pcl/point_types.h>
#include <pcl/visualization/keyboard_event.h>
#include <vtkCellArray.h>
#include <vtkIdList.h>
#include <vtkPoints.h>
#include <vtkPolyData.h>

#include "core/shared_state.h"
#include "viewer/viewer_internal.h"
#include "tests/app/viewer/viewer_test_support.h"
#include "tests/app/window_test_support.h"

namespace app {
namespace {

struct Rgb8 {
  int r, g, b;
  bool operator==(const Rgb8& o) const { return r == o.r && g == o.g && b == o.b; }
};

std::ostream& operator<<(std::ostream& out, const Rgb8& c) {
  return out << "(" << c.r << ", " << c.g << ", " << c.b << ")";
}

Rgb8 colour_of(float x, float y, float z, bool by_distance) {
  pcl::PointXYZRGB point;
  point.x = x;
  point.y = y;
  point.z = z;
  colorize_point(point, by_distance);
  return {point.r, point.g, point.b};
}

TEST(ColorizePoint, DistanceRampFromDarkBlueToDarkRed) {
  EXPECT_EQ(colour_of(0.f, 0.f, 0.f, true), (Rgb8{0, 0, 127}));
  EXPECT_EQ(colour_of(2.5f, 0.f, 0.f, true), (Rgb8{127, 255, 127}));
  EXPECT_EQ(colour_of(0.f, 1.5f, 2.f, true), (Rgb8{127, 255, 127}));  // 2.5 m off-axis
  EXPECT_EQ(colour_of(5.f, 0.f, 0.f, true), (Rgb8{127, 0, 0}));
  EXPECT_EQ(colour_of(-10.f, 0.f, 0.f, true), (Rgb8{127, 0, 0}));  // clamped beyond 5 m
  // Quarter points of the ramp: blue, then yellow-ish.
  EXPECT_EQ(colour_of(1.25f, 0.f, 0.f, true), (Rgb8{0, 127, 255}));
  EXPECT_EQ(colour_of(3.75f, 0.f, 0.f, true), (Rgb8{255, 127, 0}));
}

TEST(ColorizePoint, HeightRampFromMinusTwentyCentimetresToOneAndAHalfMetres) {
  EXPECT_EQ(colour_of(3.f, 1.f, -0.2f, false), (Rgb8{0, 0, 127}));
  EXPECT_EQ(colour_of(3.f, 1.f, -2.f, false), (Rgb8{0, 0, 127}));
  EXPECT_EQ(colour_of(0.f, 0.f, 1.6f, false), (Rgb8{127, 0, 0}));
  EXPECT_EQ(colour_of(0.f, 0.f, 0.65f, false), (Rgb8{127, 255, 127}));
  // Height colouring ignores x and y.
  EXPECT_EQ(colour_of(9.f, -9.f, 0.65f, false), colour_of(0.f, 0.f, 0.65f, false));
}

TEST(ColorizePoint, NonFinitePointGetsADefinedColour) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  EXPECT_EQ(colour_of(nan, 0.f, 0.f, true), (Rgb8{0, 0, 127}));
  EXPECT_EQ(colour_of(0.f, 0.f, nan, false), (Rgb8{0, 0, 127}));
  EXPECT_EQ(colour_of(std::numeric_limits<float>::infinity(), 0.f, 0.f, true),
            (Rgb8{127, 0, 0}));
}

pcl::visualization::KeyboardEvent press(const std::string& symbol) {
  const unsigned char code = symbol.size() == 1 ? static_cast<unsigned char>(symbol[0]) : 0;
  return {true, symbol, code, false, false, false};
}

pcl::visualization::KeyboardEvent release(const std::string& symbol) {
  const unsigned char code = symbol.size() == 1 ? static_cast<unsigned char>(symbol[0]) : 0;
  return {false, symbol, code, false, false, false};
}

std::string output_of_key(const pcl::visualization::KeyboardEvent& event) {
  ::testing::internal::CaptureStdout();
  on_key(event);
  return ::testing::internal::GetCapturedStdout();
}

class KeyboardTest : public ::testing::Test {
 protected:
  void SetUp() override { reset_view_flags(); }
  void TearDown() override { reset_view_flags(); }
};

struct ToggleCase {
  char key;
  std::atomic<bool>* flag;
  std::string first;   // printed by the first press from the initial value
  std::string second;  // printed by the second press
};

TEST_F(KeyboardTest, EachLetterTogglesItsFlagWithItsMessageInBothCases) {
  const ToggleCase cases[] = {
      {'m', &map_mode, "\n[KEY] Modo: MAP\n", "\n[KEY] Modo: LIVE\n"},
      {'s', &slam_enabled, "\n[KEY] SLAM: ATIVADO (ICP ON)\n", "\n[KEY] SLAM: DESATIVADO\n"},
      {'d', &color_by_distance, "\n[KEY] Color: ALTURA\n", "\n[KEY] Color: DISTANCIA\n"},
      {'b', &show_boxes, "\n[KEY] Caixas: ON\n", "\n[KEY] Caixas: OFF\n"},
      {'i', &sensor_inverted, "\n[KEY] Sensor invertido: ON\n", "\n[KEY] Sensor invertido: OFF\n"},
      {'a', &show_axes, "\n[KEY] Mostrar eixos: ON\n", "\n[KEY] Mostrar eixos: OFF\n"},
  };
  for (const ToggleCase& c : cases) {
    SCOPED_TRACE(std::string("key ") + c.key);
    const bool initial = c.flag->load();
    const std::string lower(1, c.key);
    const std::string upper(1, static_cast<char>(std::toupper(c.key)));

    EXPECT_EQ(output_of_key(press(lower)), c.first);
    EXPECT_EQ(c.flag->load(), !initial);
    EXPECT_EQ(output_of_key(press(upper)), c.second);
    EXPECT_EQ(c.flag->load(), initial);
  }
}

TEST_F(KeyboardTest, ReleasesAndOtherSymbolsChangeNothing) {
  const std::string ignored[] = {"F1", "Left", "Shift_L", "x", "1", ""};
  for (const std::string& symbol : ignored) {
    SCOPED_TRACE(symbol);
    EXPECT_EQ(output_of_key(press(symbol)), "");
  }
  for (const char* letter : {"m", "s", "d", "b", "i", "a", "c", "M"}) {
    SCOPED_TRACE(letter);
    EXPECT_EQ(output_of_key(release(letter)), "");
  }
  EXPECT_FALSE(map_mode.load());
  EXPECT_FALSE(slam_enabled.load());
  EXPECT_TRUE(color_by_distance.load());
  EXPECT_FALSE(show_boxes.load());
  EXPECT_FALSE(show_axes.load());
  EXPECT_FALSE(sensor_inverted.load());
}

TEST_F(KeyboardTest, ClearEmptiesTheMapInLiveModeAndResetsTheWindowLimits) {
  PointFrame frame;
  frame.points.resize(50);
  frame.stamp_ms = 1234;
  {
    std::lock_guard<std::mutex> hold(viewer_cloud_mutex);
    viewer_cloud = frame;
  }
  map_window.window_ms.store(777);
  map_window.max_points.store(10);
  test::push_frame(map_window, frame);
  map_window.max_points.store(5);

  for (const char* key : {"c", "C"}) {
    SCOPED_TRACE(key);
    EXPECT_EQ(output_of_key(press(key)), "\n[KEY] MAP: limpo\n");
    {
      std::lock_guard<std::mutex> hold(viewer_cloud_mutex);
      EXPECT_TRUE(viewer_cloud.points.empty());
      EXPECT_EQ(viewer_cloud.points.capacity(), 0u);
      EXPECT_EQ(viewer_cloud.stamp_ms, 0u);
    }
    {
      std::lock_guard<std::mutex> hold(map_window.lock);
      EXPECT_TRUE(map_window.queue.empty());
    }
    EXPECT_EQ(map_window.window_ms.load(), kMapWindowMs);
    EXPECT_EQ(map_window.max_points.load(), kMapWindowMaxPoints);
  }
  EXPECT_FALSE(map_mode.load());
}

std::vector<std::pair<vtkIdType, vtkIdType>> line_cells(vtkPolyData* polydata) {
  std::vector<std::pair<vtkIdType, vtkIdType>> cells;
  vtkCellArray* lines = polydata->GetLines();
  auto ids = vtkSmartPointer<vtkIdList>::New();
  for (lines->InitTraversal(); lines->GetNextCell(ids);) {
    EXPECT_EQ(ids->GetNumberOfIds(), 2);
    cells.emplace_back(ids->GetId(0), ids->GetId(1));
  }
  return cells;
}

TEST(BoxPolydata, EightCornersAndTwelveEdgesPerBox) {
  const std::vector<ObstacleBox> boxes = {corner_box(1.f, -0.5f, 0.f, 1.5f, 0.25f, 2.f),
                                          corner_box(3.f, 1.f, -0.5f, 4.f, 2.f, 0.5f)};
  const auto polydata = build_box_polydata(boxes, kMaxDrawnBoxes);
  ASSERT_EQ(polydata->GetNumberOfPoints(), 16);
  EXPECT_EQ(polydata->GetPoints()->GetDataType(), VTK_FLOAT);
  EXPECT_EQ(polydata->GetNumberOfPolys(), 0);

  const double corners[8][3] = {{1, -0.5, 0}, {1.5, -0.5, 0}, {1.5, 0.25, 0}, {1, 0.25, 0},
                                {1, -0.5, 2}, {1.5, -0.5, 2}, {1.5, 0.25, 2}, {1, 0.25, 2}};
  for (int i = 0; i < 8; ++i) {
    double p[3];
    polydata->GetPoint(i, p);
    EXPECT_DOUBLE_EQ(p[0], corners[i][0]) << "corner " << i;
    EXPECT_DOUBLE_EQ(p[1], corners[i][1]) << "corner " << i;
    EXPECT_DOUBLE_EQ(p[2], corners[i][2]) << "corner " << i;
  }
  double second_box_last[3];
  polydata->GetPoint(15, second_box_last);
  EXPECT_DOUBLE_EQ(second_box_last[0], 3.0);
  EXPECT_DOUBLE_EQ(second_box_last[1], 2.0);
  EXPECT_DOUBLE_EQ(second_box_last[2], 0.5);

  const auto cells = line_cells(polydata);
  ASSERT_EQ(cells.size(), 24u);
  const std::pair<vtkIdType, vtkIdType> edges[12] = {{0, 1}, {1, 2}, {2, 3}, {3, 0},
                                                      {4, 5}, {5, 6}, {6, 7}, {7, 4},
                                                      {0, 4}, {1, 5}, {2, 6}, {3, 7}};
  for (int i = 0; i < 12; ++i) {
    EXPECT_EQ(cells[i], edges[i]) << "edge " << i;
    EXPECT_EQ(cells[12 + i], std::make_pair(edges[i].first + 8, edges[i].second + 8))
        << "edge " << i << " of the second box";
  }
}

TEST(BoxPolydata, TakesOnlyTheFirstBoxesUpToTheLimit) {
  std::vector<ObstacleBox> boxes;
  for (int i = 0; i < 30; ++i) {
    const float x = static_cast<float>(i);
    boxes.push_back(corner_box(x, 0.f, 0.f, x + 0.5f, 1.f, 1.f));
  }
  const auto capped = build_box_polydata(boxes, kMaxDrawnBoxes);
  EXPECT_EQ(capped->GetNumberOfPoints(), 160);
  EXPECT_EQ(capped->GetNumberOfLines(), 240);
  double last[3];
  capped->GetPoint(159, last);
  EXPECT_DOUBLE_EQ(last[0], 19.0);  // box 19 is the last one drawn, in list order

  const auto none = build_box_polydata({}, kMaxDrawnBoxes);
  EXPECT_EQ(none->GetNumberOfPoints(), 0);
  EXPECT_EQ(none->GetNumberOfLines(), 0);
}

}  // namespace
}  // namespace app
