// The viewer of a build configured without the debug window: --debug is accepted, said to be
// unavailable once, and the service runs on without a window.
#include <atomic>
#include <cstdio>

#include "viewer.h"

namespace app {

namespace {

std::atomic<bool> said{false};

}  // namespace

bool start_viewer() {
  if (!said.exchange(true)) {
    std::fputs("[VIEWER] Erro: esta versao foi compilada sem a janela de debug; servico segue "
               "sem janela de debug.\n",
               stderr);
    std::fflush(stderr);
  }
  return false;
}

bool stop_viewer() { return false; }

bool viewer_can_open_window() { return false; }

void forgo_viewer_window() { said.store(true); }

}  // namespace app
