#include "sdk_log.h"

#include <vector>

#include <spdlog/sinks/rotating_file_sink.h>
#include <spdlog/sinks/stdout_color_sinks.h>

namespace lidar::sdk {
namespace {
// The console sink is always on; nothing turns the file sink on.
constexpr bool kConsoleSink = true;
constexpr bool kFileSink = false;
}  // namespace

std::shared_ptr<spdlog::logger>& SdkLogger() {
  static std::shared_ptr<spdlog::logger> logger;
  return logger;
}

void CreateSdkLogger() {
  auto logger = spdlog::get("console");
  if (!logger) {
    std::vector<spdlog::sink_ptr> sinks;
    // The platform's colour console sink: the Windows console's own colours there, ANSI
    // sequences elsewhere; both take the library's console mutex.
    if (kConsoleSink) sinks.push_back(std::make_shared<spdlog::sinks::stdout_color_sink_mt>());
    if (kFileSink) {
      sinks.push_back(std::make_shared<spdlog::sinks::rotating_file_sink_mt>(
          "lidar_log.txt", 5242880, 2, false));
    }
    logger = std::make_shared<spdlog::logger>("console", sinks.begin(), sinks.end());
    spdlog::register_logger(logger);
  }
  SdkLogger() = logger;
  logger->set_level(spdlog::level::debug);
  logger->flush_on(spdlog::level::debug);
}

void SetSdkConsoleLevel(spdlog::level::level_enum level) {
  if (const auto& logger = SdkLogger()) logger->set_level(level);
}

void DropSdkLoggers() { spdlog::drop_all(); }

std::string_view SourceBaseName(std::string_view path) {
  const auto cut = path.find_last_of("/\\");
  return cut == std::string_view::npos ? path : path.substr(cut + 1);
}

}  // namespace lidar::sdk
