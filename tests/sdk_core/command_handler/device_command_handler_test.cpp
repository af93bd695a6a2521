#include "command_handler/device_command_handler.h"

#include <gtest/gtest.h>

#include "tests/sdk_core/command_handler/command_layer_fixture.h"

namespace lidar::sdk::testing {
namespace {

constexpr const char* kIp = "192.168.1.12";

class DeviceCommandHandlerTest : public CommandLayerTest {
 protected:
  static void OnPush(uint32_t handle, uint8_t dev_type, const char* info, void* client_data) {
    auto* self = static_cast<DeviceCommandHandlerTest*>(client_data);
    self->pushes.push_back({handle, dev_type, info});
  }
  struct Push {
    uint32_t handle;
    uint8_t dev_type;
    std::string info;
  };
  std::vector<Push> pushes;
};

TEST_F(DeviceCommandHandlerTest, PushMessagesOnThePushPortReachThePushCallbackWhileOneIsSet) {
  InitConfigMode();
  Register(kIp, kDeviceTypeOmni);
  std::vector<uint8_t> data = {1, 0, 0, 0, 0x00, 0x80, 4, 0, 'A', 'B', 'C', 0};
  auto push = Frame(9, kCommandIdPushMessage, kCommandTypeRequest, data);

  // Nobody asked for the text: the push is taken and nothing is kept for a later callback.
  General().Handler(kDeviceTypeOmni, HandleOf(kIp), kOmniPushMsgPort, push.data(),
                    static_cast<uint32_t>(push.size()));
  General().SetLidarPushInfoCallback(&OnPush, this);
  EXPECT_TRUE(pushes.empty());

  General().Handler(kDeviceTypeOmni, HandleOf(kIp), kHostCmdPort, push.data(),
                    static_cast<uint32_t>(push.size()));
  EXPECT_TRUE(pushes.empty()) << "not the Omni push port";

  General().Handler(kDeviceTypeOmni, HandleOf(kIp), kOmniPushMsgPort, push.data(),
                    static_cast<uint32_t>(push.size()));
  ASSERT_EQ(pushes.size(), 1u);
  EXPECT_EQ(pushes[0].handle, HandleOf(kIp));
  EXPECT_EQ(pushes[0].dev_type, kDeviceTypeOmni);
  EXPECT_EQ(pushes[0].info, "{\n    \"sn\": \"ABC\"\n}");

  // A push that cannot be decoded is handed on as empty text.
  data.pop_back();
  data.pop_back();
  push = Frame(10, kCommandIdPushMessage, kCommandTypeRequest, data);
  General().Handler(HandleOf(kIp), kOmniPushMsgPort, push.data(),
                    static_cast<uint32_t>(push.size()));
  ASSERT_EQ(pushes.size(), 2u);
  EXPECT_TRUE(pushes[1].info.empty());

  General().SetLidarPushInfoCallback(nullptr, nullptr);
  General().Handler(kDeviceTypeOmni, HandleOf(kIp), kOmniPushMsgPort, push.data(),
                    static_cast<uint32_t>(push.size()));
  EXPECT_EQ(pushes.size(), 2u);
}

}  // namespace
}  // namespace lidar::sdk::testing
