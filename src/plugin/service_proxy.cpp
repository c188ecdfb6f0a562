// Service-proxy messages: answers to requests a plug-in sent to a back-end service through
// the host are stored by key until a pending request of that key takes them; asynchronous
// notifications go to the handler registered for their "service.method" key.
#include "log/log_core.h"
#include "platform/format.h"
#include "plugin/plugin_core.h"

namespace mau {

namespace {

std::string MethodKey(const PluginServiceProxyResponse& response) {
  return FormatText("%1.%2", response.serviceName, response.methodName);
}

}  // namespace

void PluginCore::InstallServiceProxyHandlers() {
  RegisterEventHandler("OnServiceProxyUuidEvent",
                       std::make_shared<TypedEventHandler<PluginServiceProxyResponse>>(
                           [this](const PluginServiceProxyResponse& response) {
                             OnServiceProxyUuidMessage(response);
                           }),
                       OnHostServiceProxyEvent, 1);
  RegisterEventHandler("OnServiceProxyMethodEvent",
                       std::make_shared<TypedEventHandler<PluginServiceProxyResponse>>(
                           [this](const PluginServiceProxyResponse& response) {
                             OnServiceProxyMethodMessage(response);
                           }),
                       OnHostServiceProxyEvent, 1);
  RegisterEventHandler("OnServiceProxyAsyncEvent",
                       std::make_shared<TypedEventHandler<PluginServiceProxyResponse>>(
                           [this](const PluginServiceProxyResponse& response) {
                             OnServiceProxyAsyncMessage(response);
                           }),
                       OnHostServiceProxyEvent, 1);
}

void PluginCore::StoreServiceProxyResponse(const std::string& key,
                                           const PluginServiceProxyResponse& response) {
  {
    std::lock_guard<std::mutex> guard(serviceProxyLock_);
    received_responses[key] = response;
  }
  FulfilPendingRequests();
}

void PluginCore::OnServiceProxyUuidMessage(const PluginServiceProxyResponse& response) {
  StoreServiceProxyResponse(response.uuid, response);
}

void PluginCore::OnServiceProxyMethodMessage(const PluginServiceProxyResponse& response) {
  StoreServiceProxyResponse(MethodKey(response), response);
}

void PluginCore::OnServiceProxyAsyncMessage(const PluginServiceProxyResponse& response) {
  const std::string key = MethodKey(response);
  std::lock_guard<std::mutex> guard(serviceProxyLock_);
  const auto it = async_handlers.find(key);
  if (it == async_handlers.end()) {
    Log(kLogError, static_cast<uint32_t>(kLogDbg), 0,
        "%s: Could not find registered handler for async service proxy event %s",
        displayName_.c_str(), key.c_str());
    return;
  }
  it->second(response);
}

void PluginCore::FulfilPendingRequests() {
  std::lock_guard<std::mutex> guard(serviceProxyLock_);
  for (auto stored = received_responses.begin(); stored != received_responses.end(); ++stored) {
    const auto pending = pending_requests.find(stored->first);
    if (pending == pending_requests.end()) continue;
    pending->second(stored->second);
    Log(kLogAlways, static_cast<uint32_t>(kLogDbg), 0, "%s: Fulfilled service proxy request: %s",
        displayName_.c_str(), stored->first.c_str());
    pending_requests.erase(pending);
    received_responses.erase(stored);
    return;
  }
}

void PluginCore::AddPendingServiceProxyRequest(const std::string& key,
                                               ServiceProxyHandler handler) {
  {
    std::lock_guard<std::mutex> guard(serviceProxyLock_);
    pending_requests[key] = std::move(handler);
  }
  FulfilPendingRequests();
}

void PluginCore::SetAsyncServiceProxyHandler(const std::string& key, ServiceProxyHandler handler) {
  std::lock_guard<std::mutex> guard(serviceProxyLock_);
  async_handlers[key] = std::move(handler);
}

size_t PluginCore::StoredServiceProxyResponses() const {
  std::lock_guard<std::mutex> guard(serviceProxyLock_);
  return received_responses.size();
}

}  // namespace mau
