#include "clock.h"

#include <windows.h>

namespace netquest {

uint64_t MonotonicMs() {
  static LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return static_cast<uint64_t>(now.QuadPart) * 1000u / static_cast<uint64_t>(frequency.QuadPart);
}

uint64_t WallClockUs() {
  // The precise variant exists from Windows 8 on (and in Wine); older systems get the
  // coarse one, which only makes the latency figures coarser.
  using GetTimeFn = VOID(WINAPI*)(LPFILETIME);
  static GetTimeFn get_time = [] {
    FARPROC p = GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetSystemTimePreciseAsFileTime");
    return p ? reinterpret_cast<GetTimeFn>(reinterpret_cast<void*>(p)) : &GetSystemTimeAsFileTime;
  }();
  FILETIME ft;
  get_time(&ft);
  uint64_t ticks = (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  return ticks / 10;  // 100 ns units since 1601
}

}  // namespace netquest
