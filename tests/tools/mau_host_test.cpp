// The reference host's own parts: session lines, the resource store, event names and the
// JSON to host value conversion.
#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <string>

#include "host_runtime.h"
#include "host_value_json.h"
#include "resource_store.h"
#include "session_script.h"
#include "support/test_support.h"

namespace mau::host {
namespace {

TEST(SessionScript, ParsesStepsAndReportsBadLines) {
  struct Case {
    const char* line;
    bool step;
    const char* error;  // empty: no error
    double at;
    const char* uri;
    bool remove;
    const char* data;
  };
  const Case cases[] = {
      {R"({"at": 1.5, "uri": "/mau-chat/v1/me", "data": {"b": [1, 2]}})", true, "", 1.5,
       "/mau-chat/v1/me", false, R"({"b":[1,2]})"},
      {R"({"uri": "/x", "delete": true})", true, "", 0, "/x", true, "null"},
      {R"({"uri": "/x", "delete": false, "data": null, "note": "ignored"})", true, "", 0, "/x",
       false, "null"},
      {R"({"at": 0, "uri": "/x", "data": 1})", true, "", 0, "/x", false, "1"},
      {"   ", false, "", 0, "", false, ""},
      {"not json", false, "session line 7: not valid JSON (Invalid value. at offset 1)", 0, "",
       false, ""},
      {R"({"at": 1})", false, "session line 7: lacks \"uri\"", 0, "", false, ""},
      {R"({"uri": 5, "data": 1})", false, "session line 7: uri must be a string", 0, "", false, ""},
      {R"({"at": "x", "uri": "/x", "data": 1})", false,
       "session line 7: at must be a number of seconds, 0 or more", 0, "", false, ""},
      {R"({"at": -1, "uri": "/x", "data": 1})", false,
       "session line 7: at must be a number of seconds, 0 or more", 0, "", false, ""},
      {R"({"at": 1e400, "uri": "/x", "data": 1})", false,
       "session line 7: not valid JSON (Number too big to be stored in double. at offset 7)", 0, "",
       false, ""},
      {R"({"uri": "/x", "delete": "yes"})", false, "session line 7: delete must be true or false",
       0, "", false, ""},
      {R"({"uri": "/x"})", false, "session line 7: lacks \"data\" (or \"delete\": true)", 0, "",
       false, ""},
      {R"({"uri": "/x", "delete": true, "data": 1})", false,
       "session line 7: has both \"data\" and \"delete\": true", 0, "", false, ""},
      {"[1]", false, "session line 7: not a JSON object", 0, "", false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    const SessionLine parsed = ParseSessionLine(c.line, 7);
    EXPECT_EQ(parsed.error, c.error);
    ASSERT_EQ(parsed.step.has_value(), c.step);
    if (!c.step) continue;
    EXPECT_EQ(parsed.step->at, c.at);
    EXPECT_EQ(parsed.step->uri, c.uri);
    EXPECT_EQ(parsed.step->remove, c.remove);
    EXPECT_EQ(parsed.step->dataJson, c.data);
    EXPECT_EQ(parsed.step->line, 7);
  }
  const SessionLine first = ParseSessionLine("\xEF\xBB\xBF{\"uri\": \"/x\", \"data\": 1}", 1);
  EXPECT_EQ(first.error, "") << "a byte-order mark may start the first line";
  EXPECT_TRUE(first.step.has_value());
  const std::string deep =
      R"({"uri":"/x","data":)" + std::string(1000, '[') + std::string(1000, ']') + "}";
  EXPECT_EQ(ParseSessionLine(deep, 1).error, "session line 1: nests too deeply");
}

TEST(ResourceStore, FilesOverlaidBySessionChanges) {
  test::TempDir dir;
  std::filesystem::create_directories(dir.path() / "a" / "b");
  std::ofstream(dir.path() / "a" / "b" / "c.json") << R"({"from":"json file"})";
  std::ofstream(dir.path() / "a" / "exact") << R"({"from":"exact file"})";
  std::ofstream(dir.path() / "a" / "exact.json") << R"({"from":"not this one"})";
  std::ofstream(dir.path().parent_path() / "outside.json") << "{}";

  ResourceStore store(dir.path());
  EXPECT_EQ(store.Get("/a/b/c").value_or("missing"), R"({"from":"json file"})");
  EXPECT_EQ(store.Get("/a/exact").value_or("missing"), R"({"from":"exact file"})");
  EXPECT_EQ(store.Get("a/b/c?x=1").value_or("missing"), R"({"from":"json file"})");
  EXPECT_FALSE(store.Get("/a/missing"));
  EXPECT_FALSE(store.Get("/../outside")) << "URIs never leave the folder";

  store.Set("/a/b/c", "[1]");
  EXPECT_EQ(store.Get("/a/b/c").value_or("missing"), "[1]");
  store.Delete("/a/b/c");
  EXPECT_FALSE(store.Exists("/a/b/c")) << "a deleted file-backed resource is gone";
  store.Set("/new", "2");
  EXPECT_TRUE(store.Exists("/new"));
}

TEST(HostRuntime, EventNamesFollowTheUri) {
  EXPECT_EQ(HostRuntime::EventNameForUri("/mau-chat/v1/me"), "OnJsonApiEvent_mau-chat_v1_me");
  EXPECT_EQ(HostRuntime::EventNameForUri("/mau-platform-config/v1/namespaces/DiscordRP/IsEnabled"),
            "OnJsonApiEvent_mau-platform-config_v1_namespaces_DiscordRP_IsEnabled");
  EXPECT_EQ(HostRuntime::EventNameForUri("/mau-game-data/assets/v1/champion-summary.json"),
            "OnJsonApiEvent_mau-game-data_assets_v1");
  EXPECT_EQ(HostRuntime::EventNameForUri("//a//b"), "OnJsonApiEvent_a_b");
}

TEST(HostValueJson, BuildsOwnedTrees) {
  HostValue v;
  std::string error;
  ASSERT_TRUE(JsonToHostValue(
      R"({"s":"x","n":-1,"u":18446744073709551615,"f":1.5,"b":true,"a":[null]})", &v, &error));
  ASSERT_EQ(uint32_t{v.type}, static_cast<uint32_t>(MAU_HOST_VALUE_STRUCTURE));
  ASSERT_EQ(uint32_t{v.payload.structure.count}, 6u);
  const HostStructureEntry* e = v.payload.structure.entries;
  EXPECT_STREQ(e[0].name, "s");
  EXPECT_EQ(uint32_t{e[0].value.type}, static_cast<uint32_t>(MAU_HOST_VALUE_STRING_OWNED));
  EXPECT_STREQ(e[0].value.payload.string.text, "x");
  EXPECT_EQ(int64_t{e[1].value.payload.signedValue}, -1);  // packed: compare copies
  EXPECT_EQ(uint32_t{e[2].value.type}, static_cast<uint32_t>(MAU_HOST_VALUE_UNSIGNED));
  EXPECT_EQ(double{e[3].value.payload.floatValue}, 1.5);
  EXPECT_EQ(int{e[4].value.payload.boolean}, 1);
  EXPECT_EQ(uint32_t{e[5].value.type}, static_cast<uint32_t>(MAU_HOST_VALUE_COLLECTION));
  FreeHostValue(&v);
  EXPECT_EQ(uint32_t{v.type}, 0u);

  // A resource file saved by an editor on Windows starts with a byte-order mark.
  ASSERT_TRUE(JsonToHostValue("\xEF\xBB\xBF[1]", &v, &error)) << error;
  EXPECT_EQ(uint32_t{v.type}, static_cast<uint32_t>(MAU_HOST_VALUE_COLLECTION));
  FreeHostValue(&v);

  EXPECT_FALSE(JsonToHostValue("{", &v, &error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(JsonToHostValue(std::string(300, '[') + std::string(300, ']'), &v, &error));
  EXPECT_EQ(error, "nesting is too deep");
}

}  // namespace
}  // namespace mau::host
