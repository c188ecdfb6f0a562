// One log call that reaches one registered target, which renders the line as the host
// target's pattern does and keeps it.
#include <benchmark/benchmark.h>
#include <cstring>

#include "log/log_core.h"

namespace {

class RenderingTarget : public mau::LogTarget {
 public:
  RenderingTarget() {
    RouteWritesToWrite();
    Configure(mau::LogTargetSettings{mau::kLogOkay, 0, 0, "#D| #L| #G| #M"});
  }
  ~RenderingTarget() override { Unregister(); }
  bool Write(const mau::LogRecord& record) override {
    length = Render(line, sizeof line, record);
    return true;
  }
  char line[mau::kLogMessageCapacity];
  size_t length = 0;
};

void BM_LogV_OneTarget(benchmark::State& state) {
  mau::LogInit();
  mau::RemoveLogTarget(mau::StdErrTarget());
  mau::RemoveLogTarget(mau::DebuggerTarget());
  mau::SetLogMinLevel(mau::kLogOkay);
  {
    RenderingTarget target;
    for (auto _ : state) {
      mau::Log(mau::kLogAlways, 1, 0, "Discord: setting state to \"%s\"\n", "In game");
      benchmark::DoNotOptimize(target.length);
    }
  }
  mau::LogShutdown();
}
BENCHMARK(BM_LogV_OneTarget);

}  // namespace
