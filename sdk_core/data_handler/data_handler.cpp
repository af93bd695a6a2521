#include "data_handler.h"

#include <chrono>
#include <utility>

#include "lidar_byte_io.h"
#include "base/sdk_health_counters.h"
#include "base/sdk_log.h"

namespace lidar::sdk {
namespace {

// Bytes the records of a datagram of this data type occupy; 0 for types whose records this
// system does not decode (only their header is ever read).
std::size_t RecordBytes(uint8_t data_type, uint16_t dot_count) {
  switch (data_type) {
    case kDataTypeImu: return dot_count * kImuRecordSize;
    case kDataTypeCartesianHigh: return dot_count * kCartesianHighRecordSize;
    case kDataTypeCartesianLow: return dot_count * kCartesianLowRecordSize;
    default: return 0;
  }
}

int64_t SteadyNowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

int64_t SteadyNowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// The arrival of the datagram the receiving thread is about to route (0: none noted), and of
// the one whose callback runs on this thread.
thread_local int64_t noted_arrival_ns = 0;
thread_local int64_t delivered_arrival_ns = 0;

// Holds the delivered datagram's arrival for the length of its callback.
class DeliveryScope {
 public:
  explicit DeliveryScope(int64_t arrival_ns) : outer_(delivered_arrival_ns) {
    delivered_arrival_ns = arrival_ns;
  }
  ~DeliveryScope() { delivered_arrival_ns = outer_; }
  DeliveryScope(const DeliveryScope&) = delete;
  DeliveryScope& operator=(const DeliveryScope&) = delete;

 private:
  int64_t outer_;
};

}  // namespace

void DataHandler::NoteArrival(int64_t arrival_ns) { noted_arrival_ns = arrival_ns; }

int64_t DataHandler::DeliveredArrivalNs() { return delivered_arrival_ns; }

DataHandler& DataHandler::Instance() {
  static DataHandler instance;
  return instance;
}

bool DataHandler::Init() {
  LIDAR_LOG_INFO("Data Handler Init Succ.");
  return true;
}

void DataHandler::SetPointDataCallback(DataCallback callback, void* client_data) {
  std::lock_guard<std::mutex> lock(callbacks_mutex_);
  point_callback_ = std::move(callback);
  point_client_ = client_data;
}

void DataHandler::SetImuDataCallback(DataCallback callback, void* client_data) {
  std::lock_guard<std::mutex> lock(callbacks_mutex_);
  imu_callback_ = std::move(callback);
  imu_client_ = client_data;
}

void DataHandler::ClearCallbacks() {
  std::lock_guard<std::mutex> lock(callbacks_mutex_);
  point_callback_ = nullptr;
  point_client_ = nullptr;
  imu_callback_ = nullptr;
  imu_client_ = nullptr;
}

void DataHandler::Dispatch(uint8_t dev_type, uint32_t handle, const uint8_t* bytes,
                           uint32_t length) {
  if (bytes == nullptr) return;
  if (length < kPacketHeaderSize) {
    Drop(handle, length, kPacketHeaderSize);
    return;
  }
  const uint8_t data_type = bytes[kPacketDataTypeOffset];
  const uint16_t dot_count = load_le<uint16_t>(bytes + kPacketDotCountOffset);
  const std::size_t needed = kPacketHeaderSize + RecordBytes(data_type, dot_count);
  if (length < needed) {
    Drop(handle, length, needed);
    return;
  }

  // The callback signature predates const-correctness; the consumers only read the datagram.
  auto* packet = reinterpret_cast<LidarEthernetPacket*>(const_cast<uint8_t*>(bytes));
  // Held through the call: once a setter has returned, the callable it replaced is not running
  // and will not run again, so its client data may go.
  // A datagram routed without a noted arrival (straight from bytes) arrived now.
  const DeliveryScope delivery(noted_arrival_ns != 0 ? noted_arrival_ns : SteadyNowNs());
  std::lock_guard<std::mutex> lock(callbacks_mutex_);
  if (data_type == kDataTypeImu) {
    if (imu_callback_) imu_callback_(handle, dev_type, packet, imu_client_);
  } else {
    if (point_callback_) point_callback_(handle, dev_type, packet, point_client_);
  }
}

void DataHandler::Drop(uint32_t handle, uint32_t length, std::size_t needed) {
  HealthCounters::Instance().CountShort();
  const uint64_t total = dropped_.fetch_add(1) + 1;
  const int64_t now = SteadyNowMs();
  int64_t last = last_drop_log_ms_.load();
  if (now - last < kDropLogIntervalMs) return;
  if (!last_drop_log_ms_.compare_exchange_strong(last, now)) return;
  LIDAR_LOG_WARN("Dropped short datagram from handle {}: {} bytes, {} needed ({} dropped so far)",
                 handle, length, needed, total);
}

}  // namespace lidar::sdk
