// The LiDAR log capture without sockets: what is written where, the budget across files, runs
// and sources, and the settings that must leave the disk alone.
#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "lidar_byte_io.h"
#include "logger_handler/log_file_store.h"
#include "base/ipv4_address.h"
#include "logger_handler/logger_manager.h"
#include "tests/sdk_core/base/temp_dir.h"

namespace lidar::sdk {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

class LogCaptureTest : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = testing::MakeTempDir("lidar_log_test_"); }
  void TearDown() override {
    LoggerManager::GetInstance().Uninit();
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  static std::vector<fs::path> Files(const fs::path& dir) {
    std::vector<fs::path> files;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(dir, ec)) files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
  }

  static uint64_t TotalSize(const fs::path& dir) {
    uint64_t total = 0;
    for (const auto& file : Files(dir)) total += fs::file_size(file);
    return total;
  }

  static Bytes Read(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }

  fs::path dir_;
};

LidarLoggerCfg Enabled(const fs::path& path, uint64_t cache_mb = 1) {
  LidarLoggerCfg cfg;
  cfg.lidar_log_enable = true;
  cfg.lidar_log_cache_size = cache_mb;
  cfg.lidar_log_path = path.string();
  return cfg;
}

DetectionData Detection(const char* sn) {
  DetectionData data;
  std::strncpy(data.sn, sn, sizeof(data.sn));
  data.dev_type = 9;
  return data;
}

TEST_F(LogCaptureTest, DisabledCaptureCreatesAndWritesNothing) {
  LoggerManager& logger = LoggerManager::GetInstance();
  LidarLoggerCfg cfg = Enabled(dir_ / "a" / "b");
  cfg.lidar_log_enable = false;
  ASSERT_TRUE(logger.Init(cfg));
  const uint8_t bytes[] = {1, 2, 3};
  logger.HandleDetectionData(IpToHandle("10.0.0.7"), Detection("SN1"));
  logger.HandleLogData(IpToHandle("10.0.0.7"), 56500, bytes, sizeof(bytes));
  EXPECT_FALSE(fs::exists(dir_ / "a"));

  // A path that could never be created does not matter while capture is off.
  cfg.lidar_log_path = "/proc/no/such/dir";
  EXPECT_TRUE(logger.Init(cfg));
}

TEST_F(LogCaptureTest, InitFailsWhenThePathCannotBeCreated) {
  std::ofstream(dir_ / "plain_file") << "x";
  EXPECT_FALSE(LoggerManager::GetInstance().Init(Enabled(dir_ / "plain_file" / "logs")));
  EXPECT_FALSE(LoggerManager::GetInstance().enabled());
  EXPECT_FALSE(LoggerManager::GetInstance().Init(Enabled(dir_ / "plain_file")));
}

TEST_F(LogCaptureTest, EachLidarGetsItsOwnFileOfTimestampedRecords) {
  LoggerManager& logger = LoggerManager::GetInstance();
  ASSERT_TRUE(logger.Init(Enabled(dir_ / "logs")));
  const uint32_t first = IpToHandle("192.168.1.12");
  const uint32_t second = IpToHandle("192.168.1.13");
  // Serial numbers come from the network: anything but letters, digits and '-' is replaced.
  logger.HandleDetectionData(first, Detection("AB/../12 x"));
  const Bytes a = {0xAA, 0x01, 0x02};
  const Bytes b(300, 0x42);
  const uint64_t before_ms = static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(
          std::chrono::system_clock::now().time_since_epoch())
          .count());
  logger.HandleLogData(first, 56500, a.data(), static_cast<uint32_t>(a.size()));
  logger.HandleLogData(second, 59000, b.data(), static_cast<uint32_t>(b.size()));
  logger.HandleLogData(first, 56501, b.data(), static_cast<uint32_t>(b.size()));

  const auto files = Files(dir_ / "logs");
  ASSERT_EQ(files.size(), 2u);
  EXPECT_EQ(files[0].filename(), "lidarlog_000001_192.168.1.12_AB----12-x.bin");
  EXPECT_EQ(files[1].filename(), "lidarlog_000002_192.168.1.13.bin");

  const Bytes one = Read(files[0]);
  ASSERT_EQ(one.size(), 2 * kLogRecordHeaderSize + a.size() + b.size());
  EXPECT_GE(load_le<uint64_t>(&one[0]), before_ms);
  EXPECT_LE(load_le<uint64_t>(&one[0]), before_ms + 5000);
  EXPECT_EQ(load_le<uint16_t>(&one[8]), 56500);
  EXPECT_EQ(load_le<uint16_t>(&one[10]), a.size());
  EXPECT_EQ(Bytes(one.begin() + 12, one.begin() + 15), a);
  EXPECT_EQ(load_le<uint16_t>(&one[15 + 8]), 56501);
  EXPECT_EQ(load_le<uint16_t>(&one[15 + 10]), b.size());

  // After Uninit nothing more is written.
  logger.Uninit();
  logger.HandleLogData(first, 56500, a.data(), static_cast<uint32_t>(a.size()));
  EXPECT_EQ(Read(files[0]).size(), one.size());
}

TEST_F(LogCaptureTest, StoreKeepsAllFilesWithinTheBudgetDroppingTheOldestFirst) {
  LogFileStore store;
  std::string error;
  const uint64_t budget = 8000;  // files roll over at 1000 bytes
  ASSERT_TRUE(store.Open(dir_, budget, &error)) << error;
  const Bytes record(90, 0x11);
  for (int i = 0; i < 400; ++i) {
    const uint32_t source = static_cast<uint32_t>(i % 3);
    ASSERT_TRUE(store.Append(source, "src" + std::to_string(source), record.data(), record.size()));
    ASSERT_LE(TotalSize(dir_), budget) << "after record " << i;
    ASSERT_EQ(store.total_bytes(), TotalSize(dir_));
  }
  const auto files = Files(dir_);
  for (const auto& file : files) EXPECT_LE(fs::file_size(file), store.file_limit());
  // What is left is the newest data: the highest sequence numbers, all sources represented.
  EXPECT_GE(TotalSize(dir_), budget - 3 * store.file_limit());
  EXPECT_EQ(files.back().filename().string().substr(0, 9), "lidarlog_");
  for (const char* source : {"src0", "src1", "src2"}) {
    bool found = false;
    for (const auto& file : files) found |= file.filename().string().find(source) != std::string::npos;
    EXPECT_TRUE(found) << source;
  }

  // A record larger than a file may grow is refused rather than breaking the budget.
  const Bytes huge(1001, 0x22);
  EXPECT_FALSE(store.Append(0, "src0", huge.data(), huge.size()));
}

TEST_F(LogCaptureTest, FilesOfEarlierRunsCountAgainstTheBudgetAndSequencesContinue) {
  const Bytes record(500, 0x33);
  {
    LogFileStore store;
    ASSERT_TRUE(store.Open(dir_, 16000, nullptr));
    for (int i = 0; i < 24; ++i) ASSERT_TRUE(store.Append(1, "old", record.data(), record.size()));
  }
  std::ofstream(dir_ / "notes.txt") << "not a capture file";
  ASSERT_EQ(TotalSize(dir_) - fs::file_size(dir_ / "notes.txt"), 12000u);

  LogFileStore store;
  ASSERT_TRUE(store.Open(dir_, 4000, nullptr));
  EXPECT_LE(store.total_bytes(), 4000u);
  ASSERT_TRUE(store.Append(1, "new", record.data(), 400));
  const auto files = Files(dir_);
  EXPECT_TRUE(fs::exists(dir_ / "notes.txt"));
  // Six files of 2000 bytes were left; the new run goes on after them.
  EXPECT_EQ(files[files.size() - 2].filename(), "lidarlog_000007_new.bin");  // before notes.txt
  EXPECT_LE(TotalSize(dir_) - fs::file_size(dir_ / "notes.txt"), 4000u);
}

}  // namespace
}  // namespace lidar::sdk
