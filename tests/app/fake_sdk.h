// Recording stand-in for the SDK's public functions, linked into the application's tests in
// place of the SDK: every call is recorded under the SDK function's name, the lifecycle
// results and the key/value statuses are the test's to choose.
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
  const void* callback = nullptr;  // the function registered or passed as completion
  void* client_data = nullptr;
  int64_t at_ms = 0;  // steady clock, milliseconds
};

// Arguments of the latest LidarSdkInit; a null text is recorded as "<null>".
struct InitArgs {
  std::string path;
  std::string host_ip;
  bool log_cfg = false;
};

// Forgets the calls and restores every setting below.
void reset();
std::vector<Call> calls();
std::vector<std::string> call_names();
InitArgs init_args();

// Results of LidarSdkInit and LidarSdkStart (true after reset).
void set_init_result(bool result);
void set_start_result(bool result);
// Status a key/value operation returns, by function name (0 after reset).
void set_status(const std::string& name, CommandStatus status);
// How the LiDAR answers a key/value write, by function name: its completion is called at once,
// on the calling thread, with `status` and (for status 0) a response carrying `ret_code`. After
// reset no write is answered.
void set_answer(const std::string& name, CommandStatus status, uint8_t ret_code = 0);
// Completes the write recorded in `call` as the LiDAR would answer it.
void answer(const Call& call, CommandStatus status, uint8_t ret_code = 0);
// Called by LidarSdkUninit after recording it, when set.
void set_uninit_hook(void (*hook)());

}  // namespace fake_sdk
