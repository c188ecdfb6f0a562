// The dispatcher through the export entries of a FunctionTable, called as a host calls:
// arguments from every source, each failure text, responses with headers and streams.
#include "binding/routing/dispatch.h"

#include <cstring>
#include <gtest/gtest.h>
#include <stdexcept>
#include <string>
#include <vector>

#include "binding/record_builder.h"
#include "binding/routing/function_table.h"
#include "binding/routing/host_call.h"
#include "binding/routing/routing_catalog.h"
#include "binding/type_registry.h"
#include "binding/value_dump.h"
#include "plugin_library.h"

namespace mau {
namespace {

using test::CallExposed;
using test::Catalog;
using test::Dump;
using test::ExposeCatalog;
using test::HostAnswer;
using test::HostCall;

// The cases run twice: against a FunctionTable in this program, and against the export
// table of the built test plug-in library, loaded and called as a host does.
class DispatchTest : public testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    if (GetParam()) {
      const LoadPluginFn load = LibraryExport();
      ASSERT_NE(load, nullptr);
      load(&api_);
      const PluginExports* const exports = api_.exports;  // a packed field: copy it first
      ASSERT_NE(exports, nullptr);
      exports_ = *exports;
    } else {
      registry_ = std::make_unique<BindingTypeRegistry>();
      functions_ = std::make_unique<FunctionTable>(*registry_, &catalog_);
      ExposeCatalog(*functions_, catalog_);
      EXPECT_TRUE(functions_->RegistrationErrors().empty());
      functions_->FillExports(exports_);
    }
  }

  void TearDown() override {
    if (api_.callbacks != nullptr) api_.callbacks->StopPlugin(api_.pluginContext);
  }

  const PluginFunctionEntry& Entry(std::string_view name) {
    for (uint32_t i = 0; i < exports_.functionCount; ++i) {
      if (name == exports_.functions[i].name) return exports_.functions[i];
    }
    ADD_FAILURE() << "no entry " << name;
    return exports_.functions[0];
  }

  HostAnswer Call(std::string_view name, HostCall call) {
    HostAnswer answer = CallExposed(Entry(name), call);
    EXPECT_TRUE(answer.zeroAfterRelease) << "the release function zeroes the response";
    return answer;
  }

  // How many catalog functions ran so far, asked through the export table.
  int64_t Calls() { return Call("Calls", {.url = "Calls"}).value.AsSigned(); }

  // The library is loaded once and stays loaded: each load of its own C++ runtime sets up
  // blocks that only the end of the process returns. Each test makes a plug-in of its own.
  static LoadPluginFn LibraryExport() {
    static host::PluginLibrary* library = [] {
      auto* loaded = new host::PluginLibrary();
      std::string error;
      if (!loaded->Load(host::ExecutableFolder() + "/" + MAU_ROUTING_TEST_PLUGIN_FILE, &error)) {
        ADD_FAILURE() << error;
      }
      return loaded;
    }();
    return library->Export();
  }

  HostApi api_{18, 0, 0, nullptr, nullptr, nullptr, nullptr};
  std::unique_ptr<BindingTypeRegistry> registry_;
  Catalog catalog_;
  std::unique_ptr<FunctionTable> functions_;
  PluginExports exports_{};
};

INSTANTIATE_TEST_SUITE_P(Entries, DispatchTest, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& param) {
                           return param.param ? "BuiltLibrary" : "InProcess";
                         });

TEST_P(DispatchTest, PathQueryAndTypedArguments) {
  struct Case {
    const char* label;
    HostCall call;
    const char* value;
  };
  BindingValue five(5);
  const Case cases[] = {
      {"path parameters", {.url = "/sum/2/3"}, "i:5"},
      {"percent-decoded path", {.url = "/sum/%2D2/3"}, "i:1"},
      {"the first unnamed typed argument follows the two path parameters",
       {.url = "/sum/2/3", .arguments = {{nullptr, five}}},
       "i:10"},
      {"a named typed argument, whatever its location",
       {.url = "/sum/2/3", .arguments = {{"a", five}}},
       "i:8"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const HostAnswer answer = Call("Sum", c.call);
    EXPECT_EQ(answer.error, "");
    EXPECT_EQ(Dump(answer.value), c.value);
    EXPECT_EQ(answer.status, 0u);
    EXPECT_EQ(answer.statusText, "");
  }
}

TEST_P(DispatchTest, NamedSourcesShapeArguments) {
  struct Case {
    const char* label;
    HostCall call;
    const char* value;
  };
  const Case cases[] = {
      {"nothing given: a non-optional bool is false",
       {.url = "Probe"},
       R"({count:i:0,flag:false,list:null,point:{x:i:0,y:i:0},text:"",userId:""})"},
      {"?flag sets a bool true, ?items= gives an empty vector",
       {.url = "Probe?flag&items="},
       R"({count:i:0,flag:true,list:null,point:{x:i:0,y:i:0},text:"",userId:""})"},
      {"a struct member by member, a collection grown to an index",
       {.url = "Probe?point.x=1&point.y=2&list.2=a&count=4"},
       R"({count:i:4,flag:false,list:[null,null,"a"],point:{x:i:1,y:i:2},text:"",userId:""})"},
      {"a hexadecimal index and a member below it",
       {.url = "Probe?list.0x1.name=b"},
       R"({count:i:0,flag:false,list:[null,{name:"b"}],point:{x:i:0,y:i:0},text:"",userId:""})"},
      {"sniffed MessagePack and YAML for structured parameters",
       {.url = "Probe?point=%82%a1x%03%a1y%04&list=---%0A-%20a%0A-%20b"},
       R"({count:i:0,flag:false,list:["a","b"],point:{x:i:3,y:i:4},text:"",userId:""})"},
      {"sniffed JSON for a struct and a vector; text stays text",
       {.url = "Probe?point=%7B%22x%22:5,%22y%22:6%7D&items=%20[%22p%22,%22q%22]&text="
               "%7B%22a%22:1%7D"},
       R"({count:i:0,flag:false,items:["p","q"],list:null,point:{x:i:5,y:i:6},text:"{\"a\":1}",userId:""})"},
      {"a header named as the parameter in lower case",
       {.url = "Probe", .headers = {{"userid", "u-17"}, {"UserId", "wrong"}}},
       R"({count:i:0,flag:false,list:null,point:{x:i:0,y:i:0},text:"",userId:"u-17"})"},
      {"a header in another case does not bind",
       {.url = "Probe", .headers = {{"UserId", "u-17"}}},
       R"({count:i:0,flag:false,list:null,point:{x:i:0,y:i:0},text:"",userId:""})"},
      {"the largest index", {.url = "Probe?list.65535=z&count=1"}, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const HostAnswer answer = Call("Probe", c.call);
    EXPECT_EQ(answer.error, "");
    if (c.value != nullptr) {
      EXPECT_EQ(Dump(answer.value), c.value);
    }
  }
  const HostAnswer big = Call("Probe", {.url = "Probe?list.65535=z"});
  EXPECT_EQ(big.value.Member("list").size(), 65536u);
  EXPECT_EQ(big.value.Member("list").Element(65535).AsString(), "z");
}

TEST_P(DispatchTest, FailuresStopTheCallWithTheirText) {
  struct Case {
    const char* function;
    HostCall call;
    const char* error;
    uint32_t status;
  };
  const BindingValue one(1);
  const Case cases[] = {
      {"Sum", {.url = "/sum/2"}, "Invalid function", 404},
      {"Sum", {.url = "/sum/2/3/4"}, "Invalid function", 404},
      {"Sum", {.method = MAU_METHOD_POST, .url = "/sum/2/3"}, "Invalid function", 404},
      {"Sum", {.url = "/sum/2/3?d=1"}, "Unknown argument 'd' for 'Sum'.", 0},
      {"Sum",
       {.url = "/sum/2/3?a=1"},
       "Argument 'a' for 'Sum' was specified in an invalid location.",
       0},
      {"Sum",
       {.url = "/sum/2/3", .arguments = {{"zz", one}}},
       "Unknown argument 'zz' for 'Sum'.",
       0},
      {"Sum",
       {.url = "/sum/2/3", .arguments = {{nullptr, one}, {nullptr, one}}},
       "Unknown argument '3' for 'Sum'.",
       0},
      {"Sum", {.url = "/sum/x/3"}, "Value x for 'a' of type int32 is in an incorrect format", 0},
      // The last path parameter takes the query text along.
      {"Sum",
       {.url = "/sum/2/3?c=10"},
       "Value 3?c=10 for 'b' of type int32 is in an incorrect format",
       0},
      {"Probe", {.url = "Probe?count="}, "Expected value for argument 'count'.", 0},
      {"Probe", {.url = "Probe?flag&"}, "Unknown argument '' for 'Probe'.", 0},
      {"Probe", {.url = "Probe?list.1x=a"}, "Index 1x is in an incorrect format", 0},
      {"Probe", {.url = "Probe?list.08=a"}, "Index 08 is in an incorrect format", 0},
      {"Probe", {.url = "Probe?list.4294967296=a"}, "Index 4294967296 is out of range", 0},
      {"Probe", {.url = "Probe?list.2147483648=a"}, "Index 2147483648 is out of range", 0},
      {"Probe", {.url = "Probe?list.2147483647=a"}, "Index 2147483647 is out of range", 0},
      {"Probe", {.url = "Probe?list.65536=a"}, "Index 65536 is out of range", 0},
      {"Probe",
       {.url = "Probe?list.99999999999999999999999=a"},
       "Index 99999999999999999999999 is out of range",
       0},
      // Indexes that each stay in bounds but together would grow without limit.
      {"Probe",
       {.url = "Probe?list.0.65535=a&list.1.65535=a&list.2.65535=a&list.3.65535=a"},
       "Index 65535 is out of range",
       0},
      {"Probe",
       {.url = "Probe?userId=u"},
       "Argument 'userId' for 'Probe' was specified in an invalid location.",
       0},
      {"Probe",
       {.url = "Probe?point=%7Bbad"},
       "Couldn't deserialize JSON value for parameter 'point' of 'Probe': Error: Missing a name "
       "for object member. at offset 1.",
       0},
      {"Store",
       {.method = MAU_METHOD_POST,
        .url = "/store",
        .contentType = "text/plain",
        .body = "{}",
        .hasBody = true},
       "Unsupported body content type",
       0},
      {"Store",
       {.method = MAU_METHOD_POST,
        .url = "/store",
        .contentType = "application/json",
        .body = "{\"a\":",
        .hasBody = true},
       "Error: Invalid value. at offset 5.",
       0},
      {"Store",
       {.method = MAU_METHOD_POST,
        .url = "/store",
        .contentType = "application/x-msgpack",
        .body = "\x91\x01\x02",
        .hasBody = true},
       "Extra MessgePack data found in body",
       0},
      {"Store",
       {.method = MAU_METHOD_POST,
        .url = "/store",
        .contentType = "application/x-msgpack",
        .body = "\x91\xc1",
        .hasBody = true},
       "Invalid MessagePack data at position 2.",
       0},
      {"Store",
       {.method = MAU_METHOD_POST,
        .url = "/store",
        .contentType = "application/x-yaml",
        .body = "a: [1",
        .hasBody = true},
       "YAML parser error: did not find expected ',' or ']'. At line: 1 col: 0",
       0},
      {"Probe",
       {.url = "Probe?point=%81%a1x%c1"},
       "Couldn't deserialize MessagePack value for parameter 'point' of 'Probe': Invalid "
       "MessagePack data at position 4.",
       0},
      {"Probe",
       {.url = "Probe?point=---%0A[1"},
       "Couldn't deserialize YAML value for parameter 'point' of 'Probe': YAML parser error: did "
       "not find expected ',' or ']'. At line: 2 col: 0",
       0},
      {"Throw", {.url = "Throw"}, "the catalog is closed", 500},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.call.url);
    const int64_t before = Calls();
    const HostAnswer answer = Call(c.function, c.call);
    EXPECT_TRUE(answer.hasError);
    EXPECT_EQ(answer.error, c.error);
    EXPECT_EQ(answer.status, c.status);
    EXPECT_EQ(answer.value.kind(), BindingValueKind::Empty);
    EXPECT_EQ(Calls(), before) << "a failed call does not run the function";
  }
}

TEST_P(DispatchTest, DeepKeysAndHeadersOutsideTheirLocation) {
  std::string key = "Probe?list";
  for (int i = 0; i < 600; ++i) key += ".a";
  HostAnswer answer = Call("Probe", {.url = key + "=1"});
  EXPECT_EQ(answer.error.rfind("Key 'a.a.a", 0), 0u) << answer.error;
  EXPECT_NE(answer.error.find("is nested deeper than 512 levels"), std::string::npos);
  // A parameter restricted to the query never looks at headers.
  answer = Call("Probe", {.url = "Probe", .headers = {{"text", "x"}}});
  EXPECT_EQ(answer.error, "");
  EXPECT_EQ(answer.value.Member("text").AsString(), "");
}

TEST_P(DispatchTest, Bodies) {
  struct Case {
    const char* contentType;
    std::string body;
    const char* value;
  };
  const Case cases[] = {
      {"application/json; charset=utf-8", R"({"a":[1,2]})", R"({body:{a:[u:1,u:2]},tag:""})"},
      {"Application/JSON", "[true]", R"({body:[true],tag:""})"},
      {"application/vnd.api+json", R"({"data":null})", R"({body:{data:null},tag:""})"},
      // A body carrying its terminating NUL reads up to it.
      {"application/json", std::string("{}\0", 3), R"({body:{},tag:""})"},
      {"application/x-msgpack",
       "\x81\xa1"
       "a\x92\x01\xa1x",
       R"({body:{a:[i:1,"x"]},tag:""})"},
      {"application/x-yaml", "a: 1\nb: [x, z]\n", R"({body:{a:u:1,b:["x","z"]},tag:""})"},
      {"application/x-yaml; charset=utf-8", "--- [1]", R"({body:[u:1],tag:""})"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.contentType);
    const HostAnswer answer = Call("Store", {.method = MAU_METHOD_POST,
                                             .url = "/store",
                                             .contentType = c.contentType,
                                             .body = c.body,
                                             .hasBody = true});
    EXPECT_EQ(answer.error, "");
    EXPECT_EQ(Dump(answer.value), c.value);
  }
  // Without body bytes the body parameter stays empty, whatever the content type.
  const HostAnswer none =
      Call("Store", {.method = MAU_METHOD_POST, .url = "/store", .contentType = "text/plain"});
  EXPECT_EQ(none.error, "");
  EXPECT_EQ(Dump(none.value), R"({body:null,tag:""})");
}

TEST_P(DispatchTest, ResponsesCarryStatusHeadersAndStreams) {
  const HostAnswer answer = Call("Download", {.url = "/files/a/b.txt"});
  EXPECT_FALSE(answer.hasError);
  EXPECT_EQ(answer.status, 206u);
  EXPECT_EQ(answer.statusText, "Partial Content");
  EXPECT_EQ(answer.headers, (std::map<std::string, std::string>{{"content-type", "text/plain"},
                                                                {"x-name", "a/b.txt"}}));
  EXPECT_EQ(answer.bodyFlag, 1u);
  EXPECT_EQ(answer.bodyKind, 0u);
  EXPECT_TRUE(answer.hadStream);
  EXPECT_EQ(answer.streamed, "streamed body of a/b.txt");
}

TEST_P(DispatchTest, DeferredResultsFinishWithTheCallRecord) {
  const HostAnswer answer = Call("Later", {.method = MAU_METHOD_PUT,
                                           .url = "/later/soon",
                                           .headers = {{"user-agent", "host/1"}},
                                           .requestId = 42});
  EXPECT_EQ(answer.error, "");
  EXPECT_EQ(
      Dump(answer.value),
      R"({agent:"host/1",arguments:u:1,method:u:7,note:"soon",requestId:u:42,started:true,url:"/later/soon"})");
}

TEST_P(DispatchTest, UnconvertibleResultAnswers400) {
  const HostAnswer answer = Call("Deep", {.url = "Deep"});
  EXPECT_FALSE(answer.hasError);
  EXPECT_EQ(answer.status, 400u);
  EXPECT_EQ(answer.value.kind(), BindingValueKind::Empty);
}

TEST_P(DispatchTest, HelpInBothFormats) {
  const BindingValue epytext("Epytext");
  const HostAnswer text = Call("Help", {.url = "Help", .arguments = {{"format", epytext}}});
  ASSERT_EQ(text.error, "");
  EXPECT_EQ(text.value.Member("functions").Member("Sum").AsString(),
            "@type a: int32\r\n@type b: int32\r\n@type c: int32\r\n@rtype: int64\r\n");
  EXPECT_EQ(text.value.Member("functions").Member("Help").AsString(),
            "Describes the exposed functions, types and events.\r\n\r\n"
            "@param format: (optional) Full (the default) or Epytext\r\n"
            "@type format: L{BindingHelpFormat}\r\n@rtype: object\r\n@tags: $builtin,help\r\n"
            "@threadsafe: true\r\n");
  EXPECT_EQ(text.value.Member("types").Member("Point").AsString(),
            "@ivar x: \r\n@type x: int32\r\n@ivar y: \r\n@type y: int32\r\n");
  EXPECT_TRUE(text.value.Member("events").HasMember("OnCallback"));

  // Without a format the help is Full: records, sorted by name.
  const HostAnswer full = Call("Help", {.url = "Help"});
  ASSERT_EQ(full.error, "");
  std::vector<std::string> names;
  for (const BindingValue& function : full.value.Member("functions").Elements()) {
    names.emplace_back(function.Member("name").AsString());
  }
  EXPECT_EQ(names, (std::vector<std::string>{"Calls", "Deep", "Download", "Help", "Later", "Probe",
                                             "Store", "Sum", "Throw"}));
  EXPECT_EQ(Dump(full.value.Member("functions").Element(7).Member("arguments").Element(2)),
            R"({description:"",name:"c",optional:true,type:{elementType:"",type:"int32"}})");

  const BindingValue bad("Markdown");
  EXPECT_EQ(Call("Help", {.url = "Help", .arguments = {{"format", bad}}}).error,
            "Markdown is not a valid BindingHelpFormat enumeration value for 'format'.");
}

TEST(HandleFunctionCall, WithoutUserDataAnswersInvalidFunction) {
  HostCallRequest request{};
  request.url = "/anything";
  HostCallResponse response{};
  HandleFunctionCall(&response, &request);
  // The record is packed: copy its fields before the checks take references to them.
  const uint8_t hasError = response.hasError;
  const char* const errorText = response.errorText;
  const uint32_t status = response.status;
  EXPECT_EQ(hasError, 1u);
  EXPECT_STREQ(errorText, "Invalid function");
  EXPECT_EQ(status, 404u);
  response.release(&response);
  HandleFunctionCall(nullptr, &request);  // nothing to answer into: nothing happens
}

// Short parameter lists are scanned, long ones hashed: both find the first parameter of a
// name and nothing else.
TEST(ParameterIndex, FindsEachNameInShortAndLongLists) {
  for (const size_t count : {size_t{0}, size_t{1}, size_t{16}, size_t{17}, size_t{40}}) {
    SCOPED_TRACE(count);
    std::vector<BindingParameterDescriptor> parameters(count);
    for (size_t i = 0; i < count; ++i) parameters[i].name = "p" + std::to_string(i);
    if (count > 1) parameters.back().name = "p0";  // a repeated name finds its first
    const ParameterIndex index(parameters);
    for (size_t i = 0; i + 1 < count; ++i) EXPECT_EQ(index.Find("p" + std::to_string(i)), i);
    EXPECT_EQ(index.Find("p" + std::to_string(count)), ParameterIndex::kNotFound);
    EXPECT_EQ(index.Find("p"), ParameterIndex::kNotFound);
    EXPECT_EQ(index.Find(""), ParameterIndex::kNotFound);
    if (count == 1) {
      EXPECT_EQ(index.Find("p0"), 0u);
    }
  }
}

TEST(FunctionTable, RefusesRegistrationsThatCannotWork) {
  BindingTypeRegistry registry;
  FunctionTable functions(registry);
  auto f = [](int32_t) {};
  (void)f;
  struct Case {
    const char* name;
    FunctionOptions options;
    const char* error;
  };
  static int32_t (*const kOne)(int32_t) = [](int32_t v) { return v; };
  const Case cases[] = {
      {"", {.parameters = {{.name = "v"}}}, "A function needs a name"},
      {"Unbalanced",
       {.urlTemplate = "/a}/{v}", .parameters = {{.name = "v"}}},
       "Function 'Unbalanced' is refused: Unbalanced '}' at offset 2 of URL template '/a}/{v}'"},
      {"Open",
       {.urlTemplate = "/a/{v", .parameters = {{.name = "v"}}},
       "Function 'Open' is refused: Unclosed '{' at offset 3 of URL template '/a/{v'"},
      {"Name{",
       {.parameters = {{.name = "v"}}},
       "Function 'Name{' is refused: Unclosed '{' at offset 4 of URL template 'Name{'"},
      {"Count", {}, "Function 'Count' describes 0 parameters, but its native function takes 1"},
      {"Twice",
       {.parameters = {{.name = ""}}},
       "Function 'Twice' has an empty or repeated parameter name ''"},
      {"Good", {.parameters = {{.name = "v"}}}, nullptr},
      {"Good", {.parameters = {{.name = "v"}}}, "Function 'Good' is already exposed"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const size_t errors = functions.RegistrationErrors().size();
    const FunctionRegistration* registration = functions.Expose(c.name, kOne, c.options);
    if (c.error == nullptr) {
      EXPECT_NE(registration, nullptr);
      EXPECT_EQ(functions.RegistrationErrors().size(), errors);
    } else {
      EXPECT_EQ(registration, nullptr);
      ASSERT_EQ(functions.RegistrationErrors().size(), errors + 1);
      EXPECT_EQ(functions.RegistrationErrors().back(), c.error);
    }
  }
}

}  // namespace
}  // namespace mau
