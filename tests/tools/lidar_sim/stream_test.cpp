#include <gtest/gtest.h>

#include <cmath>

#include "tests/tools/lidar_sim/host_frames.h"
#include "lidar_sim/control_frame.h"
#include "lidar_sim/faults.h"
#include "lidar_sim/motion.h"
#include "lidar_sim/stream_packet.h"

namespace lidar_sim {
namespace {

using lidar_sim_test::le16;
using lidar_sim_test::le32;

TEST(StreamPacket, PointRecordsInBothPrecisions) {
  std::vector<PointRecord> pts(kPointsPerPacket);
  pts[0] = PointRecord{1.0f, -2.0f, 0.5f, 77, 0};
  pts[1] = PointRecord{2.0004f, -0.0006f, 1e6f, 0, 0};  // rounds to the unit, clamps to the range
  PacketStamp stamp;
  stamp.udp_cnt = 513;
  stamp.timestamp_ns = 0x0102030405060708ull;

  const Bytes high = build_point_packet(kDataTypeCartesianHigh, pts, stamp);
  ASSERT_EQ(high.size(), 36u + 96u * 14u);
  EXPECT_EQ(le16(&high[1]), high.size());
  EXPECT_EQ(le16(&high[5]), 96);
  EXPECT_EQ(high[10], 1);
  EXPECT_EQ(le16(&high[7]), 513);
  EXPECT_EQ(le32(&high[24]), lidar::sdk::Crc32(high.data() + 36, high.size() - 36));
  const uint8_t* r = &high[36];
  EXPECT_EQ(static_cast<int32_t>(le32(r)), 1000);
  EXPECT_EQ(static_cast<int32_t>(le32(r + 4)), -2000);
  EXPECT_EQ(static_cast<int32_t>(le32(r + 8)), 500);
  EXPECT_EQ(r[12], 77);
  EXPECT_EQ(static_cast<int32_t>(le32(r + 14)), 2000);
  EXPECT_EQ(static_cast<int32_t>(le32(r + 18)), -1);
  EXPECT_EQ(static_cast<int32_t>(le32(r + 22)), 1000000000);

  const Bytes low = build_point_packet(kDataTypeCartesianLow, pts, stamp);
  ASSERT_EQ(low.size(), 36u + 96u * 8u);
  EXPECT_EQ(low[10], 2);
  const uint8_t* q = &low[36];
  EXPECT_EQ(static_cast<int16_t>(le16(q)), 100);
  EXPECT_EQ(static_cast<int16_t>(le16(q + 2)), -200);
  EXPECT_EQ(static_cast<int16_t>(le16(q + 4)), 50);
  EXPECT_EQ(static_cast<int16_t>(le16(q + 8 + 4)), 32767);

  EXPECT_EQ(classify_stream_datagram(high.data(), high.size()), StreamKind::kPoints);
  EXPECT_EQ(classify_stream_datagram(low.data(), low.size()), StreamKind::kPoints);
  EXPECT_EQ(classify_stream_datagram(high.data(), high.size() - 1), StreamKind::kNone);
}

TEST(StreamPacket, ImuReadsGravityTiltAndTurn) {
  Motion still;
  still.imu_noise = 0;
  ImuModel level(still, 1);
  const ImuSample s = level.sample(1.0);
  EXPECT_FLOAT_EQ(s.az, 1.0f);
  EXPECT_FLOAT_EQ(s.ax, 0.0f);
  EXPECT_FLOAT_EQ(s.gz, 0.0f);

  const Bytes d = build_imu_packet(s, PacketStamp{});
  ASSERT_EQ(d.size(), 60u);
  EXPECT_EQ(le16(&d[5]), 1);
  EXPECT_EQ(d[10], 0);
  EXPECT_FLOAT_EQ(get_f32(&d[36 + 20]), 1.0f);
  EXPECT_EQ(classify_stream_datagram(d.data(), d.size()), StreamKind::kImu);

  Motion tilted = still;
  tilted.roll_deg = 10;
  tilted.pitch_deg = -5;
  tilted.yaw_rate_deg_s = 30;
  const ImuSample t = ImuModel(tilted, 1).sample(2.0);
  const double deg = 180.0 / M_PI;
  EXPECT_NEAR(std::atan2(t.ay, t.az) * deg, 10.0, 1e-4);
  EXPECT_NEAR(std::atan2(-t.ax, std::sqrt(t.ay * t.ay + t.az * t.az)) * deg, -5.0, 1e-4);
  EXPECT_NEAR(std::sqrt(t.gx * t.gx + t.gy * t.gy + t.gz * t.gz), 30.0 / deg, 1e-6);

  Motion noisy;
  ImuModel noise(noisy, 5);
  double sum = 0, sq = 0;
  for (int i = 0; i < 2000; ++i) {
    const double v = noise.sample(i * 0.005).ax;
    sum += v;
    sq += v * v;
  }
  EXPECT_NEAR(sum / 2000, 0.0, 0.001);
  EXPECT_GT(std::sqrt(sq / 2000), 0.001);
}

TEST(Faults, ShaperLosesDuplicatesCorruptsAndTruncates) {
  const Bytes frame = lidar_sim_test::host_request(kCmdQueryInfo, 3, Bytes{1, 0, 0, 0, 0x10, 0x80});
  EXPECT_TRUE(FaultShaper(TransportFaults{1, 0, 0, 0}, 1).shape(frame).empty());
  EXPECT_EQ(FaultShaper(TransportFaults{0, 1, 0, 0}, 1).shape(frame), (std::vector<Bytes>{frame, frame}));
  EXPECT_EQ(FaultShaper(TransportFaults{0, 0, 0, 0}, 1).shape(frame), (std::vector<Bytes>{frame}));

  FaultShaper corrupt(TransportFaults{0, 0, 1, 0}, 1);
  FaultShaper truncate(TransportFaults{0, 0, 0, 1}, 1);
  for (int i = 0; i < 50; ++i) {
    ControlFrame out;
    const Bytes bad = corrupt.shape(frame).at(0);
    ASSERT_EQ(bad.size(), frame.size());
    const FrameCheck check = decode_frame(bad.data(), bad.size(), out);
    EXPECT_TRUE(check == FrameCheck::kBadHeaderCrc || check == FrameCheck::kBadPayloadCrc);
    const Bytes cut = truncate.shape(frame).at(0);
    EXPECT_GE(cut.size(), 1u);
    EXPECT_LT(cut.size(), frame.size());
    EXPECT_NE(decode_frame(cut.data(), cut.size(), out), FrameCheck::kOk);
  }
  EXPECT_EQ(corrupt.counters().corrupted, 50u);
  EXPECT_EQ(truncate.counters().truncated, 50u);

  // Junk never passes as a good frame or as a well-formed stream datagram.
  FaultShaper junk(TransportFaults{}, 9);
  for (int i = 0; i < 400; ++i) {
    const Bytes g = junk.garbage();
    ASSERT_FALSE(g.empty());
    ControlFrame out;
    EXPECT_NE(decode_frame(g.data(), g.size(), out), FrameCheck::kOk);
    if (g.size() >= kPacketHeaderSize && (g[10] == 0 || g[10] == 1)) {
      EXPECT_EQ(classify_stream_datagram(g.data(), g.size()), StreamKind::kNone);
    }
  }
}

}  // namespace
}  // namespace lidar_sim
