// RedisPublisher against a real redis-server started on a free loopback port.
#include "publication/redis_publisher.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "tests/app/publication/command_proxy.h"
#include "tests/app/publication/redis_server.h"

namespace app {
namespace {

using testing_support::Command;
using testing_support::CommandProxy;
using testing_support::RedisProbe;
using testing_support::RedisServer;

constexpr const char* kKey = "ctx:teste";

int count_lines(const std::string& text, const std::string& prefix) {
  int count = 0;
  std::size_t pos = 0;
  while ((pos = text.find(prefix, pos)) != std::string::npos) {
    ++count;
    pos += prefix.size();
  }
  return count;
}

class RedisPublisherTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server.start());
    probe = std::make_unique<RedisProbe>(server.port());
  }

  RedisServer server;
  std::unique_ptr<RedisProbe> probe;
};

TEST_F(RedisPublisherTest, AbsentKeyGetsExactlyThePathsSortedAtEveryLevelAndTheTtl) {
  testing::internal::CaptureStdout();
  RedisPublisher publisher(server.uri());
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "[REDIS] conectado.\n");

  const PathEntryList entries = {{"z", "1"},          {"b.y", "true"},  {"b.a", "\"x\""},
                                 {"a.c.b", "0.50"},  {"a.c.a", "2"},   {"B", "[]"}};
  ASSERT_TRUE(publisher.set_json_merge_paths(kKey, entries, 10, "."));
  EXPECT_EQ(probe->get(kKey).value_or(""),
            R"({"B":[],"a":{"c":{"a":2,"b":0.5}},"b":{"a":"x","y":true},"z":1})");
  const long long ttl = probe->ttl(kKey);
  EXPECT_GT(ttl, 0);
  EXPECT_LE(ttl, 10);
}

TEST_F(RedisPublisherTest, StoredValueThatIsNotAJsonObjectIsReplacedByTheEntries) {
  RedisPublisher publisher(server.uri());
  for (const char* stored : {"not json {", "[1,2]", "42", "\"text\"", "null", ""}) {
    probe->set(kKey, stored);
    ASSERT_TRUE(publisher.set_json_merge_paths(kKey, {{"x", "1"}}, 10, ".")) << stored;
    EXPECT_EQ(probe->get(kKey).value_or(""), R"({"x":1})") << stored;
  }
}

TEST_F(RedisPublisherTest, MergeKeepsOtherMembersAndReplacesNonObjectsOnTheWay) {
  probe->set(kKey, R"({"bboxes":[{"cx":1.0}],"dist":5,"freq":{"imu":1.0},"outro":{"x":"y"}})");
  RedisPublisher publisher(server.uri());
  ASSERT_TRUE(publisher.set_json_merge_paths(kKey, {{"dist.frente", "1.25"}, {"freq.pcl", "9.00"}},
                                             10, "."));
  EXPECT_EQ(probe->get(kKey).value_or(""),
            R"({"bboxes":[{"cx":1.0}],"dist":{"frente":1.25},"freq":{"imu":1.0,"pcl":9.0},)"
            R"("outro":{"x":"y"}})");
}

TEST_F(RedisPublisherTest, ValueTextsBecomeTheirJsonValuesOrStrings) {
  RedisPublisher publisher(server.uri());
  const PathEntryList entries = {{"b", "true"}, {"s", "\"texto\""}, {"n", "12.50"},
                                 {"e", "[]"},   {"x", "nan"},       {"y", "{quebrado"},
                                 {"i", "-inf"}, {"n2", "3"},        {"n2", "4"},
                                 {"u", "\"a\xFF\""}};
  ASSERT_TRUE(publisher.set_json_merge_paths(kKey, entries, 10, "."));
  // A byte that is not UTF-8 is replaced by U+FFFD rather than refused by the serialiser.
  EXPECT_EQ(probe->get(kKey).value_or(""),
            R"({"b":true,"e":[],"i":"-inf","n":12.5,"n2":4,"s":"texto","u":"\"a)"
            "\xEF\xBF\xBD"
            R"(\"","x":"nan","y":"{quebrado"})");
}

TEST_F(RedisPublisherTest, TtlOfZeroSendsNoExpire) {
  CommandProxy proxy(server.port());
  RedisPublisher publisher(proxy.uri());
  proxy.clear();
  ASSERT_TRUE(publisher.set_json_merge_paths(kKey, {{"a", "1"}}, 0, "."));
  EXPECT_EQ(proxy.command_names(),
            (std::vector<std::string>{"WATCH", "GET", "MULTI", "SET", "EXEC"}));
  EXPECT_EQ(probe->ttl(kKey), -1);

  proxy.clear();
  ASSERT_TRUE(publisher.set_json_merge_paths(kKey, {{"a", "2"}}, 3, "."));
  const auto commands = proxy.commands();
  ASSERT_EQ(commands.size(), 6u);
  EXPECT_EQ(commands[4], (Command{"EXPIRE", kKey, "3"}));
}

// SET, EXPIRE and EXEC go out together: when the server refuses the SET (a full server), the
// replies still waiting must not be read as the answers to the next document's commands.
TEST_F(RedisPublisherTest, AWriteRefusedInsideTheTransactionLeavesTheNextOnesInStep) {
  RedisPublisher publisher(server.uri());
  ASSERT_TRUE(publisher.set_json_merge_paths(kKey, {{"a", "1"}}, 10, "."));
  probe->config_set("maxmemory-policy", "noeviction");
  probe->config_set("maxmemory", "1");
  testing::internal::CaptureStderr();
  EXPECT_FALSE(publisher.set_json_merge_paths(kKey, {{"a", "2"}}, 10, "."));
  EXPECT_EQ(testing::internal::GetCapturedStderr().rfind("[REDIS] exec falhou: OOM", 0), 0u);
  probe->config_set("maxmemory", "0");
  ASSERT_TRUE(publisher.set_json_merge_paths(kKey, {{"b", "3"}}, 10, "."));
  ASSERT_TRUE(publisher.set_json_merge_paths(kKey, {{"c", "4"}}, 0, "."));
  EXPECT_EQ(probe->get(kKey).value_or(""), R"({"a":1,"b":3,"c":4})");
  EXPECT_EQ(probe->ttl(kKey), -1);
}

TEST_F(RedisPublisherTest, AbortedTransactionIsRedoneFromAFreshRead) {
  std::atomic<int> aborts_left{2};
  std::atomic<int> other_writes{0};
  RedisProbe writer(server.port());
  CommandProxy proxy(server.port(), [&](const Command& command) {
    if (command[0] == "EXEC" && aborts_left.fetch_sub(1) > 0) {
      const int n = ++other_writes;
      writer.set(kKey, "{\"outro\":" + std::to_string(n) + "}");
    }
  });
  RedisPublisher publisher(proxy.uri());
  proxy.clear();

  testing::internal::CaptureStderr();
  EXPECT_TRUE(publisher.set_json_merge_paths(kKey, {{"meu", "1"}}, 10, "."));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(probe->get(kKey).value_or(""), R"({"meu":1,"outro":2})");
  int watches = 0;
  for (const auto& name : proxy.command_names()) watches += name == "WATCH";
  EXPECT_EQ(watches, 3);
}

TEST_F(RedisPublisherTest, FiveAbortedTransactionsReturnFalseAfterUnwatch) {
  RedisProbe writer(server.port());
  int n = 0;
  CommandProxy proxy(server.port(), [&](const Command& command) {
    if (command[0] == "EXEC") writer.set(kKey, "{\"outro\":" + std::to_string(++n) + "}");
  });
  RedisPublisher publisher(proxy.uri());
  proxy.clear();

  testing::internal::CaptureStderr();
  EXPECT_FALSE(publisher.set_json_merge_paths(kKey, {{"meu", "1"}}, 10, "."));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

  std::vector<std::string> expected;
  for (int i = 0; i < 5; ++i)
    expected.insert(expected.end(),
                    {"WATCH", "GET", "MULTI", "SET", "EXPIRE", "EXEC", "UNWATCH"});
  expected.push_back("UNWATCH");
  EXPECT_EQ(proxy.command_names(), expected);
  EXPECT_EQ(probe->get(kKey).value_or(""), R"({"outro":5})");
}

TEST_F(RedisPublisherTest, ConcurrentWritersLoseNoMember) {
  constexpr int kCalls = 150;
  std::vector<int> published[2];
  auto writer = [&](int id) {
    RedisPublisher publisher(server.uri());
    const std::string group = "w" + std::to_string(id);
    for (int i = 0; i < kCalls; ++i) {
      if (publisher.set_json_merge_paths(kKey, {{group + ".k" + std::to_string(i),
                                                 std::to_string(i)}}, 10, "."))
        published[id].push_back(i);
    }
  };
  std::thread first(writer, 0);
  std::thread second(writer, 1);
  first.join();
  second.join();

  const auto stored = nlohmann::json::parse(probe->get(kKey).value_or("{}"));
  for (int id = 0; id < 2; ++id) {
    EXPECT_GT(published[id].size(), static_cast<std::size_t>(kCalls / 2));
    const auto& group = stored.at("w" + std::to_string(id));
    for (int i : published[id]) EXPECT_EQ(group.value("k" + std::to_string(i), -1), i);
  }
}

TEST_F(RedisPublisherTest, UnusableUriLeavesNoClientAndCallsFailSilently) {
  testing::internal::CaptureStderr();
  RedisPublisher publisher(std::string("redis-sem-esquema"));
  EXPECT_EQ(testing::internal::GetCapturedStderr().rfind("[REDIS] falha ao conectar: ", 0), 0u);
  testing::internal::CaptureStderr();
  EXPECT_FALSE(publisher.set_json_merge_paths(kKey, {{"a", "1"}}, 10, "."));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

// Publication must pick up again by itself whenever the server (re)appears. Failed calls in
// between say so, each kind of line at most once a second.
TEST(RedisPublisherRecovery, ServerDownAtStartThenStarted) {
  RedisServer server;
  testing::internal::CaptureStderr();
  RedisPublisher publisher(server.uri());
  for (int i = 0; i < 3; ++i)
    EXPECT_FALSE(publisher.set_json_merge_paths(kKey, {{"a", "1"}}, 10, "."));
  const std::string errors = testing::internal::GetCapturedStderr();
  EXPECT_EQ(count_lines(errors, "[REDIS] falha ao conectar: "), 1);
  EXPECT_EQ(count_lines(errors, "[REDIS] erro set_json_merge_paths: "), 1);
  EXPECT_EQ(count_lines(errors, "\n"), 2);

  ASSERT_TRUE(server.start());
  EXPECT_TRUE(publisher.set_json_merge_paths(kKey, {{"a", "2"}}, 10, "."));
  EXPECT_EQ(RedisProbe(server.port()).get(kKey).value_or(""), R"({"a":2})");
}

TEST(RedisPublisherRecovery, ServerKilledThenRestartedMidRun) {
  RedisServer server;
  ASSERT_TRUE(server.start());
  RedisPublisher publisher(server.uri());
  ASSERT_TRUE(publisher.set_json_merge_paths(kKey, {{"a", "1"}}, 10, "."));

  server.kill();
  testing::internal::CaptureStderr();
  EXPECT_FALSE(publisher.set_json_merge_paths(kKey, {{"a", "2"}}, 10, "."));
  EXPECT_FALSE(publisher.set_json_merge_paths(kKey, {{"a", "3"}}, 10, "."));
  const std::string errors = testing::internal::GetCapturedStderr();
  EXPECT_EQ(count_lines(errors, "[REDIS] erro set_json_merge_paths: "), 1);
  EXPECT_EQ(count_lines(errors, "\n"), 1);

  ASSERT_TRUE(server.start());
  EXPECT_TRUE(publisher.set_json_merge_paths(kKey, {{"a", "4"}}, 10, "."));
  EXPECT_EQ(RedisProbe(server.port()).get(kKey).value_or(""), R"({"a":4})");
}

TEST(RedisPublisherRecovery, HungServerCostsAboutOneSecondThenRecovers) {
  RedisServer server;
  ASSERT_TRUE(server.start());
  RedisPublisher publisher(server.uri());
  ASSERT_TRUE(publisher.set_json_merge_paths(kKey, {{"a", "1"}}, 10, "."));

  server.pause_process();
  testing::internal::CaptureStderr();
  const auto begin = std::chrono::steady_clock::now();
  EXPECT_FALSE(publisher.set_json_merge_paths(kKey, {{"a", "2"}}, 10, "."));
  const auto took = std::chrono::steady_clock::now() - begin;
  EXPECT_EQ(count_lines(testing::internal::GetCapturedStderr(),
                        "[REDIS] erro set_json_merge_paths: "),
            1);
  EXPECT_LT(took, std::chrono::milliseconds(2500));

  server.resume_process();
  EXPECT_TRUE(publisher.set_json_merge_paths(kKey, {{"a", "3"}}, 10, "."));
  EXPECT_EQ(RedisProbe(server.port()).get(kKey).value_or(""), R"({"a":3})");
}

}  // namespace
}  // namespace app
