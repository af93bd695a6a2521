#include "datagram_records.h"

#include "lidar_byte_io.h"

namespace app {
namespace {

// The records lie in the receive buffer right after the header, so the datagram is addressed as
// bytes rather than through the header's own array.
const uint8_t* packet_bytes(const LidarEthernetPacket& packet) {
  return reinterpret_cast<const uint8_t*>(&packet);
}

const uint8_t* records(const LidarEthernetPacket& packet) {
  return packet_bytes(packet) + kPacketHeaderSize;
}

// Cartesian records of one precision: x, y, z as `Coordinate` in units of 1/`per_metre` metre,
// one record every `record_size` bytes, into the points already sized in `out`. Each point is
// written whole, so a reused buffer keeps nothing of the datagram before.
template <typename Coordinate>
void decode_cartesian(const uint8_t* record, std::size_t record_size, float per_metre,
                      std::vector<CloudPoint>& out) {
  constexpr std::size_t kStep = sizeof(Coordinate);
  for (CloudPoint& point : out) {
    point =
        CloudPoint{static_cast<float>(lidar::load_le<Coordinate>(record)) / per_metre,
                   static_cast<float>(lidar::load_le<Coordinate>(record + kStep)) / per_metre,
                   static_cast<float>(lidar::load_le<Coordinate>(record + 2 * kStep)) / per_metre};
    record += record_size;
  }
}

}  // namespace

uint16_t packet_dot_count(const LidarEthernetPacket& packet) {
  return lidar::load_le<uint16_t>(packet_bytes(packet) + kPacketDotCountOffset);
}

uint8_t packet_data_type(const LidarEthernetPacket& packet) {
  return packet_bytes(packet)[kPacketDataTypeOffset];
}

bool packet_yields_points(const LidarEthernetPacket& packet) {
  const uint8_t type = packet_data_type(packet);
  return packet_dot_count(packet) != 0 &&
         (type == kDataTypeCartesianHigh || type == kDataTypeCartesianLow);
}

void decode_points_into(const LidarEthernetPacket& packet, std::vector<CloudPoint>& out) {
  // Resized, not cleared first: the intake's buffer keeps its points from datagram to datagram
  // rather than constructing them anew each time.
  const uint16_t count = packet_dot_count(packet);
  const uint8_t type = packet_data_type(packet);
  const uint8_t* record = records(packet);

  if (type == kDataTypeCartesianHigh) {
    out.resize(count);
    decode_cartesian<int32_t>(record, kCartesianHighRecordSize, 1000.0f, out);  // millimetres
  } else if (type == kDataTypeCartesianLow) {
    out.resize(count);
    decode_cartesian<int16_t>(record, kCartesianLowRecordSize, 100.0f, out);  // centimetres
  } else {
    out.clear();
  }
}

ImuSample decode_imu_sample(const LidarEthernetPacket& packet, uint16_t index) {
  const uint8_t* record = records(packet) + static_cast<std::size_t>(index) * kImuRecordSize;
  ImuSample sample;
  sample.gx = lidar::load_le<float>(record);
  sample.gy = lidar::load_le<float>(record + 4);
  sample.gz = lidar::load_le<float>(record + 8);
  sample.ax = lidar::load_le<float>(record + 12);
  sample.ay = lidar::load_le<float>(record + 16);
  sample.az = lidar::load_le<float>(record + 20);
  return sample;
}

}  // namespace app
