// Helpers shared by the fuzz targets of the SDK layer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include <spdlog/sinks/null_sink.h>
#include <spdlog/spdlog.h>

#include "lidar_byte_io.h"
#include "base/crc.h"
#include "base/sdk_log.h"
#include "sdk_protocol.h"
#include "tests/fuzz/fuzz_check.h"

namespace fuzz {

// The SDK logs through a logger that discards its lines, so the log calls (and the formatting of
// their arguments) still run without flooding the fuzzer's output.
inline void QuietSdkLogger() {
  lidar::sdk::SdkLogger() =
      std::make_shared<spdlog::logger>("fuzz", std::make_shared<spdlog::sinks::null_sink_mt>());
}

// Writes both checksums of a control frame, so random bytes get past the frame check and reach
// the parsing behind it. The CRC-32 covers the payload the length field announces, cut to the
// bytes present.
inline void SealFrame(std::vector<uint8_t>& frame) {
  using lidar::sdk::kFrameHeaderSize;
  if (frame.size() < kFrameHeaderSize) return;
  lidar::store_le<uint16_t>(frame.data() + 18, lidar::sdk::Crc16(frame.data(), 18));
  std::size_t end = lidar::load_le<uint16_t>(frame.data() + 2);
  if (end > frame.size()) end = frame.size();
  const uint32_t crc32 =
      end > kFrameHeaderSize ? lidar::sdk::Crc32(frame.data() + kFrameHeaderSize,
                                                 end - kFrameHeaderSize)
                             : 0;
  lidar::store_le<uint32_t>(frame.data() + 20, crc32);
}

}  // namespace fuzz
