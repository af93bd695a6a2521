#include "supervisor_fakes.h"

#include <mutex>

#include "core/shared_state.h"
#include "perception/imu_intake.h"
#include "publication/device_info.h"
#include "publication/state_documents.h"
#include "viewer/viewer.h"

namespace supervisor_fakes {
namespace {

std::mutex mutex;
int starts = 0;
int stops = 0;
bool opens = true;
std::vector<AttitudeCall> attitudes;
std::vector<app::StatusSnapshot> lidar_documents;
int imu_documents = 0;

}  // namespace

void reset() {
  std::lock_guard<std::mutex> hold(mutex);
  starts = stops = imu_documents = 0;
  opens = true;
  attitudes.clear();
  lidar_documents.clear();
}

void set_viewer_opens(bool open) {
  std::lock_guard<std::mutex> hold(mutex);
  opens = open;
}

int viewer_starts() {
  std::lock_guard<std::mutex> hold(mutex);
  return starts;
}

int viewer_stops() {
  std::lock_guard<std::mutex> hold(mutex);
  return stops;
}

std::vector<AttitudeCall> attitude_calls() {
  std::lock_guard<std::mutex> hold(mutex);
  return attitudes;
}

std::vector<app::StatusSnapshot> lidar_publications() {
  std::lock_guard<std::mutex> hold(mutex);
  return lidar_documents;
}

int imu_publications() {
  std::lock_guard<std::mutex> hold(mutex);
  return imu_documents;
}

}  // namespace supervisor_fakes

namespace app {

using namespace supervisor_fakes;

bool start_viewer() {
  std::lock_guard<std::mutex> hold(mutex);
  ++starts;
  if (!opens) return false;
  viewer_active.store(true);
  return true;
}

bool stop_viewer() {
  std::lock_guard<std::mutex> hold(mutex);
  ++stops;
  return viewer_active.exchange(false);
}

void attitude_update(float ax, float ay, float az, float gx, float gy, float gz, uint64_t t) {
  std::lock_guard<std::mutex> hold(mutex);
  attitudes.push_back(AttitudeCall{{ax, ay, az, gx, gy, gz}, t});
}

void on_internal_info(CommandStatus, uint32_t, LidarDiagInternalInfoResponse*, void*) {}

bool publish_lidar_document(const StatusSnapshot& snapshot) {
  std::lock_guard<std::mutex> hold(mutex);
  lidar_documents.push_back(snapshot);
  return true;
}

void publish_imu_document() {
  std::lock_guard<std::mutex> hold(mutex);
  ++imu_documents;
}

}  // namespace app

namespace app {

// The health step reads the SDK's counters and publishes its own document; the supervisor's
// tests look only at the two state documents.
void service_health_cycle() {}

}  // namespace app
