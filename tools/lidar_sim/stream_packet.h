// Point and IMU datagrams: a 36-byte header (version, length, time span, dot count, datagram and
// frame counters, data type, time type, reserved, CRC-32 of the records, time stamp) followed by
// the records.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "lidar_sim/wire.h"

namespace lidar_sim {

constexpr std::size_t kPacketHeaderSize = 36;
constexpr std::size_t kPointsPerPacket = 96;
constexpr uint8_t kDataTypeImu = 0;
constexpr uint8_t kDataTypeCartesianHigh = 1;  // i32 millimetres, 14-byte records
constexpr uint8_t kDataTypeCartesianLow = 2;   // i16 centimetres, 8-byte records
// Range u32 mm, azimuth u16 and elevation i16 in hundredths of a degree, 10-byte records: a form
// the host's service does not decode.
constexpr uint8_t kDataTypePolar = 3;

// Record size of a data type; 0 for types this device does not produce.
std::size_t record_size(uint8_t data_type);

struct PointRecord {
  float x = 0, y = 0, z = 0;  // metres, sensor frame; all zero for a shot without return
  uint8_t reflectivity = 0;
  uint8_t tag = 0;
};

struct ImuSample {
  float gx = 0, gy = 0, gz = 0;  // rad/s
  float ax = 0, ay = 0, az = 0;  // g
};

struct PacketStamp {
  uint16_t udp_cnt = 0;
  uint8_t frame_cnt = 0;
  uint16_t time_interval = 0;  // time covered by the records, 0.1 us units
  uint64_t timestamp_ns = 0;
};

// Data type 1, 2 or 3; values are rounded to the type's unit and clamped to its range.
Bytes build_point_packet(uint8_t data_type, const std::vector<PointRecord>& points, const PacketStamp& stamp);
Bytes build_imu_packet(const ImuSample& sample, const PacketStamp& stamp);

enum class StreamKind { kNone, kPoints, kImu };

// What a captured datagram carries, judged from its header and length alone.
StreamKind classify_stream_datagram(const uint8_t* data, std::size_t size);

}  // namespace lidar_sim
