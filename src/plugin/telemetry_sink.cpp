#include "plugin/telemetry_sink.h"

namespace mau {

std::future<RequestResult<NoValue>> TelemetrySink::PostEvent(const std::string& name,
                                                             const RequestArguments& arguments) {
  std::promise<RequestResult<NoValue>> promise;
  promise.set_value(RequestWithArguments(requester_, RequestMethod::Post,
                                         "/telemetry/v1/events/" + name, arguments));
  return promise.get_future();
}

}  // namespace mau
