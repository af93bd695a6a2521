#include <atomic>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include <pcl/visualization/keyboard_event.h>

#include "core/shared_state.h"
#include "viewer_internal.h"

namespace app {
namespace {

struct Toggle {
  std::atomic<bool>* flag;
  const char* message;
  const char* when_true;
  const char* when_false;
};

void toggle(const Toggle& command) {
  bool current = command.flag->load();
  while (!command.flag->compare_exchange_weak(current, !current)) {
  }
  std::fputs(command.message, stdout);
  std::fputs(command.flag->load() ? command.when_true : command.when_false, stdout);
  std::fputs("\n", stdout);
  std::fflush(stdout);
}

void clear_map() {
  {
    std::lock_guard<std::mutex> hold(viewer_cloud_mutex);
    std::vector<CloudPoint>().swap(viewer_cloud.points);
    viewer_cloud.stamp_ms = 0;
  }
  window_clear(map_window);
  map_window.window_ms.store(kMapWindowMs);
  map_window.max_points.store(kMapWindowMaxPoints);
  std::fputs("\n[KEY] MAP: limpo\n", stdout);
}

}  // namespace

void on_key(const pcl::visualization::KeyboardEvent& event) {
  if (!event.keyDown()) return;
  const std::string symbol = event.getKeySym();
  if (symbol.size() != 1) return;

  switch (symbol[0]) {
    case 'm':
    case 'M':
      toggle({&map_mode, "\n[KEY] Modo: ", "MAP", "LIVE"});
      break;
    case 's':
    case 'S':
      toggle({&slam_enabled, "\n[KEY] SLAM: ", "ATIVADO (ICP ON)", "DESATIVADO"});
      break;
    case 'd':
    case 'D':
      toggle({&color_by_distance, "\n[KEY] Color: ", "DISTANCIA", "ALTURA"});
      break;
    case 'b':
    case 'B':
      toggle({&show_boxes, "\n[KEY] Caixas: ", "ON", "OFF"});
      break;
    case 'i':
    case 'I':
      toggle({&sensor_inverted, "\n[KEY] Sensor invertido: ", "ON", "OFF"});
      break;
    case 'a':
    case 'A':
      toggle({&show_axes, "\n[KEY] Mostrar eixos: ", "ON", "OFF"});
      break;
    case 'c':
    case 'C':
      clear_map();
      break;
    default:
      break;
  }
}

}  // namespace app
