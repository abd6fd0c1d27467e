// The platform differences of the shim's portable parts, all here: a recursive lock, and
// keeping the thread's last-error code across trace calls (on Windows it is the Winsock
// error the game reads; natively there is nothing to keep).
#ifndef ORB_ORBWS_SHIM_PLATFORM_H
#define ORB_ORBWS_SHIM_PLATFORM_H

#ifdef _WIN32
#include <windows.h>

class ShimMutex {
 public:
  ShimMutex() { InitializeCriticalSection(&cs_); }
  ~ShimMutex() { DeleteCriticalSection(&cs_); }
  void lock() { EnterCriticalSection(&cs_); }
  void unlock() { LeaveCriticalSection(&cs_); }
  ShimMutex(const ShimMutex&) = delete;
  ShimMutex& operator=(const ShimMutex&) = delete;

 private:
  CRITICAL_SECTION cs_;
};

// Puts the thread's last-error code back when the scope ends.
class LastErrorKeeper {
 public:
  LastErrorKeeper() : code_(GetLastError()) {}
  ~LastErrorKeeper() { SetLastError(code_); }
  LastErrorKeeper(const LastErrorKeeper&) = delete;
  LastErrorKeeper& operator=(const LastErrorKeeper&) = delete;

 private:
  DWORD code_;
};
#else
#include <mutex>

class ShimMutex {
 public:
  void lock() { m_.lock(); }
  void unlock() { m_.unlock(); }

 private:
  std::recursive_mutex m_;
};

class LastErrorKeeper {
 public:
  LastErrorKeeper() {}
};
#endif

#endif
