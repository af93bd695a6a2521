// Routes the SDK logger into a string for the duration of a test.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include <spdlog/sinks/base_sink.h>
#include <spdlog/spdlog.h>

#include "base/sdk_log.h"

namespace lidar::sdk::testing {

// Keeps the formatted lines; IO threads log while the test reads, so both sides take the
// sink's own lock.
class StringSink : public spdlog::sinks::base_sink<std::mutex> {
 public:
  std::string Text() {
    std::lock_guard<std::mutex> hold(mutex_);
    return text_;
  }
  void Clear() {
    std::lock_guard<std::mutex> hold(mutex_);
    text_.clear();
  }

 protected:
  void sink_it_(const spdlog::details::log_msg& msg) override {
    spdlog::memory_buf_t formatted;
    formatter_->format(msg, formatted);
    text_.append(formatted.data(), formatted.size());
  }
  void flush_() override {}

 private:
  std::string text_;
};

class LogCapture {
 public:
  LogCapture() : sink_(std::make_shared<StringSink>()) {
    sink_->set_pattern("%l %v");
    previous_ = SdkLogger();
    SdkLogger() = std::make_shared<spdlog::logger>("capture", sink_);
    SdkLogger()->set_level(spdlog::level::debug);
  }
  ~LogCapture() { SdkLogger() = previous_; }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  std::string Text() const { return sink_->Text(); }
  bool Has(const std::string& fragment) const { return Text().find(fragment) != std::string::npos; }
  void Clear() { sink_->Clear(); }

 private:
  std::shared_ptr<StringSink> sink_;
  std::shared_ptr<spdlog::logger> previous_;
};

}  // namespace lidar::sdk::testing
