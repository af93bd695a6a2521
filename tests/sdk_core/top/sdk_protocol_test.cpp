#include <algorithm>
#include <cstdint>
#include <set>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "lidar_byte_io.h"
#include "base/crc.h"
#include "sdk_protocol.h"

namespace lidar::sdk {
namespace {

CommPacket Request(uint16_t cmd_id, uint8_t* data, uint16_t data_len, uint32_t seq = 7) {
  CommPacket p;
  p.version = 3;
  p.seq_num = seq;
  p.cmd_id = cmd_id;
  p.cmd_type = kCommandTypeRequest;
  p.sender_type = kSenderHost;
  p.data = data;
  p.data_len = data_len;
  return p;
}

// Rewrites both checksums after a test has changed header bytes on purpose.
void Reseal(std::vector<uint8_t>& frame) {
  store_le<uint16_t>(frame.data() + 18, Crc16(frame.data(), 18));
  const uint16_t length = load_le<uint16_t>(frame.data() + 2);
  store_le<uint32_t>(frame.data() + 20,
                     length > 24 ? Crc32(frame.data() + 24, length - 24u) : 0u);
}

class SdkProtocolTest : public ::testing::Test {
 protected:
  std::vector<uint8_t> PackFrame(const CommPacket& packet) {
    std::vector<uint8_t> buffer(kMaxCommandBufferSize + 1, 0);
    uint32_t length = 0;
    EXPECT_EQ(protocol.Pack(buffer.data(), kMaxCommandBufferSize, &length, packet), 0);
    buffer.resize(length);
    return buffer;
  }

  SdkProtocol protocol;
};

TEST_F(SdkProtocolTest, DetectionRequestIsAHeaderOnlyFrame) {
  const auto frame = PackFrame(Request(kCommandIdDetection, nullptr, 0, 0x12345));
  ASSERT_EQ(frame.size(), 24u);
  EXPECT_EQ(frame[0], 0xAA);
  EXPECT_EQ(frame[1], 0);  // the record's version 3 never reaches the frame
  EXPECT_EQ(load_le<uint16_t>(frame.data() + 2), 24);
  EXPECT_EQ(load_le<uint32_t>(frame.data() + 4), 0x2345u);  // low 16 bits only
  EXPECT_EQ(load_le<uint16_t>(frame.data() + 8), 0);
  EXPECT_EQ(load_le<uint16_t>(frame.data() + 18), Crc16(frame.data(), 18));
  EXPECT_EQ(load_le<uint32_t>(frame.data() + 20), 0u);
  EXPECT_TRUE(protocol.CheckPacket(frame.data(), 24));
  EXPECT_EQ(protocol.GetPacketLen(frame.data()), 24u);
}

TEST_F(SdkProtocolTest, PackCheckParseRoundTrip) {
  std::vector<uint8_t> payload = {0x01, 0x00, 0x1A, 0x00, 0x01, 0x00, 0x01, 0xFE};
  auto frame = PackFrame(Request(kCommandIdWriteKeyValue, payload.data(), 8, 513));
  ASSERT_EQ(frame.size(), 32u);
  EXPECT_EQ(load_le<uint32_t>(frame.data() + 20), Crc32(payload.data(), payload.size()));

  // A datagram may carry trailing bytes beyond the frame's length.
  frame.push_back(0x55);
  ASSERT_TRUE(protocol.CheckPacket(frame.data(), static_cast<uint32_t>(frame.size())));
  CommPacket out;
  ASSERT_TRUE(protocol.ParsePacket(frame.data(), static_cast<uint32_t>(frame.size()), &out));
  EXPECT_EQ(out.protocol, 0);
  EXPECT_EQ(out.version, 0);
  EXPECT_EQ(out.seq_num, 513u);
  EXPECT_EQ(out.cmd_id, kCommandIdWriteKeyValue);
  EXPECT_EQ(out.cmd_type, kCommandTypeRequest);
  EXPECT_EQ(out.sender_type, kSenderHost);
  ASSERT_EQ(out.data_len, 8);
  EXPECT_EQ(out.data, frame.data() + 24);
  EXPECT_EQ(std::vector<uint8_t>(out.data, out.data + out.data_len), payload);
}

TEST_F(SdkProtocolTest, ParseKeepsAllSeqBitsOfAReply) {
  auto frame = PackFrame(Request(kCommandIdReadInternalInfo, nullptr, 0));
  store_le<uint32_t>(frame.data() + 4, 0xABCD1234u);
  frame[10] = kCommandTypeAck;
  frame[11] = 1;
  Reseal(frame);
  CommPacket out;
  ASSERT_TRUE(protocol.CheckPacket(frame.data(), 24));
  ASSERT_TRUE(protocol.ParsePacket(frame.data(), 24, &out));
  EXPECT_EQ(out.seq_num, 0xABCD1234u);
  EXPECT_EQ(out.cmd_type, kCommandTypeAck);
  EXPECT_EQ(out.sender_type, 1);
  EXPECT_EQ(out.data_len, 0);
}

TEST_F(SdkProtocolTest, CheckRejectsMalformedFrames) {
  uint8_t payload[5] = {1, 2, 3, 4, 5};
  const auto good = PackFrame(Request(kCommandIdWriteKeyValue, payload, 5));
  const auto n = static_cast<uint32_t>(good.size());
  ASSERT_TRUE(protocol.CheckPacket(good.data(), n));

  EXPECT_FALSE(protocol.CheckPacket(good.data(), 23)) << "shorter than a header";
  EXPECT_FALSE(protocol.CheckPacket(nullptr, n));
  EXPECT_FALSE(protocol.CheckPacket(good.data(), n - 1)) << "length beyond the datagram";

  auto bad = good;
  bad[0] = 0xAB;
  Reseal(bad);
  EXPECT_FALSE(protocol.CheckPacket(bad.data(), n)) << "bad sof";

  bad = good;
  bad[1] = 1;
  Reseal(bad);
  EXPECT_FALSE(protocol.CheckPacket(bad.data(), n)) << "version 1 with valid checksums";

  bad = good;
  store_le<uint16_t>(bad.data() + 2, 23);
  Reseal(bad);
  EXPECT_FALSE(protocol.CheckPacket(bad.data(), n)) << "length below the header";

  bad = good;
  bad[12] ^= 0x01;  // reserved byte, covered by the header checksum
  EXPECT_FALSE(protocol.CheckPacket(bad.data(), n)) << "header CRC";

  bad = good;
  bad[26] ^= 0x80;
  EXPECT_FALSE(protocol.CheckPacket(bad.data(), n)) << "payload CRC";

  bad = PackFrame(Request(kCommandIdDetection, nullptr, 0));
  store_le<uint32_t>(bad.data() + 20, 1);
  EXPECT_FALSE(protocol.CheckPacket(bad.data(), 24)) << "header-only frame needs crc32 0";
}

TEST_F(SdkProtocolTest, ParseRefusesLengthsOutsideTheBytes) {
  auto frame = PackFrame(Request(kCommandIdDetection, nullptr, 0));
  CommPacket out;
  EXPECT_FALSE(protocol.ParsePacket(frame.data(), 23, &out));
  store_le<uint16_t>(frame.data() + 2, 100);
  EXPECT_FALSE(protocol.ParsePacket(frame.data(), 24, &out));
  store_le<uint16_t>(frame.data() + 2, 10);
  EXPECT_FALSE(protocol.ParsePacket(frame.data(), 24, &out));
}

TEST_F(SdkProtocolTest, PackBufferLimits) {
  std::vector<uint8_t> payload(100, 0x5A);
  std::vector<uint8_t> buffer(124, 0);
  uint32_t length = 0;
  CommPacket packet = Request(kCommandIdWriteKeyValue, payload.data(), 100);
  EXPECT_EQ(protocol.Pack(buffer.data(), 124, &length, packet), 0);
  EXPECT_EQ(length, 124u);
  EXPECT_EQ(protocol.Pack(buffer.data(), 123, &length, packet), -1);

  packet.protocol = 1;
  EXPECT_EQ(protocol.Pack(buffer.data(), 124, &length, packet), -1);

  packet.protocol = 0;
  packet.data = nullptr;
  EXPECT_EQ(protocol.Pack(buffer.data(), 124, &length, packet), -1) << "length without data";
}

// 24 + 65520 wraps to 8 in 16 bits; it must not pass as a small frame and overrun the buffer.
TEST_F(SdkProtocolTest, PackRefusesPayloadThatWrapsTheLengthField) {
  std::vector<uint8_t> payload(65520, 0x11);
  std::vector<uint8_t> buffer(64, 0);
  uint32_t length = 0;
  CommPacket packet = Request(kCommandIdWriteKeyValue, payload.data(), 65520);
  EXPECT_EQ(protocol.Pack(buffer.data(), 64, &length, packet), -1);

  std::vector<uint8_t> big(70000, 0);
  EXPECT_EQ(protocol.Pack(big.data(), 70000, &length, packet), -1)
      << "a frame of 65544 bytes cannot state its length";
  packet.data_len = 65535 - 24;
  EXPECT_EQ(protocol.Pack(big.data(), 70000, &length, packet), 0);
  EXPECT_EQ(length, 65535u);
}

TEST(CommPort, ParseCommStreamChecksBeforeParsing) {
  CommPort port;
  uint8_t payload[3] = {0, 9, 1};
  CommPacket packet = Request(kCommandIdDetection, payload, 3, 42);
  std::vector<uint8_t> frame(64, 0);
  uint32_t length = 0;
  ASSERT_EQ(port.Pack(frame.data(), 64, packet, &length), 0);
  ASSERT_EQ(length, 27u);

  CommPacket out;
  ASSERT_TRUE(port.ParseCommStream(frame.data(), length, &out));
  EXPECT_EQ(out.seq_num, 42u);
  EXPECT_EQ(out.data_len, 3);
  EXPECT_EQ(out.data[1], 9);

  frame[25] = 8;
  testing::internal::CaptureStdout();
  EXPECT_FALSE(port.ParseCommStream(frame.data(), length, &out));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Comm Port Check Preamble error.\n");

  // A flood of junk is reported a few times a second, not once per datagram.
  testing::internal::CaptureStdout();
  for (int i = 0; i < 1000; ++i) EXPECT_FALSE(port.ParseCommStream(frame.data(), length, &out));
  const std::string flood = testing::internal::GetCapturedStdout();
  const auto lines = std::count(flood.begin(), flood.end(), '\n');
  EXPECT_GE(lines, 1);
  EXPECT_LE(lines, 10);
}

TEST(GenerateSeq, RunsThroughEveryNonZeroValueAndWraps) {
  uint32_t previous = GenerateSeq();
  EXPECT_EQ(previous, 2u) << "the first number handed out in a process";
  for (int i = 0; i < 70000; ++i) {
    const uint32_t seq = GenerateSeq();
    ASSERT_EQ(seq, previous == 65535 ? 1u : previous + 1) << "after " << previous;
    previous = seq;
  }
}

TEST(GenerateSeq, ConcurrentCallersNeverShareANumber) {
  constexpr int kThreads = 4;
  constexpr int kEach = 10000;
  std::vector<std::vector<uint32_t>> got(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&got, t] {
      for (int i = 0; i < kEach; ++i) got[t].push_back(GenerateSeq());
    });
  }
  for (auto& th : threads) th.join();
  std::set<uint32_t> all;
  for (const auto& v : got) all.insert(v.begin(), v.end());
  EXPECT_EQ(all.size(), static_cast<std::size_t>(kThreads * kEach));
  EXPECT_EQ(all.count(0u), 0u);
}

}  // namespace
}  // namespace lidar::sdk
