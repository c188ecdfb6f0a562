#include "plugin/plugin_records.h"

#include "binding/binding_help.h"
#include "binding/record_builder.h"
#include "binding/type_registry.h"

namespace mau {

void RegisterSdkTypes(BindingTypeRegistry& registry) {
  // The help's own types and event come first, as in every registry.
  RegisterBuiltinTypes(registry);
  registry.Enum<PluginManagerState>("PluginManagerState")
      .Tag(kSdkTypeTag)
      .Value("NotReady", PluginManagerState::NotReady)
      .Value("PluginsInitialized", PluginManagerState::PluginsInitialized);
  registry.Record<PluginManagerResource>("PluginManagerResource")
      .Tag(kSdkTypeTag)
      .Field("state", &PluginManagerResource::state);

  registry.Enum<PluginResourceEventType>("PluginResourceEventType")
      .Tag(kSdkTypeTag)
      .Value("Create", PluginResourceEventType::Create)
      .Value("Update", PluginResourceEventType::Update)
      .Value("Delete", PluginResourceEventType::Delete);
  registry.Record<PluginResourceEvent>("PluginResourceEvent")
      .Tag(kSdkTypeTag)
      .Field("uri", &PluginResourceEvent::uri)
      .Field("eventType", &PluginResourceEvent::eventType)
      .Field("data", &PluginResourceEvent::data);
  registry.Event<PluginResourceEvent>("OnJsonApiEvent")
      .SetDescription("Fired when a resource is changed.")
      .AddTag(kSdkTypeTag);

  registry.Record<PluginLcdsEvent>("PluginLcdsEvent")
      .Tag(kSdkTypeTag)
      .Field("clientId", &PluginLcdsEvent::clientId)
      .Field("subtopic", &PluginLcdsEvent::subtopic)
      .Field("typeName", &PluginLcdsEvent::typeName)
      .Field("body", &PluginLcdsEvent::body);
  registry.Record<PluginLcdsResponse>("PluginLcdsResponse")
      .Tag(kSdkTypeTag)
      .Field("typeName", &PluginLcdsResponse::typeName)
      .Field("body", &PluginLcdsResponse::body);
  registry.Record<PluginServiceProxyResponse>("PluginServiceProxyResponse")
      .Tag(kSdkTypeTag)
      .Field("uuid", &PluginServiceProxyResponse::uuid)
      .Field("serviceName", &PluginServiceProxyResponse::serviceName)
      .Field("methodName", &PluginServiceProxyResponse::methodName)
      .Field("payload", &PluginServiceProxyResponse::payload)
      .Field("status", &PluginServiceProxyResponse::status)
      .Field("error", &PluginServiceProxyResponse::error);

  registry.Event<PluginLcdsEvent>("OnLcdsEvent")
      .SetDescription("Fired when a message is received over the LCDS connection.")
      .AddTag(kSdkTypeTag);
  registry.Event<PluginServiceProxyResponse>("OnServiceProxyUuidEvent")
      .SetDescription("Fired when a uuid-based service proxy message is received.")
      .AddTag(kSdkTypeTag);
  registry.Event<PluginServiceProxyResponse>("OnServiceProxyMethodEvent")
      .SetDescription("Fired when a method-based service proxy message is received.")
      .AddTag(kSdkTypeTag);
  registry.Event<PluginServiceProxyResponse>("OnServiceProxyAsyncEvent")
      .SetDescription("Fired when an async service proxy message is received.")
      .AddTag(kSdkTypeTag);
}

}  // namespace mau
