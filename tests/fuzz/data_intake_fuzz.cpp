// Point and IMU datagrams of any length and content, through the data handler into the
// application's point and IMU callbacks, and the newest frame through the frame processing.
// Input: one mode byte (bit 0: debug MAP mode, bit 1: process the newest window content), then the
// datagram.
#include <cmath>
#include <vector>

#include "core/shared_state.h"
#include "perception/frame_processing.h"
#include "perception/imu_intake.h"
#include "perception/point_intake.h"
#include "data_handler/data_handler.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/app/perception/frame_test_support.h"

namespace {

constexpr uint32_t kHandle = 0x0200007F;  // 127.0.0.2

std::size_t RecordSize(uint8_t data_type) {
  switch (data_type) {
    case kDataTypeImu: return kImuRecordSize;
    case kDataTypeCartesianHigh: return kCartesianHighRecordSize;
    case kDataTypeCartesianLow: return kCartesianLowRecordSize;
    default: return 0;
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::QuietSdkLogger();
  app::reset_shared_state();
  lidar::sdk::DataHandler& handler = lidar::sdk::DataHandler::Instance();
  handler.SetPointDataCallback(app::on_point_cloud, nullptr);
  handler.SetImuDataCallback(app::on_imu_data, nullptr);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  static unsigned runs = 0;
  if (++runs % 64 == 0) {
    // Keeps the windows small so the fuzzer stays fast; their bounds are tested elsewhere.
    app::window_clear(app::live_window);
    app::window_clear(app::map_window);
  }
  app::debug_mode.store((data[0] & 1) != 0);
  app::map_mode.store((data[0] & 1) != 0);
  const bool process = (data[0] & 2) != 0;

  const std::vector<uint8_t> datagram(data + 1, data + size);
  lidar::sdk::DataHandler& handler = lidar::sdk::DataHandler::Instance();
  const uint64_t dropped_before = handler.DroppedDatagrams();
  handler.Dispatch(kDeviceTypeOmni, kHandle, datagram.empty() ? nullptr : datagram.data(),
                   static_cast<uint32_t>(datagram.size()));

  // A datagram too short for its header, or for the records its dot count announces, is counted
  // as dropped; any other is delivered.
  if (!datagram.empty()) {
    bool short_datagram = datagram.size() < kPacketHeaderSize;
    if (!short_datagram) {
      const uint16_t dots = lidar::load_le<uint16_t>(datagram.data() + kPacketDotCountOffset);
      const uint8_t type = datagram[kPacketDataTypeOffset];
      short_datagram = datagram.size() < kPacketHeaderSize + dots * RecordSize(type);
    }
    FUZZ_CHECK(handler.DroppedDatagrams() == dropped_before + (short_datagram ? 1 : 0));
  }

  // The attitude never takes a non-finite value, whatever the samples hold.
  {
    std::lock_guard<std::mutex> hold(app::state_mutex);
    FUZZ_CHECK(std::isfinite(app::attitude.roll) && std::isfinite(app::attitude.pitch) &&
               std::isfinite(app::attitude.yaw));
  }

  if (!process) return 0;
  app::PointFrame frame;
  {
    std::lock_guard<std::mutex> hold(app::state_mutex);
    frame = app::latest_cloud;
  }
  app::test::process_frame(frame, frame.stamp_ms);
  return 0;
}
