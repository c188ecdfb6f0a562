// Win32 clocks. Only Win32 code belongs in this file.
#include <windows.h>

#include "platform/clock.h"

namespace mau {

LocalTime ReadLocalTime() {
  SYSTEMTIME st;
  GetLocalTime(&st);
  LocalTime t;
  t.year = st.wYear;
  t.month = st.wMonth;
  t.day = st.wDay;
  t.hour = st.wHour;
  t.minute = st.wMinute;
  t.second = st.wSecond;
  t.millisecond = st.wMilliseconds;
  return t;
}

int64_t ReadPerformanceCounter() {
  LARGE_INTEGER value;
  QueryPerformanceCounter(&value);
  return value.QuadPart;
}

int64_t ReadPerformanceFrequency() {
  LARGE_INTEGER value;
  QueryPerformanceFrequency(&value);
  return value.QuadPart;
}

int64_t ReadSystemTimeTicks() {
  // FILETIME counts 100 ns ticks since 1601-01-01; move the origin to 1970-01-01.
  constexpr int64_t kTicks1601To1970 = 116444736000000000LL;
  FILETIME ft;
  GetSystemTimeAsFileTime(&ft);
  const int64_t ticks =
      (static_cast<int64_t>(ft.dwHighDateTime) << 32) | static_cast<int64_t>(ft.dwLowDateTime);
  return ticks - kTicks1601To1970;
}

}  // namespace mau
