// What the command layer needs of the device manager, as two small interfaces: a way to put a
// packed frame on the right socket, and a receiver of what detection found. The device manager
// implements both; the command layer's tests give it doubles of their own.
#pragma once

#include <cstdint>

#include "base/ipv4_address.h"
#include "command_handler/detection_data.h"

namespace lidar::sdk {

class FrameSender {
 public:
  // Sends one packed frame to `to` on the command channel of the LiDAR; the bytes sent or -1.
  virtual int SendCommand(uint8_t dev_type, uint32_t handle, const uint8_t* bytes, uint32_t length,
                          const Ipv4Endpoint& to) = 0;
  // The same on the LiDAR's log channel.
  virtual int SendLoggerCommand(uint8_t dev_type, uint32_t handle, const uint8_t* bytes,
                                uint32_t length, const Ipv4Endpoint& to) = 0;

 protected:
  ~FrameSender() = default;
};

class DetectionSink {
 public:
  // Every detection reply that passed the command layer, with the LiDAR's firmware-type state.
  virtual void HandleDetectionData(uint32_t handle, const DetectionData& data, bool fw_type_known,
                                   bool fw_type_zero) = 0;
  // A view LiDAR accepted its addresses: later detection replies leave it alone.
  virtual void UpdateViewLidarCfgCallback(uint32_t handle) = 0;
  // A view LiDAR is to be configured again: its next detection reply sends its stored addresses.
  virtual void ForgetViewLidarCfg(uint32_t handle) = 0;
  // Whether this host configures the LiDARs it detects.
  virtual bool IsMasterSdk() const = 0;

 protected:
  ~DetectionSink() = default;
};

}  // namespace lidar::sdk
