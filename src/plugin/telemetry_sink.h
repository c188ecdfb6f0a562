// The telemetry sink: posts a plug-in's telemetry events to the host's REST API, as POST
// /telemetry/v1/events/<name> with the event's arguments as typed arguments.
//
// Threads: PostEvent may be called from any thread; it blocks that thread until the host
// answers and returns a future that is ready already.
#pragma once

#include <future>
#include <string>

#include "plugin/host_requests.h"

namespace mau {

class TelemetrySink {
 public:
  explicit TelemetrySink(HostRequester& requester) : requester_(requester) {}
  virtual ~TelemetrySink() = default;
  TelemetrySink(const TelemetrySink&) = delete;
  TelemetrySink& operator=(const TelemetrySink&) = delete;

  // Arguments that cannot be converted fail with code 400 and nothing is sent.
  virtual std::future<RequestResult<NoValue>> PostEvent(const std::string& name,
                                                        const RequestArguments& arguments);

 private:
  HostRequester& requester_;
};

}  // namespace mau
