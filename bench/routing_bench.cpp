// Exposed-function calls: a whole call through HandleFunctionCall (a two-parameter
// template, a query and a 1 KB JSON body), the same call with an empty object as its body,
// the body's share of a call next to rapidjson's own SAX and DOM parses, and route matching
// for the same template with our matcher and with std::regex, compiled for every call or
// once.
#include <rapidjson/document.h>
#include <rapidjson/reader.h>

#include <benchmark/benchmark.h>
#include <cstdint>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "bench_support.h"
#include "binding/binding_result.h"
#include "binding/binding_value.h"
#include "binding/json_reader.h"
#include "binding/routing/function_table.h"
#include "binding/routing/route.h"
#include "binding/routing/url_codec.h"
#include "binding/type_registry.h"

namespace {

constexpr char kTemplate[] = "/catalog/{section}/{+item}";
constexpr char kUrl[] = "/catalog/champions/103?verbose&limit=25";

struct Shelf {
  int64_t Put(const std::string& section, const std::string& item, bool verbose, int32_t limit,
              const mau::BindingValue& body) {
    return static_cast<int64_t>(section.size() + item.size()) + (verbose ? limit : 0) +
           static_cast<int64_t>(body.Member("entries").size());
  }
};

// A JSON body of about 1 KB: a list of small records.
std::string MakeBody() {
  std::string body = R"({"owner":"bench","entries":[)";
  for (int i = 0; body.size() < 1000; ++i) {
    if (i > 0) body += ',';
    body += R"({"id":)" + std::to_string(100 + i) + R"(,"name":"Entry )" + std::to_string(i) +
            R"(","tags":["a","b"],"score":)" + std::to_string(i * 0.5) + "}";
  }
  return body + "]}";
}

// The whole call through the function's export-table entry, with body as its JSON body.
void RunCall(benchmark::State& state, const std::string& body) {
  mau::BindingTypeRegistry registry;
  Shelf shelf;
  mau::FunctionTable functions(registry);
  using L = mau::ParameterLocation;
  functions.Expose("Put", &Shelf::Put, &shelf,
                   {.urlTemplate = kTemplate,
                    .method = mau::RequestMethod::Post,
                    .parameters = {{.name = "section", .location = L::Path},
                                   {.name = "item", .location = L::Path},
                                   {.name = "verbose", .location = L::Query},
                                   {.name = "limit", .location = L::Query},
                                   {.name = "body", .location = L::Body}}});
  const PluginFunctionEntry& entry = functions.BuildEntries()[0];
  const HostHeader headers[] = {{"accept", "application/json"}, {"user-agent", "bench"}};
  HostCallRequest request{};
  request.method = MAU_METHOD_POST;
  request.url = kUrl;
  request.userData = entry.userData;
  request.headers = headers;
  request.headerCount = 2;
  request.contentType = "application/json";
  request.body = body.data();
  request.bodyLength = static_cast<uint32_t>(body.size());

  mau::bench::AllocationCounters allocations;
  for (auto _ : state) {
    HostCallResponse response{};
    entry.handler(&response, &request);
    if (response.hasError != 0) state.SkipWithError(response.errorText);
    benchmark::DoNotOptimize(response.result.payload.signedValue);
    response.release(&response);
  }
  allocations.Report(state);
  state.counters["bodyBytes"] = static_cast<double>(body.size());
}

void BM_HandleFunctionCall(benchmark::State& state) { RunCall(state, MakeBody()); }
BENCHMARK(BM_HandleFunctionCall);

// The same call with "{}" as its body: what a call costs besides reading its body.
void BM_HandleFunctionCall_EmptyObjectBody(benchmark::State& state) { RunCall(state, "{}"); }
BENCHMARK(BM_HandleFunctionCall_EmptyObjectBody);

// The JSON reader alone on the same body, read as a call reads it (a copy, parsed in
// place): the part of a call that the body costs.
void BM_HandleFunctionCall_BodyOnly(benchmark::State& state) {
  const std::string body = MakeBody();
  for (auto _ : state) {
    std::string text = body;
    mau::BindingResult result;
    mau::ParseJsonInPlace(result, text.data());
    benchmark::DoNotOptimize(result.ok());
  }
}
BENCHMARK(BM_HandleFunctionCall_BodyOnly);

// rapidjson's SAX reader alone on the same body, with a handler that keeps nothing: the
// floor under the body's share of a call.
void BM_HandleFunctionCall_BodySaxFloor(benchmark::State& state) {
  const std::string body = MakeBody();
  // A reader type of its own: the DOM benchmark below instantiates rapidjson::Reader's
  // string parsing too, and whichever copy the linker keeps set this figure apart by 2x.
  struct FloorStackAllocator : rapidjson::CrtAllocator {};
  for (auto _ : state) {
    rapidjson::BaseReaderHandler<> handler;
    rapidjson::GenericReader<rapidjson::UTF8<>, rapidjson::UTF8<>, FloorStackAllocator> reader;
    rapidjson::StringStream stream(body.c_str());
    benchmark::DoNotOptimize(reader.Parse(stream, handler).IsError());
  }
}
BENCHMARK(BM_HandleFunctionCall_BodySaxFloor);

// rapidjson's own DOM parse of the same body: what building any tree of it costs there.
void BM_HandleFunctionCall_BodyRapidjsonDom(benchmark::State& state) {
  const std::string body = MakeBody();
  for (auto _ : state) {
    rapidjson::Document document;
    document.Parse(body.c_str());
    benchmark::DoNotOptimize(document.HasParseError());
  }
}
BENCHMARK(BM_HandleFunctionCall_BodyRapidjsonDom);

// Ours as the dispatcher would use it without a cache: the route (and its template) built
// for every call, then matched and decoded.
void BM_MatchRoute_Ours(benchmark::State& state) {
  const mau::BindingFunctionDescriptor function;
  for (auto _ : state) {
    const mau::Route route(&function, nullptr, kTemplate);
    mau::PathParameters path;
    benchmark::DoNotOptimize(mau::MatchRoute(route, kUrl, path));
    benchmark::DoNotOptimize(path.size());
  }
}
BENCHMARK(BM_MatchRoute_Ours);

// Ours with the template compiled once, as registered functions use it.
void BM_MatchRoute_OursPrecompiled(benchmark::State& state) {
  const mau::BindingFunctionDescriptor function;
  const mau::Route route(&function, nullptr, kTemplate);
  for (auto _ : state) {
    mau::PathParameters path;
    benchmark::DoNotOptimize(mau::MatchRoute(route, kUrl, path));
    benchmark::DoNotOptimize(path.size());
  }
}
BENCHMARK(BM_MatchRoute_OursPrecompiled);

// The same work with std::regex: match, then the captures decoded into the map.
bool MatchWithRegex(const std::regex& regex, const std::vector<mau::RouteParameter>& parameters,
                    mau::PathParameters& path) {
  std::cmatch match;
  if (!std::regex_match(kUrl, match, regex)) return false;
  for (size_t i = 1; i < match.size() && i <= parameters.size(); ++i) {
    path.insert_or_assign(parameters[i - 1].name, mau::UrlDecode(match[i].str()));
  }
  return true;
}

void BM_MatchRoute_StdRegexPerCall(benchmark::State& state) {
  for (auto _ : state) {
    const mau::CompiledTemplate compiled = mau::CompileTemplate(kTemplate);
    const std::regex regex(compiled.pattern,
                           std::regex_constants::ECMAScript | std::regex_constants::optimize);
    mau::PathParameters path;
    benchmark::DoNotOptimize(MatchWithRegex(regex, compiled.parameters, path));
  }
}
BENCHMARK(BM_MatchRoute_StdRegexPerCall);

void BM_MatchRoute_StdRegexOnce(benchmark::State& state) {
  const mau::CompiledTemplate compiled = mau::CompileTemplate(kTemplate);
  const std::regex regex(compiled.pattern,
                         std::regex_constants::ECMAScript | std::regex_constants::optimize);
  for (auto _ : state) {
    mau::PathParameters path;
    benchmark::DoNotOptimize(MatchWithRegex(regex, compiled.parameters, path));
  }
}
BENCHMARK(BM_MatchRoute_StdRegexOnce);

}  // namespace
