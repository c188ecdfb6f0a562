// Resource subscriptions: URIs to host event names, shared host subscriptions, and the
// dispatch of resource events to the handlers whose URI or pattern fits.
#include <vector>

#include "plugin/plugin_core.h"

namespace mau {

std::string EventNameForUri(std::string_view uri) {
  std::vector<std::string_view> parts{"OnJsonApiEvent"};
  size_t start = 0;
  while (start <= uri.size()) {
    size_t end = uri.find('/', start);
    if (end == std::string_view::npos) end = uri.size();
    if (end > start) parts.push_back(uri.substr(start, end - start));
    start = end + 1;
  }
  size_t keep = 4;
  if (parts.size() >= 2 && parts[1] == "mau-platform-config") keep = 6;
  if (parts.size() < keep) keep = parts.size();
  std::string name;
  for (size_t i = 0; i < keep; ++i) {
    if (i > 0) name += '_';
    name.append(parts[i]);
  }
  return name;
}

bool WildcardMatch(std::string_view pattern, std::string_view uri) {
  size_t p = 0;
  size_t u = 0;
  while (p < pattern.size() && u < uri.size()) {
    if (pattern[p] == '*') {
      if (uri[u] == '/') {
        ++p;  // the star ends before a slash
      } else {
        ++u;
        if (u == uri.size()) ++p;
      }
    } else {
      if (pattern[p] != uri[u]) return false;
      ++p;
      ++u;
    }
  }
  return p == pattern.size() && u == uri.size();
}

void PluginCore::ObserveResource(const std::string& uri, ResourceHandler handler) {
  const bool isPattern = uri.find('*') != std::string::npos;
  (isPattern ? patternResourceHandlers_ : exactResourceHandlers_)[uri] = handler;
  AddEventSubscription(uri);
  if (isPattern) return;
  RequestResult<BindingValue> current = RequestValue(RequestMethod::Get, uri);
  if (current.failed) return;  // the subscription stays; the next change arrives as an event
  PluginResourceEvent event;
  event.uri = uri;
  event.eventType = PluginResourceEventType::Create;
  event.data = std::move(current.value);
  handler(event);
}

void PluginCore::AddEventSubscription(const std::string& uri) {
  const std::string name = EventNameForUri(uri);
  if (++eventRefCounts_[name] != 1) return;
  RegisterEventHandler(
      name,
      std::make_shared<TypedEventHandler<PluginResourceEvent>>(
          [this](const PluginResourceEvent& event) { DispatchResourceEvent(event); }),
      OnHostResourceEvent, 0);
}

void PluginCore::RemoveEventSubscription(const std::string& uri) {
  const std::string name = EventNameForUri(uri);
  if (--eventRefCounts_[name] != 0) return;
  UnsubscribeEvent(name.c_str(), hostHandle_);
  eventHandlers_.erase(name);
}

void PluginCore::DispatchResourceEvent(const PluginResourceEvent& event) {
  std::string uri = event.uri;
  if (uri.empty() || uri.front() != '/') uri.insert(uri.begin(), '/');
  // Handlers may observe further resources, which changes the tables: take copies of the
  // handlers to run before running any of them.
  std::vector<ResourceHandler> matching;
  if (const auto exact = exactResourceHandlers_.find(uri); exact != exactResourceHandlers_.end()) {
    matching.push_back(exact->second);
  }
  for (const auto& [pattern, handler] : patternResourceHandlers_) {
    if (WildcardMatch(pattern, uri)) matching.push_back(handler);
  }
  for (const ResourceHandler& handler : matching) {
    if (handler) handler(event);
  }
}

}  // namespace mau
