#include <algorithm>
#include <filesystem>
#include <memory>
#include <regex>
#include <sstream>
#include <string>

#include <gtest/gtest.h>
#include <spdlog/sinks/ostream_sink.h>

#include "base/sdk_log.h"

namespace lidar::sdk {
namespace {

class SdkLogTest : public ::testing::Test {
 protected:
  void TearDown() override {
    DropSdkLoggers();
    SdkLogger().reset();
  }
};

TEST_F(SdkLogTest, LineCarriesFileFunctionAndLine) {
  std::ostringstream out;
  auto sink = std::make_shared<spdlog::sinks::ostream_sink_mt>(out);
  sink->set_pattern("%l|%v");
  SdkLogger() = std::make_shared<spdlog::logger>("shape", sink);
  SdkLogger()->set_level(spdlog::level::debug);

  const int line = __LINE__ + 1;
  LIDAR_LOG_ERROR("Get cmd channel faileld, the lidar handle: {}", 201435328u);
  LIDAR_LOG_WARN("plain text with braces {{}}");
  LIDAR_LOG_INFO("Init lidars succ.");

  // Lines end in "\r\n" on Windows.
  std::string text = out.str();
  text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
  std::istringstream lines(text);
  std::string first, second, third;
  std::getline(lines, first);
  std::getline(lines, second);
  std::getline(lines, third);
  EXPECT_EQ(first, "error|Get cmd channel faileld, the lidar handle: 201435328  [sdk_log_test.cpp] "
                   "[TestBody] [" + std::to_string(line) + "]");
  EXPECT_TRUE(std::regex_match(second, std::regex(R"(warning\|plain text with braces \{\}  \[sdk_log_test\.cpp\] \[TestBody\] \[\d+\])")))
      << second;
  EXPECT_TRUE(third.rfind("info|Init lidars succ.  [", 0) == 0) << third;
}

TEST_F(SdkLogTest, SourceBaseNameCutsAtEitherSeparator) {
  EXPECT_EQ(SourceBaseName("C:\\src\\sdk_core\\device_manager.cpp"), "device_manager.cpp");
  EXPECT_EQ(SourceBaseName("/work/sdk_core/base/io_loop.cpp"), "io_loop.cpp");
  EXPECT_EQ(SourceBaseName("/mixed\\path/to\\file.cpp"), "file.cpp");
  EXPECT_EQ(SourceBaseName("file.cpp"), "file.cpp");
  EXPECT_EQ(SourceBaseName("dir/"), "");
}

TEST_F(SdkLogTest, OneConsoleLoggerAcrossRepeatedCreates) {
  CreateSdkLogger();
  const auto first = SdkLogger();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->name(), "console");
  EXPECT_EQ(spdlog::get("console"), first);
  EXPECT_EQ(first->level(), spdlog::level::debug);
  EXPECT_EQ(first->flush_level(), spdlog::level::debug);

  CreateSdkLogger();  // a second init after a failed one
  EXPECT_EQ(SdkLogger(), first);
  EXPECT_EQ(spdlog::get("console"), first);

  DropSdkLoggers();  // teardown: the process-wide pointer keeps the old logger
  EXPECT_EQ(spdlog::get("console"), nullptr);
  EXPECT_EQ(SdkLogger(), first);

  CreateSdkLogger();
  EXPECT_NE(SdkLogger(), first);
  EXPECT_EQ(spdlog::get("console"), SdkLogger());
  EXPECT_FALSE(std::filesystem::exists("lidar_log.txt")) << "no file sink exists";
}

}  // namespace
}  // namespace lidar::sdk
