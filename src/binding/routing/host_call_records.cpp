#include "binding/routing/host_call_records.h"

#include <cstring>
#include <new>

#include "binding/host_value.h"
#include "platform/alloc_hooks.h"

namespace mau {
namespace {

constexpr char kEmptyText[1] = "";

}  // namespace

const char* SharedEmptyHostText() noexcept { return kEmptyText; }

char* DuplicateHostText(std::string_view text) {
  auto* copy = static_cast<char*>(HookAllocate(text.size() + 1));
  if (copy == nullptr) throw std::bad_alloc();
  if (!text.empty()) std::memcpy(copy, text.data(), text.size());
  copy[text.size()] = '\0';
  return copy;
}

void MAU_ABI ReleaseHostCallResponse(HostCallResponse* response) {
  if (response == nullptr) return;
  ClearHostValue(response->result);
  if (response->hasError != 0) HookRelease(const_cast<char*>(response->errorText));
  response->errorText = nullptr;
  response->hasError = 0;
  if (response->statusText != nullptr && response->statusText != kEmptyText) {
    HookRelease(const_cast<char*>(response->statusText));
  }
  if (response->headers != nullptr) {
    for (uint32_t i = 0; i < response->headerCount; ++i) {
      HookRelease(const_cast<char*>(response->headers[i].name));
      HookRelease(const_cast<char*>(response->headers[i].value));
    }
    HookRelease(const_cast<HostHeader*>(response->headers));
  }
  std::memset(static_cast<void*>(response), 0, sizeof(HostCallResponse));
}

void ResetHostCallResponse(HostCallResponse& response) {
  std::memset(static_cast<void*>(&response), 0, sizeof(HostCallResponse));
  response.release = &ReleaseHostCallResponse;
}

}  // namespace mau
