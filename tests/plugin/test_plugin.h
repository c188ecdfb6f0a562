// A small plug-in for the bridge's tests: it registers one record of its own, watches the
// chat resource, logs what it sees and runs a one-second timer. Built in-process by the
// unit tests and as a real plug-in library (test-plugin) for the loading test.
#pragma once

#include <cstdint>
#include <string>

#include "binding/record_builder.h"
#include "log/log_core.h"
#include "plugin/plugin_base.h"

namespace mau::test {

struct ChatStatus {
  std::string availability;
  int32_t mood = 0;
};

class TestPlugin : public PluginBase {
 public:
  void RegisterTypes() override {
    Registry()
        .Record<ChatStatus>(TypeNamePrefix() + "ChatStatus")
        .Tags(TypeTags())
        .Field("availability", &ChatStatus::availability)
        .Field("mood", &ChatStatus::mood);
  }

  bool OnInitialize() override {
    Log(kLogAlways, 1, 0, "%s: initialized", DisplayName().c_str());
    ObserveResource("/mau-chat/v1/me", [this](const PluginResourceEvent& event) {
      ++events;
      Log(kLogAlways, 1, 0, "%s: %s is %s (%d)", DisplayName().c_str(), event.uri.c_str(),
          std::string(event.data.Member("availability").AsString()).c_str(),
          static_cast<int>(event.eventType));
    });
    StartRepeatingTimer("Tick", 1.0, [this] {
      ++ticks;
      Log(kLogAlways, 1, 0, "%s: tick %d", DisplayName().c_str(), ticks);
    });
    return initializeResult;
  }

  int events = 0;
  int ticks = 0;
  bool initializeResult = true;
};

}  // namespace mau::test
