#include "plugin/host_requests.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "binding/record_builder.h"
#include "plugin/telemetry_sink.h"
#include "plugin_fixture.h"

namespace mau {
namespace {

using test::StartedPlugin;
using test::TestHost;

struct Skin {
  int32_t id = 0;
  std::string name;
};

class HostRequestsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(plugin.started);
    plugin->Registry().Record<Skin>("Skin").Field("id", &Skin::id).Field("name", &Skin::name);
  }
  // Every response the host filled was released exactly once.
  void ExpectAllReleased() {
    EXPECT_EQ(host.responsesReleased, host.responsesFilled) << "a host response was not released";
  }

  TestHost host;
  StartedPlugin<> plugin{host};
};

BindingValue SkinValue(int32_t id, const char* name) {
  BindingValue value;
  value.MemberForWriting("id") = id;
  value.MemberForWriting("name") = name;
  return value;
}

TEST_F(HostRequestsTest, AValueComesBackAndTheRequestCarriesMethodUrlAndHandle) {
  host.answers["/mau-chat/v1/me"].value = SkinValue(7, "Ember");
  RequestResult<BindingValue> result = plugin->RequestValue(RequestMethod::Get, "/mau-chat/v1/me");
  ASSERT_TRUE(result.ok()) << result.error.message;
  EXPECT_EQ(result.value, SkinValue(7, "Ember"));
  ASSERT_EQ(host.requests.size(), 1u);
  EXPECT_EQ(host.requests[0].method, 2u);
  EXPECT_EQ(host.requests[0].url, "/mau-chat/v1/me");
  EXPECT_EQ(host.requests[0].requestId, TestHost::kHostHandle);
  EXPECT_TRUE(host.requests[0].arguments.empty());
  ExpectAllReleased();
}

TEST_F(HostRequestsTest, FailuresNameMethodUrlAndCauseAndReleaseTheResponse) {
  host.answers["/gone"].error = "Resource not found";
  host.answers["/gone"].status = 404;
  host.answers["/odd"].rawType = 77;  // a type code the conversion does not know
  auto& broken = host.answers["/stream/broken"];
  broken.streamed = true;
  broken.chunks = {"{\"a\":"};
  broken.streamFails = true;
  auto& invalid = host.answers["/stream/invalid"];
  invalid.streamed = true;
  invalid.chunks = {"{\"a\":}"};

  struct Case {
    RequestMethod method;
    const char* url;
    int32_t code;
    const char* message;
  };
  const Case cases[] = {
      {RequestMethod::Get, "/gone", 404, "Error response for GET /gone: Resource not found"},
      {RequestMethod::Custom, "/gone", 404, "Error response for  /gone: Resource not found"},
      {static_cast<RequestMethod>(42), "/gone", 404,
       "Error response for  /gone: Resource not found"},
      {RequestMethod::Put, "/odd", 0,
       "Error converting response for PUT /odd: Couldn't assign value to '<result>' of type "
       "object because the input is of an incompatible type ''."},
      {RequestMethod::Get, "/stream/broken", 0,
       "Error reading streamed response for GET /stream/broken: Stream read error"},
      {RequestMethod::Get, "/stream/invalid", 0,
       "Error reading streamed response for GET /stream/invalid: Error: Invalid value. at offset "
       "5."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    const RequestResult<BindingValue> result = plugin->RequestValue(c.method, c.url);
    EXPECT_TRUE(result.failed);
    EXPECT_TRUE(result.value.is_empty());
    EXPECT_EQ(result.error.code, c.code);
    EXPECT_EQ(result.error.message, c.message);
    EXPECT_EQ(result.error.details.at("url"), TemplateValue(c.url));
    EXPECT_EQ(result.error.details.count("errorCode_int"), c.code != 0 ? 1u : 0u);
    ExpectAllReleased();
  }
  EXPECT_EQ(host.requests[1].method, 8u) << "a custom method code is sent as it is";
  EXPECT_EQ(host.requests[2].method, 0u) << "a code outside 1..8 is sent as 0";
  EXPECT_EQ(host.streamsReleased, 2) << "a failed stream is still released";
}

TEST_F(HostRequestsTest, AStreamedBodyYieldsOnlyAfterAShortChunkWithMoreToCome) {
  const std::string body = "[\"" + std::string(8000, 'x') + "\"]";  // 8004 bytes
  auto& whole = host.answers["/whole"];
  whole.streamed = true;
  whole.chunks = {body.substr(0, 4096), body.substr(4096)};
  whole.bodyLength = body.size();
  auto& trickle = host.answers["/trickle"];
  trickle.streamed = true;
  trickle.chunks = {body.substr(0, 100), body.substr(100, 4096), body.substr(4196)};
  trickle.bodyLength = 0xFFFFFFFFFFull;  // a capacity hint far too large to reserve

  for (const char* url : {"/whole", "/trickle"}) {
    SCOPED_TRACE(url);
    host.calls.clear();
    const RequestResult<BindingValue> result = plugin->RequestValue(RequestMethod::Get, url);
    ASSERT_TRUE(result.ok()) << result.error.message;
    EXPECT_EQ(result.value.Element(0).AsString().size(), 8000u);
  }
  EXPECT_EQ(host.calls, (std::vector<std::string>{"read", "BeginWait:Wait: yield:0", "YieldToHost",
                                                  "EndWait", "read", "read"}))
      << "only the short first chunk of /trickle is followed by a yield";
  EXPECT_EQ(host.streamsReleased, 2);
  ExpectAllReleased();
}

TEST_F(HostRequestsTest, RecordsConvertThroughTheRegistry) {
  BindingValue list;
  list.EnsureCollection();
  list.AppendElement() = SkinValue(1, "Ember");
  list.AppendElement();  // an empty element leaves a default record
  list.AppendElement() = SkinValue(3, "Frost");
  host.answers["/skins"].value = list;
  host.answers["/one"].value = SkinValue(2, "Dune");

  const RequestResult<std::vector<Skin>> skins =
      plugin->RequestRecord<std::vector<Skin>>(RequestMethod::Get, "/skins");
  ASSERT_TRUE(skins.ok()) << skins.error.message;
  ASSERT_EQ(skins.value.size(), 3u);
  EXPECT_EQ(skins.value[0].name, "Ember");
  EXPECT_EQ(skins.value[1].id, 0);
  EXPECT_EQ(skins.value[2].id, 3);

  const RequestResult<std::vector<Skin>> notAList =
      plugin->RequestRecord<std::vector<Skin>>(RequestMethod::Get, "/one");
  EXPECT_TRUE(notAList.failed);
  EXPECT_TRUE(notAList.value.empty());
  EXPECT_EQ(notAList.error.message,
            "Error converting response for GET /one: Couldn't assign value to '<result>' of type "
            "vector because the input not a collection.");

  const RequestResult<Skin> one = plugin->RequestRecord<Skin>(RequestMethod::Get, "/one");
  ASSERT_TRUE(one.ok()) << one.error.message;
  EXPECT_EQ(one.value.name, "Dune");

  const RequestResult<Skin> missing = plugin->RequestRecord<Skin>(RequestMethod::Get, "/none");
  EXPECT_EQ(missing.error.code, 404);
  ExpectAllReleased();
}

TEST_F(HostRequestsTest, ArgumentsTravelAsTypedArgumentsInNameOrder) {
  host.answers["/telemetry/v1/events/login"] = {};
  const RequestArguments arguments{{"zone", BindingValue("euw")}, {"attempt", BindingValue(2)}};
  std::future<RequestResult<NoValue>> posted = plugin->Telemetry()->PostEvent("login", arguments);
  ASSERT_EQ(posted.wait_for(std::chrono::seconds(0)), std::future_status::ready);
  EXPECT_TRUE(posted.get().ok());
  ASSERT_EQ(host.requests.size(), 1u);
  const TestHost::Request& sent = host.requests[0];
  EXPECT_EQ(sent.method, 6u);
  EXPECT_EQ(sent.url, "/telemetry/v1/events/login");
  ASSERT_EQ(sent.arguments.size(), 2u);
  EXPECT_EQ(sent.arguments[0].first, "attempt");
  EXPECT_EQ(sent.arguments[0].second.AsSigned(), 2);
  EXPECT_EQ(sent.arguments[1].first, "zone");
  EXPECT_EQ(sent.arguments[1].second.AsString(), "euw");

  const RequestResult<NoValue> refused =
      plugin->RequestWithArguments(RequestMethod::Post, "/unknown", arguments);
  EXPECT_EQ(refused.error.code, 404);
  ExpectAllReleased();
}

TEST_F(HostRequestsTest, ArgumentsThatDoNotConvertSendNothing) {
  BindingValue deep;
  BindingValue* node = &deep;
  for (size_t i = 0; i <= kMaxHostValueNesting; ++i) node = &node->AppendElement();
  const RequestArguments arguments{{"fine", BindingValue(1)}, {"tree", deep}};
  std::future<RequestResult<NoValue>> posted = plugin->Telemetry()->PostEvent("crash", arguments);
  const RequestResult<NoValue> result = posted.get();
  EXPECT_TRUE(result.failed);
  EXPECT_EQ(result.error.code, 400);
  EXPECT_EQ(result.error.message,
            "Request not sent: Error converting parameters for POST /telemetry/v1/events/crash: "
            "Couldn't convert argument 'tree' into a host value.");
  EXPECT_TRUE(host.requests.empty());
}

}  // namespace
}  // namespace mau
