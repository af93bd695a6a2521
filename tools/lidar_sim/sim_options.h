// Command line of the simulator.
#pragma once

#include <cstdint>
#include <string>

#include "lidar_sim/device.h"
#include "lidar_sim/faults.h"
#include "lidar_sim/motion.h"
#include "lidar_sim/point_source.h"

namespace lidar_sim {

struct SimOptions {
  Ipv4 ip;
  DeviceSettings device;
  DeviceFaults device_faults;
  TransportFaults transport;
  std::string scene_path;  // empty: the built-in scene
  double points_per_s = 200000;
  double imu_hz = 200;
  double push_period_s = 2.0;
  Motion motion;
  RangeModel range;

  bool preconfigured = false;
  Ipv4 host_ip;
  uint16_t host_push_port = 56201;
  uint16_t host_point_port = 56301;
  uint16_t host_imu_port = 56401;

  double seconds = 0;  // 0: until SIGINT or SIGTERM
  unsigned seed = 1;
  double silence_at_s = -1;
  double silence_for_s = 0;
  double reboot_at_s = -1;
  double reboot_boot_s = 3;
  PowerCycles power_cycles;
  double garbage_hz = 0;
  double switch_data_type_at_s = -1;
  uint8_t switch_data_type_to = 3;

  std::string replay_path;
  bool replay_fast = false;
  bool replay_loop = false;
};

const char* usage_text();

// False with a message for a bad command line; `help` is set for --help.
bool parse_options(int argc, const char* const* argv, SimOptions& out, bool& help, std::string& error);

}  // namespace lidar_sim
