// POSIX side of the platform layer: the native build, where the trace log is tested.
#include "scribe_platform.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <stdlib.h>
#include <string.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

namespace scribe {

void NowLocal(LocalTime* t) {
  struct timeval tv;
  gettimeofday(&tv, nullptr);
  struct tm tm;
  time_t secs = tv.tv_sec;
  localtime_r(&secs, &tm);
  t->year = tm.tm_year + 1900;
  t->month = tm.tm_mon + 1;
  t->day = tm.tm_mday;
  t->hour = tm.tm_hour;
  t->minute = tm.tm_min;
  t->second = tm.tm_sec;
  t->millisecond = static_cast<int>(tv.tv_usec / 1000);
}

uint32_t CurrentThreadId() { return static_cast<uint32_t>(syscall(SYS_gettid)); }

uint32_t CurrentProcessId() { return static_cast<uint32_t>(getpid()); }

bool GetEnv(const char* name, char* out, size_t size) {
  const char* v = getenv(name);
  if (v == nullptr || *v == '\0' || strlen(v) >= size) return false;
  memcpy(out, v, strlen(v) + 1);
  return true;
}

bool ExecutableDir(char* out, size_t size) {
  char path[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return false;
  path[n] = '\0';
  char* slash = strrchr(path, '/');
  if (slash == nullptr) return false;
  if (slash == path) slash++;  // the root directory keeps its '/'
  *slash = '\0';
  if (strlen(path) >= size) return false;
  memcpy(out, path, strlen(path) + 1);
  return true;
}

FileHandle OpenLogFile(const char* path, bool exclusive, bool* taken) {
  *taken = false;
  int fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | (exclusive ? O_EXCL : 0), 0644);
  if (fd < 0) {
    *taken = (errno == EEXIST);
    return kNoFile;
  }
  return fd;
}

bool AppendToFile(FileHandle f, const void* data, size_t n) {
  const char* p = static_cast<const char*>(data);
  while (n > 0) {
    ssize_t w = write(static_cast<int>(f), p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    p += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

void CloseFile(FileHandle f) {
  if (f != kNoFile) close(static_cast<int>(f));
}

bool RemoveFile(const char* path) { return unlink(path) == 0; }

bool ListDir(const char* dir, void (*visit)(const char* name, void* ctx), void* ctx) {
  DIR* d = opendir(dir);
  if (d == nullptr) return false;
  while (struct dirent* e = readdir(d)) visit(e->d_name, ctx);
  closedir(d);
  return true;
}

bool SystemErrorText(int code, char* out, size_t size) {
  if (size == 0) return false;
  char buf[256];
  // The GNU strerror_r may return a static text instead of filling buf.
  const char* text = strerror_r(code, buf, sizeof buf);
  if (text == nullptr || strncmp(text, "Unknown error", 13) == 0) return false;
  strncpy(out, text, size - 1);
  out[size - 1] = '\0';
  return true;
}

static_assert(sizeof(pthread_mutex_t) <= 64, "Mutex storage too small");

Mutex::Mutex() { pthread_mutex_init(reinterpret_cast<pthread_mutex_t*>(storage_), nullptr); }
Mutex::~Mutex() { pthread_mutex_destroy(reinterpret_cast<pthread_mutex_t*>(storage_)); }
void Mutex::lock() { pthread_mutex_lock(reinterpret_cast<pthread_mutex_t*>(storage_)); }
void Mutex::unlock() { pthread_mutex_unlock(reinterpret_cast<pthread_mutex_t*>(storage_)); }

}  // namespace scribe
