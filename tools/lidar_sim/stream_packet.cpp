#include "stream_packet.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "base/crc.h"
#include "lidar_sim/control_frame.h"

namespace lidar_sim {

namespace {

template <typename T>
T scaled(float metres, double units_per_metre) {
  const double v = std::round(static_cast<double>(metres) * units_per_metre);
  const double lo = static_cast<double>(std::numeric_limits<T>::min());
  const double hi = static_cast<double>(std::numeric_limits<T>::max());
  return static_cast<T>(std::clamp(std::isfinite(v) ? v : 0.0, lo, hi));
}

Bytes with_header(uint8_t data_type, std::size_t count, std::size_t rec_size, const PacketStamp& s) {
  Bytes out(kPacketHeaderSize + count * rec_size, 0);
  out[0] = 0;
  put_u16(&out[1], static_cast<uint16_t>(out.size()));
  put_u16(&out[3], s.time_interval);
  put_u16(&out[5], static_cast<uint16_t>(count));
  put_u16(&out[7], s.udp_cnt);
  out[9] = s.frame_cnt;
  out[10] = data_type;
  out[11] = 0;  // time type: free-running device clock
  put_u64(&out[28], s.timestamp_ns);
  return out;
}

void seal(Bytes& out) {
  const std::size_t n = out.size() - kPacketHeaderSize;
  put_u32(&out[24], n == 0 ? 0 : lidar::sdk::Crc32(out.data() + kPacketHeaderSize, n));
}

}  // namespace

std::size_t record_size(uint8_t data_type) {
  switch (data_type) {
    case kDataTypeImu: return 24;
    case kDataTypeCartesianHigh: return 14;
    case kDataTypeCartesianLow: return 8;
    case kDataTypePolar: return 10;
    default: return 0;
  }
}

Bytes build_point_packet(uint8_t data_type, const std::vector<PointRecord>& points, const PacketStamp& stamp) {
  const std::size_t rec = record_size(data_type);
  Bytes out = with_header(data_type, points.size(), rec, stamp);
  uint8_t* p = out.data() + kPacketHeaderSize;
  for (const PointRecord& pt : points) {
    if (data_type == kDataTypeCartesianHigh) {
      put_i32(p, scaled<int32_t>(pt.x, 1000.0));
      put_i32(p + 4, scaled<int32_t>(pt.y, 1000.0));
      put_i32(p + 8, scaled<int32_t>(pt.z, 1000.0));
      p[12] = pt.reflectivity;
      p[13] = pt.tag;
    } else if (data_type == kDataTypePolar) {
      const double range = std::sqrt(double(pt.x) * pt.x + double(pt.y) * pt.y + double(pt.z) * pt.z);
      const double azimuth = std::atan2(double(pt.y), double(pt.x)) * 180.0 / M_PI;
      const double elevation = range > 0 ? std::asin(double(pt.z) / range) * 180.0 / M_PI : 0.0;
      put_u32(p, scaled<uint32_t>(static_cast<float>(range), 1000.0));
      put_u16(p + 4, scaled<uint16_t>(static_cast<float>(azimuth < 0 ? azimuth + 360.0 : azimuth), 100.0));
      put_i16(p + 6, scaled<int16_t>(static_cast<float>(elevation), 100.0));
      p[8] = pt.reflectivity;
      p[9] = pt.tag;
    } else {
      put_i16(p, scaled<int16_t>(pt.x, 100.0));
      put_i16(p + 2, scaled<int16_t>(pt.y, 100.0));
      put_i16(p + 4, scaled<int16_t>(pt.z, 100.0));
      p[6] = pt.reflectivity;
      p[7] = pt.tag;
    }
    p += rec;
  }
  seal(out);
  return out;
}

Bytes build_imu_packet(const ImuSample& s, const PacketStamp& stamp) {
  Bytes out = with_header(kDataTypeImu, 1, 24, stamp);
  uint8_t* p = out.data() + kPacketHeaderSize;
  const float values[6] = {s.gx, s.gy, s.gz, s.ax, s.ay, s.az};
  for (int i = 0; i < 6; ++i) put_f32(p + 4 * i, values[i]);
  seal(out);
  return out;
}

StreamKind classify_stream_datagram(const uint8_t* data, std::size_t size) {
  if (data == nullptr || size < kPacketHeaderSize) return StreamKind::kNone;
  ControlFrame control;
  if (decode_frame(data, size, control) == FrameCheck::kOk) return StreamKind::kNone;
  const uint16_t dots = get_u16(data + 5);
  const uint8_t type = data[10];
  const std::size_t rec = record_size(type);
  if (rec != 0 && kPacketHeaderSize + dots * rec != size) return StreamKind::kNone;
  return type == kDataTypeImu ? StreamKind::kImu : StreamKind::kPoints;
}

}  // namespace lidar_sim
