// Answers to the internal-information query: the application's walk over the entries, directly
// on the received bytes and as the SDK delivers a possibly truncated answer to its callback.
#include <cstring>
#include <vector>

#include "core/shared_state.h"
#include "publication/device_info.h"
#include "command_handler/command_impl.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::QuietSdkLogger();
  app::reset_shared_state();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size > 0xFFFF) return 0;
  const std::vector<uint8_t> answer(data, data + size);
  const uint8_t* bytes = answer.empty() ? nullptr : answer.data();

  app::apply_internal_info(bytes, answer.size());

  lidar::sdk::FunctionStatusCallback<LidarDiagInternalInfoResponse> delivery(app::on_internal_info,
                                                                             nullptr);
  delivery(kStatusSuccess, 0x0200007F, bytes, static_cast<uint16_t>(answer.size()));

  // Addresses are dotted quads of at most 15 characters.
  std::lock_guard<std::mutex> hold(app::state_mutex);
  FUZZ_CHECK(app::lidar_ip.size() <= 15 && app::host_ip.size() <= 15);
  return 0;
}
