#include "binding/routing/route.h"

#include "binding/routing/function_registration.h"
#include "binding/routing/url_codec.h"

namespace mau {
namespace {

const std::vector<RouteParameter>& NoParameters() {
  static const std::vector<RouteParameter> kNone;
  return kNone;
}

size_t TotalValueLength(const PathParameters& path) {
  size_t total = 0;
  for (const auto& [name, value] : path) total += value.size();
  return total;
}

bool MethodAccepted(const FunctionRegistration& registration, const CallContext& context) {
  if (registration.method == RequestMethod::None) return true;
  return registration.method == context.method && registration.customMethod == context.customMethod;
}

}  // namespace

Route::Route(const BindingFunctionDescriptor* function, const FunctionRegistration* registration,
             std::string_view urlTemplate)
    : function_(function), registration_(registration) {
  if (urlTemplate.find('{') != std::string_view::npos) {
    pattern_ = std::make_shared<const CompiledTemplate>(CompileTemplate(urlTemplate));
  } else {
    literal_ = urlTemplate;
  }
}

Route::Route(const FunctionRegistration& registration)
    : function_(&registration.function), registration_(&registration) {
  const std::string& text =
      registration.urlTemplate.empty() ? registration.function.name : registration.urlTemplate;
  if (text.find('{') == std::string::npos) {
    literal_ = text;
  } else if (registration.compiledTemplate != nullptr) {
    pattern_ = registration.compiledTemplate;
  } else {
    pattern_ = std::make_shared<const CompiledTemplate>(CompileTemplate(text));
  }
}

const std::vector<RouteParameter>& Route::parameters() const noexcept {
  return pattern_ != nullptr ? pattern_->parameters : NoParameters();
}

bool MatchRoute(const Route& route, std::string_view url, PathParameters& path) {
  if (route.pattern() == nullptr) return !route.literal().empty() && url == route.literal();
  std::vector<std::string_view> captures;
  if (!MatchTemplate(*route.pattern(), url, captures)) return false;
  const std::vector<RouteParameter>& parameters = route.parameters();
  for (size_t i = 0; i < captures.size() && i < parameters.size(); ++i) {
    path.insert_or_assign(parameters[i].name, UrlDecode(captures[i]));
  }
  return true;
}

bool SelectRoute(CallContext& context, std::span<const Route> routes, bool ignoreMethod) {
  for (const Route& route : routes) {
    // 8 buckets (libstdc++ makes them 11) at the default maximum load factor of 1.0.
    // Setting that factor again would make libstdc++ rehash on the first insertion.
    PathParameters path(8);
    if (!MatchRoute(route, context.url, path)) continue;
    if (!ignoreMethod && route.registration() != nullptr &&
        !MethodAccepted(*route.registration(), context)) {
      continue;
    }
    if (context.function != nullptr &&
        TotalValueLength(path) >= TotalValueLength(context.pathParameters)) {
      continue;
    }
    context.function = route.function();
    context.registration = route.registration();
    context.pathParameters = std::move(path);
    if (context.pathParameters.empty()) break;
  }
  return context.function != nullptr;
}

}  // namespace mau
