#include "state_documents.h"

namespace app {

bool publish_lidar_document(const StatusSnapshot&) { return false; }
void publish_imu_document() {}

}  // namespace app
