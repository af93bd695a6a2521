// The simulated unit's control side: answers detection, parameter writes and information queries,
// keeps the parameters a real unit keeps, and decides where and whether it streams. Pure bytes in,
// datagrams out: no sockets here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "lidar_sim/control_frame.h"
#include "lidar_sim/wire.h"

namespace lidar_sim {

constexpr uint8_t kDeviceTypeOmni = 9;
constexpr uint8_t kDeviceTypeForward = 10;
constexpr uint16_t kDetectionPort = 56000;
constexpr std::size_t kMaxControlPayload = 1400 - 24;

struct Endpoint {
  Ipv4 ip;
  uint16_t port = 0;
  bool set() const { return !ip.is_zero() && port != 0; }
};

// One datagram for the transport to send from the device's address and `src_port`.
struct Datagram {
  uint16_t src_port = 0;
  Endpoint dst;
  Bytes bytes;
};

// The unit's own UDP ports, fixed per device type.
struct DevicePorts {
  uint16_t cmd;
  uint16_t push;
  uint16_t point;
  uint16_t imu;
};
DevicePorts device_ports(uint8_t dev_type);

struct DeviceSettings {
  uint8_t dev_type = kDeviceTypeOmni;
  std::string sn = "SIM0000000001";
  Ipv4 ip;
  Ipv4 mask;
  Ipv4 gateway;
  uint8_t fw_type = 1;
  uint8_t version[4] = {1, 2, 3, 0};
  uint32_t power_on_count = 17;
  uint8_t data_type = 1;      // point data type at power-on (1, 2, or 3: not decoded by the host)
  bool boot_standby = false;  // power on in standby (work mode 2) instead of sampling (1)
  bool reply_broadcast = false;  // answer detection on 255.255.255.255 instead of the requester
};

// Misbehaviour of the unit itself (transport faults live in the fault shaper).
struct DeviceFaults {
  int refuse_config = 0;                 // host-address writes refused: how many, -1 for all
  std::map<uint16_t, int> ignore_cmd;    // command id -> requests left unanswered, -1 for all
  // key -> parameter writes containing it that are lost on the way (no answer, not applied),
  // -1 for all
  std::map<uint16_t, int> ignore_write;
  std::string twin_sn;                   // a second unit on the same address answers detection
};

// Where the unit streams right now; a stream is off when its flag is false.
struct StreamPlan {
  bool points = false;
  bool imu = false;
  Endpoint point_dst;
  Endpoint imu_dst;
  uint8_t data_type = 1;
};

// Host target entry of keys 0x0005 to 0x0009: address, host port, unit port.
struct HostTarget {
  Ipv4 ip;
  uint16_t dst_port = 0;
  uint16_t src_port = 0;
};

using EventSink = std::function<void(const std::string&)>;

class Device {
 public:
  Device(DeviceSettings settings, DeviceFaults faults, EventSink events);

  // One control datagram received on `local_port` from `from`; returns the replies.
  std::vector<Datagram> on_control(uint16_t local_port, const Endpoint& from, const uint8_t* data,
                                   std::size_t size, uint64_t now_ms);

  // The periodic state message, when the host has named where it goes.
  std::optional<Datagram> push_message(uint64_t now_ms);

  StreamPlan stream_plan() const;

  // A unit that kept host addresses and sampling settings from an earlier session.
  void preconfigure(const Ipv4& host, uint16_t push_port, uint16_t point_port, uint16_t imu_port);

  // Another program on the network writes the point data type.
  void switch_data_type(uint8_t data_type);

  // Power cycle: work mode and point sending return to their power-on values; host addresses and
  // the data type are kept; the power-on count grows by one.
  void reboot();
  // Power cycle of a unit that keeps nothing a host wrote: no host targets, standby, point
  // sending off, the power-on data type; the power-on count grows by one.
  void power_cycle();

  // The value of `key` as the unit reports it at `now_ms`; empty for unknown keys.
  Bytes read_key(uint16_t key, uint64_t now_ms) const;

  HostTarget host_target(uint16_t key) const;
  const DeviceSettings& settings() const { return settings_; }

 private:
  std::vector<Datagram> answer_detection(const ControlFrame& request, const Endpoint& from);
  // One entry of a parameter write, pointing into the request's payload.
  struct WriteEntry {
    uint16_t key;
    const uint8_t* value;
    uint16_t size;
  };
  // False when the payload is malformed.
  static bool parse_write(const ControlFrame& request, std::vector<WriteEntry>& entries);
  // Whether the write is lost on the way (the ignore_write fault).
  bool loses_write(const ControlFrame& request);
  Datagram answer_write(const ControlFrame& request, const Endpoint& from);
  Datagram answer_query(const ControlFrame& request, const Endpoint& from, uint64_t now_ms);
  Datagram ack(const ControlFrame& request, const Endpoint& from, Bytes payload) const;
  bool take_fault(int& counter);
  void power_on_values();
  void emit(const std::string& line) const;

  DeviceSettings settings_;
  DeviceFaults faults_;
  EventSink events_;
  DevicePorts ports_;
  std::map<uint16_t, Bytes> values_;
  uint32_t power_on_count_;
  uint32_t push_seq_ = 0;
};

}  // namespace lidar_sim
