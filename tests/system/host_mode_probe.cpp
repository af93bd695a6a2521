// Brings the SDK up in host-address mode (no configuration file) and counts what arrives, so
// the system tests can check the view-LiDAR path: query, configuration and streaming.
//   host_mode_probe HOST_IP SECONDS
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "lidar_sdk.h"

namespace {

std::atomic<unsigned> point_packets{0};
std::atomic<unsigned> imu_packets{0};
std::atomic<unsigned> info_changes{0};

void on_points(uint32_t, uint8_t, LidarEthernetPacket*, void*) { ++point_packets; }
void on_imu(uint32_t, uint8_t, LidarEthernetPacket*, void*) { ++imu_packets; }
void on_info(uint32_t handle, const LidarInfo* info, void*) {
  ++info_changes;
  std::printf("[PROBE] info change handle=%u ip=%s\n", handle, info ? info->lidar_ip : "-");
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: host_mode_probe HOST_IP SECONDS\n");
    return 2;
  }
  SetLidarPointCloudCallback(on_points, nullptr);
  SetLidarImuDataCallback(on_imu, nullptr);
  SetLidarInfoChangeCallback(on_info, nullptr);
  if (!LidarSdkInit(nullptr, argv[1], nullptr)) {
    std::printf("[PROBE] init failed\n");
    return 1;
  }
  std::this_thread::sleep_for(std::chrono::seconds(std::atoi(argv[2])));
  LidarSdkUninit();
  std::printf("[PROBE] points=%u imu=%u info=%u\n", point_packets.load(), imu_packets.load(),
              info_changes.load());
  return 0;
}
