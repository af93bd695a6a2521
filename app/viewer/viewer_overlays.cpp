#include <cmath>
#include <cstdio>
#include <iomanip>
#include <mutex>
#include <sstream>
#include <string>

#include <pcl/point_types.h>
#include <pcl/visualization/pcl_visualizer.h>

#include "core/shared_state.h"
#include "viewer_internal.h"

namespace app {
namespace {

const std::string kDegreesCelsius = "\xC2\xB0"
                                    "C";
const std::string kDegrees = "\xC2\xB0";

constexpr int kHudFontSize = 14;
constexpr int kHudLeft = 10;
constexpr int kHudTopOffset = 28;
constexpr int kHudBottom = 10;

constexpr float kMinDrawnDistance = 0.001f;
constexpr double kLabelScale = 0.05;
constexpr double kLineWidth = 3.0;

struct DirectionRow {
  float ObstacleDistances::*distance;
  const char* line_id;
  const char* text_id;
  Vec3f direction;
  Rgb colour;
  const char* label;
};

// The "direita" line points along +y and "esquerda" along -y, as the distances are labelled.
const DirectionRow kDirections[] = {
    {&ObstacleDistances::frente, "linha_frente", "texto_frente", {1, 0, 0}, {1.0, 0, 0}, "frente"},
    {&ObstacleDistances::tras, "linha_tras", "texto_tras", {-1, 0, 0}, {0.8, 0, 0}, "tras"},
    {&ObstacleDistances::direita, "linha_direita", "texto_direita", {0, 1, 0}, {0, 1.0, 0},
     "direita"},
    {&ObstacleDistances::esquerda, "linha_esquerda", "texto_esquerda", {0, -1, 0}, {0, 0.8, 0},
     "esquerda"},
    {&ObstacleDistances::cima, "linha_cima", "texto_cima", {0, 0, 1}, {0, 0, 1.0}, "cima"},
    {&ObstacleDistances::baixo, "linha_baixo", "texto_baixo", {0, 0, -1}, {0, 0, 0.8}, "baixo"},
};

float to_degrees(float radians) { return radians * 180.0f / 3.1415927f; }

float copy_temperatura() {
  std::lock_guard<std::mutex> hold(state_mutex);
  return temperatura;
}

}  // namespace

void draw_hud_top(Visualizer& viewer) {
  viewer.removeShape("hud_top");
  const int height = viewer.getRenderWindow()->GetSize()[1];
  const float temperature = copy_temperatura();
  const AttitudeState att = copy_attitude();

  std::ostringstream text;
  text << std::fixed << std::setprecision(1) << "TEMP: " << temperature << kDegreesCelsius
       << "  |"
       << "  R:" << to_degrees(att.roll) << kDegrees << "  P:" << to_degrees(att.pitch)
       << kDegrees << "  Y:" << to_degrees(att.yaw) << kDegrees;
  viewer.addText(text.str(), kHudLeft, height - kHudTopOffset, kHudFontSize, 1.0, 1.0, 1.0,
                 "hud_top");
}

void draw_hud_bottom(Visualizer& viewer) {
  viewer.removeShape("hud_bottom");
  std::string text = map_mode.load() ? "MODE: MAP  " : "MODE: LIVE  ";
  text += color_by_distance.load() ? "DISTANCIA  " : "ALTURA  ";
  text += "| SLAM: ";
  text += slam_enabled.load() ? "ON" : "OFF";
  text += " | BOX: ";
  text += show_boxes.load() ? "ON" : "OFF";
  viewer.addText(text, kHudLeft, kHudBottom, kHudFontSize, 1.0, 1.0, 1.0, "hud_bottom");
}

void remove_distance_lines(Visualizer& viewer) {
  for (const DirectionRow& row : kDirections) viewer.removeShape(row.line_id);
  for (const DirectionRow& row : kDirections) viewer.removeShape(row.text_id);
}

void draw_distance_lines(Visualizer& viewer) {
  remove_distance_lines(viewer);
  const ObstacleDistances current = copy_distances();
  for (const DirectionRow& row : kDirections)
    draw_direction(viewer, row.line_id, row.text_id, row.direction, current.*row.distance,
                   row.colour, row.label);
}

void draw_direction(Visualizer& viewer, const std::string& line_id, const std::string& text_id,
                    Vec3f direction, float distance, Rgb colour, const char* label) {
  const float norm = std::sqrt(direction.x * direction.x + direction.y * direction.y +
                               direction.z * direction.z);
  if (norm > 0.0f) direction = {direction.x / norm, direction.y / norm, direction.z / norm};

  // NaN (stream down) fails the comparison and draws nothing, like "no obstacle".
  const float length = distance > kMinDrawnDistance ? distance : 0.0f;
  const pcl::PointXYZ origin(0.0f, 0.0f, 0.0f);
  const pcl::PointXYZ end(direction.x * length, direction.y * length, direction.z * length);
  viewer.addLine(origin, end, colour.r, colour.g, colour.b, line_id);
  viewer.setShapeRenderingProperties(pcl::visualization::PCL_VISUALIZER_LINE_WIDTH, kLineWidth,
                                     line_id);

  char text[64];
  if (length > 0.0f)
    std::snprintf(text, sizeof text, "%s: %.0f cm", label, static_cast<double>(length) * 100.0);
  else
    std::snprintf(text, sizeof text, "%s: --", label);
  viewer.addText3D(text, end, kLabelScale, colour.r, colour.g, colour.b, text_id);
}

}  // namespace app
