// A client's requests as the server takes them: subscriptions kept per id, and a status error
// (never an exception) for whatever is malformed, unknown or not offered; the binary frame's
// head; the subprotocol choice.
#include "live_view/foxglove_protocol.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace app {
namespace {

using nlohmann::json;

// The level and message of each reply; each reply must itself be a status message.
std::vector<std::pair<int, std::string>> statuses(const std::vector<std::string>& replies) {
  std::vector<std::pair<int, std::string>> out;
  for (const std::string& reply : replies) {
    const json parsed = json::parse(reply);
    EXPECT_EQ(parsed.at("op"), "status");
    out.emplace_back(parsed.at("level").get<int>(), parsed.at("message").get<std::string>());
  }
  return out;
}

TEST(Subprotocol, EitherNameInTheClientsListNothingElse) {
  EXPECT_EQ(choose_subprotocol("foxglove.websocket.v1"), "foxglove.websocket.v1");
  EXPECT_EQ(choose_subprotocol("foxglove.sdk.v1"), "foxglove.sdk.v1");
  EXPECT_EQ(choose_subprotocol("chat, foxglove.sdk.v1 ,foxglove.websocket.v1"), "foxglove.sdk.v1");
  EXPECT_EQ(choose_subprotocol(""), "");
  EXPECT_EQ(choose_subprotocol("foxglove.websocket.v2, foxglove"), "");
}

TEST(MessageData, OpcodeSubscriptionAndNanosecondsLittleEndian) {
  const std::string head = message_data_head(0x01020304u, 0x1122334455667788ull);
  const std::string expected("\x01\x04\x03\x02\x01\x88\x77\x66\x55\x44\x33\x22\x11", 13);
  EXPECT_EQ(head, expected);
}

TEST(Subscriptions, SubscribeAndUnsubscribeByIdAcrossChannels) {
  Subscriptions subs;
  bool changed = false;
  EXPECT_TRUE(subs.handle(R"({"op":"subscribe","subscriptions":[{"id":7,"channelId":1},)"
                          R"({"id":8,"channelId":1},{"id":9,"channelId":4}]})",
                          changed)
                  .empty());
  EXPECT_TRUE(changed);
  EXPECT_EQ(subs.on(LiveChannel::kPoints), (std::vector<uint32_t>{7, 8}));
  EXPECT_TRUE(subs.any_on(LiveChannel::kState));
  EXPECT_FALSE(subs.any_on(LiveChannel::kObstacles));

  EXPECT_TRUE(subs.handle(R"({"op":"unsubscribe","subscriptionIds":[7,9]})", changed).empty());
  EXPECT_EQ(subs.on(LiveChannel::kPoints), (std::vector<uint32_t>{8}));
  EXPECT_FALSE(subs.any_on(LiveChannel::kState));

  // Unknown ids are a warning; the known one in the same request still goes.
  const auto replies =
      statuses(subs.handle(R"({"op":"unsubscribe","subscriptionIds":[5,8]})", changed));
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0].first, 1);
  EXPECT_TRUE(changed);
  EXPECT_TRUE(subs.empty());
}

TEST(Subscriptions, MalformedUnknownAndUnsupportedRequestsGetAnErrorAndChangeNothing) {
  Subscriptions subs;
  bool changed = false;
  subs.handle(R"({"op":"subscribe","subscriptions":[{"id":1,"channelId":2}]})", changed);
  const char* requests[] = {
      "",
      "not json",
      "[1,2]",
      "{\"op\": 5}",
      "{}",
      R"({"op":"subscribe"})",
      R"({"op":"subscribe","subscriptions":{"id":2,"channelId":1}})",
      R"({"op":"subscribe","subscriptions":[{"id":-1,"channelId":1}]})",
      R"({"op":"subscribe","subscriptions":[{"id":4294967296,"channelId":1}]})",
      R"({"op":"subscribe","subscriptions":[{"id":"2","channelId":1}]})",
      R"({"op":"subscribe","subscriptions":[{"id":2}]})",
      R"({"op":"subscribe","subscriptions":[{"id":2,"channelId":0}]})",
      R"({"op":"subscribe","subscriptions":[{"id":2,"channelId":6}]})",
      R"({"op":"subscribe","subscriptions":[{"id":1,"channelId":1}]})",  // id in use
      R"({"op":"unsubscribe","subscriptionIds":"1"})",
      R"({"op":"unsubscribe","subscriptionIds":[-3]})",
      R"({"op":"advertise","channels":[]})",
      R"({"op":"fetchAsset","uri":"x","requestId":1})",
      R"({"op":"launchMissiles"})",
      "{\"op\":\"\xff\xfe\"}",
  };
  for (const char* request : requests) {
    const auto replies = statuses(subs.handle(request, changed));
    ASSERT_EQ(replies.size(), 1u) << request;
    EXPECT_EQ(replies[0].first, 2) << request;
    EXPECT_FALSE(changed) << request;
  }
  EXPECT_EQ(subs.on(LiveChannel::kPointsWindow), (std::vector<uint32_t>{1}));
  EXPECT_FALSE(subs.any_on(LiveChannel::kPoints));
}

TEST(Subscriptions, AClientHoldsABoundedNumber) {
  Subscriptions subs;
  bool changed = false;
  json request = {{"op", "subscribe"}, {"subscriptions", json::array()}};
  for (uint32_t id = 0; id < Subscriptions::kMaxSubscriptions + 3; ++id) {
    request["subscriptions"].push_back({{"id", id}, {"channelId", 1}});
  }
  EXPECT_EQ(statuses(subs.handle(request.dump(), changed)).size(), 3u);
  EXPECT_EQ(subs.on(LiveChannel::kPoints).size(), Subscriptions::kMaxSubscriptions);
}

TEST(Channels, AdvertisedWithTheirSchemaNamesAndSchemasThatParse) {
  const json advertise = json::parse(advertise_message());
  ASSERT_EQ(advertise.at("channels").size(), kLiveChannelCount);
  std::vector<std::string> topics;
  for (const json& channel : advertise.at("channels")) {
    topics.push_back(channel.at("topic"));
    EXPECT_EQ(channel.at("encoding"), "json");
    EXPECT_EQ(channel.at("schemaEncoding"), "jsonschema");
    EXPECT_NO_THROW(json::parse(channel.at("schema").get<std::string>())) << channel.at("topic");
  }
  EXPECT_EQ(topics, (std::vector<std::string>{"/lidar/points", "/lidar/points_window",
                                              "/lidar/obstacles", "/lidar/state", "/tf"}));
  EXPECT_EQ(advertise["channels"][2]["schemaName"], "foxglove.SceneUpdate");
}

}  // namespace
}  // namespace app
