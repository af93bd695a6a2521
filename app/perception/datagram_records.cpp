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
  out.clear();
  const uint16_t count = packet_dot_count(packet);
  const uint8_t type = packet_data_type(packet);
  const uint8_t* record = records(packet);

  if (type == kDataTypeCartesianHigh) {
    out.resize(count);
    for (CloudPoint& point : out) {
      point.x = static_cast<float>(lidar::load_le<int32_t>(record)) / 1000.0f;
      point.y = static_cast<float>(lidar::load_le<int32_t>(record + 4)) / 1000.0f;
      point.z = static_cast<float>(lidar::load_le<int32_t>(record + 8)) / 1000.0f;
      record += kCartesianHighRecordSize;
    }
  } else if (type == kDataTypeCartesianLow) {
    out.resize(count);
    for (CloudPoint& point : out) {
      point.x = static_cast<float>(lidar::load_le<int16_t>(record)) / 100.0f;
      point.y = static_cast<float>(lidar::load_le<int16_t>(record + 2)) / 100.0f;
      point.z = static_cast<float>(lidar::load_le<int16_t>(record + 4)) / 100.0f;
      record += kCartesianLowRecordSize;
    }
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
