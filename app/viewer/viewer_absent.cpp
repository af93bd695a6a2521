// The viewer of a build configured without the debug window: --debug is accepted, said to be
// unavailable once, and the service runs on without a window.
#include <atomic>
#include <cstdio>

#include "viewer.h"

namespace app {

bool start_viewer() {
  static std::atomic<bool> said{false};
  if (!said.exchange(true)) {
    std::fputs("[VIEWER] Erro: esta versao foi compilada sem a janela de debug; servico segue "
               "sem janela de debug.\n",
               stderr);
    std::fflush(stderr);
  }
  return false;
}

bool stop_viewer() { return false; }

}  // namespace app
