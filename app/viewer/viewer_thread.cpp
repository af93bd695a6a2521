#include "viewer.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <system_error>
#include <thread>

#include <X11/Xlib.h>

#include "core/shared_state.h"
#include "viewer_internal.h"

namespace app {
namespace {

// Guards the thread object only; start and stop may come from different threads (the
// supervisor, and main at shutdown). Never held together with another lock or during a join.
std::mutex viewer_thread_mutex;
std::thread viewer_thread;

// A missing display is said once per process: the stream may come up many times, and each
// time the display is probed again without repeating the same line.
std::atomic<bool> display_problem_said{false};
std::atomic<bool> window_forgone{false};

enum class DisplayProbe { kOpened, kUnset, kFailed };

// VTK ends the process when it cannot reach an X server, so the display is probed first with a
// connection of our own.
DisplayProbe probe_display() {
  const char* name = std::getenv("DISPLAY");
  if (name == nullptr || *name == '\0') return DisplayProbe::kUnset;
  Display* display = XOpenDisplay(name);
  if (display == nullptr) return DisplayProbe::kFailed;
  XCloseDisplay(display);
  return DisplayProbe::kOpened;
}

bool display_available() {
  const DisplayProbe probe = probe_display();
  if (probe == DisplayProbe::kOpened) return true;
  if (display_problem_said.exchange(true)) return false;
  if (probe == DisplayProbe::kUnset) {
    std::fputs("[VIEWER] Erro: DISPLAY nao definido; servico segue sem janela de debug.\n", stderr);
  } else {
    std::fprintf(stderr,
                 "[VIEWER] Erro: nao foi possivel abrir o display '%s'; servico segue sem "
                 "janela de debug.\n",
                 std::getenv("DISPLAY"));
  }
  return false;
}

std::thread take_viewer_thread() {
  std::lock_guard<std::mutex> hold(viewer_thread_mutex);
  return std::move(viewer_thread);
}

// Joins a thread unless it is the caller itself, which cannot wait for its own end.
void join_unless_self(std::thread& thread) {
  if (!thread.joinable()) return;
  if (thread.get_id() == std::this_thread::get_id())
    thread.detach();
  else
    thread.join();
}

}  // namespace

bool start_viewer() {
  if (window_forgone.load()) return false;
  if (viewer_active.exchange(true)) return true;
  slam_enabled.store(false);

  if (!display_available()) {
    viewer_active.store(false);
    return false;
  }

  // A thread left over from a stop that raced with an earlier start has seen viewer_active
  // false and is finishing; it must be joined before its slot is reused.
  std::thread stale = take_viewer_thread();
  join_unless_self(stale);

  try {
    std::thread started(viewer_main);
    std::lock_guard<std::mutex> hold(viewer_thread_mutex);
    viewer_thread = std::move(started);
  } catch (const std::system_error& error) {
    std::fprintf(stderr, "[VIEWER] Erro ao criar a thread do viewer: %s\n", error.what());
    viewer_active.store(false);
    return false;
  }
  return true;
}

bool viewer_can_open_window() { return probe_display() == DisplayProbe::kOpened; }

void forgo_viewer_window() { window_forgone.store(true); }

bool stop_viewer() {
  if (!viewer_active.exchange(false)) return false;
  std::thread running_viewer = take_viewer_thread();
  join_unless_self(running_viewer);
  return true;
}

}  // namespace app
