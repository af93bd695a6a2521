// The payload of a push message, decoded with the internal-information key table and rendered
// as JSON.
#include <string>
#include <vector>

#include <rapidjson/document.h>

#include "command_handler/info_key_table.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::QuietSdkLogger();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size > 0xFFFF) return 0;
  std::vector<uint8_t> payload(data, data + size);
  lidar::sdk::CommPacket packet;
  packet.cmd_id = lidar::sdk::kCommandIdPushMessage;
  packet.data = payload.empty() ? nullptr : payload.data();
  packet.data_len = static_cast<uint16_t>(payload.size());

  std::string text;
  const bool decoded = lidar::sdk::build_info_json(packet, text);
  if (!decoded) {
    FUZZ_CHECK(text.empty());
    return 0;
  }
  // What is rendered is one JSON object, whatever bytes the device put in its texts.
  rapidjson::Document document;
  document.Parse(text.c_str(), text.size());
  FUZZ_CHECK(!document.HasParseError() && document.IsObject());
  return 0;
}
