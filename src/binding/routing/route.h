// Routes: the compiled URL template of one exposed function, matched against the URL of a
// call, and the selection of the function whose route fits a call best.
//
//   mau::Route route(&registration.function, &registration, "/items/{id}");
//   mau::PathParameters path;
//   mau::MatchRoute(route, "/items/7", path);   // true, path {"id": "7"}
//
// The URL is matched exactly as the host gave it, query string included: "/items/{id}"
// against "/items/7?x=1" gives id "7?x=1". A template without '{' matches only the same
// bytes.
#pragma once

#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "binding/function_descriptor.h"
#include "binding/routing/request_method.h"
#include "binding/routing/url_template.h"

namespace mau {

struct FunctionRegistration;

// Parameter name to percent-decoded value.
using PathParameters = std::unordered_map<std::string, std::string>;

class Route {
 public:
  // Compiles the template when it contains '{'; otherwise the template is the literal.
  Route(const BindingFunctionDescriptor* function, const FunctionRegistration* registration,
        std::string_view urlTemplate);
  // The route of a registration: its URL template (the function's name when empty), with
  // the template compiled at registration when there is one.
  explicit Route(const FunctionRegistration& registration);

  const BindingFunctionDescriptor* function() const noexcept { return function_; }
  const FunctionRegistration* registration() const noexcept { return registration_; }
  // The template when it has no placeholder; empty otherwise.
  const std::string& literal() const noexcept { return literal_; }
  // The compiled template, shared by copies of the route; null for a literal route.
  const CompiledTemplate* pattern() const noexcept { return pattern_.get(); }
  const std::vector<RouteParameter>& parameters() const noexcept;

 private:
  const BindingFunctionDescriptor* function_;
  const FunctionRegistration* registration_;
  std::string literal_;
  std::shared_ptr<const CompiledTemplate> pattern_;
};

// Full match of url against the route. Each capture is percent-decoded into
// path[name of its parameter]; a repeated name keeps the last value. A route with neither a
// literal nor a pattern never matches.
bool MatchRoute(const Route& route, std::string_view url, PathParameters& path);

// The part of a call's context that routing fills.
struct CallContext {
  RequestMethod method = RequestMethod::None;
  std::string customMethod;  // method Custom only
  std::string url;           // as the host gave it, query included
  const BindingFunctionDescriptor* function = nullptr;
  const FunctionRegistration* registration = nullptr;
  PathParameters pathParameters;
};

// Walks the routes in order and installs the best match into context: a route must match
// context.url and (unless ignoreMethod, or the route has no registration) accept its method;
// a later match replaces the selected one only when its decoded captures are shorter in
// total; a match without captures ends the walk. True when a function was selected.
bool SelectRoute(CallContext& context, std::span<const Route> routes, bool ignoreMethod);

}  // namespace mau
