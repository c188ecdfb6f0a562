// The plug-in's log target: forwards every record that the log core accepts to the
// host's WriteLog, as the message text alone (no pattern, time stamp or categories).
//
// Threads: Write runs on whichever thread logs, with the core's lock and the target's
// lock held, so records reach WriteLog one at a time and in order.
#pragma once

#include <memory>

#include "log/log_target.h"
#include "mau/plugin_abi.h"

namespace mau {

class PluginLogTarget : public LogTarget {
 public:
  explicit PluginLogTarget(HostInterface* host);
  ~PluginLogTarget() override;

  const char* TypeName() const override { return "PluginLogTarget"; }
  bool Write(const LogRecord& record) override;

 private:
  HostInterface* host_;
};

// Routes the process's log to the host: unless a "PluginLogTarget" is registered already
// (another plug-in in this process did it), unregisters the console targets, lets the
// core pass every level except the "XTR" category, and puts a new PluginLogTarget for
// host into target (destroying the previous one).
void InstallHostLogTarget(HostInterface* host, std::unique_ptr<PluginLogTarget>& target);

}  // namespace mau
