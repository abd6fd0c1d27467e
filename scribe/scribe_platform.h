// The few operating-system services the trace log needs, behind one thin layer:
// scribe_platform_win.cpp for Windows, scribe_platform_posix.cpp for the native build and
// its tests.
// Nothing here throws; every failure is a false or kNoFile result.
#ifndef ORB_SCRIBE_SCRIBE_PLATFORM_H
#define ORB_SCRIBE_SCRIBE_PLATFORM_H

#include <stddef.h>
#include <stdint.h>

namespace scribe {

struct LocalTime {
  int year, month, day, hour, minute, second, millisecond;
};

using FileHandle = intptr_t;
constexpr FileHandle kNoFile = -1;

// Local wall-clock time, to the millisecond.
void NowLocal(LocalTime* t);
uint32_t CurrentThreadId();
uint32_t CurrentProcessId();

// The value of an environment variable. False when it is unset, empty or longer than size - 1.
bool GetEnv(const char* name, char* out, size_t size);

// Directory of the running executable, without a trailing separator. False on failure.
bool ExecutableDir(char* out, size_t size);

// Log path patterns are written with '\\'; the native build turns those into '/'. Log lines
// end in CR LF on Windows (Notepad reads them), LF elsewhere.
#ifdef _WIN32
constexpr char kPathSep = '\\';
constexpr char kLineEnd[] = "\r\n";
#else
constexpr char kPathSep = '/';
constexpr char kLineEnd[] = "\n";
#endif

// Opens path for appending. With exclusive the file must not exist yet (*taken is true when
// it does); otherwise an existing file is appended to. Other processes may read, append to
// or delete the file while it is open.
FileHandle OpenLogFile(const char* path, bool exclusive, bool* taken);
// Writes all n bytes at the end of the file in one system call. False on failure.
bool AppendToFile(FileHandle f, const void* data, size_t n);
void CloseFile(FileHandle f);
bool RemoveFile(const char* path);

// Calls visit(name, ctx) for every entry of dir (names only, no path). False when dir cannot
// be read.
bool ListDir(const char* dir, void (*visit)(const char* name, void* ctx), void* ctx);

// The system's text for an error code (Win32 or Winsock on Windows), without a trailing line
// break. False when the system has none.
bool SystemErrorText(int code, char* out, size_t size);

// A plain lock: a critical section on Windows, a pthread mutex elsewhere. Not std::mutex, so
// that it keeps working while the process exits and the runtime's thread support is torn down.
class Mutex {
 public:
  Mutex();
  ~Mutex();
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;
  void lock();
  void unlock();

 private:
  alignas(8) unsigned char storage_[64];
};

}  // namespace scribe

#endif
