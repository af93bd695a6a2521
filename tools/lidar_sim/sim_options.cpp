#include "sim_options.h"

#include <cstdio>
#include <cstdlib>
#include <map>
#include <vector>

namespace lidar_sim {

const char* usage_text() {
  return R"(Usage: lidar_sim [options]
A stand-in for one LiDAR unit on the control protocol, with its point and IMU streams.
Run it only inside tools/sandbox/netns-run.

Unit:
  --ip ADDR               own address (default 127.0.0.2); detection is also heard on 0.0.0.0:56000
  --type omni|forward|9|10  device type (default omni = 9)
  --sn TEXT               serial number (default SIM and the last three octets, SIM000000002)
  --mask ADDR             network mask reported (default 255.0.0.0 on 127/8, else 255.255.255.0)
  --gateway ADDR          gateway reported (default 127.0.0.1 on 127/8, else a.b.c.1)
  --fw-type N             firmware type reported for key 0x8010 (default 1)
  --power-on-count N      power-on count at start (default 17)
  --data-type 1|2|3       point data type at power-on (default 1; 3 is a polar form the service
                          does not decode)
  --boot-standby          power on in standby (work mode 2) instead of sampling (1)
  --reply-broadcast       answer detection on 255.255.255.255:56000 instead of to the requester
  --preconfigured HOST    kept its settings: stream to HOST at once
  --host-ports P,Q,R      host ports for state, points, IMU with --preconfigured (56201,56301,56401)
Scene and streams:
  --scene FILE.json       planes and boxes (default: built in, the same as config/scenes/open.json);
                          SIGUSR1 shows or hides the boxes marked "toggle" and prints the moment
  --rate N                points per second (default 200000)
  --imu-rate HZ           IMU samples per second (default 200)
  --push-period S         seconds between state messages (default 2)
  --tilt ROLL,PITCH       fixed tilt in degrees (default 0,0)
  --pitching AMP,HZ       pitch oscillating AMP degrees either way at HZ on top of the tilt, as
                          a robot braking and accelerating (default 0,0: none)
  --yaw-rate DEG_S        constant turn about the vertical (default 0)
  --imu-noise SCALE       IMU noise scale, 0 for exact readings (default 1)
  --range-noise M         range noise standard deviation in metres (default 0)
  --max-range M           maximum range in metres (default 40)
Replay (replaces the scene stream once the unit streams):
  --replay FILE.pcap      point and IMU datagrams of a capture (Ethernet or Linux cooked)
  --replay-fast           as fast as possible instead of the recorded pace
  --replay-loop           start again at the end of the capture
Faults:
  --loss P  --dup P  --bad-crc P  --truncate P   probabilities per datagram sent (0..1)
  --silence AT:N          fall silent AT seconds after start for N seconds, then resume
  --reboot AT[:BOOT]      reboot AT seconds after start, silent for BOOT seconds (default 3)
  --power-cycle AT:OFF    lose power AT seconds after start for OFF seconds, then boot keeping
                          nothing a host wrote: no host addresses, standby, point sending off
                          (repeat the option for more cycles, in time order)
  --refuse-config [N]     refuse the host-address configuration N times (default: always), with
                          the first host-address key as the error key
  --ignore-cmd ID[:N]     leave command ID (e.g. 0x0101) unanswered N times (default: always)
  --ignore-write KEY[:N]  lose the first N parameter writes that contain KEY (e.g. 0x001A): no
                          answer, not applied (default: all)
  --twin-sn TEXT          a second unit with this serial number answers on the same address
  --garbage HZ            junk datagrams per second to every host port known
  --switch-data-type AT:T another program sets the point data type to T (1..3) AT seconds after
                          start
Run:
  --seconds N             stop after N seconds (default: run until SIGINT/SIGTERM)
  --seed N                random seed (default 1)
  --help
)";
}

namespace {

bool to_double(const std::string& s, double& out) {
  char* end = nullptr;
  out = std::strtod(s.c_str(), &end);
  return !s.empty() && end != nullptr && *end == '\0';
}

bool to_long(const std::string& s, long& out) {
  char* end = nullptr;
  out = std::strtol(s.c_str(), &end, 0);
  return !s.empty() && end != nullptr && *end == '\0';
}

std::vector<std::string> split(const std::string& s, char sep) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (;;) {
    const std::size_t at = s.find(sep, start);
    parts.push_back(s.substr(start, at - start));
    if (at == std::string::npos) break;
    start = at + 1;
  }
  return parts;
}

// "ID[:COUNT]": a 16-bit command id or key and how many times (-1, for always, when left out).
bool id_and_count(const std::string& s, std::map<uint16_t, int>& out) {
  const auto parts = split(s, ':');
  long id = 0, count = -1;
  if (parts.empty() || parts.size() > 2 || !to_long(parts[0], id) || id < 0 || id > 0xFFFF ||
      (parts.size() == 2 && (!to_long(parts[1], count) || count < 0)))
    return false;
  out[static_cast<uint16_t>(id)] = static_cast<int>(count);
  return true;
}

bool probability(const std::string& s, double& out) { return to_double(s, out) && out >= 0 && out <= 1; }

}  // namespace

bool parse_options(int argc, const char* const* argv, SimOptions& o, bool& help, std::string& error) {
  help = false;
  parse_ipv4("127.0.0.2", o.ip);
  parse_ipv4("127.0.0.1", o.host_ip);
  std::string sn, mask, gateway;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool has_value = i + 1 < argc;
    auto value = [&]() -> std::string {
      if (has_value) return argv[++i];
      error = arg + ": missing value";
      return std::string();
    };
    auto optional_value = [&]() -> std::string {
      if (i + 1 < argc && argv[i + 1][0] != '-') return argv[++i];
      return std::string();
    };
    auto fail = [&](const std::string& what) {
      if (error.empty()) error = arg + ": " + what;
      return false;
    };
    double d = 0;
    long n = 0;
    if (arg == "--help" || arg == "-h") {
      help = true;
      return true;
    } else if (arg == "--ip") {
      if (!parse_ipv4(value(), o.ip)) return fail("expects an IPv4 address");
    } else if (arg == "--type") {
      const std::string v = value();
      if (v == "omni" || v == "9") o.device.dev_type = kDeviceTypeOmni;
      else if (v == "forward" || v == "10") o.device.dev_type = kDeviceTypeForward;
      else return fail("expects omni, forward, 9 or 10");
    } else if (arg == "--sn") {
      sn = value();
      if (sn.empty() || sn.size() > 16) return fail("expects 1 to 16 characters");
    } else if (arg == "--mask") {
      mask = value();
    } else if (arg == "--gateway") {
      gateway = value();
    } else if (arg == "--fw-type") {
      if (!to_long(value(), n) || n < 0 || n > 255) return fail("expects 0..255");
      o.device.fw_type = static_cast<uint8_t>(n);
    } else if (arg == "--power-on-count") {
      if (!to_long(value(), n) || n < 0) return fail("expects a count");
      o.device.power_on_count = static_cast<uint32_t>(n);
    } else if (arg == "--data-type") {
      if (!to_long(value(), n) || n < 1 || n > 3) return fail("expects 1, 2 or 3");
      o.device.data_type = static_cast<uint8_t>(n);
    } else if (arg == "--boot-standby") {
      o.device.boot_standby = true;
    } else if (arg == "--reply-broadcast") {
      o.device.reply_broadcast = true;
    } else if (arg == "--preconfigured") {
      o.preconfigured = true;
      if (!parse_ipv4(value(), o.host_ip)) return fail("expects the host's IPv4 address");
    } else if (arg == "--host-ports") {
      const auto parts = split(value(), ',');
      long p[3] = {0, 0, 0};
      if (parts.size() != 3) return fail("expects three ports");
      for (int k = 0; k < 3; ++k)
        if (!to_long(parts[k], p[k]) || p[k] <= 0 || p[k] > 65535) return fail("expects three ports");
      o.host_push_port = static_cast<uint16_t>(p[0]);
      o.host_point_port = static_cast<uint16_t>(p[1]);
      o.host_imu_port = static_cast<uint16_t>(p[2]);
    } else if (arg == "--scene") {
      o.scene_path = value();
    } else if (arg == "--rate") {
      if (!to_double(value(), d) || d < 96 || d > 5e6) return fail("expects 96 to 5000000 points per second");
      o.points_per_s = d;
    } else if (arg == "--imu-rate") {
      if (!to_double(value(), d) || d <= 0 || d > 5000) return fail("expects 0 to 5000 Hz");
      o.imu_hz = d;
    } else if (arg == "--push-period") {
      if (!to_double(value(), d) || d <= 0) return fail("expects seconds");
      o.push_period_s = d;
    } else if (arg == "--tilt") {
      const auto parts = split(value(), ',');
      if (parts.size() != 2 || !to_double(parts[0], o.motion.roll_deg) || !to_double(parts[1], o.motion.pitch_deg))
        return fail("expects ROLL,PITCH in degrees");
    } else if (arg == "--pitching") {
      const auto parts = split(value(), ',');
      if (parts.size() != 2 || !to_double(parts[0], o.motion.pitch_wave_deg) ||
          !to_double(parts[1], o.motion.pitch_wave_hz) || o.motion.pitch_wave_deg < 0 ||
          o.motion.pitch_wave_deg > 45 || o.motion.pitch_wave_hz < 0 || o.motion.pitch_wave_hz > 50)
        return fail("expects AMP,HZ: 0 to 45 degrees, 0 to 50 Hz");
    } else if (arg == "--yaw-rate") {
      if (!to_double(value(), o.motion.yaw_rate_deg_s)) return fail("expects degrees per second");
    } else if (arg == "--imu-noise") {
      if (!to_double(value(), d) || d < 0) return fail("expects a non-negative scale");
      o.motion.imu_noise = d;
    } else if (arg == "--range-noise") {
      if (!to_double(value(), d) || d < 0) return fail("expects metres");
      o.range.noise_m = d;
    } else if (arg == "--max-range") {
      if (!to_double(value(), d) || d <= o.range.min_range_m) return fail("expects metres");
      o.range.max_range_m = d;
    } else if (arg == "--replay") {
      o.replay_path = value();
      if (o.replay_path.empty()) return fail("expects a capture file");
    } else if (arg == "--replay-fast") {
      o.replay_fast = true;
    } else if (arg == "--replay-loop") {
      o.replay_loop = true;
    } else if (arg == "--loss") {
      if (!probability(value(), o.transport.loss)) return fail("expects a probability");
    } else if (arg == "--dup") {
      if (!probability(value(), o.transport.duplicate)) return fail("expects a probability");
    } else if (arg == "--bad-crc") {
      if (!probability(value(), o.transport.bad_crc)) return fail("expects a probability");
    } else if (arg == "--truncate") {
      if (!probability(value(), o.transport.truncate)) return fail("expects a probability");
    } else if (arg == "--silence") {
      const auto parts = split(value(), ':');
      if (parts.size() != 2 || !to_double(parts[0], o.silence_at_s) || !to_double(parts[1], o.silence_for_s) ||
          o.silence_at_s < 0 || o.silence_for_s <= 0)
        return fail("expects AT:SECONDS");
    } else if (arg == "--reboot") {
      const auto parts = split(value(), ':');
      if (parts.empty() || parts.size() > 2 || !to_double(parts[0], o.reboot_at_s) || o.reboot_at_s < 0 ||
          (parts.size() == 2 && (!to_double(parts[1], o.reboot_boot_s) || o.reboot_boot_s < 0)))
        return fail("expects AT[:BOOT_SECONDS]");
    } else if (arg == "--power-cycle") {
      const auto parts = split(value(), ':');
      PowerCycles::Cut cut;
      if (parts.size() != 2 || !to_double(parts[0], cut.at_s) || !to_double(parts[1], cut.off_s) ||
          cut.at_s < 0 || cut.off_s <= 0)
        return fail("expects AT:OFF_SECONDS");
      o.power_cycles.add(cut);
    } else if (arg == "--refuse-config") {
      const std::string v = optional_value();
      if (v.empty()) o.device_faults.refuse_config = -1;
      else if (!to_long(v, n) || n < 0) return fail("expects a count");
      else o.device_faults.refuse_config = static_cast<int>(n);
    } else if (arg == "--ignore-cmd") {
      if (!id_and_count(value(), o.device_faults.ignore_cmd)) return fail("expects ID[:COUNT]");
    } else if (arg == "--ignore-write") {
      if (!id_and_count(value(), o.device_faults.ignore_write)) return fail("expects KEY[:COUNT]");
    } else if (arg == "--twin-sn") {
      o.device_faults.twin_sn = value();
      if (o.device_faults.twin_sn.empty() || o.device_faults.twin_sn.size() > 16)
        return fail("expects 1 to 16 characters");
    } else if (arg == "--garbage") {
      if (!to_double(value(), d) || d < 0) return fail("expects datagrams per second");
      o.garbage_hz = d;
    } else if (arg == "--switch-data-type") {
      const auto parts = split(value(), ':');
      if (parts.size() != 2 || !to_double(parts[0], o.switch_data_type_at_s) || o.switch_data_type_at_s < 0 ||
          !to_long(parts[1], n) || n < 1 || n > 3)
        return fail("expects AT:TYPE (1..3)");
      o.switch_data_type_to = static_cast<uint8_t>(n);
    } else if (arg == "--seconds") {
      if (!to_double(value(), d) || d <= 0) return fail("expects seconds");
      o.seconds = d;
    } else if (arg == "--seed") {
      if (!to_long(value(), n) || n < 0) return fail("expects a number");
      o.seed = static_cast<unsigned>(n);
    } else {
      error = "unknown option " + arg + " (see --help)";
      return false;
    }
    if (!error.empty()) return false;
  }

  o.device.ip = o.ip;
  const bool loopback = o.ip.o[0] == 127;
  if (sn.empty()) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "SIM%03u%03u%03u", o.ip.o[1], o.ip.o[2], o.ip.o[3]);
    sn = buf;
  }
  o.device.sn = sn;
  if (mask.empty()) mask = loopback ? "255.0.0.0" : "255.255.255.0";
  if (!parse_ipv4(mask, o.device.mask)) {
    error = "--mask: expects an IPv4 address";
    return false;
  }
  if (gateway.empty()) {
    Ipv4 g = o.ip;
    if (loopback) g = Ipv4{{127, 0, 0, 1}};
    else g.o[3] = 1;
    o.device.gateway = g;
  } else if (!parse_ipv4(gateway, o.device.gateway)) {
    error = "--gateway: expects an IPv4 address";
    return false;
  }
  return true;
}

}  // namespace lidar_sim
