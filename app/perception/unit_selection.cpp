#include "unit_selection.h"

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <vector>

#include "core/app_health.h"
#include "core/shared_state.h"

namespace app {
namespace {

std::mutex reported_mutex;
std::vector<uint32_t> reported_units;  // ignored units already named for `reported_for`
uint32_t reported_for = 0;

void report_ignored(uint32_t handle, uint32_t followed) {
  std::lock_guard<std::mutex> hold(reported_mutex);
  if (reported_for != followed) {
    reported_units.clear();
    reported_for = followed;
  }
  if (std::find(reported_units.begin(), reported_units.end(), handle) != reported_units.end()) {
    return;
  }
  reported_units.push_back(handle);
  std::fprintf(stderr,
               "[ERR] LiDAR %s ignorado: este servico segue o LiDAR %s (um LiDAR por servico; "
               "o outro so e aceito depois que este ficar OFF)\n",
               handle_address(handle).c_str(), handle_address(followed).c_str());
  std::fflush(stderr);
}

}  // namespace

bool take_unit(uint32_t handle, bool yields_points) {
  uint32_t followed = followed_handle.load();
  if (followed == 0) {
    if (!yields_points || followed_handle.compare_exchange_strong(followed, handle)) return true;
  }
  if (followed == handle) return true;
  note_foreign_unit_datagram();
  report_ignored(handle, followed);
  return false;
}

}  // namespace app
