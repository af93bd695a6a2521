#include "command_impl.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "lidar_byte_io.h"
#include "lidar_keys.h"
#include "base/sdk_log.h"
#include "command_handler/general_command_handler.h"
#include "sdk_protocol.h"

namespace lidar::sdk {
namespace {

CommandStatus WriteSingleByte(uint32_t handle, uint16_t key, uint8_t value,
                              AsyncControlCallback cb, void* client_data) {
  uint8_t payload[kMaxCommandBufferSize] = {};
  const uint16_t length = BuildSingleByteWrite(key, value, payload);
  auto callback =
      std::make_shared<FunctionStatusCallback<LidarAsyncControlResponse>>(cb, client_data);
  return GeneralCommandHandler::GetInstance().SendCommand(handle, kCommandIdWriteKeyValue, payload,
                                                         length, callback);
}

}  // namespace

void FunctionStatusCallback<LidarDiagInternalInfoResponse>::operator()(CommandStatus status,
                                                                      uint32_t handle,
                                                                      const void* response,
                                                                      uint16_t length) {
  if (cb == nullptr) return;
  if (response == nullptr) {
    cb(status, handle, nullptr, client_data);
    return;
  }
  // The copy holds at least the whole fixed part, zero-filled beyond what was received.
  std::vector<uint8_t> copy(std::max<std::size_t>(length, sizeof(LidarDiagInternalInfoResponse)),
                            0);
  std::memcpy(copy.data(), response, length);
  // Its count then covers only the entries received whole.
  store_le<uint16_t>(copy.data() + 1,
                     KeyValueEntries::OfAnswer(copy.data(), length).walk_to_end());
  cb(status, handle, reinterpret_cast<LidarDiagInternalInfoResponse*>(copy.data()), client_data);
}

uint16_t BuildSingleByteWrite(uint16_t key, uint8_t value, uint8_t* buffer) {
  store_le<uint16_t>(buffer, 1);
  store_le<uint16_t>(buffer + 2, 0);
  store_le<uint16_t>(buffer + 4, key);
  store_le<uint16_t>(buffer + 6, 1);
  buffer[8] = value;
  return 9;
}

uint16_t BuildInternalInfoQuery(const std::set<uint16_t>& keys, uint8_t* buffer) {
  store_le<uint16_t>(buffer, static_cast<uint16_t>(keys.size()));
  store_le<uint16_t>(buffer + 2, 0);
  uint16_t length = 4;
  for (uint16_t key : keys) {
    store_le<uint16_t>(buffer + length, key);
    length = static_cast<uint16_t>(length + 2);
  }
  return length;
}

}  // namespace lidar::sdk

using lidar::sdk::FunctionStatusCallback;
using lidar::sdk::GeneralCommandHandler;

CommandStatus LidarSetWorkMode(uint32_t handle, uint8_t work_mode, AsyncControlCallback cb,
                               void* client_data) {
  return lidar::sdk::WriteSingleByte(handle, lidar::kKeyWorkTgtMode, work_mode, cb,
                                     client_data);
}

CommandStatus LidarSetPclDataType(uint32_t handle, uint8_t data_type, AsyncControlCallback cb,
                                  void* client_data) {
  // Data type 0 is the IMU stream, which the device switches with its own key.
  if (data_type == kDataTypeImu) return LidarEnableImuData(handle, cb, client_data);
  return lidar::sdk::WriteSingleByte(handle, lidar::kKeyPclDataType, data_type, cb,
                                     client_data);
}

CommandStatus LidarEnablePointSend(uint32_t handle, AsyncControlCallback cb, void* client_data) {
  return lidar::sdk::WriteSingleByte(handle, lidar::kKeyPointSendEn, 0, cb, client_data);
}

CommandStatus LidarEnableImuData(uint32_t handle, AsyncControlCallback cb, void* client_data) {
  return lidar::sdk::WriteSingleByte(handle, lidar::kKeyImuDataEn, 1, cb, client_data);
}

CommandStatus QueryLidarInternalInfo(uint32_t handle, QueryLidarInternalInfoCallback cb,
                                     void* client_data) {
  std::set<uint16_t> keys;
  GeneralCommandHandler& general = GeneralCommandHandler::GetInstance();
  if (!general.GetInternalInfoKeys(handle, keys)) {
    LIDAR_LOG_ERROR("Query lidar internal info failed.");
    return kStatusNotRegistered;
  }
  uint8_t payload[lidar::sdk::kMaxCommandBufferSize] = {};
  const uint16_t length = lidar::sdk::BuildInternalInfoQuery(keys, payload);
  auto callback =
      std::make_shared<FunctionStatusCallback<LidarDiagInternalInfoResponse>>(cb, client_data);
  return general.SendCommand(handle, lidar::sdk::kCommandIdReadInternalInfo, payload, length,
                             callback);
}
