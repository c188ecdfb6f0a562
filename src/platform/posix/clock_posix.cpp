// POSIX clocks. Only POSIX code belongs in this file.
#include <ctime>

#include "platform/clock.h"

namespace mau {

LocalTime ReadLocalTime() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  tm parts{};
  time_t seconds = now.tv_sec;
  localtime_r(&seconds, &parts);
  LocalTime t;
  t.year = parts.tm_year + 1900;
  t.month = parts.tm_mon + 1;
  t.day = parts.tm_mday;
  t.hour = parts.tm_hour;
  t.minute = parts.tm_min;
  t.second = parts.tm_sec;
  t.millisecond = static_cast<int32_t>(now.tv_nsec / 1000000);
  return t;
}

int64_t ReadPerformanceCounter() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

int64_t ReadPerformanceFrequency() { return 1000000000; }

int64_t ReadSystemTimeTicks() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<int64_t>(now.tv_sec) * 10000000 + now.tv_nsec / 100;
}

}  // namespace mau
