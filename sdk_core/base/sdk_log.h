// The SDK's "console" logger and the SDK's log-line form: the message, two spaces, then
// "[file] [function] [line]", where file is the source path's base name.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include <spdlog/spdlog.h>

namespace lidar::sdk {

// Process-wide pointer to the SDK logger (empty until the first CreateSdkLogger).
std::shared_ptr<spdlog::logger>& SdkLogger();
// Uses the registered "console" logger or creates it (the platform's colour console sink on
// standard output), then sets level and flush level to debug.
void CreateSdkLogger();
// Writes only the SDK logger's lines at `level` and above from now on (CreateSdkLogger sets it
// back to debug, where every line is written).
void SetSdkConsoleLevel(spdlog::level::level_enum level);
// Removes every logger from spdlog's registry; the process-wide pointer keeps the SDK logger.
void DropSdkLoggers();
// Part of a source path after the last '/' or '\'.
std::string_view SourceBaseName(std::string_view path);

template <typename... Args>
void LogAt(spdlog::level::level_enum level, const char* file, const char* function, int line,
           fmt::format_string<Args...> format, Args&&... args) {
  const auto& logger = SdkLogger();
  if (!logger) return;
  try {
    logger->log(level, "{}  [{}] [{}] [{}]", fmt::format(format, std::forward<Args>(args)...),
                SourceBaseName(file), function, line);
  } catch (...) {
    // A formatting failure must never escape into SDK code paths.
  }
}

}  // namespace lidar::sdk

#define LIDAR_LOG_INFO(...) \
  ::lidar::sdk::LogAt(::spdlog::level::info, __FILE__, __func__, __LINE__, __VA_ARGS__)
#define LIDAR_LOG_WARN(...) \
  ::lidar::sdk::LogAt(::spdlog::level::warn, __FILE__, __func__, __LINE__, __VA_ARGS__)
#define LIDAR_LOG_ERROR(...) \
  ::lidar::sdk::LogAt(::spdlog::level::err, __FILE__, __func__, __LINE__, __VA_ARGS__)
