#include "perception/imu_intake.h"

#include <chrono>
#include <cmath>
#include <limits>
#include <thread>

#include <gtest/gtest.h>

#include "perception/datagram_clock.h"
#include "perception_test_support.h"
#include "core/clocks.h"
#include "core/shared_state.h"

namespace app {
namespace {

using test::as_packet;

constexpr float kPi = 3.1415927f;

class ImuIntake : public ::testing::Test {
 protected:
  void SetUp() override { test::reset_perception_state(); }
  void TearDown() override { test::reset_perception_state(); }
};

TEST_F(ImuIntake, FiltersOnlyTheLastRecordOfADatagram) {
  // Records: gx, gy, gz, ax, ay, az. The first two would tip the sensor the other way.
  auto datagram = test::imu_samples({{0, 0, 0, 0, -1, 0},
                                     {0, 0, 0, 1, 0, 0},
                                     {0.5f, -0.25f, -2.0f, -1.0f, 1.0f, 0.0f}});
  last_attitude_us = (steady_ms() - 100) * 1000;
  on_imu_data(0x0C01A8C0u, 0, as_packet(datagram), nullptr);
  EXPECT_EQ(lidar_handle.load(), 0x0C01A8C0u);

  const AttitudeState a = copy_attitude();
  ASSERT_GT(a.frequencia_hz, 0.f);
  const float dt = 1.0f / a.frequencia_hz;
  EXPECT_NEAR(dt, 0.1f, 0.05f);
  // On its side (ay = 1, az = 0) and nose up (ax = -1): gravity angles pi/2 and pi/4.
  EXPECT_NEAR(a.roll, 0.02f * kPi / 2 + 0.98f * 0.5f * dt, 1e-5f);
  EXPECT_NEAR(a.pitch, 0.02f * kPi / 4 + 0.98f * -0.25f * dt, 1e-5f);
  EXPECT_NEAR(a.yaw, -2.0f * dt, 1e-5f);
  EXPECT_GT(a.t_ms, 0u);
}

TEST_F(ImuIntake, PacketRateAndIgnoredDatagrams) {
  auto empty = test::imu_samples({});
  on_imu_data(3, 0, as_packet(empty), nullptr);
  on_imu_data(4, 0, nullptr, nullptr);
  EXPECT_EQ(lidar_handle.load(), 4u);
  EXPECT_EQ(last_imu_ms.load(), 0u);
  EXPECT_EQ(last_attitude_us.load(), 0u);

  auto sample = test::imu_samples({{0, 0, 0, 0, 0, 1}});
  on_imu_data(1, 0, as_packet(sample), nullptr);
  EXPECT_NE(last_imu_ms.load(), 0u);
  EXPECT_EQ(freq_imu.load(), 0.0);
  EXPECT_NE(last_attitude_us.load(), 0u);  // the first sample only starts the clock
  EXPECT_EQ(copy_attitude().t_ms, 0u);

  last_imu_ms = steady_ms() - 20;
  on_imu_data(1, 0, as_packet(sample), nullptr);
  EXPECT_GT(freq_imu.load(), 40.0);
  EXPECT_LE(freq_imu.load(), 50.0);
}

TEST_F(ImuIntake, LevelAndStillStaysLevel) {
  for (uint64_t t = 1000; t <= 2000; t += 10) attitude_update(0, 0, 1, 0, 0, 0, t);
  const AttitudeState a = copy_attitude();
  EXPECT_EQ(a.roll, 0.f);
  EXPECT_EQ(a.pitch, 0.f);
  EXPECT_EQ(a.yaw, 0.f);
  EXPECT_FLOAT_EQ(a.frequencia_hz, 100.f);
}

TEST_F(ImuIntake, OnItsSideRollClosesTwoPercentOfTheGapPerSample) {
  attitude_update(0, 1, 0, 0, 0, 0, 1000);
  float gap = kPi / 2;
  for (uint64_t t = 1010; t <= 1100; t += 10) {
    attitude_update(0, 1, 0, 0, 0, 0, t);
    const float roll = copy_attitude().roll;
    EXPECT_NEAR(kPi / 2 - roll, 0.98f * gap, 1e-5f);
    gap = kPi / 2 - roll;
  }
}

// Upside down, gravity's roll reads just below pi or just above -pi from one sample to the next:
// the estimate stays at the seam instead of being pulled towards 0 at each crossing.
TEST_F(ImuIntake, UpsideDownRollStaysAtTheSeam) {
  attitude_update(0, 0, -1, 0, 0, 0, 1000);
  for (uint64_t t = 1005; t <= 6000; t += 5) {
    const float side = (t / 5) % 2 ? 0.001f : -0.001f;
    attitude_update(0, side, -1, 0, 0, 0, t);
  }
  EXPECT_NEAR(std::fabs(copy_attitude().roll), kPi, 0.01f);
  EXPECT_EQ(load_imu_tilt().roll, 0.f) << "the gyro saw no turn";
  attitude_update(0, 0, -1, 0, 0.5f, 0, 6100);
  EXPECT_FLOAT_EQ(load_imu_tilt().pitch, 0.05f);
}

TEST_F(ImuIntake, PitchGuardAvoidsDivisionByZero) {
  attitude_update(-1, 0, 0, 0, 0, 0, 1000);
  attitude_update(-1, 0, 0, 0, 0, 0, 1010);
  const AttitudeState a = copy_attitude();
  EXPECT_NEAR(a.pitch, 0.02f * std::atan2(1.0f, 0.000001f), 1e-6f);
  EXPECT_EQ(a.roll, 0.f);  // atan2(0, 0)
}

TEST_F(ImuIntake, YawIntegratesFreelyAndWraps) {
  attitude_update(0, 0, 1, 0, 0, 1, 10000);
  float previous = 0.f;
  bool wrapped = false;
  for (uint64_t t = 10010; t <= 14000; t += 10) {
    attitude_update(0, 0, 1, 0, 0, 1, t);
    const float yaw = copy_attitude().yaw;
    ASSERT_GE(yaw, -kPi);
    ASSERT_LE(yaw, kPi);
    if (yaw < previous) {
      EXPECT_GT(previous, kPi - 0.011f);
      EXPECT_LT(yaw, -kPi + 0.011f);
      wrapped = true;
    }
    previous = yaw;
  }
  EXPECT_TRUE(wrapped);
  EXPECT_NEAR(previous, 4.0f - 2 * kPi, 1e-3f);
}

TEST_F(ImuIntake, ZeroIntervalReblendsAndKeepsTheRate) {
  attitude_update(0, 1, 0, 0, 0, 0, 1000);
  attitude_update(0, 1, 0, 0, 0, 0, 1020);
  const AttitudeState first = copy_attitude();
  EXPECT_FLOAT_EQ(first.frequencia_hz, 50.f);
  attitude_update(0, 1, 0, 5, 5, 5, 1020);  // rates have no effect without elapsed time
  const AttitudeState second = copy_attitude();
  EXPECT_FLOAT_EQ(second.frequencia_hz, 50.f);
  EXPECT_NEAR(second.roll, 0.02f * kPi / 2 + 0.98f * first.roll, 1e-6f);
  EXPECT_EQ(second.yaw, first.yaw);
}

TEST_F(ImuIntake, CorruptSamplesNeitherHangNorPoisonTheFilter) {
  constexpr float kInf = std::numeric_limits<float>::infinity();
  constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
  attitude_update(0, 1, 0, 0, 0, 0.5f, 1000);
  attitude_update(0, 1, 0, 0, 0, 0.5f, 1100);
  const AttitudeState good = copy_attitude();

  attitude_update(0, 1, 0, 0, 0, kInf, 1200);
  attitude_update(0, kNaN, 0, 0, 0, 0, 1300);
  attitude_update(0, 1, 0, 0, 0, 3e38f, 3300);  // overflows to infinity over two seconds
  const AttitudeState after = copy_attitude();
  EXPECT_EQ(after.roll, good.roll);
  EXPECT_EQ(after.yaw, good.yaw);

  attitude_update(0, 1, 0, 0, 0, 1e30f, 3400);  // finite but many turns out: wrapped, not stuck
  EXPECT_TRUE(std::isfinite(copy_attitude().yaw));
  EXPECT_LE(std::fabs(copy_attitude().yaw), kPi);
}

// The data thread hands over datagrams in batches: samples 5 ms apart reach the callback within
// microseconds of each other. Stamped when the callback ran, they read dt 0 and then one 20 ms
// gap (50 Hz for 200 Hz); each must carry its own arrival.
int64_t arrival_ns = 0;
int64_t reported_arrival() { return arrival_ns; }

TEST_F(ImuIntake, SamplesDeliveredTogetherKeepTheirOwnArrivalTimes) {
  use_datagram_arrival_clock(reported_arrival);
  auto still = test::imu_samples({{0, 0, 1.0f, 0, 0, 1}});  // 1 rad/s about z
  const int64_t start = 1'000'000'000'000;
  for (int k = 0; k < 40; ++k) {
    arrival_ns = start + k * 5'000'000 + (k % 3) * 1'000;  // a few microseconds of jitter
    on_imu_data(1, 0, as_packet(still), nullptr);
  }
  use_datagram_arrival_clock(nullptr);
  EXPECT_NEAR(copy_attitude().frequencia_hz, 200.0f, 1.0f);
  EXPECT_NEAR(copy_attitude().yaw, 39 * 0.005f, 1e-4f) << "integrated over the samples' intervals";
  EXPECT_NEAR(freq_imu.load(), 200.0, 2.0);
}

TEST_F(ImuIntake, ASampleOlderThanThePreviousAddsNoTime) {
  attitude_update(0, 0, 1, 0, 0, 1, 5000);
  attitude_update(0, 0, 1, 0, 0, 1, 5100);
  const float yaw = copy_attitude().yaw;
  attitude_update(0, 0, 1, 0, 0, 1, 4000);
  EXPECT_EQ(copy_attitude().yaw, yaw);
  EXPECT_EQ(last_attitude_us.load(), 5100000u);
}

}  // namespace
}  // namespace app
