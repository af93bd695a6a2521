#include "foxglove_protocol.h"

#include <algorithm>
#include <cctype>
#include <exception>

#include <nlohmann/json.hpp>

namespace app {
namespace {

using nlohmann::json;

// Compact JSON Schemas of the messages: what each member is, without the prose.
constexpr const char* kTimeSchema =
    R"({"type":"object","properties":{"sec":{"type":"integer","minimum":0},)"
    R"("nsec":{"type":"integer","minimum":0,"maximum":999999999}},"required":["sec","nsec"]})";

std::string vector3() {
  return R"({"type":"object","properties":{"x":{"type":"number"},"y":{"type":"number"},)"
         R"("z":{"type":"number"}},"required":["x","y","z"]})";
}

std::string quaternion() {
  return R"({"type":"object","properties":{"x":{"type":"number"},"y":{"type":"number"},)"
         R"("z":{"type":"number"},"w":{"type":"number"}},"required":["x","y","z","w"]})";
}

std::string pose() {
  return R"({"type":"object","properties":{"position":)" + vector3() + R"(,"orientation":)" +
         quaternion() + R"(},"required":["position","orientation"]})";
}

std::string colour() {
  return R"({"type":"object","properties":{"r":{"type":"number"},"g":{"type":"number"},)"
         R"("b":{"type":"number"},"a":{"type":"number"}},"required":["r","g","b","a"]})";
}

const std::string& point_cloud_schema() {
  static const std::string schema =
      std::string(R"({"title":"foxglove.PointCloud","type":"object","properties":{"timestamp":)") +
      kTimeSchema + R"(,"frame_id":{"type":"string"},"pose":)" + pose() +
      R"(,"point_stride":{"type":"integer","minimum":0},"fields":{"type":"array","items":)"
      R"({"type":"object","properties":{"name":{"type":"string"},"offset":{"type":"integer",)"
      R"("minimum":0},"type":{"type":"integer","minimum":0,"maximum":8}},)"
      R"("required":["name","offset","type"]}},"data":{"type":"string","contentEncoding":)"
      R"("base64"}},"required":["timestamp","frame_id","pose","point_stride","fields","data"]})";
  return schema;
}

const std::string& scene_update_schema() {
  const std::string cube = R"({"type":"object","properties":{"pose":)" + pose() + R"(,"size":)" +
                           vector3() + R"(,"color":)" + colour() +
                           R"(},"required":["pose","size","color"]})";
  const std::string line =
      R"({"type":"object","properties":{"type":{"type":"integer","minimum":0,"maximum":2},)"
      R"("pose":)" +
      pose() +
      R"(,"thickness":{"type":"number"},"scale_invariant":)"
      R"({"type":"boolean"},"points":{"type":"array","items":)" +
      vector3() + R"(},"color":)" + colour() + R"(,"colors":{"type":"array","items":)" + colour() +
      R"(},"indices":{"type":"array","items":{"type":"integer","minimum":0}}},"required":)"
      R"(["type","pose","thickness","scale_invariant","points","color","colors","indices"]})";
  const std::string text =
      R"({"type":"object","properties":{"pose":)" + pose() +
      R"(,"billboard":{"type":"boolean"},"font_size":{"type":"number"},"scale_invariant":)"
      R"({"type":"boolean"},"color":)" +
      colour() +
      R"(,"text":{"type":"string"}},"required":)"
      R"(["pose","billboard","font_size","scale_invariant","color","text"]})";
  const std::string any_list = R"({"type":"array"})";
  static const std::string schema =
      R"({"title":"foxglove.SceneUpdate","type":"object","properties":{"deletions":)"
      R"({"type":"array","items":{"type":"object","properties":{"timestamp":)" +
      std::string(kTimeSchema) +
      R"(,"type":{"type":"integer","minimum":0,"maximum":1},"id":{"type":"string"}},)"
      R"("required":["timestamp","type","id"]}},"entities":{"type":"array","items":)"
      R"({"type":"object","properties":{"timestamp":)" +
      kTimeSchema + R"(,"frame_id":{"type":"string"},"id":{"type":"string"},"lifetime":)" +
      kTimeSchema +
      R"(,"frame_locked":{"type":"boolean"},"metadata":{"type":"array","items":{"type":)"
      R"("object","properties":{"key":{"type":"string"},"value":{"type":"string"}}}},)"
      R"("arrows":)" +
      any_list + R"(,"cubes":{"type":"array","items":)" + cube + R"(},"spheres":)" + any_list +
      R"(,"cylinders":)" + any_list + R"(,"lines":{"type":"array","items":)" + line +
      R"(},"triangles":)" + any_list + R"(,"texts":{"type":"array","items":)" + text +
      R"(},"models":)" + any_list +
      R"(},"required":["timestamp","frame_id","id","lifetime","frame_locked","metadata",)"
      R"("arrows","cubes","spheres","cylinders","lines","triangles","texts","models"]}}},)"
      R"("required":["deletions","entities"]})";
  return schema;
}

const std::string& frame_transforms_schema() {
  static const std::string schema =
      std::string(R"({"title":"foxglove.FrameTransforms","type":"object","properties":)") +
      R"({"transforms":{"type":"array","items":{"type":"object","properties":{"timestamp":)" +
      kTimeSchema +
      R"(,"parent_frame_id":{"type":"string"},"child_frame_id":{"type":"string"},)"
      R"("translation":)" +
      vector3() + R"(,"rotation":)" + quaternion() +
      R"(},"required":["timestamp","parent_frame_id","child_frame_id","translation",)"
      R"("rotation"]}}},"required":["transforms"]})";
  return schema;
}

// Distances are null while the stream is down (they are not numbers then).
constexpr const char* kStateSchema =
    R"({"title":"lidar_obstacle.State","type":"object","properties":{)"
    R"("timestamp":{"type":"integer","description":"ms since 1970 UTC"},)"
    R"("status":{"enum":["OK","OFF"]},)"
    R"("dist":{"type":"object","description":"nearest obstacle per direction, m; 0 none"},)"
    R"("corredor":{"type":"object","description":"nearest obstacle in the robot's corridors, m"},)"
    R"("caixas":{"type":"integer"},"caixa":{"type":["object","null"]},)"
    R"("freq":{"type":"object","properties":{"pcl":{"type":"number"},"imu":{"type":"number"}}},)"
    R"("temperatura":{"type":"number"},)"
    R"("imu":{"type":"object","properties":{"roll":{"type":"number"},"pitch":{"type":"number"},)"
    R"("yaw":{"type":"number"}}},"processamento_ms":{"type":["number","null"]}},)"
    R"("required":["timestamp","status","dist","corredor","caixas","freq","temperatura","imu"]})";

std::string trimmed(std::string_view text) {
  std::size_t b = 0, e = text.size();
  while (b < e && std::isspace(static_cast<unsigned char>(text[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(text[e - 1]))) --e;
  return std::string(text.substr(b, e - b));
}

bool is_u32(const json& value) {
  return value.is_number_unsigned() && value.get<uint64_t>() <= 0xFFFFFFFFull;
}

bool known_channel(uint64_t id) { return id >= 1 && id <= kLiveChannelCount; }

// Requests of the protocol that this server does not offer (it advertises no capability).
bool unsupported_operation(const std::string& op) {
  static const char* const ops[] = {"advertise",
                                    "unadvertise",
                                    "getParameters",
                                    "setParameters",
                                    "subscribeParameterUpdates",
                                    "unsubscribeParameterUpdates",
                                    "subscribeConnectionGraph",
                                    "unsubscribeConnectionGraph",
                                    "fetchAsset"};
  return std::find(std::begin(ops), std::end(ops), op) != std::end(ops);
}

}  // namespace

const ChannelInfo kLiveChannels[kLiveChannelCount] = {
    {LiveChannel::kPoints, "/lidar/points", "foxglove.PointCloud", point_cloud_schema().c_str()},
    {LiveChannel::kPointsWindow, "/lidar/points_window", "foxglove.PointCloud",
     point_cloud_schema().c_str()},
    {LiveChannel::kObstacles, "/lidar/obstacles", "foxglove.SceneUpdate",
     scene_update_schema().c_str()},
    {LiveChannel::kState, "/lidar/state", "lidar_obstacle.State", kStateSchema},
    {LiveChannel::kTransforms, "/tf", "foxglove.FrameTransforms",
     frame_transforms_schema().c_str()},
};

std::string choose_subprotocol(std::string_view offered) {
  std::size_t start = 0;
  while (start <= offered.size()) {
    std::size_t comma = offered.find(',', start);
    if (comma == std::string_view::npos) comma = offered.size();
    const std::string name = trimmed(offered.substr(start, comma - start));
    for (const char* ours : kSubprotocols) {
      if (name == ours) return name;
    }
    start = comma + 1;
  }
  return {};
}

std::string server_info_message(const std::string& name, const std::string& session_id) {
  return json{{"op", "serverInfo"},
              {"name", name},
              {"capabilities", json::array()},
              {"supportedEncodings", json::array()},
              {"metadata", json::object()},
              {"sessionId", session_id}}
      .dump();
}

std::string advertise_message() {
  json channels = json::array();
  for (const ChannelInfo& c : kLiveChannels) {
    channels.push_back({{"id", static_cast<uint32_t>(c.id)},
                        {"topic", c.topic},
                        {"encoding", "json"},
                        {"schemaName", c.schema_name},
                        {"schema", c.schema},
                        {"schemaEncoding", "jsonschema"}});
  }
  return json{{"op", "advertise"}, {"channels", channels}}.dump();
}

std::string status_message(StatusLevel level, const std::string& message) {
  // Text from a client may be quoted back; invalid UTF-8 in it is replaced, not thrown on.
  return json{{"op", "status"}, {"level", static_cast<int>(level)}, {"message", message}}.dump(
      -1, ' ', false, json::error_handler_t::replace);
}

std::string message_data_head(uint32_t subscription, uint64_t timestamp_ns) {
  std::string head(kMessageDataHeadSize, '\0');
  head[0] = 0x01;
  for (int i = 0; i < 4; ++i) head[1 + i] = static_cast<char>((subscription >> (8 * i)) & 0xFF);
  for (int i = 0; i < 8; ++i) head[5 + i] = static_cast<char>((timestamp_ns >> (8 * i)) & 0xFF);
  return head;
}

std::vector<uint32_t> Subscriptions::on(LiveChannel channel) const {
  std::vector<uint32_t> ids;
  for (const auto& [id, subscribed] : by_id_) {
    if (subscribed == channel) ids.push_back(id);
  }
  return ids;
}

bool Subscriptions::any_on(LiveChannel channel) const {
  return std::any_of(by_id_.begin(), by_id_.end(),
                     [channel](const auto& entry) { return entry.second == channel; });
}

std::vector<std::string> Subscriptions::handle(std::string_view text, bool& changed) {
  changed = false;
  std::vector<std::string> replies;
  const auto error = [&replies](const std::string& message) {
    replies.push_back(status_message(StatusLevel::kError, message));
  };
  json request;
  try {
    request = json::parse(text.begin(), text.end());
  } catch (const std::exception&) {
    error("malformed message: not JSON");
    return replies;
  }
  const auto op = request.is_object() ? request.find("op") : request.end();
  if (!request.is_object() || op == request.end() || !op->is_string()) {
    error("malformed message: a JSON object with a string \"op\" is expected");
    return replies;
  }
  const std::string name = op->get<std::string>();

  if (name == "subscribe") {
    const auto list = request.find("subscriptions");
    if (list == request.end() || !list->is_array()) {
      error("malformed subscribe: \"subscriptions\" must be a list");
      return replies;
    }
    for (const json& item : *list) {
      const auto id = item.is_object() ? item.find("id") : item.end();
      const auto channel = item.is_object() ? item.find("channelId") : item.end();
      if (!item.is_object() || id == item.end() || channel == item.end() || !is_u32(*id) ||
          !is_u32(*channel)) {
        error("malformed subscribe: each subscription needs integer \"id\" and \"channelId\"");
        continue;
      }
      const uint32_t sub = id->get<uint32_t>();
      const uint64_t channel_id = channel->get<uint64_t>();
      if (!known_channel(channel_id)) {
        error("subscribe: no channel " + std::to_string(channel_id));
      } else if (by_id_.count(sub) != 0) {
        error("subscribe: subscription id " + std::to_string(sub) + " is already in use");
      } else if (by_id_.size() >= kMaxSubscriptions) {
        error("subscribe: at most " + std::to_string(kMaxSubscriptions) +
              " subscriptions per client");
      } else {
        by_id_[sub] = static_cast<LiveChannel>(channel_id);
        changed = true;
      }
    }
    return replies;
  }
  if (name == "unsubscribe") {
    const auto list = request.find("subscriptionIds");
    if (list == request.end() || !list->is_array()) {
      error("malformed unsubscribe: \"subscriptionIds\" must be a list");
      return replies;
    }
    for (const json& item : *list) {
      if (!is_u32(item)) {
        error("malformed unsubscribe: subscription ids are integers");
      } else if (by_id_.erase(item.get<uint32_t>()) == 0) {
        replies.push_back(
            status_message(StatusLevel::kWarning,
                           "unsubscribe: no subscription " + std::to_string(item.get<uint32_t>())));
      } else {
        changed = true;
      }
    }
    return replies;
  }
  if (unsupported_operation(name)) {
    error("operation \"" + name + "\" is not supported by this server");
  } else {
    error("unknown operation \"" + name + "\"");
  }
  return replies;
}

}  // namespace app
