#include "sdk_session.h"

#include <fstream>
#include <sstream>

#include "tests/sdk_core/base/temp_dir.h"

namespace lidar::sdk::testing {

TempDir::TempDir() : path_(MakeTempDir("lidar_sdk_test_")) {}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string TempDir::WriteConfig(const ConfigOptions& options) const {
  // Forward slashes: a Windows path's backslashes would be escapes in the JSON text.
  const std::string log_path = options.log_path.empty()
                                   ? (path_ / "logs").generic_string()
                                   : std::filesystem::path(options.log_path).generic_string();
  std::ostringstream json;
  json << "{\n  \"master_sdk\": " << (options.master_sdk ? "true" : "false") << ",\n"
       << "  \"lidar_log_enable\": " << (options.log_enable ? "true" : "false") << ",\n"
       << "  \"lidar_log_cache_size_MB\": 1,\n"
       << "  \"lidar_log_path\": \"" << log_path << "\",\n"
       << "  \"OMNI\": {\n"
       << "    \"lidar_net_info\": {\"cmd_data_port\": 56100, \"push_msg_port\": 56200,\n"
       << "      \"point_data_port\": 56300, \"imu_data_port\": 56400, \"log_data_port\": 56500},\n"
       << "    \"host_net_info\": [{\n";
  if (!options.lidar_ip.empty()) json << "      \"lidar_ip\": [\"" << options.lidar_ip << "\"],\n";
  json << "      \"host_ip\": \"127.0.0.1\", \"multicast_ip\": \"\",\n"
       << "      \"cmd_data_port\": 56101, \"push_msg_port\": 56201, \"point_data_port\": 56301,\n"
       << "      \"imu_data_port\": 56401, \"log_data_port\": 56501\n"
       << "    }]\n  }\n}\n";
  const std::string file = (path_ / "sdk_config.json").string();
  std::ofstream(file) << json.str();
  return file;
}

void Recorder::Attach() {
  SetLidarPointCloudCallback(&Recorder::OnPoint, this);
  SetLidarImuDataCallback(&Recorder::OnImu, this);
  SetLidarInfoChangeCallback(&Recorder::OnInfo, this);
}

std::size_t Recorder::points() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return points_.size();
}

std::size_t Recorder::imus() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return imus_.size();
}

std::vector<Recorder::Data> Recorder::point_data() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return points_;
}

std::vector<Recorder::Data> Recorder::imu_data() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return imus_;
}

std::vector<std::pair<uint32_t, LidarInfo>> Recorder::infos() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return infos_;
}

void Recorder::OnPoint(uint32_t handle, uint8_t dev_type, LidarEthernetPacket* packet,
                       void* self) {
  auto* recorder = static_cast<Recorder*>(self);
  std::lock_guard<std::mutex> lock(recorder->mutex_);
  recorder->points_.push_back(
      {handle, dev_type, packet->header[kPacketDataTypeOffset], HeaderHash(packet->header)});
}

void Recorder::OnImu(uint32_t handle, uint8_t dev_type, LidarEthernetPacket* packet, void* self) {
  auto* recorder = static_cast<Recorder*>(self);
  std::lock_guard<std::mutex> lock(recorder->mutex_);
  recorder->imus_.push_back(
      {handle, dev_type, packet->header[kPacketDataTypeOffset], HeaderHash(packet->header)});
}

void Recorder::OnInfo(uint32_t handle, const LidarInfo* info, void* self) {
  auto* recorder = static_cast<Recorder*>(self);
  std::lock_guard<std::mutex> lock(recorder->mutex_);
  recorder->infos_.emplace_back(handle, *info);
}

}  // namespace lidar::sdk::testing
