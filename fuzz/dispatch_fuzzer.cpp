// Fuzzes the call dispatcher as a host would drive it: URL (path and query), request
// headers, body bytes and content type go to a handful of exposed functions through their
// export entries. Every call must end in a value or an error text, the release function
// must zero the response, and nothing may crash or grow without bound. The URL also serves
// as a URL template, matched against the body's first line: our matcher must agree with
// std::regex where std::regex can be trusted (short inputs).
//
// Input: selector byte (function and method), then fields separated by 0x01: URL, content
// type, headers ("name=value" pairs separated by 0x02), body. A missing body field means
// no body.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <regex>
#include <string>
#include <string_view>
#include <vector>

#include "binding/binding_value.h"
#include "binding/record_builder.h"
#include "binding/routing/function_table.h"
#include "binding/routing/url_template.h"
#include "binding/type_registry.h"

namespace {

using mau::BindingTypeRegistry;
using mau::BindingValue;

struct Pair {
  int32_t x = 0;
  std::string label;
};

struct Service {
  BindingValue Mixed(const BindingValue& query, bool flag, int32_t count,
                     const std::vector<std::string>& items, Pair pair, const BindingValue& object,
                     const std::string& agent) {
    BindingValue out;
    out.MemberForWriting("query") = query;
    out.MemberForWriting("flag") = flag;
    out.MemberForWriting("count") = count;
    for (const std::string& item : items) out.MemberForWriting("items").AppendElement() = item;
    out.MemberForWriting("pair").MemberForWriting("x") = pair.x;
    out.MemberForWriting("pair").MemberForWriting("label") = pair.label;
    out.MemberForWriting("object") = object;
    out.MemberForWriting("agent") = agent;
    return out;
  }
  int64_t Path(int64_t a, const std::string& b, const std::string& rest) {
    return a + static_cast<int64_t>(b.size() + rest.size());
  }
  BindingValue Body(const BindingValue& body, const std::vector<Pair>& pairs) {
    BindingValue out;
    out.MemberForWriting("body") = body;
    out.MemberForWriting("pairs") = static_cast<uint64_t>(pairs.size());
    return out;
  }
};

struct Fixture {
  BindingTypeRegistry registry;
  Service service;
  std::unique_ptr<mau::FunctionTable> functions;
  std::vector<PluginFunctionEntry> entries;

  Fixture() {
    registry.Record<Pair>("Pair").Field("x", &Pair::x).Field("label", &Pair::label);
    functions = std::make_unique<mau::FunctionTable>(registry, nullptr);
    using L = mau::ParameterLocation;
    functions->Expose("Mixed", &Service::Mixed, &service,
                      {.urlTemplate = "/mixed{+query}",
                       .parameters = {{.name = "query", .location = L::Path, .optional = true},
                                      {.name = "flag"},
                                      {.name = "count", .optional = true},
                                      {.name = "items", .optional = true},
                                      {.name = "pair", .optional = true},
                                      {.name = "object", .optional = true},
                                      {.name = "agent", .location = L::Header, .optional = true}}});
    functions->Expose("Path", &Service::Path, &service,
                      {.urlTemplate = "/p/{a}/{b}{#rest}",
                       .method = mau::RequestMethod::Get,
                       .parameters = {{.name = "a"}, {.name = "b"}, {.name = "rest"}}});
    functions->Expose("Body", &Service::Body, &service,
                      {.urlTemplate = "/body",
                       .method = mau::RequestMethod::Post,
                       .parameters = {{.name = "body", .location = L::Body, .optional = true},
                                      {.name = "pairs", .optional = true}}});
    functions->ExposeHelp();
    const auto built = functions->BuildEntries();
    entries.assign(built.begin(), built.end());
    if (!functions->RegistrationErrors().empty()) std::abort();
  }
};

std::vector<std::string_view> Split(std::string_view text, char separator) {
  std::vector<std::string_view> out;
  size_t start = 0;
  while (true) {
    const size_t at = text.find(separator, start);
    out.push_back(text.substr(start, at == std::string_view::npos ? at : at - start));
    if (at == std::string_view::npos) return out;
    start = at + 1;
  }
}

void CheckMatcher(std::string_view urlTemplate, std::string_view url) {
  const mau::CompiledTemplate compiled = mau::CompileTemplate(urlTemplate);
  std::vector<std::string_view> captures;
  const bool ours = mau::MatchTemplate(compiled, url, captures);
  // std::regex recurses per byte and takes NUL specially: compare on short, NUL-free text.
  if (urlTemplate.size() > 24 || url.size() > 24 ||
      urlTemplate.find('\0') != std::string_view::npos ||
      url.find('\0') != std::string_view::npos) {
    return;
  }
  const std::regex regex(compiled.pattern,
                         std::regex_constants::ECMAScript | std::regex_constants::optimize);
  std::match_results<std::string_view::const_iterator> expected;
  const bool theirs = std::regex_match(url.begin(), url.end(), expected, regex);
  if (ours != theirs) std::abort();
  if (!ours) return;
  if (captures.size() + 1 != expected.size()) std::abort();
  for (size_t i = 0; i < captures.size(); ++i) {
    if (!expected[i + 1].matched || captures[i] != expected[i + 1].str()) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Fixture* fixture = new Fixture();
  if (size == 0) return 0;
  const uint8_t selector = data[0];
  const std::string_view input(reinterpret_cast<const char*>(data + 1), size - 1);
  const std::vector<std::string_view> fields = Split(input, '\x01');

  const std::string url(fields[0]);
  const std::string contentType(fields.size() > 1 ? fields[1] : std::string_view());
  std::vector<std::string> headerTexts;
  std::vector<HostHeader> headers;
  if (fields.size() > 2) {
    for (std::string_view pair : Split(fields[2], '\x02')) {
      const size_t eq = pair.find('=');
      headerTexts.emplace_back(pair.substr(0, eq));
      headerTexts.emplace_back(eq == std::string_view::npos ? std::string_view()
                                                            : pair.substr(eq + 1));
    }
    for (size_t i = 0; i + 1 < headerTexts.size(); i += 2) {
      headers.push_back({headerTexts[i].c_str(), headerTexts[i + 1].c_str()});
    }
  }
  const bool hasBody = fields.size() > 3;
  const std::string body(hasBody ? fields[3] : std::string_view());

  const PluginFunctionEntry& entry = fixture->entries[selector % fixture->entries.size()];
  HostCallRequest request{};
  request.method = (selector >> 4) % 10;
  request.url = url.c_str();
  request.userData = entry.userData;
  request.headers = headers.empty() ? nullptr : headers.data();
  request.headerCount = static_cast<uint32_t>(headers.size());
  request.contentType = contentType.c_str();
  request.body = hasBody ? body.data() : nullptr;
  request.bodyLength = static_cast<uint32_t>(body.size());
  request.customMethod = "FUZZ";

  HostCallResponse response;
  std::memset(static_cast<void*>(&response), 0x5A, sizeof response);  // a careless host
  entry.handler(&response, &request);
  if (response.hasError != 0 && (response.errorText == nullptr || response.errorText[0] == '\0')) {
    std::abort();
  }
  if (response.statusText == nullptr || response.release == nullptr) std::abort();
  response.release(&response);
  const auto* bytes = reinterpret_cast<const unsigned char*>(&response);
  for (size_t i = 0; i < sizeof response; ++i) {
    if (bytes[i] != 0) std::abort();
  }

  if (hasBody) CheckMatcher(fields[0], Split(fields[3], '\n')[0]);
  return 0;
}
