#include "device.h"

#include <cmath>
#include <cstdio>

#include "lidar_sim/device_keys.h"

namespace lidar_sim {

namespace {

constexpr uint8_t kRetOk = 0;
constexpr uint8_t kRetRefused = 1;
constexpr uint8_t kRetMalformed = 2;

// Some units answer detection on the broadcast address rather than to the requester.
constexpr Ipv4 kBroadcast{{255, 255, 255, 255}};

constexpr uint8_t kWorkModeSampling = 1;
constexpr uint8_t kWorkModeStandby = 2;
// The host's "enable point sending" request writes 0 to this key; any other value stops it.
constexpr uint8_t kPointSendOn = 0;
constexpr uint8_t kPointSendOff = 1;

// Keys carried by the periodic state message.
constexpr uint16_t kPushKeys[] = {0x0000, 0x0001, 0x0003, 0x0004, 0x0005, 0x0006, 0x0007,
                                  0x001A, 0x001C, 0x8000, 0x8001, 0x8002, 0x8006, 0x8007,
                                  0x8008, 0x8009, 0x800E, 0x8010, 0x8011};

Bytes u8_value(uint8_t v) { return Bytes{v}; }

Bytes i32_value(int32_t v) {
  Bytes b(4);
  put_i32(b.data(), v);
  return b;
}

Bytes target_value(const HostTarget& t) {
  Bytes b(8);
  std::copy(t.ip.o, t.ip.o + 4, b.begin());
  put_u16(&b[4], t.dst_port);
  put_u16(&b[6], t.src_port);
  return b;
}

std::string hex16(uint16_t v) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "0x%04X", v);
  return buf;
}

std::string endpoint_text(const Endpoint& e) { return to_string(e.ip) + ":" + std::to_string(e.port); }

// Validity of a written value beyond its size; keys not listed accept any value.
bool value_allowed(uint16_t k, const uint8_t* v) {
  switch (k) {
    case key::kPclDataType: return v[0] >= 1 && v[0] <= 3;
    case key::kPointSend: return v[0] <= 1;
    case key::kWorkMode: return v[0] >= 1 && v[0] <= 3;
    case key::kImuEnable: return v[0] <= 1;
    default: return true;
  }
}

}  // namespace

DevicePorts device_ports(uint8_t dev_type) {
  if (dev_type == kDeviceTypeForward) return DevicePorts{56000, 56000, 57000, 58000};
  return DevicePorts{56100, 56200, 56300, 56400};
}

Device::Device(DeviceSettings settings, DeviceFaults faults, EventSink events)
    : settings_(std::move(settings)),
      faults_(std::move(faults)),
      events_(std::move(events)),
      ports_(device_ports(settings_.dev_type)),
      power_on_count_(settings_.power_on_count) {
  const std::string product = std::string("DevType:") +
                              (settings_.dev_type == kDeviceTypeForward ? "FORWARD" : "OMNI") +
                              " FmVer:" + std::to_string(settings_.version[0]) + "." +
                              std::to_string(settings_.version[1]) + "." +
                              std::to_string(settings_.version[2]);
  std::size_t count = 0;
  const KeySpec* keys = all_keys(count);
  for (std::size_t i = 0; i < count; ++i) values_[keys[i].key] = Bytes(keys[i].size, 0);

  values_[key::kPclDataType] = u8_value(settings_.data_type);
  Bytes ipcfg;
  Writer w(ipcfg);
  w.bytes(settings_.ip.o, 4);
  w.bytes(settings_.mask.o, 4);
  w.bytes(settings_.gateway.o, 4);
  values_[key::kLidarIpCfg] = ipcfg;
  values_[0x0014] = u8_value(10);  // frame rate, Hz
  // Field of view: yaw 0..360 degrees; pitch per device type.
  Bytes fov;
  Writer f(fov);
  const bool omni = settings_.dev_type != kDeviceTypeForward;
  f.u32(static_cast<uint32_t>(omni ? 0 : -60));
  f.u32(static_cast<uint32_t>(omni ? 360 : 60));
  f.u32(static_cast<uint32_t>(omni ? -60 : -25));
  f.u32(static_cast<uint32_t>(omni ? 60 : 25));
  f.u32(0);
  values_[0x0015] = fov;
  values_[0x0016] = fov;
  values_[key::kImuEnable] = u8_value(1);
  Bytes sn;
  Writer(sn).text(settings_.sn, 16);
  values_[key::kSn] = sn;
  Bytes info;
  Writer(info).text(product, 64);
  values_[key::kProductInfo] = info;
  values_[key::kVersionApp] = Bytes(settings_.version, settings_.version + 4);
  values_[key::kVersionLoader] = Bytes{1, 0, 0, 0};
  values_[key::kVersionHardware] = Bytes{1, 0, 0, 0};
  values_[key::kMac] = Bytes{0x02, 0x5A, settings_.ip.o[0], settings_.ip.o[1], settings_.ip.o[2],
                             settings_.ip.o[3]};
  values_[key::kFwType] = u8_value(settings_.fw_type);
  power_on_values();
}

void Device::power_on_values() {
  values_[key::kWorkMode] = u8_value(settings_.boot_standby ? kWorkModeStandby : kWorkModeSampling);
  values_[key::kPointSend] = u8_value(kPointSendOff);
}

void Device::emit(const std::string& line) const {
  if (events_) events_(line);
}

bool Device::take_fault(int& counter) {
  if (counter == 0) return false;
  if (counter > 0) --counter;
  return true;
}

std::vector<Datagram> Device::on_control(uint16_t local_port, const Endpoint& from,
                                         const uint8_t* data, std::size_t size, uint64_t now_ms) {
  ControlFrame request;
  const FrameCheck check = decode_frame(data, size, request);
  if (check != FrameCheck::kOk) {
    emit("dropped control datagram from " + endpoint_text(from) + " (" + std::to_string(size) +
         " bytes): " + describe(check));
    return {};
  }
  if (request.cmd_type != kCmdTypeRequest) return {};

  auto ignore = faults_.ignore_cmd.find(request.cmd_id);
  if (ignore != faults_.ignore_cmd.end() && take_fault(ignore->second)) {
    emit("fault: leaving command " + hex16(request.cmd_id) + " seq " + std::to_string(request.seq) +
         " unanswered");
    return {};
  }

  if (request.cmd_id == kCmdDetection) {
    if (local_port != kDetectionPort) return {};
    return answer_detection(request, from);
  }
  if (local_port != ports_.cmd) {
    emit("ignored command " + hex16(request.cmd_id) + " on port " + std::to_string(local_port));
    return {};
  }
  switch (request.cmd_id) {
    case kCmdWriteParams:
      if (loses_write(request)) return {};
      return {answer_write(request, from)};
    case kCmdQueryInfo: return {answer_query(request, from, now_ms)};
    default:
      emit("ignored unknown command " + hex16(request.cmd_id) + " from " + endpoint_text(from));
      return {};
  }
}

std::vector<Datagram> Device::answer_detection(const ControlFrame& request, const Endpoint& from) {
  auto reply = [&](const std::string& sn) {
    Bytes payload;
    Writer w(payload);
    w.u8(kRetOk);
    w.u8(settings_.dev_type);
    w.text(sn, 16);
    w.bytes(settings_.ip.o, 4);
    w.u16(ports_.cmd);
    const Endpoint to{settings_.reply_broadcast ? kBroadcast : from.ip, kDetectionPort};
    Datagram d = ack(request, to, std::move(payload));
    d.src_port = kDetectionPort;
    return d;
  };
  std::vector<Datagram> out{reply(settings_.sn)};
  std::string line = "detection seq " + std::to_string(request.seq) + " from " + endpoint_text(from) +
                     " -> reply sn " + settings_.sn +
                     (settings_.reply_broadcast ? " to " + to_string(kBroadcast) : "");
  if (!faults_.twin_sn.empty()) {
    out.push_back(reply(faults_.twin_sn));
    line += " and twin sn " + faults_.twin_sn;
  }
  emit(line);
  return out;
}

bool Device::parse_write(const ControlFrame& request, std::vector<WriteEntry>& entries) {
  Reader r(request.payload.data(), request.payload.size());
  uint16_t key_num = 0, reserved = 0;
  if (!r.u16(key_num) || !r.u16(reserved)) return false;
  for (uint16_t i = 0; i < key_num; ++i) {
    WriteEntry e{};
    if (!r.u16(e.key) || !r.u16(e.size) || (e.value = r.take(e.size)) == nullptr) return false;
    entries.push_back(e);
  }
  return true;
}

bool Device::loses_write(const ControlFrame& request) {
  std::vector<WriteEntry> entries;
  if (faults_.ignore_write.empty() || !parse_write(request, entries)) return false;
  for (const WriteEntry& e : entries) {
    auto fault = faults_.ignore_write.find(e.key);
    if (fault == faults_.ignore_write.end() || !take_fault(fault->second)) continue;
    emit("fault: write seq " + std::to_string(request.seq) + " with key " + hex16(e.key) +
         " lost: not answered, not applied");
    return true;
  }
  return false;
}

Datagram Device::answer_write(const ControlFrame& request, const Endpoint& from) {
  auto result = [&](uint8_t ret, uint16_t error_key) {
    Bytes payload;
    Writer w(payload);
    w.u8(ret);
    w.u16(error_key);
    return ack(request, from, std::move(payload));
  };

  std::vector<WriteEntry> entries;
  if (!parse_write(request, entries)) {
    emit("write seq " + std::to_string(request.seq) + ": malformed payload, refused");
    return result(kRetMalformed, 0);
  }

  bool configures_host = false;
  uint16_t first_host_key = 0;
  for (const WriteEntry& e : entries) {
    const KeySpec* layout = find_key(e.key);
    if (layout == nullptr || !layout->writable || e.size != layout->size || !value_allowed(e.key, e.value)) {
      emit("write seq " + std::to_string(request.seq) + ": key " + hex16(e.key) + " refused");
      return result(kRetRefused, e.key);
    }
    if (is_host_target_key(e.key) && !configures_host) {
      configures_host = true;
      first_host_key = e.key;
    }
  }
  if (configures_host && take_fault(faults_.refuse_config)) {
    emit("fault: refusing host configuration seq " + std::to_string(request.seq));
    return result(kRetRefused, first_host_key);
  }

  std::string applied;
  for (const WriteEntry& e : entries) {
    values_[e.key] = Bytes(e.value, e.value + e.size);
    applied += " " + hex16(e.key);
    if (is_host_target_key(e.key)) {
      const HostTarget t = host_target(e.key);
      applied += "=" + to_string(t.ip) + ":" + std::to_string(t.dst_port);
    } else if (e.size == 1) {
      applied += "=" + std::to_string(e.value[0]);
    }
  }
  emit("write seq " + std::to_string(request.seq) + " from " + endpoint_text(from) + ":" + applied +
       " -> accepted");
  return result(kRetOk, 0);
}

Datagram Device::answer_query(const ControlFrame& request, const Endpoint& from, uint64_t now_ms) {
  Reader r(request.payload.data(), request.payload.size());
  uint16_t key_num = 0, reserved = 0;
  std::vector<uint16_t> keys;
  bool well_formed = r.u16(key_num) && r.u16(reserved);
  for (uint16_t i = 0; well_formed && i < key_num; ++i) {
    uint16_t k = 0;
    well_formed = r.u16(k);
    if (well_formed) keys.push_back(k);
  }
  Bytes payload;
  Writer w(payload);
  if (!well_formed) {
    w.u8(kRetMalformed);
    w.u16(0);
    emit("query seq " + std::to_string(request.seq) + ": malformed payload");
    return ack(request, from, std::move(payload));
  }
  w.u8(kRetOk);
  w.u16(0);
  uint16_t answered = 0;
  for (uint16_t k : keys) {
    const Bytes value = read_key(k, now_ms);
    if (value.empty() || payload.size() + 4 + value.size() > kMaxControlPayload) continue;
    w.u16(k);
    w.u16(static_cast<uint16_t>(value.size()));
    w.bytes(value);
    ++answered;
  }
  put_u16(&payload[1], answered);
  emit("query seq " + std::to_string(request.seq) + " from " + endpoint_text(from) + ": " +
       std::to_string(answered) + " of " + std::to_string(keys.size()) + " keys");
  return ack(request, from, std::move(payload));
}

Datagram Device::ack(const ControlFrame& request, const Endpoint& to, Bytes payload) const {
  ControlFrame reply;
  reply.seq = request.seq;
  reply.cmd_id = request.cmd_id;
  reply.cmd_type = kCmdTypeAck;
  reply.sender_type = kSenderLidar;
  reply.payload = std::move(payload);
  Datagram d;
  d.src_port = ports_.cmd;
  d.dst = to;
  d.bytes = encode_frame(reply);
  return d;
}

Bytes Device::read_key(uint16_t k, uint64_t now_ms) const {
  switch (k) {
    case key::kCurWorkState: return values_.at(key::kWorkMode);
    case key::kCoreTemp: {
      // Warms from 41.50 towards 43.00 degrees over the first minutes.
      const double minutes = static_cast<double>(now_ms) / 60000.0;
      return i32_value(4150 + static_cast<int32_t>(std::lround(150.0 * (1.0 - std::exp(-minutes / 10.0)))));
    }
    case key::kPowerUpCount: {
      Bytes b(4);
      put_u32(b.data(), power_on_count_);
      return b;
    }
    case key::kLocalTimeNow: {
      Bytes b(8);
      put_u64(b.data(), now_ms * 1000000ull);
      return b;
    }
    default: {
      auto it = values_.find(k);
      return it == values_.end() ? Bytes{} : it->second;
    }
  }
}

HostTarget Device::host_target(uint16_t k) const {
  HostTarget t;
  auto it = values_.find(k);
  if (it == values_.end() || it->second.size() != 8) return t;
  std::copy(it->second.begin(), it->second.begin() + 4, t.ip.o);
  t.dst_port = get_u16(&it->second[4]);
  t.src_port = get_u16(&it->second[6]);
  return t;
}

std::optional<Datagram> Device::push_message(uint64_t now_ms) {
  Endpoint dst;
  const HostTarget state = host_target(key::kStateInfoHost);
  if (!state.ip.is_zero() && state.dst_port != 0) {
    dst = Endpoint{state.ip, state.dst_port};
  } else if (settings_.dev_type == kDeviceTypeForward) {
    // This type reports its state to the host's detection port.
    const HostTarget points = host_target(key::kPointHost);
    if (points.ip.is_zero()) return std::nullopt;
    dst = Endpoint{points.ip, kDetectionPort};
  } else {
    return std::nullopt;
  }
  ControlFrame frame;
  frame.seq = ++push_seq_;
  frame.cmd_id = kCmdPushInfo;
  frame.cmd_type = kCmdTypeRequest;
  frame.sender_type = kSenderLidar;
  Writer w(frame.payload);
  w.u16(static_cast<uint16_t>(std::size(kPushKeys)));
  w.u16(0);
  for (uint16_t k : kPushKeys) {
    const Bytes value = read_key(k, now_ms);
    w.u16(k);
    w.u16(static_cast<uint16_t>(value.size()));
    w.bytes(value);
  }
  Datagram d;
  d.src_port = ports_.push;
  d.dst = dst;
  d.bytes = encode_frame(frame);
  return d;
}

StreamPlan Device::stream_plan() const {
  StreamPlan plan;
  const bool sampling = values_.at(key::kWorkMode)[0] == kWorkModeSampling;
  const HostTarget points = host_target(key::kPointHost);
  const HostTarget imu = host_target(key::kImuHost);
  plan.point_dst = Endpoint{points.ip, points.dst_port};
  plan.imu_dst = Endpoint{imu.ip, imu.dst_port};
  plan.data_type = values_.at(key::kPclDataType)[0];
  plan.points = sampling && values_.at(key::kPointSend)[0] == kPointSendOn && plan.point_dst.set();
  plan.imu = sampling && values_.at(key::kImuEnable)[0] == 1 && plan.imu_dst.set();
  return plan;
}

void Device::preconfigure(const Ipv4& host, uint16_t push_port, uint16_t point_port, uint16_t imu_port) {
  values_[key::kStateInfoHost] = target_value(HostTarget{host, push_port, ports_.push});
  values_[key::kPointHost] = target_value(HostTarget{host, point_port, ports_.point});
  values_[key::kImuHost] = target_value(HostTarget{host, imu_port, ports_.imu});
  values_[key::kWorkMode] = u8_value(kWorkModeSampling);
  values_[key::kPointSend] = u8_value(kPointSendOn);
}

void Device::switch_data_type(uint8_t data_type) { values_[key::kPclDataType] = u8_value(data_type); }

void Device::reboot() {
  power_on_values();
  ++power_on_count_;
}

void Device::power_cycle() {
  for (uint16_t k = key::kStateInfoHost; k <= key::kLogHost; ++k) values_[k] = Bytes(8, 0);
  values_[key::kPclDataType] = u8_value(settings_.data_type);
  values_[key::kImuEnable] = u8_value(1);
  values_[key::kWorkMode] = u8_value(kWorkModeStandby);
  values_[key::kPointSend] = u8_value(kPointSendOff);
  ++power_on_count_;
}

}  // namespace lidar_sim
