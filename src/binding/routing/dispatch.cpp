#include "binding/routing/dispatch.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>

#include "binding/binding_result.h"
#include "binding/host_value.h"
#include "binding/json_reader.h"
#include "binding/msgpack_reader.h"
#include "binding/routing/host_call_records.h"
#include "binding/routing/url_codec.h"
#include "binding/yaml_reader.h"
#include "platform/alloc_hooks.h"
#include "platform/clock.h"
#include "platform/format.h"

namespace mau {
namespace {

constexpr char kInvalidFunction[] = "Invalid function";
constexpr char kUnknownArgument[] = "Unknown argument '%1' for '%2'.";
constexpr char kInvalidLocation[] = "Argument '%1' for '%2' was specified in an invalid location.";
constexpr char kExpectedValue[] = "Expected value for argument '%1'.";
constexpr char kIndexFormat[] = "Index %1 is in an incorrect format";
constexpr char kIndexRange[] = "Index %1 is out of range";
constexpr char kKeyTooDeep[] = "Key '%1' is nested deeper than %2 levels";
constexpr char kBadJson[] = "Couldn't deserialize JSON value for parameter '%1' of '%2': %3";
constexpr char kBadYaml[] = "Couldn't deserialize YAML value for parameter '%1' of '%2': %3";
constexpr char kBadMessagePack[] =
    "Couldn't deserialize MessagePack value for parameter '%1' of '%2': %3";
constexpr char kUnsupportedBody[] = "Unsupported body content type";
constexpr char kExtraMessagePack[] = "Extra MessgePack data found in body";

// ------------------------------------------------------------------ helpers

bool IsStructuredType(BindingTypeId id) {
  return id == BindingTypeId::Object || id == BindingTypeId::Vector || id == BindingTypeId::Struct;
}

// Lower case in the C locale, whatever locale the host runs with.
char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (AsciiLower(text[i]) != AsciiLower(prefix[i])) return false;
  }
  return true;
}

std::string LowerCase(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = AsciiLower(c);
  return out;
}

std::string_view TextOrEmpty(const char* text) {
  return text != nullptr ? std::string_view(text) : std::string_view();
}

ParameterLocation LocationOf(std::span<const ParameterLocation> locations, size_t index) {
  return index < locations.size() ? locations[index] : ParameterLocation::Any;
}

bool MayTakeHeader(ParameterLocation location) {
  return location == ParameterLocation::Any || location == ParameterLocation::Header;
}

// Moves a reader's value into slot, or its failure into result under the message.
void TakeReaderResult(CallResult& result, BindingValue& slot, BindingResult& reader,
                      const char* message, std::string_view label,
                      const BindingFunctionDescriptor& function) {
  if (!reader.ok()) {
    result.Fail(FormatText(message, label, function.name, reader.ErrorText()));
    return;
  }
  slot = std::move(reader.value());
}

// The index a dotted-key segment names, or a failure.
bool ParseIndex(CallResult& result, std::string_view segment, uint32_t& index) {
  const std::string text(segment);
  errno = 0;
  char* end = nullptr;
  const unsigned long long n = std::strtoull(text.c_str(), &end, 0);
  if (end != text.c_str() + text.size()) {
    result.Fail(FormatText(kIndexFormat, segment));
    return false;
  }
  if (errno == ERANGE || n > kMaxArgumentIndex) {
    result.Fail(FormatText(kIndexRange, segment));
    return false;
  }
  index = static_cast<uint32_t>(n);
  return true;
}

void DecodeBody(CallResult& result, BindingValue& slot, const HostCallRequest& request) {
  const std::string_view contentType = TextOrEmpty(request.contentType);
  const auto* bytes = static_cast<const uint8_t*>(request.body);
  const size_t size = request.bodyLength;
  if (StartsWithNoCase(contentType, "application/x-msgpack")) {
    BindingResult reader;
    size_t consumed = 0;
    ReadMsgpack(reader, consumed, bytes, size);
    if (!reader.ok()) {
      result.Fail(reader.ErrorText());
    } else if (consumed < size) {
      result.Fail(kExtraMessagePack);
    } else {
      slot = std::move(reader.value());
    }
    return;
  }
  const bool json = StartsWithNoCase(contentType, "application/json") ||
                    StartsWithNoCase(contentType, "application/vnd.api+json");
  const bool yaml = !json && StartsWithNoCase(contentType, "application/x-yaml");
  if (!json && !yaml) {
    result.Fail(kUnsupportedBody);
    return;
  }
  // The body is read as a text up to its first NUL, never past its length.
  std::string text(reinterpret_cast<const char*>(bytes), size);
  BindingResult reader;
  if (json) {
    ParseJsonInPlace(reader, text.data());
  } else {
    ReadYaml(reader, std::string_view(text.c_str()));
  }
  if (!reader.ok()) {
    result.Fail(reader.ErrorText());
    return;
  }
  slot = std::move(reader.value());
}

// ------------------------------------------------------------------ response streams

uint8_t MAU_ABI ReadStream(void* stream, void* buffer, uint32_t* length, uint8_t* more) {
  if (stream == nullptr) return 0;
  try {
    return static_cast<ResponseStream*>(stream)->Read(buffer, length, more) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

void MAU_ABI ReleaseStream(void* stream) {
  delete static_cast<ResponseStream*>(stream);  // NULL-safe
}

// Answers with an error text and a status, dropping what the response held when the
// dispatcher had filled it. Never throws: without memory for the text only the status
// remains.
void FailResponse(HostCallResponse& response, std::string_view message, uint32_t status) noexcept {
  if (response.release == &ReleaseHostCallResponse) ReleaseHostCallResponse(&response);
  ResetHostCallResponse(response);
  response.status = status;
  response.statusText = SharedEmptyHostText();
  try {
    response.errorText = DuplicateHostText(message);
    response.hasError = 1;
  } catch (...) {
  }
}

void BindArguments(CallResult& result, CallContext& context, CallRecord& record,
                   const HostCallRequest& request) {
  const FunctionRegistration& registration = *context.registration;
  const BindingFunctionDescriptor& function = *context.function;
  const std::span<const ParameterLocation> locations(registration.locations);
  const size_t count = function.parameters.size();

  // Header candidates: a parameter that may come from headers binds the header named as
  // its name in lower case. The map of all headers is built only when a parameter may
  // take one or the function's deferred result receives them in its call record.
  bool headersWanted =
      registration.invoker != nullptr && IsDeferredResultType(registration.invoker->ResultType());
  for (size_t i = 0; i < count && !headersWanted; ++i) {
    headersWanted = MayTakeHeader(LocationOf(locations, i));
  }
  for (uint32_t i = 0; headersWanted && i < request.headerCount && request.headers != nullptr;
       ++i) {
    const HostHeader& header = request.headers[i];
    if (header.name == nullptr) continue;
    record.requestHeaders.insert_or_assign(header.name, TextOrEmpty(header.value));
  }
  std::vector<std::pair<std::string_view, std::string_view>> headerCandidates;
  for (size_t i = 0; i < count && headersWanted; ++i) {
    if (!MayTakeHeader(LocationOf(locations, i))) continue;
    const auto found = record.requestHeaders.find(LowerCase(function.parameters[i].name));
    if (found != record.requestHeaders.end()) {
      headerCandidates.emplace_back(function.parameters[i].name, found->second);
    }
  }

  QueryParameters query;
  const size_t mark = context.url.find('?');
  if (mark != std::string::npos)
    query = ParseQueryString(std::string_view(context.url).substr(mark + 1));

  std::vector<BindingValue>& arguments = record.arguments;
  arguments.clear();
  arguments.resize(count);
  const ParameterIndex parameterIndex(function.parameters);
  for (size_t i = 0; i < count; ++i) {
    const BindingParameterDescriptor& parameter = function.parameters[i];
    if (parameter.type.id == BindingTypeId::Bool && !parameter.optional && arguments[i].is_empty())
      arguments[i] = false;
  }

  ArgumentBindingState state;
  for (const auto& [name, value] : headerCandidates) {
    if (!result.ok()) break;
    BindNamedValue(result, arguments, parameterIndex, function, locations, name, value, {},
                   ParameterLocation::Header, state);
  }
  for (const auto& [name, value] : context.pathParameters) {
    if (!result.ok()) break;
    BindNamedValue(result, arguments, parameterIndex, function, locations, name, value, {},
                   ParameterLocation::Path, state);
  }
  for (const auto& [name, value] : query) {
    if (!result.ok()) break;
    BindNamedValue(result, arguments, parameterIndex, function, locations, name, value, {},
                   ParameterLocation::Query, state);
  }

  // Typed arguments: by exact name, or by position after the path parameters.
  for (uint32_t i = 0; i < request.argumentCount && request.arguments != nullptr; ++i) {
    if (!result.ok()) return;
    const HostTypedArgument& entry = request.arguments[i];
    size_t index = 0;
    if (entry.name != nullptr) {
      index = parameterIndex.Find(entry.name);
      if (index == ParameterIndex::kNotFound) {
        result.Fail(FormatText(kUnknownArgument, entry.name, function.name));
        return;
      }
    } else {
      index = i + context.pathParameters.size();
      if (index >= count) {
        result.Fail(FormatText(kUnknownArgument, index, function.name));
        return;
      }
    }
    BindingValue converted;
    if (!HostValueToBinding(entry.value, converted, function.parameters[index].name, result.value))
      return;
    arguments[index] = std::move(converted);
  }

  // The body goes to the first parameter that takes it; without one it is ignored.
  if (result.ok() && request.body != nullptr && request.bodyLength > 0) {
    for (size_t i = 0; i < count; ++i) {
      if (LocationOf(locations, i) == ParameterLocation::Body) {
        DecodeBody(result, arguments[i], request);
        break;
      }
    }
  }
}

void RunCall(HostCallResponse& response, const HostCallRequest& request, CallContext& context) {
  const FunctionRegistration& registration = *context.registration;
  CallResult result;
  CallRecord record;
  BindArguments(result, context, record, request);

  uint32_t handle = 0;
  FunctionInvoker* invoker = registration.invoker.get();
  if (result.ok() && invoker != nullptr) {
    handle = invoker->Invoke(result, record.arguments, request.requestId);
    if (result.ok()) {
      if (IsDeferredResultType(invoker->ResultType())) {
        record.requestId = request.requestId;
        record.startTime = ReadSystemTimeTicks();
        record.registry = context.function->registry;
        record.method = context.method;
        record.customMethod = context.customMethod;
        record.url = context.url;
        invoker->Complete(result, &record, handle, request.requestId);
      } else {
        invoker->Complete(result, nullptr, handle, request.requestId);
      }
    }
  }
  WriteResponse(response, result, context.function->registry);
  if (handle != 0) invoker->Release(handle);
}

}  // namespace

ParameterIndex::ParameterIndex(std::span<const BindingParameterDescriptor> parameters)
    : parameters_(parameters) {
  if (parameters.size() <= kScannedParameters) return;
  map_.reserve(parameters.size());
  for (size_t i = 0; i < parameters.size(); ++i) map_.emplace(parameters[i].name, i);
}

size_t ParameterIndex::Find(std::string_view name) const noexcept {
  if (parameters_.size() <= kScannedParameters) {
    for (size_t i = 0; i < parameters_.size(); ++i) {
      if (parameters_[i].name == name) return i;
    }
    return kNotFound;
  }
  const auto found = map_.find(name);
  return found != map_.end() ? found->second : kNotFound;
}

void MAU_ABI HandleFunctionCall(HostCallResponse* response, const HostCallRequest* request) {
  if (response == nullptr) return;
  try {
    const auto* userData = request != nullptr
                               ? static_cast<const ExposedFunctionUserData*>(request->userData)
                               : nullptr;
    if (userData == nullptr || userData->registration == nullptr) {
      FailResponse(*response, kInvalidFunction, 404);
      return;
    }
    const Route route(*userData->registration);
    DispatchCall(*response, *request, std::span<const Route>(&route, 1));
  } catch (const std::exception& e) {
    // A native function or the heap gave up; the host still gets an answer.
    FailResponse(*response, e.what(), 500);
  } catch (...) {
    FailResponse(*response, "Unknown exception", 500);
  }
}

void DispatchCall(HostCallResponse& response, const HostCallRequest& request,
                  std::span<const Route> routes) {
  ResetHostCallResponse(response);
  CallContext context;
  context.url = TextOrEmpty(request.url);
  context.method = RequestMethodFromCode(request.method);
  if (context.method == RequestMethod::Custom)
    context.customMethod = TextOrEmpty(request.customMethod);
  if (!SelectRoute(context, routes, false) || context.registration == nullptr) {
    FailResponse(response, kInvalidFunction, 404);
    return;
  }
  RunCall(response, request, context);
}

void BindNamedValue(CallResult& result, std::vector<BindingValue>& arguments,
                    const ParameterIndex& parameterIndex, const BindingFunctionDescriptor& function,
                    std::span<const ParameterLocation> locations, std::string_view key,
                    std::string_view value, std::string_view contentType, ParameterLocation source,
                    ArgumentBindingState& state) {
  const size_t dot = key.find('.');
  const std::string_view name = key.substr(0, dot);
  const size_t index = parameterIndex.Find(name);
  if (index >= arguments.size()) {  // kNotFound included
    result.Fail(FormatText(kUnknownArgument, name, function.name));
    return;
  }
  const ParameterLocation location = LocationOf(locations, index);
  if (location != ParameterLocation::Any && location != source) {
    result.Fail(FormatText(kInvalidLocation, name, function.name));
    return;
  }
  BindingValue& slot = arguments[index];
  if (dot != std::string_view::npos) {
    BindMemberPath(result, slot, function, key.substr(dot + 1), value, contentType, state);
    return;
  }
  const BindingParameterDescriptor& parameter = function.parameters[index];
  if (!value.empty()) {
    DecodeParameterValue(result, slot, function, name, value, contentType,
                         IsStructuredType(parameter.type.id));
    return;
  }
  switch (parameter.type.id) {
    case BindingTypeId::Bool:
      slot = true;
      break;
    case BindingTypeId::Object:
    case BindingTypeId::Struct:
      slot.EnsureStructure();
      break;
    case BindingTypeId::Vector:
      slot.EnsureCollection();
      break;
    default:
      result.Fail(FormatText(kExpectedValue, name));
      break;
  }
}

void BindMemberPath(CallResult& result, BindingValue& slot,
                    const BindingFunctionDescriptor& function, std::string_view rest,
                    std::string_view value, std::string_view contentType,
                    ArgumentBindingState& state) {
  BindingValue* current = &slot;
  std::string_view segment;
  for (size_t depth = 1;; ++depth) {
    if (depth > kMaxArgumentKeyDepth) {
      result.Fail(FormatText(kKeyTooDeep, rest, kMaxArgumentKeyDepth));
      return;
    }
    const size_t dot = rest.find('.');
    segment = rest.substr(0, dot);
    if (!segment.empty() && segment[0] >= '0' && segment[0] <= '9') {
      uint32_t index = 0;
      if (!ParseIndex(result, segment, index)) return;
      const size_t have =
          current->kind() == BindingValueKind::Collection ? current->Elements().size() : 0;
      if (index >= have) {
        state.elementsAdded += index + 1 - have;
        if (state.elementsAdded > kMaxArgumentElements) {
          result.Fail(FormatText(kIndexRange, segment));
          return;
        }
      }
      current = &current->ElementForWriting(index);
    } else {
      current = &current->MemberForWriting(segment);
    }
    if (dot == std::string_view::npos) break;
    rest = rest.substr(dot + 1);
  }
  DecodeParameterValue(result, *current, function, segment, value, contentType, false);
}

void DecodeParameterValue(CallResult& result, BindingValue& slot,
                          const BindingFunctionDescriptor& function, std::string_view label,
                          std::string_view value, std::string_view /*contentType*/,
                          bool structured) {
  if (structured && !value.empty()) {
    const auto first = static_cast<unsigned char>(value[0]);
    if ((first >= 0x80 && first <= 0x9F) || (first >= 0xDC && first <= 0xDF)) {
      BindingResult reader;
      size_t consumed = 0;
      ReadMsgpack(reader, consumed, reinterpret_cast<const uint8_t*>(value.data()), value.size());
      TakeReaderResult(result, slot, reader, kBadMessagePack, label, function);
      return;
    }
    const size_t start = value.find_first_not_of(' ');
    const std::string_view trimmed =
        start == std::string_view::npos ? std::string_view() : value.substr(start);
    if (!trimmed.empty() && (trimmed[0] == '{' || trimmed[0] == '[')) {
      std::string text(value);
      BindingResult reader;
      ParseJsonInPlace(reader, text.data());
      TakeReaderResult(result, slot, reader, kBadJson, label, function);
      return;
    }
    if (trimmed.substr(0, 3) == "---") {
      const std::string text(value);
      BindingResult reader;
      ReadYaml(reader, std::string_view(text.c_str()));
      TakeReaderResult(result, slot, reader, kBadYaml, label, function);
      return;
    }
  }
  slot = value;
}

void WriteResponse(HostCallResponse& response, CallResult& result,
                   const BindingTypeRegistry* registry) {
  bool conversionFailed = false;
  if (!result.ok()) {
    response.errorText = DuplicateHostText(result.ErrorText());
    response.hasError = 1;
  } else if (!BindingToHostValue(result.value.value(), response.result, registry)) {
    conversionFailed = true;
  }
  response.bodyFlag = result.bodyFlag;
  response.bodyKind = result.bodyKind >= 1 && result.bodyKind <= 3 ? result.bodyKind : 0;
  response.status = conversionFailed ? 400 : result.status;
  response.statusText =
      result.statusText.empty() ? SharedEmptyHostText() : DuplicateHostText(result.statusText);
  if (!result.headers.empty()) {
    const size_t count = result.headers.size();
    auto* pairs = static_cast<HostHeader*>(HookAllocate(count * sizeof(HostHeader)));
    if (pairs == nullptr) throw std::bad_alloc();
    std::memset(static_cast<void*>(pairs), 0, count * sizeof(HostHeader));
    response.headers = pairs;
    response.headerCount = static_cast<uint32_t>(count);
    size_t i = 0;
    for (const auto& [name, value] : result.headers) {
      pairs[i].name = DuplicateHostText(name);
      pairs[i].value = DuplicateHostText(value);
      ++i;
    }
  }
  if (result.stream() != nullptr) {
    std::unique_ptr<ResponseStream> stream = result.TakeStream();
    response.bodyLength = stream->Size();
    response.streamRead = &ReadStream;
    response.streamRelease = &ReleaseStream;
    response.stream = stream.release();
  }
}

}  // namespace mau
