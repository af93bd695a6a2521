#include "parse_cfg_file.h"

#include <cstdio>
#include <string_view>
#include <utility>

#include <rapidjson/document.h>
#include <rapidjson/error/en.h>
#include <rapidjson/filereadstream.h>

#include "lidar_sdk.h"
#include "base/ipv4_address.h"
#include "base/sdk_log.h"

namespace lidar::sdk {
namespace {

using JsonValue = rapidjson::Value;

struct DeviceSection {
  const char* key;
  uint8_t device_type;
};

// Sections are read in this order.
constexpr DeviceSection kDeviceSections[] = {
    {"FORWARD", kDeviceTypeForward},
    {"OMNI", kDeviceTypeOmni},
};

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

constexpr unsigned kMaxPort = 65535;

enum class PortRead { kOk, kMissing, kOutOfRange };

// An unsigned integer member; one beyond 16 bits is refused rather than wrapped into another
// port, which the LiDAR would then be told to use.
PortRead ReadPort(const JsonValue& object, const char* key, uint16_t& port) {
  const auto it = object.FindMember(key);
  if (it == object.MemberEnd() || !it->value.IsUint()) return PortRead::kMissing;
  if (it->value.GetUint() > kMaxPort) return PortRead::kOutOfRange;
  port = static_cast<uint16_t>(it->value.GetUint());
  return PortRead::kOk;
}

using PortList = std::pair<const char*, uint16_t*>[5];

// Reads the port members in order; on a failure `failed` names the member.
PortRead ReadPorts(const JsonValue& object, const PortList& ports, const char*& failed) {
  for (const auto& [key, port] : ports) {
    const PortRead result = ReadPort(object, key, *port);
    if (result != PortRead::kOk) {
      failed = key;
      return result;
    }
  }
  return PortRead::kOk;
}

// An address the SDK can bind or send to; "local" means every local address.
bool IsHostAddress(const std::string& text) { return text == "local" || ParseIpv4(text, nullptr); }

// Line and column (both from 1) of a byte offset into the file.
std::pair<std::size_t, std::size_t> LineAndColumn(std::FILE* file, std::size_t offset) {
  std::rewind(file);
  std::size_t line = 1, column = 1;
  for (std::size_t i = 0; i < offset; ++i) {
    const int c = std::fgetc(file);
    if (c == EOF) break;
    if (c == '\n') {
      ++line;
      column = 1;
    } else {
      ++column;
    }
  }
  return {line, column};
}

const JsonValue* FindMember(const JsonValue& object, const char* key) {
  if (!object.IsObject()) return nullptr;
  const auto it = object.FindMember(key);
  return it == object.MemberEnd() ? nullptr : &it->value;
}

bool ParseLidarNetInfo(const JsonValue& section, LidarNetInfo& info) {
  const JsonValue* net = FindMember(section, "lidar_net_info");
  if (net == nullptr || !net->IsObject()) {
    LIDAR_LOG_ERROR(
        "Parse lidar net info failed, has not lidar_net_info member or lidar_net_info is not "
        "object.");
    return false;
  }
  const PortList ports = {
      {"cmd_data_port", &info.cmd_data_port},     {"push_msg_port", &info.push_msg_port},
      {"point_data_port", &info.point_data_port}, {"imu_data_port", &info.imu_data_port},
      {"log_data_port", &info.log_data_port},
  };
  const char* key = "";
  switch (ReadPorts(*net, ports, key)) {
    case PortRead::kOk: return true;
    case PortRead::kMissing:
      LIDAR_LOG_ERROR("Parse lidar net info failed, has not {} member or {} is not uint.", key,
                      key);
      return false;
    case PortRead::kOutOfRange:
      LIDAR_LOG_ERROR("Parse lidar net info failed, {} is {}, out of the port range 0 to {}.", key,
                      (*net)[key].GetUint(), kMaxPort);
      return false;
  }
  return false;
}

bool ParseHostNetInfo(const JsonValue& host, HostNetInfo& info) {
  const JsonValue* host_ip = FindMember(host, "host_ip");
  const JsonValue* cmd_data_ip = FindMember(host, "cmd_data_ip");
  if (host_ip == nullptr && cmd_data_ip == nullptr) {
    LIDAR_LOG_ERROR("Parse host net info failed, has not host_ip or cmd_data_ip.");
    return false;
  }
  if (host_ip != nullptr && !host_ip->IsString()) {
    LIDAR_LOG_ERROR("Parse host net info failed, host_ip is not string.");
    return false;
  }
  if (cmd_data_ip != nullptr && !cmd_data_ip->IsString()) {
    LIDAR_LOG_ERROR("Parse host net info failed, cmd_data_ip is not string.");
    return false;
  }
  // The newer key wins over the older one.
  info.host_ip = (host_ip != nullptr ? host_ip : cmd_data_ip)->GetString();
  if (!info.host_ip.empty() && !IsHostAddress(info.host_ip)) {
    LIDAR_LOG_ERROR("Parse host net info failed, {} is not an IPv4 address: \"{}\".",
                    host_ip != nullptr ? "host_ip" : "cmd_data_ip", info.host_ip);
    return false;
  }

  const JsonValue* multicast_ip = FindMember(host, "multicast_ip");
  if (multicast_ip != nullptr) {
    if (!multicast_ip->IsString()) {
      LIDAR_LOG_ERROR(
          "Parse host net info failed, has not multicast_ip or multicast_ip is not string.");
      return false;
    }
    info.multicast_ip = multicast_ip->GetString();
  }

  const PortList ports = {
      {"cmd_data_port", &info.cmd_data_port},     {"push_msg_port", &info.push_msg_port},
      {"point_data_port", &info.point_data_port}, {"imu_data_port", &info.imu_data_port},
      {"log_data_port", &info.log_data_port},
  };
  const char* key = "";
  switch (ReadPorts(host, ports, key)) {
    case PortRead::kOk: return true;
    case PortRead::kMissing:
      LIDAR_LOG_ERROR("Parse host net info failed, has not {} or {} is not uint.", key, key);
      return false;
    case PortRead::kOutOfRange:
      LIDAR_LOG_ERROR("Parse host net info failed, {} is {}, out of the port range 0 to {}.", key,
                      host[key].GetUint(), kMaxPort);
      return false;
  }
  return false;
}

// One record from the section's LiDAR ports and one host description, appended to `list`.
bool ParseTypeLidarCfg(uint8_t device_type, const JsonValue& section, const JsonValue& host,
                       const std::string& lidar_ip, LidarCfgList& list) {
  LidarCfg cfg;
  cfg.device_type = device_type;
  if (!ParseLidarNetInfo(section, cfg.lidar_net_info)) {
    LIDAR_LOG_ERROR("Parse lidar net info failed.");
    return false;
  }
  cfg.lidar_net_info.lidar_ip = lidar_ip;
  if (!ParseHostNetInfo(host, cfg.host_net_info)) {
    LIDAR_LOG_ERROR("Parse host net info failed.");
    return false;
  }
  list.push_back(std::move(cfg));
  return true;
}

bool ParseOldLidarCfg(uint8_t device_type, const JsonValue& section, const JsonValue& host,
                      LidarCfgList& type_cfgs) {
  return ParseTypeLidarCfg(device_type, section, host, std::string(), type_cfgs);
}

bool ParseNewLidarCfg(uint8_t device_type, const JsonValue& section, const JsonValue& hosts,
                      LidarCfgList& type_cfgs, LidarCfgList& custom_cfgs) {
  for (const auto& host : hosts.GetArray()) {
    const JsonValue* lidar_ips = FindMember(host, "lidar_ip");
    if (lidar_ips == nullptr) {
      if (!ParseTypeLidarCfg(device_type, section, host, std::string(), type_cfgs)) return false;
      continue;
    }
    if (!lidar_ips->IsArray()) {
      LIDAR_LOG_ERROR("Parse lidar ip failed, has not lidar_ip member or lidar_ip is not object.");
      return false;
    }
    for (const auto& ip : lidar_ips->GetArray()) {
      if (!ip.IsString()) continue;
      // An empty one is left to the parameter check, which names it.
      if (ip.GetStringLength() > 0 && !ParseIpv4(ip.GetString(), nullptr)) {
        LIDAR_LOG_ERROR("Parse lidar ip failed, lidar_ip is not an IPv4 address: \"{}\".",
                        ip.GetString());
        return false;
      }
      if (!ParseTypeLidarCfg(device_type, section, host, ip.GetString(), custom_cfgs)) {
        return false;
      }
    }
  }
  return true;
}

bool ParseLidarCfg(uint8_t device_type, const JsonValue& section, LidarCfgList& type_cfgs,
                   LidarCfgList& custom_cfgs) {
  const JsonValue* hosts = FindMember(section, "host_net_info");
  if (hosts != nullptr && hosts->IsArray()) {
    if (!ParseNewLidarCfg(device_type, section, *hosts, type_cfgs, custom_cfgs)) {
      LIDAR_LOG_ERROR("Parse lidar new cfg failed.");
      return false;
    }
    return true;
  }
  if (hosts != nullptr && hosts->IsObject()) {
    if (!ParseOldLidarCfg(device_type, section, *hosts, type_cfgs)) {
      LIDAR_LOG_ERROR("Parse lidar old cfg failed.");
      return false;
    }
    return true;
  }
  LIDAR_LOG_ERROR(
      "Parse lidar net info failed, has not host_net_info member or host_net_info is not object "
      "or arry.");
  return false;
}

bool ParseFrameworkCfg(const JsonValue& root, LidarSdkFrameworkCfg& cfg) {
  const JsonValue* master = FindMember(root, "master_sdk");
  if (master == nullptr) {
    cfg.master_sdk = true;
    LIDAR_LOG_INFO("set master/slave sdk to master sdk by default");
    return true;
  }
  if (!master->IsBool()) {
    LIDAR_LOG_ERROR("set master/slave sdk error");
    return false;
  }
  cfg.master_sdk = master->GetBool();
  if (cfg.master_sdk) {
    LIDAR_LOG_INFO("set master/slave sdk to master sdk");
  } else {
    LIDAR_LOG_INFO("set master/slave sdk to slave sdk");
  }
  return true;
}

// "log_level": how much of the layer's console logging to write. "info" (the default) writes
// every line, "warn" only warnings and errors, "error" only errors. It applies at once, so the
// lines of the rest of the parse already follow it.
bool ParseLogLevel(const JsonValue& root) {
  const JsonValue* level = FindMember(root, "log_level");
  if (level == nullptr) return true;
  static constexpr struct {
    const char* name;
    spdlog::level::level_enum level;
  } kLevels[] = {
      {"info", spdlog::level::info}, {"warn", spdlog::level::warn}, {"error", spdlog::level::err}};
  if (level->IsString()) {
    for (const auto& known : kLevels) {
      if (std::string_view(level->GetString(), level->GetStringLength()) == known.name) {
        SetSdkConsoleLevel(known.level);
        return true;
      }
    }
  }
  LIDAR_LOG_ERROR("Parse json file failed, log_level must be \"info\", \"warn\" or \"error\"");
  return false;
}

bool ParseLoggerCfg(const JsonValue& root, LidarLoggerCfg& cfg) {
  const JsonValue* enable = FindMember(root, "lidar_log_enable");
  const JsonValue* cache_size = FindMember(root, "lidar_log_cache_size_MB");
  const JsonValue* path = FindMember(root, "lidar_log_path");
  if (enable == nullptr) {
    cfg.lidar_log_enable = false;
    cfg.lidar_log_cache_size = 0;
    cfg.lidar_log_path = (path != nullptr && path->IsString()) ? path->GetString() : "./";
    LIDAR_LOG_INFO("Lidar logger disable.");
    return true;
  }
  if (!enable->IsBool()) {
    LIDAR_LOG_ERROR("Lidar log enable data type is error");
    return false;
  }
  cfg.lidar_log_enable = enable->GetBool();
  if (cache_size == nullptr || !cache_size->IsUint()) {
    LIDAR_LOG_ERROR(
        "Parse json file failed, has not lidar_log_cache_size_MB member or "
        "lidar_log_cache_size_MB is uint");
    return false;
  }
  cfg.lidar_log_cache_size = cache_size->GetUint();
  if (path == nullptr || !path->IsString()) {
    LIDAR_LOG_ERROR(
        "Parse json file failed, has not lidar_log_path member or lidar_log_path is uint");
    return false;
  }
  cfg.lidar_log_path = path->GetString();
  LIDAR_LOG_INFO("Lidar log cfg, lidar_log_enable:{}, lidar_log_cache_size_MB:{}, lidar_log_path:{}",
                 cfg.lidar_log_enable, cfg.lidar_log_cache_size, cfg.lidar_log_path);
  return true;
}

}  // namespace

ParseCfgFile::ParseCfgFile(std::string path) : path_(std::move(path)) {}

bool ParseCfgFile::Parse(std::shared_ptr<LidarCfgList>& type_cfgs,
                         std::shared_ptr<LidarCfgList>& custom_cfgs,
                         std::shared_ptr<LidarLoggerCfg>& logger_cfg,
                         std::shared_ptr<LidarSdkFrameworkCfg>& framework_cfg) {
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path_.c_str(), "rb"));
  if (!file) {
    LIDAR_LOG_ERROR("Parse lidar config failed, can not open json config file!");
    return false;
  }
  char read_buffer[32768];
  rapidjson::FileReadStream stream(file.get(), read_buffer, sizeof(read_buffer));
  rapidjson::Document doc;
  // Iterative parsing: a file nested a million levels deep must not exhaust the stack.
  doc.ParseStream<rapidjson::kParseIterativeFlag>(stream);
  if (doc.HasParseError() || !doc.IsObject()) {
    LIDAR_LOG_ERROR("Parse lidar config failed, parse the config file has error!");
    if (doc.HasParseError()) {
      const auto [line, column] = LineAndColumn(file.get(), doc.GetErrorOffset());
      LIDAR_LOG_ERROR("Parse lidar config failed at line {} column {}: {}", line, column,
                      rapidjson::GetParseError_En(doc.GetParseError()));
    } else {
      LIDAR_LOG_ERROR("Parse lidar config failed, the config file is not a JSON object.");
    }
    return false;
  }

  type_cfgs = std::make_shared<LidarCfgList>();
  custom_cfgs = std::make_shared<LidarCfgList>();
  logger_cfg = std::make_shared<LidarLoggerCfg>();
  framework_cfg = std::make_shared<LidarSdkFrameworkCfg>();

  if (!ParseLogLevel(doc)) return false;
  if (!ParseFrameworkCfg(doc, *framework_cfg)) return false;
  if (!ParseLoggerCfg(doc, *logger_cfg)) return false;
  for (const auto& section : kDeviceSections) {
    const JsonValue* value = FindMember(doc, section.key);
    if (value == nullptr || !value->IsObject()) continue;
    if (!ParseLidarCfg(section.device_type, *value, *type_cfgs, *custom_cfgs)) return false;
  }
  return true;
}

}  // namespace lidar::sdk
