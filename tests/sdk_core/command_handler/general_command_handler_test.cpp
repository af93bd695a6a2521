#include "command_handler/general_command_handler.h"

#include <gtest/gtest.h>

#include "lidar_sdk.h"
#include "base/crc.h"
#include "tests/sdk_core/command_handler/command_layer_fixture.h"

namespace lidar::sdk::testing {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

constexpr const char* kOmniIp = "192.168.1.12";
constexpr const char* kForwardIp = "192.168.1.13";

class GeneralCommandHandlerTest : public CommandLayerTest {};

TEST_F(GeneralCommandHandlerTest, InternalInfoQueryAsksForTheKeysOfTheDeviceType) {
  InitConfigMode();
  Register(kOmniIp, kDeviceTypeOmni);
  Register(kForwardIp, kDeviceTypeForward);

  ASSERT_EQ(QueryLidarInternalInfo(HandleOf(kOmniIp), nullptr, nullptr), kStatusSuccess);
  SentRequest omni = LastSent();
  EXPECT_EQ(omni.cmd_id, kCommandIdReadInternalInfo);
  ASSERT_EQ(omni.payload.size(), 64u);
  EXPECT_EQ(load_le<uint16_t>(omni.payload.data()), 30);
  EXPECT_EQ(load_le<uint16_t>(omni.payload.data() + 4), 0x0000);
  EXPECT_EQ(load_le<uint16_t>(omni.payload.data() + 62), 0x8011);
  for (std::size_t at = 6; at < omni.payload.size(); at += 2) {
    EXPECT_LT(load_le<uint16_t>(omni.payload.data() + at - 2),
              load_le<uint16_t>(omni.payload.data() + at));
  }
  EXPECT_EQ(FakeDevices().sent.back().dest_port, kOmniCmdPort);

  ASSERT_EQ(QueryLidarInternalInfo(HandleOf(kForwardIp), nullptr, nullptr), kStatusSuccess);
  SentRequest forward = LastSent();
  ASSERT_EQ(forward.payload.size(), 58u);
  EXPECT_EQ(load_le<uint16_t>(forward.payload.data()), 27);
  EXPECT_EQ(load_le<uint16_t>(forward.payload.data() + 56), 0x8012);
  EXPECT_EQ(FakeDevices().sent.back().dest_port, 56000);
}

TEST_F(GeneralCommandHandlerTest, UnregisteredHandleIsRefusedWithoutSending) {
  InitConfigMode();
  LogCapture log;
  EXPECT_EQ(QueryLidarInternalInfo(HandleOf(kOmniIp), &OnInfo, this), kStatusNotRegistered);
  EXPECT_TRUE(log.Has("Query lidar internal info failed."));
  EXPECT_TRUE(log.Has("[QueryLidarInternalInfo]"));

  auto callback = std::make_shared<RecordingCallback>();
  uint8_t payload[4] = {};
  EXPECT_EQ(General().SendCommand(HandleOf(kOmniIp), 0x0100, payload, 4, callback),
            kStatusSendFailed);
  EXPECT_TRUE(log.Has("Send command failed, get cmd handler failed"));
  General().CommandsHandle(steady_clock::now() + std::chrono::hours(1));
  EXPECT_TRUE(callback->calls.empty());
  EXPECT_TRUE(info_results.empty());
  EXPECT_TRUE(FakeDevices().sent.empty());
}

TEST_F(GeneralCommandHandlerTest, KeyValueWritesSendOneSingleByteEntry) {
  InitConfigMode();
  Register(kOmniIp, kDeviceTypeOmni);
  const uint32_t handle = HandleOf(kOmniIp);
  struct Case {
    CommandStatus (*send)(uint32_t);
    uint16_t key;
    uint8_t value;
  };
  const Case cases[] = {
      {[](uint32_t h) { return LidarSetPclDataType(h, 0, nullptr, nullptr); }, 0x001C, 1},
      {[](uint32_t h) { return LidarSetPclDataType(h, 1, nullptr, nullptr); }, 0x0000, 1},
      {[](uint32_t h) { return LidarEnablePointSend(h, nullptr, nullptr); }, 0x0003, 0},
      {[](uint32_t h) { return LidarSetWorkMode(h, 1, nullptr, nullptr); }, 0x001A, 1},
      {[](uint32_t h) { return LidarEnableImuData(h, nullptr, nullptr); }, 0x001C, 1},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(c.send(handle), kStatusSuccess);
    const SentRequest sent = LastSent();
    EXPECT_EQ(sent.cmd_id, kCommandIdWriteKeyValue);
    EXPECT_EQ(sent.cmd_type, kCommandTypeRequest);
    const std::vector<uint8_t> expected = {1, 0, 0, 0, static_cast<uint8_t>(c.key),
                                           static_cast<uint8_t>(c.key >> 8), 1, 0, c.value};
    EXPECT_EQ(sent.payload, expected) << "key " << c.key;
    EXPECT_EQ(FakeDevices().sent.back().dest_ip, kOmniIp);
    EXPECT_EQ(FakeDevices().sent.back().dev_type, kDeviceTypeOmni);
    EXPECT_FALSE(FakeDevices().sent.back().logger);
  }
}

TEST_F(GeneralCommandHandlerTest, AcknowledgementCompletesItsRequestOnce) {
  InitConfigMode();
  Register(kOmniIp, kDeviceTypeOmni);
  const uint32_t handle = HandleOf(kOmniIp);

  ASSERT_EQ(LidarSetWorkMode(handle, 1, &OnAsync, this), kStatusSuccess);
  const uint32_t seq = LastSent().seq;
  Acknowledge(kDeviceTypeOmni, kOmniIp, seq + 1, kCommandIdWriteKeyValue, {0, 0, 0});
  EXPECT_TRUE(async_results.empty()) << "another sequence number must not match";

  Acknowledge(kDeviceTypeOmni, kOmniIp, seq, kCommandIdWriteKeyValue, {1, 0x1A, 0x00});
  ASSERT_EQ(async_results.size(), 1u);
  EXPECT_EQ(async_results[0].status, kStatusSuccess);
  EXPECT_EQ(async_results[0].handle, handle);
  EXPECT_EQ(async_results[0].response.ret_code, 1);
  EXPECT_EQ(async_results[0].response.error_key, 0x001A);

  // A duplicate finds nothing left to complete, neither now nor at the time-out.
  Acknowledge(kDeviceTypeOmni, kOmniIp, seq, kCommandIdWriteKeyValue, {0, 0, 0});
  General().CommandsHandle(steady_clock::now() + std::chrono::hours(1));
  EXPECT_EQ(async_results.size(), 1u);
}

TEST_F(GeneralCommandHandlerTest, UntypedPathMatchesAcksAndLogsUnknownOnes) {
  InitConfigMode();
  Register(kOmniIp, kDeviceTypeOmni);
  const uint32_t handle = HandleOf(kOmniIp);
  auto callback = std::make_shared<RecordingCallback>();
  uint8_t payload[9] = {};
  ASSERT_EQ(General().SendCommand(handle, 0x0100, payload, 9, callback), kStatusSuccess);
  const uint32_t seq = LastSent().seq;

  LogCapture log;
  auto unknown = Ack(seq + 7, 0x0100, {0, 0, 0});
  General().Handler(handle, kHostCmdPort, unknown.data(), static_cast<uint32_t>(unknown.size()));
  EXPECT_TRUE(log.Has("Handle cmd ack failed, can not find command"));
  EXPECT_TRUE(callback->calls.empty());

  auto ack = Ack(seq, 0x0100, {0, 0, 0});
  General().Handler(handle, kHostCmdPort, ack.data(), static_cast<uint32_t>(ack.size()));
  ASSERT_EQ(callback->calls.size(), 1u);
  EXPECT_EQ(callback->calls[0].status, kStatusSuccess);
  EXPECT_EQ(callback->calls[0].length, 3);
}

// The frame with the upper half of its sequence number set, its header checksum resealed.
std::vector<uint8_t> WithUpperSeq(std::vector<uint8_t> frame, uint16_t upper) {
  store_le<uint16_t>(frame.data() + 6, upper);
  store_le<uint16_t>(frame.data() + 18, Crc16(frame.data(), 18));
  return frame;
}

TEST_F(GeneralCommandHandlerTest, TypedAndUntypedPathsMatchAcknowledgementsAlike) {
  InitConfigMode();
  Register(kOmniIp, kDeviceTypeOmni);
  const uint32_t handle = HandleOf(kOmniIp);

  ASSERT_EQ(LidarSetWorkMode(handle, 1, &OnAsync, this), kStatusSuccess);
  auto typed = WithUpperSeq(Ack(LastSent().seq, kCommandIdWriteKeyValue, {0, 0, 0}), 1);
  General().Handler(kDeviceTypeOmni, handle, kHostCmdPort, typed.data(),
                    static_cast<uint32_t>(typed.size()));
  ASSERT_EQ(LidarSetWorkMode(handle, 1, &OnAsync, this), kStatusSuccess);
  auto untyped = WithUpperSeq(Ack(LastSent().seq, kCommandIdWriteKeyValue, {0, 0, 0}), 1);
  General().Handler(handle, kHostCmdPort, untyped.data(), static_cast<uint32_t>(untyped.size()));

  ASSERT_EQ(async_results.size(), 2u);
  EXPECT_EQ(async_results[0].status, kStatusSuccess);
  EXPECT_EQ(async_results[1].status, kStatusSuccess);
}

TEST_F(GeneralCommandHandlerTest, UnacknowledgedRequestTimesOutOnFirstTickAfterOneSecond) {
  InitConfigMode();
  Register(kOmniIp, kDeviceTypeOmni);
  auto callback = std::make_shared<RecordingCallback>();
  uint8_t payload[9] = {};
  const auto before = steady_clock::now();
  ASSERT_EQ(General().SendCommand(HandleOf(kOmniIp), 0x0100, payload, 9, callback),
            kStatusSuccess);
  const auto after = steady_clock::now();

  General().CommandsHandle(before + milliseconds(999));
  EXPECT_TRUE(callback->calls.empty());
  General().CommandsHandle(after + milliseconds(1001));
  ASSERT_EQ(callback->calls.size(), 1u);
  EXPECT_EQ(callback->calls[0].status, kStatusTimeout);
  EXPECT_EQ(callback->calls[0].handle, HandleOf(kOmniIp));
  EXPECT_TRUE(callback->calls[0].null_response);
  General().CommandsHandle(after + milliseconds(5000));
  EXPECT_EQ(callback->calls.size(), 1u);
}

TEST_F(GeneralCommandHandlerTest, FailedSendCompletesOnceWithSendFailure) {
  InitConfigMode();
  Register(kOmniIp, kDeviceTypeOmni);
  FakeDevices().fail_sends = true;
  auto callback = std::make_shared<RecordingCallback>();
  uint8_t payload[9] = {};
  LogCapture log;
  EXPECT_EQ(General().SendCommand(HandleOf(kOmniIp), 0x0100, payload, 9, callback),
            kStatusSuccess);
  EXPECT_TRUE(log.Has("Sent cmd to lidar failed, the send_byte:-1, cmd_id:256"));
  ASSERT_EQ(callback->calls.size(), 1u);
  EXPECT_EQ(callback->calls[0].status, kStatusSendFailed);

  General().CommandsHandle(steady_clock::now() + std::chrono::hours(1));
  EXPECT_EQ(callback->calls.size(), 1u) << "the failed request must not also time out";
}

TEST_F(GeneralCommandHandlerTest, ShortAcknowledgementsAreNeverReadPastTheirData) {
  InitConfigMode();
  Register(kOmniIp, kDeviceTypeOmni);
  const uint32_t handle = HandleOf(kOmniIp);

  // A one-byte write acknowledgement arrives zero-padded.
  ASSERT_EQ(LidarSetWorkMode(handle, 1, &OnAsync, this), kStatusSuccess);
  Acknowledge(kDeviceTypeOmni, kOmniIp, LastSent().seq, kCommandIdWriteKeyValue, {7});
  ASSERT_EQ(async_results.size(), 1u);
  EXPECT_EQ(async_results[0].response.ret_code, 7);
  EXPECT_EQ(async_results[0].response.error_key, 0);

  // An acknowledgement without payload cannot be read at all.
  ASSERT_EQ(LidarSetWorkMode(handle, 1, &OnAsync, this), kStatusSuccess);
  Acknowledge(kDeviceTypeOmni, kOmniIp, LastSent().seq, kCommandIdWriteKeyValue, {});
  ASSERT_EQ(async_results.size(), 2u);
  EXPECT_EQ(async_results[1].status, kStatusTimeout);
  EXPECT_FALSE(async_results[1].has_response);

  // param_num promises three entries; one is whole, the second is cut inside its value.
  ASSERT_EQ(QueryLidarInternalInfo(handle, &OnInfo, this), kStatusSuccess);
  auto answer = InfoAnswer(0, {{0x8010, {1}}, {0x8000, {'S', 'N', '1', '2'}}, {0x8007, {0, 0}}});
  answer.resize(answer.size() - 4 - 2 - 2);
  Acknowledge(kDeviceTypeOmni, kOmniIp, LastSent().seq, kCommandIdReadInternalInfo, answer);
  ASSERT_EQ(info_results.size(), 1u);
  EXPECT_EQ(info_results[0].status, kStatusSuccess);
  EXPECT_EQ(info_results[0].param_num, 1);
  EXPECT_EQ(info_results[0].keys, (std::vector<uint16_t>{0x8010}));

  // Shorter than the fixed part: no entry at all.
  ASSERT_EQ(QueryLidarInternalInfo(handle, &OnInfo, this), kStatusSuccess);
  Acknowledge(kDeviceTypeOmni, kOmniIp, LastSent().seq, kCommandIdReadInternalInfo, {0, 5});
  ASSERT_EQ(info_results.size(), 2u);
  EXPECT_EQ(info_results[1].param_num, 0);
}

TEST_F(GeneralCommandHandlerTest, DatagramsThatCannotBeHandledAreDropped) {
  InitConfigMode();
  LogCapture log;
  uint8_t byte = 0;
  General().Handler(HandleOf(kOmniIp), kDetectionPort, &byte, 0);
  General().Handler(kDeviceTypeOmni, HandleOf(kOmniIp), kHostCmdPort, &byte, 0);
  EXPECT_TRUE(log.Text().empty());

  uint8_t third_party[8] = {1, 2, 3};
  General().Handler(kDeviceTypeThirdParty, HandleOf(kOmniIp), 10001, third_party, 8);
  EXPECT_TRUE(log.Has("GeneralCommandHandler::Handler get cmd handler failed"));

  auto frame = Ack(3, 0x0100, {0, 0, 0});
  frame[30 % frame.size()] ^= 0xFF;
  General().Handler(kDeviceTypeOmni, HandleOf(kOmniIp), kHostCmdPort, frame.data(),
                    static_cast<uint32_t>(frame.size()));
  EXPECT_TRUE(log.Has("Parse Command Stream failed."));

  // A detection request (cmd_type 0) seen on the detection port is not a reply.
  auto request = Frame(4, kCommandIdDetection, kCommandTypeRequest,
                       DetectionPayload(0, kDeviceTypeOmni, "SN", kOmniIp, 56100));
  General().Handler(HandleOf(kOmniIp), kDetectionPort, request.data(),
                    static_cast<uint32_t>(request.size()));
  EXPECT_EQ(QueryLidarInternalInfo(HandleOf(kOmniIp), nullptr, nullptr), kStatusNotRegistered);
}

TEST_F(GeneralCommandHandlerTest, LoggerCommandsLeaveOnTheLogChannelToTheLogPort) {
  InitConfigMode();
  Register(kOmniIp, kDeviceTypeOmni);
  Register(kForwardIp, kDeviceTypeForward);
  uint8_t payload[2] = {1, 2};
  ASSERT_EQ(General().SendLoggerCommand(HandleOf(kOmniIp), 0x0200, payload, 2, nullptr),
            kStatusSuccess);
  EXPECT_TRUE(FakeDevices().sent.back().logger);
  EXPECT_EQ(FakeDevices().sent.back().dest_port, kOmniLogPort);
  ASSERT_EQ(General().SendLoggerCommand(HandleOf(kForwardIp), 0x0200, payload, 2, nullptr),
            kStatusSuccess);
  EXPECT_EQ(FakeDevices().sent.back().dest_port, 59000);
  EXPECT_EQ(FakeDevices().sent.back().dev_type, kDeviceTypeForward);
}

}  // namespace
}  // namespace lidar::sdk::testing
