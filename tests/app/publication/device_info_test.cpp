// The internal-information callback.
#include "publication/device_info.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/shared_state.h"

namespace app {
namespace {

struct Fields {
  std::string lidar_ip, host_ip, dev_type, firmware_version;
  float temperatura;
  uint32_t vezes_ligado;
};

Fields read_fields() {
  std::lock_guard<std::mutex> hold(state_mutex);
  return Fields{lidar_ip, host_ip, dev_type, firmware_version, temperatura, vezes_ligado};
}

void set_fields(const Fields& f) {
  std::lock_guard<std::mutex> hold(state_mutex);
  lidar_ip = f.lidar_ip;
  host_ip = f.host_ip;
  dev_type = f.dev_type;
  firmware_version = f.firmware_version;
  temperatura = f.temperatura;
  vezes_ligado = f.vezes_ligado;
}

// An acknowledgement: ret_code, param_num, then the entries.
class Answer {
 public:
  Answer& entry(uint16_t key, const std::vector<uint8_t>& value) {
    put16(key);
    put16(static_cast<uint16_t>(value.size()));
    entries_.insert(entries_.end(), value.begin(), value.end());
    ++count_;
    return *this;
  }
  Answer& text(uint16_t key, const std::string& value) {
    return entry(key, std::vector<uint8_t>(value.begin(), value.end()));
  }
  Answer& i32(uint16_t key, int32_t value) {
    std::vector<uint8_t> bytes(4);
    for (int i = 0; i < 4; ++i)
      bytes[i] = static_cast<uint8_t>(static_cast<uint32_t>(value) >> (8 * i));
    return entry(key, bytes);
  }
  std::vector<uint8_t> bytes(uint16_t param_num) const {
    std::vector<uint8_t> out(3 + entries_.size());
    out[1] = static_cast<uint8_t>(param_num);
    out[2] = static_cast<uint8_t>(param_num >> 8);
    std::copy(entries_.begin(), entries_.end(), out.begin() + 3);
    return out;
  }
  std::vector<uint8_t> bytes() const { return bytes(count_); }

 private:
  void put16(uint16_t v) {
    entries_.push_back(static_cast<uint8_t>(v));
    entries_.push_back(static_cast<uint8_t>(v >> 8));
  }
  std::vector<uint8_t> entries_;
  uint16_t count_ = 0;
};

const std::vector<uint8_t> kIpConfig = {192, 168, 1, 12, 255, 255, 255, 0, 192, 168, 1, 50};

class DeviceInfoTest : public ::testing::Test {
 protected:
  void SetUp() override { set_fields(Fields{"old-ip", "old-host", "old-type", "old-fw", -1.f, 9}); }

  static void deliver(std::vector<uint8_t> bytes, CommandStatus status = kStatusSuccess) {
    on_internal_info(status, 1, reinterpret_cast<LidarDiagInternalInfoResponse*>(bytes.data()),
                     nullptr);
  }
};

TEST_F(DeviceInfoTest, FullOmniAnswerFillsEveryField) {
  deliver(Answer()
              .entry(0x0000, {1})
              .entry(0x0004, kIpConfig)
              .text(0x8001, std::string("DevType:OMNI FmVer:1.2.3\0\0\0", 27))
              .i32(0x8007, 2534)
              .i32(0x8008, 4000000000u)
              .bytes());
  const Fields f = read_fields();
  EXPECT_EQ(f.lidar_ip, "192.168.1.12");
  EXPECT_EQ(f.host_ip, "192.168.1.50");
  EXPECT_EQ(f.dev_type, "OMNI");
  EXPECT_EQ(f.firmware_version, "1.2.3");
  EXPECT_FLOAT_EQ(f.temperatura, 25.34f);
  EXPECT_EQ(f.vezes_ligado, 4000000000u);
}

TEST_F(DeviceInfoTest, ProductTextTags) {
  deliver(Answer().text(0x8001, "FmVer:9.8").bytes());
  EXPECT_EQ(read_fields().dev_type, "old-type");
  EXPECT_EQ(read_fields().firmware_version, "9.8");

  deliver(Answer().text(0x8001, std::string("SN:1 FmVer:2.0 DevType:FWD\0", 27)).bytes());
  EXPECT_EQ(read_fields().dev_type, "FWD");
  EXPECT_EQ(read_fields().firmware_version, "2.0");

  deliver(Answer().text(0x8001, "DevType:").text(0x8001, "FmVe").bytes());
  EXPECT_EQ(read_fields().dev_type, "");
  EXPECT_EQ(read_fields().firmware_version, "2.0");

  deliver(Answer().text(0x8001, std::string("\0\0", 2)).bytes());
  EXPECT_EQ(read_fields().dev_type, "");
}

TEST_F(DeviceInfoTest, ShortValuesAndUnknownKeysAreSkipped) {
  deliver(Answer()
              .entry(0x0004, std::vector<uint8_t>(kIpConfig.begin(), kIpConfig.begin() + 11))
              .entry(0x8007, {1, 2, 3})
              .entry(0x8008, {})
              .entry(0x8001, {})
              .entry(0x1234, {1, 2, 3, 4})
              .i32(0x8007, -500)
              .bytes());
  const Fields f = read_fields();
  EXPECT_EQ(f.lidar_ip, "old-ip");
  EXPECT_EQ(f.host_ip, "old-host");
  EXPECT_EQ(f.vezes_ligado, 9u);
  EXPECT_FLOAT_EQ(f.temperatura, -5.0f);
}

TEST_F(DeviceInfoTest, FailedOrEmptyAnswersChangeNothing) {
  const auto answer = Answer().entry(0x0004, kIpConfig).bytes();
  deliver(answer, kStatusTimeout);
  on_internal_info(kStatusSuccess, 1, nullptr, nullptr);
  deliver(Answer().entry(0x0004, kIpConfig).bytes(0));
  EXPECT_EQ(read_fields().lidar_ip, "old-ip");
}

TEST_F(DeviceInfoTest, WalkStopsAtParamNumAndAtTheEndOfTheBytes) {
  // param_num 1 of two entries present: the second is not read.
  const auto two = Answer().i32(0x8008, 5).entry(0x0004, kIpConfig).bytes();
  std::vector<uint8_t> first_only = two;
  first_only[1] = 1;
  apply_internal_info(first_only.data(), first_only.size());
  EXPECT_EQ(read_fields().vezes_ligado, 5u);
  EXPECT_EQ(read_fields().lidar_ip, "old-ip");

  // param_num claims more than the bytes hold: every cut of the data is walked safely and
  // only whole entries take effect.
  const auto full = Answer().i32(0x8007, 100).entry(0x0004, kIpConfig).bytes(40);
  for (std::size_t cut = 0; cut < full.size(); ++cut) {
    SetUp();
    std::vector<uint8_t> truncated(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(cut));
    apply_internal_info(truncated.data(), truncated.size());
    const Fields f = read_fields();
    EXPECT_EQ(f.temperatura, cut >= 11 ? 1.0f : -1.f) << cut;
    EXPECT_EQ(f.lidar_ip, "old-ip") << cut;
  }
  apply_internal_info(full.data(), full.size());
  EXPECT_EQ(read_fields().lidar_ip, "192.168.1.12");
  apply_internal_info(nullptr, 100);
}

}  // namespace
}  // namespace app
