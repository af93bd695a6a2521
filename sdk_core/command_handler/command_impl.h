// Completion callbacks of control requests, and the key/value payloads of the parameter
// operations. The operations themselves are the public functions declared in lidar_sdk.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <set>
#include <type_traits>

#include "lidar_sdk.h"

namespace lidar::sdk {

// Held by the command handler for every request waiting for its acknowledgement. `response`
// points at the acknowledgement's payload and `length` is the number of payload bytes actually
// received; both are null/0 when the request failed. The pointer is valid only during the call.
class CommandCallback {
 public:
  virtual ~CommandCallback() = default;
  virtual void operator()(CommandStatus status, uint32_t handle, const void* response,
                          uint16_t length) = 0;
};

// Hands the acknowledgement to a plain completion function as a `Response`. The function
// receives a copy of the received bytes laid out as the response structure, zero-filled where
// the acknowledgement was shorter, so it never reads past what the device sent.
template <typename Response>
class FunctionStatusCallback : public CommandCallback {
 public:
  using Function = void (*)(CommandStatus status, uint32_t handle, Response* response,
                            void* client_data);

  FunctionStatusCallback(Function function, void* data) : cb(function), client_data(data) {}

  void operator()(CommandStatus status, uint32_t handle, const void* response,
                  uint16_t length) override {
    static_assert(std::is_trivially_copyable<Response>::value, "responses are plain bytes");
    if (cb == nullptr) return;
    if (response == nullptr) {
      cb(status, handle, nullptr, client_data);
      return;
    }
    Response copy{};
    std::memcpy(&copy, response, length < sizeof(Response) ? length : sizeof(Response));
    cb(status, handle, &copy, client_data);
  }

  Function cb;
  void* client_data;
};

// The internal-information answer carries a variable entry list after its fixed part: the
// function gets a copy whose param_num counts only the entries that were received whole.
template <>
class FunctionStatusCallback<LidarDiagInternalInfoResponse> : public CommandCallback {
 public:
  using Function = QueryLidarInternalInfoCallback;

  FunctionStatusCallback(Function function, void* data) : cb(function), client_data(data) {}

  void operator()(CommandStatus status, uint32_t handle, const void* response,
                  uint16_t length) override;

  Function cb;
  void* client_data;
};

// Key/value write of one single-byte value (command 0x0100): key_num 1, reserved 0, key,
// length 1, value. Returns the payload length (9).
uint16_t BuildSingleByteWrite(uint16_t key, uint8_t value, uint8_t* buffer);

// Internal-information query (command 0x0101): key_num, reserved 0, the keys in ascending
// order. Returns the payload length (4 + 2 * count); `buffer` must hold it.
uint16_t BuildInternalInfoQuery(const std::set<uint16_t>& keys, uint8_t* buffer);

}  // namespace lidar::sdk
