// The exposed functions that the dispatcher tests call: one per argument source, result
// shape and failure path. Built in-process by dispatch_test.cpp and into the test plug-in
// library routing-test-plugin, whose export table the same tests drive.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "binding/binding_value.h"
#include "binding/record_builder.h"
#include "binding/routing/call_result.h"
#include "binding/routing/function_registration.h"
#include "binding/routing/function_table.h"

namespace mau::test {

struct Point {
  int32_t x = 0;
  int32_t y = 0;
};

class TextStream final : public ResponseStream {
 public:
  explicit TextStream(std::string text) : text_(std::move(text)) {}
  bool Read(void* buffer, uint32_t* length, uint8_t* more) override {
    const size_t n = std::min<size_t>(*length, text_.size() - offset_);
    std::memcpy(buffer, text_.data() + offset_, n);
    offset_ += n;
    *length = static_cast<uint32_t>(n);
    *more = offset_ < text_.size() ? 1 : 0;
    return true;
  }
  uint32_t Size() override { return static_cast<uint32_t>(text_.size()); }

 private:
  std::string text_;
  size_t offset_ = 0;
};

// A plug-in's worth of exposed functions; each records that it ran.
class Catalog {
 public:
  int32_t calls = 0;

  int32_t Calls() const { return calls; }

  int64_t Sum(int32_t a, int32_t b, int32_t c) {
    ++calls;
    return int64_t{a} + b + c;
  }

  // Echoes what each parameter received after conversion.
  BindingValue Probe(const BindingValue& /*query*/, bool flag, int32_t count,
                     const std::vector<std::string>& items, Point point, const BindingValue& list,
                     const std::string& text, const std::string& userId) {
    ++calls;
    BindingValue out;
    out.MemberForWriting("flag") = flag;
    out.MemberForWriting("count") = count;
    for (const std::string& item : items) out.MemberForWriting("items").AppendElement() = item;
    out.MemberForWriting("point").MemberForWriting("x") = point.x;
    out.MemberForWriting("point").MemberForWriting("y") = point.y;
    out.MemberForWriting("list") = list;
    out.MemberForWriting("text") = text;
    out.MemberForWriting("userId") = userId;
    return out;
  }

  BindingValue Store(const BindingValue& body, const std::string& tag) {
    ++calls;
    BindingValue out;
    out.MemberForWriting("body") = body;
    out.MemberForWriting("tag") = tag;
    return out;
  }

  void Download(CallResult& result, const std::string& name) {
    ++calls;
    result.SetStatus(206, "Partial Content");
    result.headers["content-type"] = "text/plain";
    result.headers["x-name"] = name;
    result.bodyFlag = 1;
    result.bodyKind = 9;  // outside 1..3: the host sees 0
    result.SetStream(std::make_unique<TextStream>("streamed body of " + name));
  }

  DeferredResult Later(const std::string& note) {
    ++calls;
    return {[note](CallResult& result, CallRecord& record) {
      BindingValue& out = result.value.value();
      out.MemberForWriting("note") = note;
      out.MemberForWriting("url") = record.url;
      out.MemberForWriting("requestId") = record.requestId;
      out.MemberForWriting("arguments") = static_cast<uint32_t>(record.arguments.size());
      out.MemberForWriting("agent") = record.requestHeaders["user-agent"];
      out.MemberForWriting("method") = static_cast<uint32_t>(record.method);
      out.MemberForWriting("started") = record.startTime > 0;
    }};
  }

  BindingValue Deep() {
    BindingValue out;
    BindingValue* node = &out;
    for (int i = 0; i < 600; ++i) node = &node->AppendElement();
    return out;
  }

  int32_t Throw() { throw std::runtime_error("the catalog is closed"); }
};

// Exposes every function of catalog, the call counter "Calls" and the builtin help.
inline void ExposeCatalog(FunctionTable& functions, Catalog& catalog) {
  functions.registry().Record<Point>("Point").Field("x", &Point::x).Field("y", &Point::y);
  // A refused registration shows up in RegistrationErrors().
  using L = ParameterLocation;
  functions.Expose("Sum", &Catalog::Sum, &catalog,
                   {.urlTemplate = "/sum/{a}/{b}",
                    .method = RequestMethod::Get,
                    .parameters = {{.name = "a", .location = L::Path},
                                   {.name = "b", .location = L::Path},
                                   {.name = "c", .optional = true}}});
  // Routes match the whole URL, query included: a template that takes query arguments
  // ends in a placeholder that takes the query text.
  functions.Expose("Probe", &Catalog::Probe, &catalog,
                   {.urlTemplate = "Probe{+query}",
                    .parameters = {{.name = "query", .location = L::Path, .optional = true},
                                   {.name = "flag"},
                                   {.name = "count", .optional = true},
                                   {.name = "items", .optional = true},
                                   {.name = "point", .optional = true},
                                   {.name = "list", .optional = true},
                                   {.name = "text", .location = L::Query, .optional = true},
                                   {.name = "userId", .location = L::Header, .optional = true}}});
  functions.Expose(
      "Store", &Catalog::Store, &catalog,
      {.urlTemplate = "/store",
       .method = RequestMethod::Post,
       .parameters = {{.name = "body", .location = L::Body}, {.name = "tag", .optional = true}}});
  functions.Expose(
      "Download", &Catalog::Download, &catalog,
      {.urlTemplate = "/files/{+name}", .parameters = {{.name = "name", .location = L::Path}}});
  functions.Expose(
      "Later", &Catalog::Later, &catalog,
      // From the path only: the record still carries every request header.
      {.urlTemplate = "/later/{note}", .parameters = {{.name = "note", .location = L::Path}}});
  functions.Expose("Deep", &Catalog::Deep, &catalog);
  functions.Expose("Throw", &Catalog::Throw, &catalog);
  functions.Expose("Calls", &Catalog::Calls, &catalog);
  functions.ExposeHelp();
}

}  // namespace mau::test
