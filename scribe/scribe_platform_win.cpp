// Windows side of the platform layer: what SCRIBE.DLL runs on.
#include "scribe_platform.h"

#include <windows.h>

#include <string.h>

namespace scribe {

void NowLocal(LocalTime* t) {
  SYSTEMTIME st;
  GetLocalTime(&st);
  t->year = st.wYear;
  t->month = st.wMonth;
  t->day = st.wDay;
  t->hour = st.wHour;
  t->minute = st.wMinute;
  t->second = st.wSecond;
  t->millisecond = st.wMilliseconds;
}

uint32_t CurrentThreadId() { return GetCurrentThreadId(); }

uint32_t CurrentProcessId() { return GetCurrentProcessId(); }

bool GetEnv(const char* name, char* out, size_t size) {
  if (size == 0 || size > 0x7FFFFFFF) return false;
  DWORD n = GetEnvironmentVariableA(name, out, static_cast<DWORD>(size));
  return n > 0 && n < size;
}

bool ExecutableDir(char* out, size_t size) {
  char path[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
  if (n == 0 || n >= sizeof path) return false;
  char* cut = strrchr(path, '\\');
  char* fwd = strrchr(path, '/');
  if (fwd > cut) cut = fwd;
  if (cut == nullptr) return false;
  *cut = '\0';
  if (strlen(path) >= size) return false;
  memcpy(out, path, strlen(path) + 1);
  return true;
}

FileHandle OpenLogFile(const char* path, bool exclusive, bool* taken) {
  *taken = false;
  HANDLE h = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, exclusive ? CREATE_NEW : OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    DWORD e = GetLastError();
    *taken = (e == ERROR_FILE_EXISTS || e == ERROR_ALREADY_EXISTS);
    return kNoFile;
  }
  return reinterpret_cast<FileHandle>(h);
}

bool AppendToFile(FileHandle f, const void* data, size_t n) {
  if (n > 0x7FFFFFFF) return false;
  DWORD written = 0;
  return WriteFile(reinterpret_cast<HANDLE>(f), data, static_cast<DWORD>(n), &written, nullptr) &&
         written == n;
}

void CloseFile(FileHandle f) {
  if (f != kNoFile) CloseHandle(reinterpret_cast<HANDLE>(f));
}

bool RemoveFile(const char* path) { return DeleteFileA(path) != 0; }

bool ListDir(const char* dir, void (*visit)(const char* name, void* ctx), void* ctx) {
  char pattern[MAX_PATH];
  size_t len = strlen(dir);
  if (len + 3 > sizeof pattern) return false;
  memcpy(pattern, dir, len);
  memcpy(pattern + len, "\\*", 3);
  WIN32_FIND_DATAA fd;
  HANDLE h = FindFirstFileA(pattern, &fd);
  if (h == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
  do {
    visit(fd.cFileName, ctx);
  } while (FindNextFileA(h, &fd));
  FindClose(h);
  return true;
}

bool SystemErrorText(int code, char* out, size_t size) {
  if (size == 0 || size > 0xFFFF) return false;
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                           static_cast<DWORD>(code), 0, out, static_cast<DWORD>(size), nullptr);
  if (n == 0) return false;
  while (n > 0 && (out[n - 1] == '\r' || out[n - 1] == '\n' || out[n - 1] == ' ' || out[n - 1] == '.'))
    out[--n] = '\0';
  return n > 0;
}

static_assert(sizeof(CRITICAL_SECTION) <= 64, "Mutex storage too small");

Mutex::Mutex() { InitializeCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(storage_)); }
Mutex::~Mutex() { DeleteCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(storage_)); }
void Mutex::lock() { EnterCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(storage_)); }
void Mutex::unlock() { LeaveCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(storage_)); }

}  // namespace scribe
