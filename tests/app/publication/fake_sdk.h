// Test double for the SDK's key/value operations: records every call and answers each with a
// status the test chooses (0 by default).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "lidar_sdk.h"

namespace fake_sdk {

struct Call {
  std::string name;  // the SDK function's name
  uint32_t handle = 0;
  int value = -1;    // work mode or data type, -1 when the function has none
  const void* callback = nullptr;
  void* client_data = nullptr;
  int64_t at_ms = 0;  // steady clock, milliseconds
};

void reset();
std::vector<Call> calls();
std::vector<std::string> call_names();
void set_status(const std::string& name, CommandStatus status);

}  // namespace fake_sdk
