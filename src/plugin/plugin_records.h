// The SDK's own binding records and events: resource events, the plug-in manager state,
// LCDS messages and service-proxy messages. Their static type ids are the ones the host
// knows, so they are pinned here, right after each definition.
//
// RegisterSdkTypes puts all of them, with the events "OnJsonApiEvent", "OnLcdsEvent" and
// the three service-proxy events, into a plug-in's registry; the handshake does it before
// the plug-in registers its own types.
#pragma once

#include <cstdint>
#include <string>
#include <type_traits>

#include "binding/binding_value.h"
#include "binding/static_type_key.h"

namespace mau {

class BindingTypeRegistry;

enum class PluginManagerState : int32_t { NotReady = 0, PluginsInitialized = 1 };

struct PluginManagerResource {
  PluginManagerState state = PluginManagerState::NotReady;
};

enum class PluginResourceEventType : int32_t { Create = 0, Update = 1, Delete = 2 };

// What a resource handler receives: the resource's URI, what happened and its new value.
struct PluginResourceEvent {
  std::string uri;
  PluginResourceEventType eventType = PluginResourceEventType::Create;
  BindingValue data;
};

// A message received over the host's LCDS connection.
struct PluginLcdsEvent {
  std::string clientId;
  std::string subtopic;
  std::string typeName;
  BindingValue body;
};

struct PluginLcdsResponse {
  std::string typeName;
  BindingValue body;
};

// A service-proxy message: the answer to a request a plug-in sent to a back-end service
// through the host, or an unsolicited notification of such a service.
struct PluginServiceProxyResponse {
  std::string uuid;
  std::string serviceName;
  std::string methodName;
  std::string payload;
  std::string status;
  std::string error;  // empty when there is none
};

// The tag of every SDK type and event.
inline constexpr const char* kSdkTypeTag = "kclient";

// Registers the records and events above in registry (idempotent).
void RegisterSdkTypes(BindingTypeRegistry& registry);

}  // namespace mau

template <>
struct mau::PinnedStaticTypeId<mau::PluginManagerState>
    : std::integral_constant<uint32_t, 0xF4E3B901u> {};
template <>
struct mau::PinnedStaticTypeId<mau::PluginManagerResource>
    : std::integral_constant<uint32_t, 0xFA58397Cu> {};
template <>
struct mau::PinnedStaticTypeId<mau::PluginResourceEventType>
    : std::integral_constant<uint32_t, 0xDC24D2ADu> {};
template <>
struct mau::PinnedStaticTypeId<mau::PluginResourceEvent>
    : std::integral_constant<uint32_t, 0xA54F35FDu> {};
template <>
struct mau::PinnedStaticTypeId<mau::PluginLcdsEvent>
    : std::integral_constant<uint32_t, 0x739F2EF4u> {};
template <>
struct mau::PinnedStaticTypeId<mau::PluginLcdsResponse>
    : std::integral_constant<uint32_t, 0xF4476A4Fu> {};
template <>
struct mau::PinnedStaticTypeId<mau::PluginServiceProxyResponse>
    : std::integral_constant<uint32_t, 0x2C5E7588u> {};
