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

// VTK ends the process when it cannot reach an X server, so the display is probed first with a
// connection of our own.
bool display_available() {
  const char* name = std::getenv("DISPLAY");
  if (name == nullptr || *name == '\0') {
    if (!display_problem_said.exchange(true)) {
      std::fputs("[VIEWER] Erro: DISPLAY nao definido; servico segue sem janela de debug.\n",
                 stderr);
    }
    return false;
  }
  Display* display = XOpenDisplay(name);
  if (display == nullptr) {
    if (!display_problem_said.exchange(true)) {
      std::fprintf(stderr,
                   "[VIEWER] Erro: nao foi possivel abrir o display '%s'; servico segue sem "
                   "janela de debug.\n",
                   name);
    }
    return false;
  }
  XCloseDisplay(display);
  return true;
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

bool stop_viewer() {
  if (!viewer_active.exchange(false)) return false;
  std::thread running_viewer = take_viewer_thread();
  join_unless_self(running_viewer);
  return true;
}

}  // namespace app
