#include "plugin/plugin_log_target.h"

#include <mutex>

#include "log/log_core.h"

namespace mau {

PluginLogTarget::PluginLogTarget(HostInterface* host) : host_(host) { RouteWritesToWrite(); }

PluginLogTarget::~PluginLogTarget() { Unregister(); }

bool PluginLogTarget::Write(const LogRecord& record) {
  std::lock_guard<RecursiveLock> guard(lock_);
  if (host_ != nullptr && host_->WriteLog != nullptr) {
    host_->WriteLog(host_, record.level, record.message);
  }
  return true;
}

void InstallHostLogTarget(HostInterface* host, std::unique_ptr<PluginLogTarget>& target) {
  EnsureLogCore();  // so that its console targets exist to be unregistered
  if (FindLogTarget("PluginLogTarget") != nullptr) return;
  for (LogTargetInterface* builtIn : {StdOutTarget(), StdErrTarget(), DebuggerTarget()}) {
    if (builtIn != nullptr) builtIn->callbacks.unregisterTarget(builtIn);
  }
  SetLogMinLevel(kLogOkay);
  SetLogSuppressedCategories(kLogXtr);
  target = std::make_unique<PluginLogTarget>(host);
  target->Configure(LogTargetSettings{GetLogMinLevel(), 0, 0, "#D| #L| #G| #M"});
}

}  // namespace mau
