// Routes the SDK logger into a string for the duration of a test.
#pragma once

#include <memory>
#include <sstream>
#include <string>

#include <spdlog/sinks/ostream_sink.h>
#include <spdlog/spdlog.h>

#include "sdk_core/base/sdk_log.h"

namespace lidar::sdk::testing {

class LogCapture {
 public:
  LogCapture() {
    auto sink = std::make_shared<spdlog::sinks::ostream_sink_mt>(stream_);
    sink->set_pattern("%l %v");
    previous_ = SdkLogger();
    SdkLogger() = std::make_shared<spdlog::logger>("capture", sink);
    SdkLogger()->set_level(spdlog::level::debug);
  }
  ~LogCapture() { SdkLogger() = previous_; }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  std::string Text() const { return stream_.str(); }
  bool Has(const std::string& fragment) const { return Text().find(fragment) != std::string::npos; }
  void Clear() { stream_.str(std::string()); }

 private:
  std::ostringstream stream_;
  std::shared_ptr<spdlog::logger> previous_;
};

}  // namespace lidar::sdk::testing
