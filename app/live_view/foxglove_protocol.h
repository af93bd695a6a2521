// The server side of the Foxglove WebSocket protocol as the live view speaks it, without sockets:
// the channels it advertises, the server's text messages, the binary message-data frame, and a
// client's subscribe and unsubscribe requests with the status errors that malformed or
// unsupported requests get. The server (live_view_server.cpp) moves these bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace app {

enum class LiveChannel : uint32_t {
  kPoints = 1,        // /lidar/points: each processed frame's thinned cloud
  kPointsWindow = 2,  // /lidar/points_window: the whole 150 ms window, up to 10 Hz
  kObstacles = 3,     // /lidar/obstacles: boxes, distance lines, robot box and corridors
  kState = 4,         // /lidar/state: distances, corridors, nearest box, rates, status, attitude
  kTransforms = 5,    // /tf: base_link to lidar
};

struct ChannelInfo {
  LiveChannel id;
  const char* topic;
  const char* schema_name;
  const char* schema;  // JSON Schema text
};

inline constexpr std::size_t kLiveChannelCount = 5;
extern const ChannelInfo kLiveChannels[kLiveChannelCount];

// Both names under which clients ask for the protocol.
inline constexpr const char* kSubprotocols[] = {"foxglove.websocket.v1", "foxglove.sdk.v1"};

// The first protocol of a Sec-WebSocket-Protocol list that this server speaks; empty when none.
std::string choose_subprotocol(std::string_view offered);

enum class StatusLevel : int { kInfo = 0, kWarning = 1, kError = 2 };

std::string server_info_message(const std::string& name, const std::string& session_id);
std::string advertise_message();
std::string status_message(StatusLevel level, const std::string& message);

// The binary message-data frame's head: opcode 1, the subscription id (u32) and the message's
// timestamp in nanoseconds (u64), little-endian; the payload follows it.
inline constexpr std::size_t kMessageDataHeadSize = 13;
std::string message_data_head(uint32_t subscription, uint64_t timestamp_ns);

// One client's subscriptions: subscription id to channel.
class Subscriptions {
 public:
  static constexpr std::size_t kMaxSubscriptions = 64;

  // The client's subscription ids on `channel`, in ascending order.
  std::vector<uint32_t> on(LiveChannel channel) const;
  bool any_on(LiveChannel channel) const;
  bool empty() const { return by_id_.empty(); }

  // Handles one text message from the client; returns the status messages to send back (none
  // for a request that was carried out). `changed` tells whether the subscriptions changed.
  std::vector<std::string> handle(std::string_view text, bool& changed);

 private:
  std::map<uint32_t, LiveChannel> by_id_;
};

}  // namespace app
