#include "state_documents.h"

#include <algorithm>
#include <cstdio>
#include <iomanip>
#include <sstream>

#include <nlohmann/json.hpp>

#include "publication/service_keys.h"

namespace app {
namespace {

constexpr std::size_t kMaxPublishedBoxes = 20;
constexpr const char* kPathSeparator = ".";

// Angles are converted in single precision, as the rest of the attitude is computed.
double degrees(float radians) { return static_cast<double>(radians * 180.0f / 3.1415927f); }

void write_fixed(std::ostringstream& out, float value) {
  out << std::fixed << std::setprecision(3) << static_cast<double>(value);
}

void write_box(std::ostringstream& out, const ObstacleBox& box) {
  const auto member = [&out](const char* name, bool first) {
    if (!first) out << ',';
    out << '"' << name << "\":";
  };
  member("min_x", true);
  write_fixed(out, box.min_x);
  member("min_y", false);
  write_fixed(out, box.min_y);
  member("min_z", false);
  write_fixed(out, box.min_z);
  member("max_x", false);
  write_fixed(out, box.max_x);
  member("max_y", false);
  write_fixed(out, box.max_y);
  member("max_z", false);
  write_fixed(out, box.max_z);
  member("t_ms", false);
  out << box.t_ms;
  member("voxels", false);
  out << box.voxels;
  member("cx", false);
  write_fixed(out, box.cx);
  member("cy", false);
  write_fixed(out, box.cy);
  member("cz", false);
  write_fixed(out, box.cz);
  member("w", false);
  write_fixed(out, box.w);
  member("h", false);
  write_fixed(out, box.h);
  member("d", false);
  write_fixed(out, box.d);
  member("dist_m", false);
  write_fixed(out, box.dist_m);
  member("dist_xy_m", false);
  write_fixed(out, box.dist_xy_m);
  member("frente_m", false);
  write_fixed(out, box.frente_m);
}

}  // namespace

void add_integer(PathEntryList& entries, const std::string& path, uint64_t value) {
  entries.emplace_back(path, std::to_string(value));
}

void add_bool(PathEntryList& entries, const std::string& path, bool value) {
  entries.emplace_back(path, value ? "true" : "false");
}

void add_fixed(PathEntryList& entries, const std::string& path, double value, int decimals) {
  std::ostringstream out;
  out << std::fixed << std::setprecision(decimals) << value;
  entries.emplace_back(path, out.str());
}

void add_quoted(PathEntryList& entries, const std::string& path, const std::string& text) {
  entries.emplace_back(
      path, nlohmann::json(text).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
}

void add_distances(PathEntryList& entries, const std::string& group, double frente, double tras,
                   double esquerda, double direita, double cima, double baixo) {
  add_fixed(entries, group + ".frente", frente, 2);
  add_fixed(entries, group + ".tras", tras, 2);
  add_fixed(entries, group + ".esquerda", esquerda, 2);
  add_fixed(entries, group + ".direita", direita, 2);
  add_fixed(entries, group + ".sup", cima, 2);
  add_fixed(entries, group + ".inf", baixo, 2);
}

std::string render_bboxes(const StatusSnapshot& snapshot) {
  if (snapshot.boxes.empty()) return "[]";
  std::vector<ObstacleBox> boxes = snapshot.boxes;
  std::sort(boxes.begin(), boxes.end(), [](const ObstacleBox& a, const ObstacleBox& b) {
    return a.frente_m < b.frente_m;
  });
  if (boxes.size() > kMaxPublishedBoxes) boxes.resize(kMaxPublishedBoxes);

  std::ostringstream out;
  out << '[';
  for (std::size_t i = 0; i < boxes.size(); ++i) {
    if (i > 0) out << ',';
    out << '{';
    write_box(out, boxes[i]);
    out << '}';
  }
  out << ']';
  return out.str();
}

PathEntryList build_lidar_entries(const StatusSnapshot& s) {
  PathEntryList entries;
  entries.reserve(24);
  add_integer(entries, "timestamp", s.timestamp);
  add_bool(entries, "conectado", s.conectado);
  add_bool(entries, "executando", s.executando);
  add_bool(entries, "sensor_ativo", s.sensor_ativo);
  add_quoted(entries, "host_ip", s.host_ip);
  add_quoted(entries, "lidar_ip", s.lidar_ip);
  add_quoted(entries, "firmware_version", s.firmware_version);
  add_quoted(entries, "dev_type", s.dev_type);
  add_integer(entries, "handle", s.handle);
  add_fixed(entries, "freq.pcl", s.freq_pcl, 2);
  add_fixed(entries, "freq.imu", s.freq_imu, 2);
  add_fixed(entries, "imu.timestamp", static_cast<double>(s.imu_timestamp), 2);
  add_fixed(entries, "imu.roll", s.roll_deg, 2);
  add_fixed(entries, "imu.pitch", s.pitch_deg, 2);
  add_fixed(entries, "imu.yaw", s.yaw_deg, 2);
  add_fixed(entries, "status.temperatura", s.temperatura, 2);
  add_integer(entries, "status.vezes_ligado", s.vezes_ligado);
  add_distances(entries, "dist", s.frente, s.tras, s.esquerda, s.direita, s.cima, s.baixo);
  // Always written, an empty array when there are no boxes: the merge keeps a member the
  // entries leave out, and an obstacle that has gone must not stay published.
  entries.emplace_back("bboxes", render_bboxes(s));
  return entries;
}

PathEntryList build_imu_entries(const AttitudeState& a) {
  PathEntryList entries;
  entries.reserve(6);
  add_integer(entries, "timestamp", a.t_ms);
  add_fixed(entries, "frequencia", static_cast<double>(a.frequencia_hz), 4);
  add_fixed(entries, "latencia", static_cast<double>(a.latencia_ms), 4);
  add_fixed(entries, "roll", degrees(a.roll), 3);
  add_fixed(entries, "pitch", degrees(a.pitch), 3);
  add_fixed(entries, "yaw", degrees(a.yaw), 3);
  return entries;
}

bool publish_lidar_document(const StatusSnapshot& snapshot) {
  if (!redis_publisher) {
    // Console texts are Windows-1252: 0xE3 is the a with tilde.
    std::fputs("[STATUS] RedisPublisher n\xE3o inicializado\n", stderr);
    std::fflush(stderr);
    return false;
  }
  return redis_publisher->set_json_merge_paths(service_key(kLidarDocumentKey),
                                               build_lidar_entries(snapshot),
                                               kLidarDocumentTtlSeconds, kPathSeparator);
}

void publish_imu_document() {
  const AttitudeState copy = copy_attitude();
  // Without a publisher the Lidar document has already reported it this cycle.
  if (!redis_publisher) return;
  redis_publisher->set_json_merge_paths(service_key(kImuDocumentKey), build_imu_entries(copy),
                                        kImuDocumentTtlSeconds, kPathSeparator);
}

}  // namespace app
