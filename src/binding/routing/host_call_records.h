// The plug-in's side of the host's call records (HostCallRequest / HostCallResponse in
// mau/plugin_abi.h): the release function of the responses the plug-in fills, and the
// memory rules behind it.
//
// Every text and array that the plug-in puts into a response comes from the allocation
// hooks and is freed by ReleaseHostCallResponse, which the plug-in stores in the response's
// release member. A response's stream is not the release function's business: the host
// destroys it through the stream release callback (before or after releasing the record).
//
//   HostCallResponse response{};
//   mau::ResetHostCallResponse(response);                  // zeroed, release member set
//   response.errorText = mau::DuplicateHostText("Invalid function");
//   response.hasError = 1;
//   ...the host reads it, then calls response.release(&response): all 62 bytes are zero.
#pragma once

#include <string_view>

#include "mau/plugin_abi.h"

namespace mau {

// The shared empty text stored as the status text of a response without one; never freed.
const char* SharedEmptyHostText() noexcept;

// A NUL-terminated heap copy of text from the allocation hooks (also for texts with
// embedded NULs, which the host will read up to the first one). Raises std::bad_alloc when
// the hooks refuse memory.
char* DuplicateHostText(std::string_view text);

// Frees what a response filled by the plug-in holds (result value, error text, a status
// text other than the shared empty text, header names, values and their array) and zeroes
// all of its bytes. NULL-safe. [host-thread]
void MAU_ABI ReleaseHostCallResponse(HostCallResponse* response);

// Zeroes response and stores ReleaseHostCallResponse as its release function. The record is
// an out-parameter: whatever it held before is not read, so a host that hands over an
// uninitialised record loses nothing and crashes nothing.
void ResetHostCallResponse(HostCallResponse& response);

}  // namespace mau
