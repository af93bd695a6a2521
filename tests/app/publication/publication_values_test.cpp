// Value texts and path setting, without a server.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "publication/diag_document.h"
#include "publication/json_path.h"
#include "publication/redis_publisher.h"
#include "publication/state_documents.h"

namespace app {
namespace {

using nlohmann::json;

TEST(SetJsonPath, WalksCreatesAndReplacesAlongThePath) {
  json document = json::parse(R"({"a":{"keep":1},"n":null,"s":"x"})");
  set_json_path(document, "a.b.c", "1", ".");
  set_json_path(document, "n.m", "2", ".");
  set_json_path(document, "s.t", "3", ".");
  set_json_path(document, "x..y", "4", ".");
  set_json_path(document, "plain", "5", ".");
  set_json_path(document, "p::q", "6", "::");
  EXPECT_EQ(document.dump(),
            R"({"a":{"b":{"c":1},"keep":1},"n":{"m":2},"p":{"q":6},"plain":5,"s":{"t":3},)"
            R"("x":{"":{"y":4}}})");
}

// Found by fuzzing the merge: a stored document nested 100000 levels deep (600 kB, which any
// program with access to Redis can write under our key) overflowed the stack when the merged
// document was serialised. Such a document is now treated like one that is not JSON.
TEST(MergeJsonDocument, StoredDocumentsNestedTooDeepAreReplaced) {
  std::string deep;
  for (int i = 0; i < 100000; ++i) deep += "{\"a\":";
  deep += "1" + std::string(100000, '}');
  EXPECT_EQ(merge_json_document(deep, {{"freq.pcl", "10.00"}}, "."), R"({"freq":{"pcl":10.0}})");

  EXPECT_EQ(merge_json_document(std::string(R"({"outro":{"b":[1,{"c":2}]}})"), {{"x", "1"}}, "."),
            R"({"outro":{"b":[1,{"c":2}]},"x":1})");
  EXPECT_EQ(merge_json_document(std::nullopt, {{"x", "1"}}, "."), R"({"x":1})");
  EXPECT_EQ(merge_json_document(std::string("[1]"), {{"x", "1"}}, "."), R"({"x":1})");
}

TEST(ValueTexts, FixedNotationKeepsTheRequestedDecimals) {
  PathEntryList entries;
  add_fixed(entries, "a", 0.5, 2);
  add_fixed(entries, "b", -0.001, 2);
  add_fixed(entries, "c", 1700000000123.0, 2);
  add_integer(entries, "d", 18446744073709551615ull);
  EXPECT_EQ(entries, (PathEntryList{{"a", "0.50"},
                                    {"b", "-0.00"},
                                    {"c", "1700000000123.00"},
                                    {"d", "18446744073709551615"}}));
}

TEST(ValueTexts, QuotedDeviceTextIsStoredAsThatVeryString) {
  for (const std::string& text : {std::string("OMNI \"2\" C:\\fw"), std::string(""),
                                 std::string("tab\tline\nnul\0x", 14)}) {
    PathEntryList entries;
    add_quoted(entries, "s", text);
    json document = json::object();
    set_json_path(document, "s", entries[0].second, ".");
    EXPECT_EQ(document["s"], text);
  }
}

TEST(ValueTexts, InvalidUtf8IsReplacedInsteadOfEndingTheProcess) {
  PathEntryList entries;
  add_quoted(entries, "s", "fw\xE3\xFF" "1");
  json document = json::object();
  set_json_path(document, "s", entries[0].second, ".");
  EXPECT_EQ(document["s"], "fw\xEF\xBF\xBD\xEF\xBF\xBD" "1");
}

TEST(DiagEntries, KernelDropsAreNullWhereThePlatformCountsNone) {
  LidarHealthCounters sdk{};
  sdk.kernel_drops = 6;
  const auto kernel = [&] {
    json document = json::object();
    for (const auto& [path, text] :
         build_diag_entries(1, sdk, AppHealth{}, ProgressVerdict{}, {})) {
      set_json_path(document, path, text, ".");
    }
    return document["sdk"]["descartados"]["kernel"];
  };
  EXPECT_EQ(kernel(), 6);
  sdk.kernel_drops_unavailable = true;
  EXPECT_TRUE(kernel().is_null()) << "never a false 0";
}

TEST(DiagEntries, TheMountingOffsetWhenGivenAndTheGroundOrThatNoneIsSeen) {
  const auto document = [](const DiagGeometry& geometry) {
    json out = json::object();
    for (const auto& [path, text] :
         build_diag_entries(1, LidarHealthCounters{}, AppHealth{}, ProgressVerdict{}, geometry)) {
      set_json_path(out, path, text, ".");
    }
    return out;
  };
  EXPECT_FALSE(document({}).contains("montagem"));
  EXPECT_EQ(document({})["chao"],
            json::parse(R"({"visto": false, "altura_m": null, "inclinacao_graus": null})"));
  DiagGeometry geometry;
  geometry.ground = GroundEstimate{true, {0.f, 0.f, 1.f}, 0.4f, 3.04f, 9};
  geometry.mounting.given = true;
  geometry.mounting.xyz_m[0] = 0.125f;
  EXPECT_EQ(document(geometry)["chao"],
            json::parse(R"({"visto": true, "altura_m": 0.4, "inclinacao_graus": 3.0})"));
  EXPECT_EQ(document(geometry)["montagem"]["xyz_m"], json::parse("[0.125, 0.0, 0.0]"));
}

TEST(RenderBboxes, WritesEveryMemberInOrderWithThreeDecimals) {
  StatusSnapshot snapshot;
  EXPECT_EQ(render_bboxes(snapshot), "[]");
  ObstacleBox box;
  box.min_x = 1.f;
  box.min_y = -0.25f;
  box.min_z = 0.f;
  box.max_x = 1.5f;
  box.max_y = 0.25f;
  box.max_z = 1.f;
  box.t_ms = 123456789012ull;
  box.voxels = 77;
  box.cx = 1.25f;
  box.cy = 0.f;
  box.cz = 0.5f;
  box.w = 0.5f;
  box.h = 1.f;
  box.d = 0.5f;
  box.dist_m = 1.3463f;
  box.dist_xy_m = 1.25f;
  box.frente_m = 1.25f;
  snapshot.boxes = {box};
  EXPECT_EQ(render_bboxes(snapshot),
            "[{\"min_x\":1.000,\"min_y\":-0.250,\"min_z\":0.000,\"max_x\":1.500,\"max_y\":0.250,"
            "\"max_z\":1.000,\"t_ms\":123456789012,\"voxels\":77,\"cx\":1.250,\"cy\":0.000,"
            "\"cz\":0.500,\"w\":0.500,\"h\":1.000,\"d\":0.500,\"dist_m\":1.346,"
            "\"dist_xy_m\":1.250,\"frente_m\":1.250}]");
}

}  // namespace
}  // namespace app
