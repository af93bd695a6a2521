#include "sim_runner.h"

#include <poll.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "lidar_sim/pcap_replay.h"
#include "lidar_sim/point_source.h"
#include "lidar_sim/scan_pattern.h"
#include "lidar_sim/udp_socket.h"

namespace lidar_sim {

namespace {

constexpr double kStatsPeriodS = 5.0;
constexpr double kMaxLagS = 0.2;        // a stream further behind than this skips ahead
constexpr std::size_t kMaxBurst = 256;  // datagrams of one stream per loop turn
constexpr std::size_t kReceiveBuffer = 65536;

std::atomic<unsigned> toggle_requests{0};

std::string endpoint_text(const Endpoint& e) { return to_string(e.ip) + ":" + std::to_string(e.port); }

uint64_t endpoint_key(const Endpoint& e) {
  return (static_cast<uint64_t>(get_u32(e.ip.o)) << 16) | e.port;
}

class Simulator {
 public:
  Simulator(const SimOptions& options, Scene scene)
      : o_(options),
        start_(std::chrono::steady_clock::now()),
        device_(options.device, options.device_faults,
                [this](const std::string& line) { say(line); }),
        ports_(device_ports(options.device.dev_type)),
        shaper_(options.transport, options.seed),
        points_(std::move(scene), field_of_view(options.device.dev_type), options.motion,
                options.range, options.seed + 1),
        imu_(options.motion, options.seed + 2),
        power_(options.power_cycles) {
    if (o_.preconfigured)
      device_.preconfigure(o_.host_ip, o_.host_push_port, o_.host_point_port, o_.host_imu_port);
  }

  bool open_sockets() {
    std::vector<uint16_t> own_ports{kDetectionPort, ports_.cmd, ports_.push, ports_.point, ports_.imu};
    std::string error;
    if (!detection_any_.open(Ipv4{}, kDetectionPort, error)) return fail(error);
    for (uint16_t port : own_ports) {
      if (sockets_.count(port) != 0) continue;
      UdpSocket s;
      if (!s.open(o_.ip, port, error)) return fail(error);
      sockets_.emplace(port, std::move(s));
    }
    return true;
  }

  bool open_replay() {
    if (o_.replay_path.empty()) return true;
    replay_ = std::make_unique<PcapReplay>(o_.replay_path, o_.replay_fast, o_.replay_loop);
    std::string error;
    if (!replay_->open(error)) return fail(error);
    say("replaying " + o_.replay_path + (o_.replay_fast ? " as fast as possible" : " at recorded pace") +
        (o_.replay_loop ? ", looping" : ""));
    return true;
  }

  void run(const std::atomic<bool>& stop) {
    say(std::string("up: ") + (o_.device.dev_type == kDeviceTypeForward ? "Forward" : "Omni") + " (type " +
        std::to_string(o_.device.dev_type) + ") sn " + o_.device.sn + ", commands on port " +
        std::to_string(ports_.cmd) + (o_.preconfigured ? ", preconfigured for " + to_string(o_.host_ip) : ""));
    last_stats_s_ = 0;
    while (!stop.load()) {
      const double t = now_s();
      if (o_.seconds > 0 && t >= o_.seconds) break;
      update_schedule(t);
      apply_scene_toggles();
      const bool quiet = silent_ || booting_ || power_.down();
      const StreamPlan plan = quiet ? StreamPlan{} : device_.stream_plan();
      report_plan(plan);
      if (replay_) {
        pump_replay(plan, t);
      } else {
        pump_points(plan, t);
        pump_imu(plan, t);
      }
      if (!quiet) {
        pump_push(t);
        pump_garbage(t);
      }
      report_stats(t);
      last_t_ = t;
      wait_and_receive(wait_us(plan), quiet, t);
    }
    say("stopping after " + fixed(now_s(), 1) + " s: " + std::to_string(total_point_packets_) +
        " point and " + std::to_string(total_imu_packets_) + " IMU datagrams sent");
  }

 private:
  bool fail(const std::string& error) {
    say("error: " + error);
    return false;
  }

  double now_s() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  }

  static std::string fixed(double v, int decimals) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
    return buf;
  }

  void say(const std::string& line) const {
    std::printf("[lidar_sim %s %8.3f] %s\n", to_string(o_.ip).c_str(), now_s(), line.c_str());
    std::fflush(stdout);
  }

  void send(const Datagram& d) {
    auto it = sockets_.find(d.src_port);
    if (it == sockets_.end() || !d.dst.set()) return;
    for (const Bytes& b : shaper_.shape(d.bytes))
      if (!it->second.send(b.data(), b.size(), d.dst.ip, d.dst.port)) ++send_failures_;
  }

  void remember_host(const Endpoint& e, uint16_t via_port) {
    if (e.set()) host_ports_[endpoint_key(e)] = std::make_pair(e, via_port);
  }

  void update_schedule(double t) {
    const bool silence = o_.silence_at_s >= 0 && t >= o_.silence_at_s && t < o_.silence_at_s + o_.silence_for_s;
    if (silence != silent_) {
      silent_ = silence;
      say(silence ? "fault: falling silent for " + fixed(o_.silence_for_s, 1) + " s"
                  : "fault: silence over (" + std::to_string(dropped_while_quiet_) + " datagrams ignored)");
    }
    if (o_.reboot_at_s >= 0 && !rebooted_ && t >= o_.reboot_at_s) {
      rebooted_ = true;
      booting_ = true;
      device_.reboot();
      say("fault: rebooting, silent for " + fixed(o_.reboot_boot_s, 1) + " s; work mode and point sending reset");
    }
    if (o_.switch_data_type_at_s >= 0 && !switched_data_type_ && t >= o_.switch_data_type_at_s) {
      switched_data_type_ = true;
      device_.switch_data_type(o_.switch_data_type_to);
      say("fault: another program set the point data type to " + std::to_string(o_.switch_data_type_to));
    }
    switch (power_.step(t)) {
      case PowerCycles::Event::kCut:
        say("fault: power cut for " + fixed(power_.current().off_s, 1) + " s");
        break;
      case PowerCycles::Event::kBoot:
        device_.power_cycle();
        say("fault: power back, booted without host configuration, in standby, point sending "
            "off; " +
            std::to_string(dropped_while_quiet_) + " datagrams ignored while down");
        break;
      case PowerCycles::Event::kNone: break;
    }
    if (booting_ && t >= o_.reboot_at_s + o_.reboot_boot_s) {
      booting_ = false;
      say("boot complete (" + std::to_string(dropped_while_quiet_) + " datagrams ignored while down)");
    }
  }

  // Every shot cast after the change sees the new scene; the line stamps that moment on the wall
  // clock (milliseconds since 1970, to the microsecond), so a reader can time what follows.
  void apply_scene_toggles() {
    const unsigned requested = toggle_requests.load();
    while (toggles_done_ != requested) {
      ++toggles_done_;
      const auto changes = points_.toggle_boxes();
      const auto wall_us = std::chrono::duration_cast<std::chrono::microseconds>(
          std::chrono::system_clock::now().time_since_epoch()).count();
      char stamp[48];
      std::snprintf(stamp, sizeof stamp, "%lld.%03lld", static_cast<long long>(wall_us / 1000),
                    static_cast<long long>(wall_us % 1000));
      std::string line = "scene toggle at wall_ms " + std::string(stamp) + ":";
      for (const std::string& change : changes) line += " " + change;
      if (changes.empty()) line += " (the scene has no toggle boxes)";
      say(line);
    }
  }

  void report_plan(const StreamPlan& plan) {
    if (plan.points != plan_.points || (plan.points && endpoint_key(plan.point_dst) != endpoint_key(plan_.point_dst)))
      say(plan.points ? "point stream on -> " + endpoint_text(plan.point_dst) + " from port " +
                            std::to_string(ports_.point) + ", data type " + std::to_string(plan.data_type)
                      : "point stream off");
    if (plan.imu != plan_.imu || (plan.imu && endpoint_key(plan.imu_dst) != endpoint_key(plan_.imu_dst)))
      say(plan.imu ? "IMU stream on -> " + endpoint_text(plan.imu_dst) + " from port " + std::to_string(ports_.imu)
                   : "IMU stream off");
    if (plan.points && plan_.points && plan.data_type != plan_.data_type)
      say("point data type now " + std::to_string(plan.data_type));
    if (plan.points && !plan_.points) next_point_s_ = now_s();
    if (plan.imu && !plan_.imu) next_imu_s_ = now_s();
    if (plan.points) remember_host(plan.point_dst, ports_.point);
    if (plan.imu) remember_host(plan.imu_dst, ports_.imu);
    plan_ = plan;
  }

  void pump_points(const StreamPlan& plan, double t) {
    if (!plan.points) return;
    const double period = static_cast<double>(kPointsPerPacket) / o_.points_per_s;
    if (t - next_point_s_ > kMaxLagS) next_point_s_ = t;
    for (std::size_t n = 0; n < kMaxBurst && next_point_s_ <= t; ++n) {
      PacketStamp stamp;
      stamp.udp_cnt = point_udp_cnt_++;
      stamp.frame_cnt = static_cast<uint8_t>(static_cast<uint64_t>(next_point_s_ * 10.0));
      stamp.time_interval = static_cast<uint16_t>(std::min(65535.0, period * 1e7));
      stamp.timestamp_ns = static_cast<uint64_t>(next_point_s_ * 1e9);
      const auto shots = points_.shots(kPointsPerPacket, next_point_s_);
      send(Datagram{ports_.point, plan.point_dst, build_point_packet(plan.data_type, shots, stamp)});
      ++window_point_packets_;
      ++total_point_packets_;
      next_point_s_ += period;
    }
  }

  // Until the next turn: a millisecond while streaming (points go out in the turn's burst),
  // but no later than the next IMU sample is due, so each sample leaves on time rather than
  // up to a turn late, which would make the IMU's own intervals uneven.
  int64_t wait_us(const StreamPlan& plan) const {
    if (!plan.points && !plan.imu) return 20000;
    int64_t wait = 1000;
    if (plan.imu && !replay_) {
      const auto due = static_cast<int64_t>((next_imu_s_ - now_s()) * 1e6);
      wait = std::max<int64_t>(0, std::min(wait, due));
    }
    return wait;
  }

  void pump_imu(const StreamPlan& plan, double t) {
    if (!plan.imu) return;
    const double period = 1.0 / o_.imu_hz;
    if (t - next_imu_s_ > kMaxLagS) next_imu_s_ = t;
    for (std::size_t n = 0; n < kMaxBurst && next_imu_s_ <= t; ++n) {
      PacketStamp stamp;
      stamp.udp_cnt = imu_udp_cnt_++;
      stamp.timestamp_ns = static_cast<uint64_t>(next_imu_s_ * 1e9);
      send(Datagram{ports_.imu, plan.imu_dst, build_imu_packet(imu_.sample(next_imu_s_), stamp)});
      ++window_imu_packets_;
      ++total_imu_packets_;
      next_imu_s_ += period;
    }
  }

  void pump_replay(const StreamPlan& plan, double t) {
    if (!plan.points && !plan.imu) return;
    if (replay_done_) return;
    replay_elapsed_us_ += static_cast<uint64_t>(std::max(0.0, t - last_t_) * 1e6);
    std::vector<ReplayDatagram> due;
    const bool more = replay_->due(replay_elapsed_us_, kMaxBurst, due);
    for (ReplayDatagram& d : due) {
      if (d.kind == StreamKind::kImu && plan.imu) {
        send(Datagram{ports_.imu, plan.imu_dst, std::move(d.bytes)});
        ++window_imu_packets_;
        ++total_imu_packets_;
      } else if (d.kind == StreamKind::kPoints && plan.points) {
        send(Datagram{ports_.point, plan.point_dst, std::move(d.bytes)});
        ++window_point_packets_;
        ++total_point_packets_;
      }
    }
    if (!more) {
      replay_done_ = true;
      say("replay finished after " + std::to_string(total_point_packets_) + " point and " +
          std::to_string(total_imu_packets_) + " IMU datagrams");
    }
  }

  void pump_push(double t) {
    if (t < next_push_s_) return;
    next_push_s_ = t + o_.push_period_s;
    if (auto push = device_.push_message(static_cast<uint64_t>(t * 1000.0))) send(*push);
  }

  void pump_garbage(double t) {
    if (o_.garbage_hz <= 0 || t < next_garbage_s_) return;
    next_garbage_s_ = t + 1.0 / o_.garbage_hz;
    for (const auto& entry : host_ports_) {
      const auto& target = entry.second;
      auto it = sockets_.find(target.second);
      if (it == sockets_.end()) continue;
      const Bytes junk = shaper_.garbage();
      it->second.send(junk.data(), junk.size(), target.first.ip, target.first.port);
      ++garbage_sent_;
    }
  }

  void report_stats(double t) {
    if (t - last_stats_s_ < kStatsPeriodS) return;
    const double span = t - last_stats_s_;
    last_stats_s_ = t;
    if (window_point_packets_ == 0 && window_imu_packets_ == 0) return;
    std::string line = "sent " + std::to_string(window_point_packets_) + " point datagrams (" +
                       fixed(window_point_packets_ / span, 0) + "/s) and " + std::to_string(window_imu_packets_) +
                       " IMU datagrams (" + fixed(window_imu_packets_ / span, 0) + "/s)";
    const FaultCounters& c = shaper_.counters();
    if (c.lost + c.duplicated + c.corrupted + c.truncated + garbage_sent_ > 0)
      line += "; faults so far: " + std::to_string(c.lost) + " lost, " + std::to_string(c.duplicated) +
              " duplicated, " + std::to_string(c.corrupted) + " corrupted, " + std::to_string(c.truncated) +
              " truncated, " + std::to_string(garbage_sent_) + " junk";
    if (send_failures_ > 0) line += "; " + std::to_string(send_failures_) + " sends failed";
    say(line);
    window_point_packets_ = 0;
    window_imu_packets_ = 0;
  }

  void wait_and_receive(int64_t timeout_us, bool quiet, double t) {
    std::vector<pollfd> fds;
    std::vector<std::pair<UdpSocket*, uint16_t>> owners;
    fds.push_back(pollfd{detection_any_.fd(), POLLIN, 0});
    owners.emplace_back(&detection_any_, 0);
    for (auto& [port, socket] : sockets_) {
      fds.push_back(pollfd{socket.fd(), POLLIN, 0});
      owners.emplace_back(&socket, port);
    }
    const timespec timeout{static_cast<time_t>(timeout_us / 1000000),
                           static_cast<long>(timeout_us % 1000000) * 1000};
    if (::ppoll(fds.data(), fds.size(), &timeout, nullptr) <= 0) return;
    std::vector<uint8_t> buf(kReceiveBuffer);
    for (std::size_t i = 0; i < fds.size(); ++i) {
      if ((fds[i].revents & POLLIN) == 0) continue;
      Ipv4 from_ip;
      uint16_t from_port = 0;
      long n;
      while ((n = owners[i].first->receive(buf.data(), buf.size(), from_ip, from_port)) >= 0) {
        if (quiet) {
          ++dropped_while_quiet_;
          continue;
        }
        const bool wildcard = owners[i].second == 0;
        // The wildcard socket only hears broadcasts; it answers detection and nothing else.
        if (wildcard && (n < 10 || get_u16(buf.data() + 8) != kCmdDetection)) continue;
        const uint16_t local_port = wildcard ? kDetectionPort : owners[i].second;
        const Endpoint from{from_ip, from_port};
        const auto replies =
            device_.on_control(local_port, from, buf.data(), static_cast<std::size_t>(n), static_cast<uint64_t>(t * 1000.0));
        for (const Datagram& d : replies) {
          remember_host(d.dst, d.src_port);
          send(d);
        }
      }
    }
  }

  const SimOptions& o_;
  std::chrono::steady_clock::time_point start_;
  Device device_;
  DevicePorts ports_;
  FaultShaper shaper_;
  PointSource points_;
  ImuModel imu_;
  PowerCycles power_;
  std::unique_ptr<PcapReplay> replay_;
  UdpSocket detection_any_;
  std::map<uint16_t, UdpSocket> sockets_;
  std::map<uint64_t, std::pair<Endpoint, uint16_t>> host_ports_;

  StreamPlan plan_;
  double last_t_ = 0;
  double next_point_s_ = 0, next_imu_s_ = 0, next_push_s_ = 0, next_garbage_s_ = 0, last_stats_s_ = 0;
  uint16_t point_udp_cnt_ = 0, imu_udp_cnt_ = 0;
  uint64_t window_point_packets_ = 0, window_imu_packets_ = 0;
  uint64_t total_point_packets_ = 0, total_imu_packets_ = 0;
  uint64_t send_failures_ = 0, garbage_sent_ = 0, dropped_while_quiet_ = 0;
  uint64_t replay_elapsed_us_ = 0;
  bool replay_done_ = false;
  bool silent_ = false, booting_ = false, rebooted_ = false, switched_data_type_ = false;
  unsigned toggles_done_ = 0;
};

}  // namespace

void request_scene_toggle() { toggle_requests.fetch_add(1); }

int run_simulator(const SimOptions& options, const std::atomic<bool>& stop) {
  Scene scene = default_scene();
  if (!options.scene_path.empty()) {
    std::string error;
    if (!load_scene(options.scene_path, scene, error)) {
      std::fprintf(stderr, "lidar_sim: %s\n", error.c_str());
      return 2;
    }
  }
  const auto listed = [](const char* title, const std::map<std::string, double>& values) {
    std::string text;
    for (const char* name : {"frente", "tras", "esquerda", "direita", "sup", "inf"}) {
      auto it = values.find(name);
      if (it == values.end()) continue;
      char buf[48];
      std::snprintf(buf, sizeof buf, " %s %.2f", name, it->second);
      text += buf;
    }
    return text.empty() ? text : "; " + std::string(title) + text;
  };
  const std::string expected =
      listed("expected distances", scene.expected) +
      listed("expected corridor distances (default robot box)", scene.expected_corridor);
  Simulator sim(options, scene);
  if (!sim.open_sockets()) return 1;
  std::printf("[lidar_sim %s] scene \"%s\": %zu planes, %zu boxes%s\n", to_string(options.ip).c_str(),
              scene.name.c_str(), scene.planes.size(), scene.boxes.size(), expected.c_str());
  std::fflush(stdout);
  if (!sim.open_replay()) return 1;
  sim.run(stop);
  return 0;
}

}  // namespace lidar_sim
