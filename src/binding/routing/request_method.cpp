#include "binding/routing/request_method.h"

namespace mau {

const char* RequestMethodName(RequestMethod method) {
  switch (method) {
    case RequestMethod::Delete:
      return "DELETE";
    case RequestMethod::Get:
      return "GET";
    case RequestMethod::Head:
      return "HEAD";
    case RequestMethod::Options:
      return "OPTIONS";
    case RequestMethod::Patch:
      return "PATCH";
    case RequestMethod::Post:
      return "POST";
    case RequestMethod::Put:
      return "PUT";
    default:
      return "";
  }
}

RequestMethod RequestMethodFromCode(uint32_t code) {
  return code >= 1 && code <= 8 ? static_cast<RequestMethod>(code) : RequestMethod::None;
}

}  // namespace mau
