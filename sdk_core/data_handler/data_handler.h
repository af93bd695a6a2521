// The SDK's single route for streamed measurements: each point or IMU datagram that a known
// LiDAR sends to a data port is handed here and passed on, synchronously, to the matching
// application callback.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>

#include "lidar_sdk.h"

namespace lidar::sdk {

class DataHandler {
 public:
  // Arguments: handle, device type, datagram (header followed by its records), client data.
  using DataCallback = std::function<void(uint32_t, uint8_t, LidarEthernetPacket*, void*)>;

  static DataHandler& Instance();

  bool Init();

  // Replace the stored callable and client pointer; an empty callable (or a null function
  // pointer) disables delivery. Safe while the data thread delivers: a setter waits for a
  // callback in progress to return. A callback must therefore not call a setter itself.
  void SetPointDataCallback(DataCallback callback, void* client_data);
  void SetImuDataCallback(DataCallback callback, void* client_data);

  // Routes one received datagram of `length` bytes: data type 0 to the IMU callback, any other
  // type to the point callback. A datagram too short for its header, or (for the decoded data
  // types) for the records its dot count announces, is dropped and counted, so no consumer can
  // read past the received bytes.
  void Dispatch(uint8_t dev_type, uint32_t handle, const uint8_t* bytes, uint32_t length);

  void ClearCallbacks();

  // The receiving thread notes when the datagram it routes next arrived (ns of
  // std::chrono::steady_clock; 0: unknown, stamped when dispatched); Dispatch hands it to the
  // callback, which reads it with DeliveredArrivalNs (0 outside a callback).
  static void NoteArrival(int64_t arrival_ns);
  static int64_t DeliveredArrivalNs();

  // Number of datagrams dropped as too short since the process started.
  uint64_t DroppedDatagrams() const { return dropped_.load(); }

  DataHandler(const DataHandler&) = delete;
  DataHandler& operator=(const DataHandler&) = delete;

 private:
  DataHandler() = default;

  void Drop(uint32_t handle, uint32_t length, std::size_t needed);

  std::mutex callbacks_mutex_;  // the four fields below
  DataCallback point_callback_;
  void* point_client_ = nullptr;
  DataCallback imu_callback_;
  void* imu_client_ = nullptr;

  std::atomic<uint64_t> dropped_{0};
  // Drops are logged at most once a second, with the running count; the first one at once.
  static constexpr int64_t kDropLogIntervalMs = 1000;
  std::atomic<int64_t> last_drop_log_ms_{-kDropLogIntervalMs};
};

}  // namespace lidar::sdk
