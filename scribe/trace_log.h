// The trace log behind SCRIBE.DLL's exports: one open file at a time, numbered and rotated,
// a level filter, and whole lines written under one lock so that threads never tear them.
// Every call returns; a log that cannot be written turns itself off quietly.
#ifndef ORB_SCRIBE_TRACE_LOG_H
#define ORB_SCRIBE_TRACE_LOG_H

#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>

#include <atomic>

#include "log_path.h"
#include "scribe_platform.h"

namespace scribe {

constexpr int kDefaultLevel = 1000;                      // lines of level <= 1000 are written
constexpr uint64_t kRotateBytes = 4ull * 1024 * 1024;     // a file past 4 MiB is followed by the next
constexpr int kKeepFiles = 5;                            // the newest five numbers are kept
constexpr uint64_t kRotateKbMax = 1024 * 1024;           // SCRIBE_ROTATE_KB at most 1 GiB
// Level of the lines the log writes about itself (opened, closed): always written.
constexpr int kSelfLevel = 0;

struct Settings {
  char log_dir[kPathMax] = "";  // empty: the log stays off
  int level = kDefaultLevel;
  uint64_t rotate_bytes = kRotateBytes;
  int keep_files = kKeepFiles;
  bool level_invalid = false;   // SCRIBE_LEVEL was set but is not a number
  bool rotate_invalid = false;  // SCRIBE_ROTATE_KB was set but is not 1..kRotateKbMax
};

// SCRIBE_LOGDIR (else the executable's directory), SCRIBE_LEVEL, SCRIBE_ROTATE_KB.
Settings SettingsFromEnvironment();

// The clock and the thread id, replaceable in tests.
struct Host {
  void (*now)(LocalTime*) = NowLocal;
  uint32_t (*thread_id)() = CurrentThreadId;
};

class TraceLog {
 public:
  TraceLog() = default;
  explicit TraceLog(const Host& host) : host_(host) {}
  TraceLog(const TraceLog&) = delete;
  TraceLog& operator=(const TraceLog&) = delete;
  ~TraceLog() { Close(); }

  // Closes any open file and starts a new one for module, named by pattern (see log_path.h;
  // null or empty gives "%logdir%\<module>-%rotate%.log"). Writes a first line saying who
  // opened it and with which filter. Returns true when a file is open.
  bool Open(const char* file, int line, const char* module, const char* pattern, const Settings& s);

  // Writes one line when level passes the filter. Returns the length of the message text,
  // 0 when it was filtered out or the log is off.
  int Write(const char* file, int line, int level, const char* format, va_list args);
  int WriteText(const char* file, int line, int level, const char* text);

  // Writes a caption line and hex+ASCII rows of up to kDumpMaxBytes bytes, together. Returns
  // the number of bytes shown, 0 when filtered out, off, or nothing to show.
  int Dump(const char* file, int line, int level, const void* data, int length, const char* caption);

  // Writes a last line and closes the file. Later writes do nothing until Open.
  void Close();

  bool IsOpen() const { return open_.load(std::memory_order_acquire); }
  // Path of the file being written, "" when off. For tests.
  void CurrentPath(char* out, size_t size);

 private:
  bool Passes(int level) const {
    return IsOpen() && level <= level_.load(std::memory_order_relaxed);
  }
  // Callers hold mutex_.
  bool StartFile(long number);
  void PruneOldFiles();
  void WriteLocked(const char* line, size_t n);
  int WriteLineLocked(const char* file, int line, int level, const char* text);
  void RotateIfFullLocked();
  void CloseLocked(const char* file, int line, const char* why);
  size_t Prefix(char* out, size_t size, const char* file, int line, int level);

  Host host_;
  Mutex mutex_;
  std::atomic<bool> open_{false};
  std::atomic<int> level_{kDefaultLevel};
  FileHandle file_ = kNoFile;
  LogPath path_{};
  char current_[kPathMax] = "";
  long number_ = 0;
  uint64_t written_ = 0;
  uint64_t rotate_bytes_ = kRotateBytes;
  int keep_files_ = kKeepFiles;
};

}  // namespace scribe

#endif
