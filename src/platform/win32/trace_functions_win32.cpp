// Event Tracing for Windows, resolved at run time from Advapi32.dll so that the library
// also loads where it is missing. Only Win32 code belongs in this file.
#include <windows.h>

#include <evntprov.h>

#include "platform/trace_provider.h"

namespace mau {

namespace {

using EventRegisterFn = ULONG(WINAPI*)(LPCGUID, PENABLECALLBACK, PVOID, PREGHANDLE);
using EventWriteFn = ULONG(WINAPI*)(REGHANDLE, PCEVENT_DESCRIPTOR, ULONG, PEVENT_DATA_DESCRIPTOR);
using EventUnregisterFn = ULONG(WINAPI*)(REGHANDLE);

static_assert(sizeof(TraceGuid) == sizeof(GUID));
static_assert(sizeof(TraceEventDescriptor) == sizeof(EVENT_DESCRIPTOR));
static_assert(sizeof(TraceEventData) == sizeof(EVENT_DATA_DESCRIPTOR));

EventRegisterFn g_register = nullptr;
EventWriteFn g_write = nullptr;
EventUnregisterFn g_unregister = nullptr;
TraceEnableCallback g_enable = nullptr;

// The system calls back with its own calling convention; pass the call on.
void NTAPI EnableTrampoline(LPCGUID, ULONG controlCode, UCHAR level, ULONGLONG anyKeyword,
                            ULONGLONG allKeyword, PEVENT_FILTER_DESCRIPTOR, PVOID context) {
  if (g_enable != nullptr) g_enable(controlCode, level, anyKeyword, allKeyword, context);
}

uint32_t Register(const TraceGuid* guid, TraceEnableCallback callback, void* context,
                  uint64_t* handle) {
  if (g_register == nullptr) return ERROR_PROC_NOT_FOUND;
  g_enable = callback;
  REGHANDLE h = 0;
  const ULONG status = g_register(reinterpret_cast<LPCGUID>(guid), EnableTrampoline, context, &h);
  if (status == ERROR_SUCCESS) *handle = h;
  return status;
}

uint32_t Write(uint64_t handle, const TraceEventDescriptor* event, uint32_t count,
               TraceEventData* data) {
  if (g_write == nullptr) return ERROR_PROC_NOT_FOUND;
  return g_write(handle, reinterpret_cast<PCEVENT_DESCRIPTOR>(event), count,
                 reinterpret_cast<PEVENT_DATA_DESCRIPTOR>(data));
}

uint32_t Unregister(uint64_t handle) {
  if (g_unregister == nullptr) return ERROR_PROC_NOT_FOUND;
  return g_unregister(handle);
}

template <typename F>
F Resolve(HMODULE module, const char* name) {
  return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

}  // namespace

bool LoadSystemTraceFunctions(TraceFunctions* functions) {
  if (functions == nullptr) return false;
  *functions = TraceFunctions{};
  HMODULE advapi = LoadLibraryW(L"Advapi32.dll");
  if (advapi == nullptr) return false;
  g_register = Resolve<EventRegisterFn>(advapi, "EventRegister");
  g_write = Resolve<EventWriteFn>(advapi, "EventWrite");
  g_unregister = Resolve<EventUnregisterFn>(advapi, "EventUnregister");
  if (g_register != nullptr) functions->registerProvider = Register;
  if (g_write != nullptr) functions->writeEvent = Write;
  if (g_unregister != nullptr) functions->unregisterProvider = Unregister;
  return true;
}

}  // namespace mau
