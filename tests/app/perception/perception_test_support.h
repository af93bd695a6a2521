// Datagram builders and a shared-state reset for the perception tests.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "core/shared_state.h"
#include "lidar_byte_io.h"
#include "lidar_sdk.h"

namespace app::test {

using Datagram = std::vector<uint8_t>;

inline Datagram make_header(uint8_t data_type, uint16_t dot_count, std::size_t record_size) {
  Datagram bytes(kPacketHeaderSize + dot_count * record_size, 0xAB);
  lidar::store_le<uint16_t>(bytes.data() + kPacketDotCountOffset, dot_count);
  bytes[kPacketDataTypeOffset] = data_type;
  return bytes;
}

// High-precision Cartesian records: x, y, z in millimetres.
inline Datagram high_points(const std::vector<std::array<int32_t, 3>>& mm) {
  Datagram bytes = make_header(kDataTypeCartesianHigh, static_cast<uint16_t>(mm.size()),
                               kCartesianHighRecordSize);
  uint8_t* record = bytes.data() + kPacketHeaderSize;
  for (const auto& p : mm) {
    for (int i = 0; i < 3; ++i) lidar::store_le<int32_t>(record + 4 * i, p[i]);
    record += kCartesianHighRecordSize;
  }
  return bytes;
}

// Low-precision Cartesian records: x, y, z in centimetres.
inline Datagram low_points(const std::vector<std::array<int16_t, 3>>& cm) {
  Datagram bytes = make_header(kDataTypeCartesianLow, static_cast<uint16_t>(cm.size()),
                               kCartesianLowRecordSize);
  uint8_t* record = bytes.data() + kPacketHeaderSize;
  for (const auto& p : cm) {
    for (int i = 0; i < 3; ++i) lidar::store_le<int16_t>(record + 2 * i, p[i]);
    record += kCartesianLowRecordSize;
  }
  return bytes;
}

// IMU records: gx, gy, gz, ax, ay, az.
inline Datagram imu_samples(const std::vector<std::array<float, 6>>& samples) {
  Datagram bytes =
      make_header(kDataTypeImu, static_cast<uint16_t>(samples.size()), kImuRecordSize);
  uint8_t* record = bytes.data() + kPacketHeaderSize;
  for (const auto& s : samples) {
    for (int i = 0; i < 6; ++i) lidar::store_le<float>(record + 4 * i, s[i]);
    record += kImuRecordSize;
  }
  return bytes;
}

inline LidarEthernetPacket* as_packet(Datagram& bytes) {
  return reinterpret_cast<LidarEthernetPacket*>(bytes.data());
}

// Everything the perception pipeline reads or writes, back to its start-up values.
inline void reset_perception_state() {
  reset_shared_state();
  window_clear(live_window);
  window_clear(map_window);
  {
    std::lock_guard<std::mutex> hold(frame_mutex);
    frame_mailbox = FrameMailbox{};
  }
  {
    std::lock_guard<std::mutex> hold(state_mutex);
    attitude = AttitudeState{};
  }
  set_processing_params(ProcessingParams{});
  lidar_handle = 0;
  followed_handle = 0;
  last_undecoded_pcl_ms = 0;
  last_pcl_ms = 0;
  last_imu_ms = 0;
  freq_pcl = 0.0;
  freq_imu = 0.0;
  sensor_ativo = false;
  last_attitude_us = 0;
  debug_mode = false;
  map_mode = false;
  processing_active = false;
}

}  // namespace app::test
