// The window's content under a private X server: screenshots checked pixel by pixel where the
// cloud, the HUD, the distance lines and the boxes must appear, plus the scene's shapes.
#include <array>
#include <cmath>
#include <filesystem>
#include <functional>
#include <limits>
#include <memory>
#include <string>

#include <gtest/gtest.h>
#include <pcl/point_types.h>
#include <pcl/visualization/pcl_visualizer.h>
#include <vtkActor.h>
#include <vtkCamera.h>
#include <vtkCommand.h>
#include <vtkFollower.h>
#include <vtkImageData.h>
#include <vtkPNGReader.h>
#include <vtkPointData.h>
#include <vtkDataArray.h>
#include <vtkActor2DCollection.h>
#include <vtkActorCollection.h>
#include <vtkPolyDataMapper.h>
#include <vtkProperty.h>
#include <vtkRenderWindowInteractor.h>
#include <vtkRenderer.h>
#include <vtkRendererCollection.h>
#include <vtkTextActor.h>
#include <vtkVectorText.h>

#include "core/shared_state.h"
#include "core/clocks.h"
#include "viewer/viewer_internal.h"
#include "tests/app/viewer/viewer_test_support.h"
#include "x_server.h"

namespace app {
namespace {

std::filesystem::path artifact(const std::string& name) {
  const std::filesystem::path dir(VIEWER_ARTIFACT_DIR);
  std::filesystem::create_directories(dir);
  return dir / name;
}

using Pixel = std::array<int, 3>;
using PixelTest = std::function<bool(const Pixel&)>;

// A screenshot read back; (x, y) are display coordinates with y = 0 at the bottom, as VTK
// projects them.
struct Screenshot {
  vtkSmartPointer<vtkImageData> image;
  int width = 0, height = 0;

  Pixel at(int x, int y) const {
    const auto* p = static_cast<const unsigned char*>(image->GetScalarPointer(x, y, 0));
    return {p[0], p[1], p[2]};
  }
  // True when a pixel within `radius` of (cx, cy) passes the test.
  bool any_near(double cx, double cy, int radius, const PixelTest& test) const {
    return count_in(static_cast<int>(cx) - radius, static_cast<int>(cy) - radius,
                    static_cast<int>(cx) + radius, static_cast<int>(cy) + radius, test) > 0;
  }
  int count_in(int x0, int y0, int x1, int y1, const PixelTest& test) const {
    int count = 0;
    for (int y = std::max(0, y0); y <= std::min(height - 1, y1); ++y)
      for (int x = std::max(0, x0); x <= std::min(width - 1, x1); ++x)
        if (test(at(x, y))) ++count;
    return count;
  }
};

Screenshot load_screenshot(const std::string& path) {
  auto reader = vtkSmartPointer<vtkPNGReader>::New();
  reader->SetFileName(path.c_str());
  reader->Update();
  Screenshot shot;
  shot.image = reader->GetOutput();
  int dims[3];
  shot.image->GetDimensions(dims);
  shot.width = dims[0];
  shot.height = dims[1];
  return shot;
}

PixelTest colour_near(int r, int g, int b, int tolerance) {
  return [=](const Pixel& p) {
    return std::abs(p[0] - r) <= tolerance && std::abs(p[1] - g) <= tolerance &&
           std::abs(p[2] - b) <= tolerance;
  };
}

const PixelTest kWhite = [](const Pixel& p) { return p[0] > 200 && p[1] > 200 && p[2] > 200; };

void reset_view_state() {
  reset_shared_state();
  reset_view_flags();
  last_boxes_draw_ms = 0;
  drawn_box_count = 0;
  std::lock_guard<std::mutex> hold(state_mutex);
  temperatura = 0.f;
  attitude = AttitudeState{};
}

void set_latest_cloud(std::vector<CloudPoint> points) {
  std::lock_guard<std::mutex> hold(state_mutex);
  latest_cloud.points = std::move(points);
  latest_cloud.stamp_ms = steady_ms();
}

void set_distances(const ObstacleDistances& value) {
  std::lock_guard<std::mutex> hold(state_mutex);
  distances = value;
}

void set_boxes(std::vector<ObstacleBox> boxes) {
  std::lock_guard<std::mutex> hold(state_mutex);
  obstacle_boxes = std::move(boxes);
}

// A square patch of points facing the sensor, all about 2.5 m away.
std::vector<CloudPoint> wall_at_two_and_a_half_metres() {
  std::vector<CloudPoint> points;
  for (int i = -20; i <= 20; ++i)
    for (int j = -20; j <= 20; ++j) {
      CloudPoint p;
      p.x = 2.5f;
      p.y = 0.005f * static_cast<float>(i);
      p.z = 0.005f * static_cast<float>(j);
      points.push_back(p);
    }
  return points;
}

class ViewerSceneTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(test::x_server(), nullptr);
    reset_view_state();
    viewer_ = open_window();
  }
  void TearDown() override {
    close_window(std::move(viewer_));
    reset_view_state();
  }

  // The scene set-up gives the window the library's default camera size; the tests then fix the
  // size so that pixel positions are known.
  void open_scene() {
    setup_scene(*viewer_);
    resize(800, 600);
  }
  void resize(int width, int height) {
    viewer_->spinOnce(1, true);
    viewer_->setSize(width, height);
    viewer_->spinOnce(1, true);
  }
  // A camera placed by hand, with the clipping range the window's interactor gives a camera the
  // user moved (the one of the fitted first view may not hold the whole scene from there).
  void look_from(double x, double y, double z, double fx, double fy, double fz) {
    viewer_->setCameraPosition(x, y, z, fx, fy, fz, 0.0, 0.0, 1.0);
    renderer()->ResetCameraClippingRange();
  }
  vtkRenderer* renderer() { return viewer_->getRenderWindow()->GetRenderers()->GetFirstRenderer(); }
  std::array<double, 2> project(double x, double y, double z) {
    vtkRenderer* ren = renderer();
    ren->SetWorldPoint(x, y, z, 1.0);
    ren->WorldToDisplay();
    double d[3];
    ren->GetDisplayPoint(d);
    return {d[0], d[1]};
  }
  Screenshot screenshot(const std::string& name) {
    viewer_->spinOnce(10, true);
    const std::string path = artifact(name).string();
    viewer_->saveScreenshot(path);
    return load_screenshot(path);
  }
  vtkProp* shape(const std::string& id) {
    const auto map = viewer_->getShapeActorMap();
    const auto it = map->find(id);
    return it == map->end() ? nullptr : it->second.GetPointer();
  }
  vtkIdType shown_cloud_size() {
    const auto& entry = viewer_->getCloudActorMap()->at("cloud");
    return entry.actor->GetMapper()->GetInput()->GetNumberOfPoints();
  }

  std::shared_ptr<Visualizer> viewer_;
};

TEST_F(ViewerSceneTest, ScreenshotShowsCloudHudLinesAndBoxes) {
  set_latest_cloud(wall_at_two_and_a_half_metres());
  set_distances({1.8f, 1.8f, 1.8f, 1.8f, 1.8f, 1.8f, 1});
  set_boxes({corner_box(1.2f, -2.0f, -0.4f, 1.8f, -1.4f, 0.4f)});
  show_axes.store(true);
  show_boxes.store(true);
  {
    std::lock_guard<std::mutex> hold(state_mutex);
    temperatura = 41.3f;
  }

  open_scene();
  refresh_scene(*viewer_, 1000);
  look_from(-2.5, -4.0, 3.0, 0.6, 0.0, 0.0);
  const Screenshot shot = screenshot("scene_distance_colours.png");
  ASSERT_EQ(shot.width, 800);
  ASSERT_EQ(shot.height, 600);

  // The cloud in its distance colour (2.5 m is the middle of the ramp).
  const auto wall = project(2.5, 0.0, 0.0);
  EXPECT_TRUE(shot.any_near(wall[0], wall[1], 3, colour_near(127, 255, 127, 12)));

  // Both HUD lines: white text near the top edge and near the bottom edge.
  EXPECT_GT(shot.count_in(10, 600 - 28, 300, 600 - 28 + 16, kWhite), 20);
  EXPECT_GT(shot.count_in(10, 10, 300, 10 + 16, kWhite), 20);

  // Each distance line beyond the 1 m reference axes, in its own colour.
  struct Expected {
    double x, y, z;
    int r, g, b;
  };
  const Expected lines[] = {{1.5, 0, 0, 255, 0, 0},  {-1.5, 0, 0, 204, 0, 0},
                            {0, 1.5, 0, 0, 255, 0},  {0, -1.5, 0, 0, 204, 0},
                            {0, 0, 1.5, 0, 0, 255},  {0, 0, -1.5, 0, 0, 204}};
  for (const Expected& line : lines) {
    const auto at = project(line.x, line.y, line.z);
    EXPECT_TRUE(shot.any_near(at[0], at[1], 3, colour_near(line.r, line.g, line.b, 25)))
        << "line towards (" << line.x << ", " << line.y << ", " << line.z << ")";
  }

  // The box wireframe: green on its edges, background inside its faces.
  const auto edge = project(1.5, -2.0, 0.4);
  EXPECT_TRUE(shot.any_near(edge[0], edge[1], 3, colour_near(0, 255, 0, 25)));
  const auto vertical_edge = project(1.2, -2.0, 0.0);
  EXPECT_TRUE(shot.any_near(vertical_edge[0], vertical_edge[1], 3, colour_near(0, 255, 0, 25)));
}

// The first cloud of a window brings the camera out of the axis markers to frame the scene, once:
// a camera the user moved afterwards stays where it is.
TEST_F(ViewerSceneTest, FirstCloudFramesTheCameraOnce) {
  open_scene();
  refresh_scene(*viewer_, 1000);  // no cloud yet: the library's camera
  std::vector<CloudPoint> far_wall = wall_at_two_and_a_half_metres();
  for (CloudPoint& p : far_wall) p.x = 12.f;
  set_latest_cloud(far_wall);
  refresh_scene(*viewer_, 1100);
  vtkCamera* camera = renderer()->GetActiveCamera();
  const auto wall = project(12.0, 0.0, 0.0), origin = project(0.0, 0.0, 0.0);
  for (const auto& at : {wall, origin}) {
    EXPECT_GT(at[0], 0.0);
    EXPECT_LT(at[0], 800.0);
    EXPECT_GT(at[1], 0.0);
    EXPECT_LT(at[1], 600.0);
  }
  look_from(-3.0, 0.0, 1.0, 0.0, 0.0, 0.0);
  refresh_scene(*viewer_, 1200);
  double position[3];
  camera->GetPosition(position);
  EXPECT_DOUBLE_EQ(position[0], -3.0);
}

// A small room seen in MAP mode with height colouring: floor dark blue, pillar top dark red.
TEST_F(ViewerSceneTest, HeightColouredMapScreenshot) {
  PointFrame map;
  for (int i = 0; i <= 110; ++i)
    for (int j = -40; j <= 40; ++j) {
      CloudPoint floor;
      floor.x = 0.5f + 0.05f * static_cast<float>(i);
      floor.y = 0.05f * static_cast<float>(j);
      floor.z = -0.2f;
      map.points.push_back(floor);
    }
  for (int k = 0; k <= 90; ++k)
    for (int a = 0; a < 24; ++a) {
      const float angle = 6.2831853f * static_cast<float>(a) / 24.0f;
      CloudPoint pillar;
      pillar.x = 3.0f + 0.15f * std::cos(angle);
      pillar.y = 0.8f + 0.15f * std::sin(angle);
      pillar.z = -0.2f + 0.02f * static_cast<float>(k);
      map.points.push_back(pillar);
    }
  map.stamp_ms = 1;
  {
    std::lock_guard<std::mutex> hold(viewer_cloud_mutex);
    viewer_cloud = map;
  }
  set_latest_cloud(wall_at_two_and_a_half_metres());
  map_mode.store(true);
  color_by_distance.store(false);
  show_boxes.store(true);
  show_axes.store(true);
  set_distances({2.85f, 0.f, 1.2f, 1.4f, 0.f, 0.2f, 1});
  set_boxes({corner_box(2.85f, 0.65f, -0.2f, 3.15f, 0.95f, 1.6f)});

  open_scene();
  refresh_scene(*viewer_, 1000);
  look_from(-2.0, -3.0, 2.5, 2.5, 0.5, 0.0);
  const Screenshot shot = screenshot("map_height_colours.png");

  EXPECT_EQ(shown_cloud_size(), static_cast<vtkIdType>(map.points.size()));
  const auto floor = project(5.0, -1.5, -0.2);
  EXPECT_TRUE(shot.any_near(floor[0], floor[1], 3, colour_near(0, 0, 127, 12)));
  const auto pillar_top = project(3.0, 0.65, 1.6);
  EXPECT_TRUE(shot.any_near(pillar_top[0], pillar_top[1], 4, colour_near(127, 0, 0, 12)));
  // The live frame is not what MAP mode shows.
  const auto live_wall = project(2.5, 0.0, 0.0);
  EXPECT_FALSE(shot.any_near(live_wall[0], live_wall[1], 2, colour_near(127, 255, 127, 12)));
}

TEST_F(ViewerSceneTest, ShownCloudFollowsModeFrameAndColouring) {
  CloudPoint far_point;
  far_point.x = 2.5f;
  set_latest_cloud(std::vector<CloudPoint>(100, far_point));
  open_scene();

  const auto shown_colour = [&]() {
    const auto& entry = viewer_->getCloudActorMap()->at("cloud");
    double rgb[3] = {0, 0, 0};
    entry.actor->GetMapper()->GetInput()->GetPointData()->GetScalars()->GetTuple(0, rgb);
    return std::array<double, 3>{rgb[0], rgb[1], rgb[2]};
  };

  refresh_scene(*viewer_, 1000);
  EXPECT_EQ(shown_cloud_size(), 100);
  EXPECT_EQ(shown_colour(), (std::array<double, 3>{127, 255, 127}));  // 2.5 m by distance
  color_by_distance.store(false);
  refresh_scene(*viewer_, 1000);
  EXPECT_EQ(shown_colour(), (std::array<double, 3>{0, 0, 247}));  // z = 0 by height

  set_latest_cloud({});
  refresh_scene(*viewer_, 1000);
  EXPECT_EQ(shown_cloud_size(), 0);  // an empty frame empties the view

  {
    std::lock_guard<std::mutex> hold(viewer_cloud_mutex);
    viewer_cloud.points.assign(30, far_point);
  }
  map_mode.store(true);
  refresh_scene(*viewer_, 1000);
  EXPECT_EQ(shown_cloud_size(), 30);

  ::testing::internal::CaptureStdout();
  on_key(pcl::visualization::KeyboardEvent(true, "c", 'c', false, false, false));
  ::testing::internal::GetCapturedStdout();
  refresh_scene(*viewer_, 1000);
  EXPECT_EQ(shown_cloud_size(), 0);
}

TEST_F(ViewerSceneTest, HudTextsFollowTheStateAndTheWindowHeight) {
  {
    std::lock_guard<std::mutex> hold(state_mutex);
    temperatura = 41.3f;
    attitude.roll = 0.5f * 3.1415927f / 180.0f;
    attitude.pitch = -1.2f * 3.1415927f / 180.0f;
    attitude.yaw = 87.0f * 3.1415927f / 180.0f;
  }
  open_scene();
  const auto text_actor = [&](const std::string& id) {
    return vtkTextActor::SafeDownCast(shape(id));
  };

  for (const auto& size : {std::array<int, 2>{800, 600}, std::array<int, 2>{1024, 700}}) {
    resize(size[0], size[1]);
    draw_hud_top(*viewer_);
    draw_hud_top(*viewer_);  // redrawn, not stacked
    vtkTextActor* top = text_actor("hud_top");
    ASSERT_NE(top, nullptr);
    EXPECT_STREQ(top->GetInput(),
                 "TEMP: 41.3\xC2\xB0" "C  |  R:0.5\xC2\xB0  P:-1.2\xC2\xB0  Y:87.0\xC2\xB0");
    EXPECT_EQ(top->GetPosition()[0], 10);
    EXPECT_EQ(top->GetPosition()[1], size[1] - 28);
  }

  draw_hud_bottom(*viewer_);
  const int overlays = renderer()->GetActors2D()->GetNumberOfItems();
  draw_hud_bottom(*viewer_);
  EXPECT_EQ(renderer()->GetActors2D()->GetNumberOfItems(), overlays);
  vtkTextActor* bottom = text_actor("hud_bottom");
  ASSERT_NE(bottom, nullptr);
  EXPECT_STREQ(bottom->GetInput(), "MODE: LIVE  DISTANCIA  | SLAM: OFF | BOX: OFF");
  EXPECT_EQ(bottom->GetPosition()[0], 10);
  EXPECT_EQ(bottom->GetPosition()[1], 10);

  map_mode.store(true);
  color_by_distance.store(false);
  slam_enabled.store(true);
  show_boxes.store(true);
  draw_hud_bottom(*viewer_);
  EXPECT_STREQ(text_actor("hud_bottom")->GetInput(), "MODE: MAP  ALTURA  | SLAM: ON | BOX: ON");
}

struct LineExpectation {
  const char* line_id;
  const char* text_id;
  double end[3];
  double colour[3];
  const char* label;
};

TEST_F(ViewerSceneTest, DistanceLinesHaveLengthColourAndLabel) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  // frente, tras, esquerda, direita, cima, baixo
  set_distances({1.234f, 0.f, nan, 2.0f, 0.0005f, 0.75f, 1});
  open_scene();
  show_axes.store(true);
  refresh_scene(*viewer_, 1000);
  const int actors = renderer()->GetActors()->GetNumberOfItems();
  refresh_scene(*viewer_, 1000);
  EXPECT_EQ(renderer()->GetActors()->GetNumberOfItems(), actors);

  const LineExpectation expected[] = {
      {"linha_frente", "texto_frente", {1.234, 0, 0}, {1, 0, 0}, "frente: 123 cm"},
      {"linha_tras", "texto_tras", {0, 0, 0}, {0.8, 0, 0}, "tras: --"},
      {"linha_direita", "texto_direita", {0, 2, 0}, {0, 1, 0}, "direita: 200 cm"},
      {"linha_esquerda", "texto_esquerda", {0, 0, 0}, {0, 0.8, 0}, "esquerda: --"},
      {"linha_cima", "texto_cima", {0, 0, 0}, {0, 0, 1}, "cima: --"},
      {"linha_baixo", "texto_baixo", {0, 0, -0.75}, {0, 0, 0.8}, "baixo: 75 cm"},
  };
  for (const LineExpectation& e : expected) {
    SCOPED_TRACE(e.line_id);
    vtkActor* line = vtkActor::SafeDownCast(shape(e.line_id));
    ASSERT_NE(line, nullptr);
    double bounds[6];
    line->GetMapper()->GetInput()->GetBounds(bounds);
    for (int axis = 0; axis < 3; ++axis) {
      EXPECT_NEAR(bounds[2 * axis], std::min(0.0, e.end[axis]), 1e-6);
      EXPECT_NEAR(bounds[2 * axis + 1], std::max(0.0, e.end[axis]), 1e-6);
    }
    double colour[3];
    line->GetProperty()->GetColor(colour);
    EXPECT_NEAR(colour[0], e.colour[0], 1e-9);
    EXPECT_NEAR(colour[1], e.colour[1], 1e-9);
    EXPECT_NEAR(colour[2], e.colour[2], 1e-9);
    EXPECT_DOUBLE_EQ(line->GetProperty()->GetLineWidth(), 3.0);

    vtkFollower* label = vtkFollower::SafeDownCast(shape(e.text_id));
    ASSERT_NE(label, nullptr);
    auto* text = vtkVectorText::SafeDownCast(label->GetMapper()->GetInputAlgorithm());
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text->GetText(), e.label);
    EXPECT_NEAR(label->GetPosition()[0], e.end[0], 1e-6);
    EXPECT_NEAR(label->GetPosition()[1], e.end[1], 1e-6);
    EXPECT_NEAR(label->GetPosition()[2], e.end[2], 1e-6);
    EXPECT_DOUBLE_EQ(label->GetScale()[0], 0.05);
  }

  show_axes.store(false);
  refresh_scene(*viewer_, 1000);
  for (const LineExpectation& e : expected) {
    EXPECT_FALSE(viewer_->contains(e.line_id)) << e.line_id;
    EXPECT_FALSE(viewer_->contains(e.text_id)) << e.text_id;
  }
}

TEST_F(ViewerSceneTest, BoxesAreThrottledCappedAndRemovedOnce) {
  std::vector<ObstacleBox> many;
  for (int i = 0; i < 30; ++i) {
    const float x = 1.0f + 0.2f * static_cast<float>(i);
    many.push_back(corner_box(x, -0.1f, 0.f, x + 0.1f, 0.1f, 0.3f));
  }
  set_boxes(many);
  open_scene();
  const auto drawn_points = [&]() {
    vtkActor* actor = vtkActor::SafeDownCast(shape("bboxes_all"));
    return actor == nullptr ? vtkIdType{-1} : actor->GetMapper()->GetInput()->GetNumberOfPoints();
  };

  draw_boxes(*viewer_, 1000);
  EXPECT_EQ(drawn_box_count, 20u);
  EXPECT_EQ(drawn_points(), 160);
  vtkActor* boxes = vtkActor::SafeDownCast(shape("bboxes_all"));
  ASSERT_NE(boxes, nullptr);
  double colour[3];
  boxes->GetProperty()->GetColor(colour);
  EXPECT_EQ(colour[0], 0.0);
  EXPECT_EQ(colour[1], 1.0);
  EXPECT_EQ(colour[2], 0.0);
  EXPECT_EQ(boxes->GetProperty()->GetRepresentation(), VTK_WIREFRAME);
  EXPECT_DOUBLE_EQ(boxes->GetProperty()->GetLineWidth(), 1.5);

  set_boxes({many[0], many[1], many[2]});
  draw_boxes(*viewer_, 1005);  // within 10 ms: the previous overlay stays
  EXPECT_EQ(drawn_box_count, 20u);
  EXPECT_EQ(drawn_points(), 160);
  draw_boxes(*viewer_, 1010);
  EXPECT_EQ(drawn_box_count, 3u);
  EXPECT_EQ(drawn_points(), 24);

  set_boxes({});
  draw_boxes(*viewer_, 1020);
  EXPECT_EQ(drawn_box_count, 0u);
  EXPECT_FALSE(viewer_->contains("bboxes_all"));
  // Once gone, the overlay is not removed again: a shape that now holds the id survives.
  viewer_->addLine(pcl::PointXYZ(0, 0, 0), pcl::PointXYZ(1, 1, 1), "bboxes_all");
  draw_boxes(*viewer_, 1030);
  draw_boxes(*viewer_, 1040);
  EXPECT_TRUE(viewer_->contains("bboxes_all"));

  // Switching the overlay off removes it whatever was drawn.
  set_boxes(many);
  show_boxes.store(true);
  refresh_scene(*viewer_, 1050);
  EXPECT_EQ(drawn_box_count, 20u);
  show_boxes.store(false);
  refresh_scene(*viewer_, 1060);
  EXPECT_EQ(drawn_box_count, 0u);
  EXPECT_FALSE(viewer_->contains("bboxes_all"));
}

std::string press_in_window(vtkRenderWindowInteractor* interactor, char code, const char* symbol,
                            unsigned long event) {
  ::testing::internal::CaptureStdout();
  interactor->SetKeyEventInformation(0, 0, code, 1, symbol);
  interactor->InvokeEvent(event);
  return ::testing::internal::GetCapturedStdout();
}

TEST_F(ViewerSceneTest, KeysPressedInTheWindowReachTheHandler) {
  open_scene();
  vtkRenderWindowInteractor* interactor = viewer_->getRenderWindow()->GetInteractor();
  ASSERT_NE(interactor, nullptr);

  EXPECT_EQ(press_in_window(interactor, 'm', "m", vtkCommand::KeyPressEvent),
            "\n[KEY] Modo: MAP\n");
  EXPECT_TRUE(map_mode.load());
  EXPECT_EQ(press_in_window(interactor, 'm', "m", vtkCommand::KeyReleaseEvent), "");
  EXPECT_TRUE(map_mode.load());
  EXPECT_EQ(press_in_window(interactor, 0, "F1", vtkCommand::KeyPressEvent), "");
  EXPECT_EQ(press_in_window(interactor, 'b', "B", vtkCommand::KeyPressEvent),
            "\n[KEY] Caixas: ON\n");
  EXPECT_TRUE(show_boxes.load());
}

}  // namespace
}  // namespace app
