#include "trace_log.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "line_format.h"

namespace scribe {
namespace {

class Guard {
 public:
  explicit Guard(Mutex& m) : m_(m) { m_.lock(); }
  ~Guard() { m_.unlock(); }
  Guard(const Guard&) = delete;
  Guard& operator=(const Guard&) = delete;

 private:
  Mutex& m_;
};

// A run that finds its next number taken (another process started at the same moment) tries
// the numbers after it.
constexpr int kCreateTries = 64;
// Source named by the log's own lines that no caller asked for (closed, continues, continued).
const char kSelfFile[] = "scribe";

bool ParseLong(const char* text, long lo, long hi, long* out) {
  char* end = nullptr;
  long v = strtol(text, &end, 10);
  if (end == text || *end != '\0' || v < lo || v > hi) return false;
  *out = v;
  return true;
}

struct Numbers {
  const LogPath* path;
  long highest;
  long below;  // remove files numbered below this
  char sep;
};

void FindHighest(const char* name, void* ctx) {
  Numbers* n = static_cast<Numbers*>(ctx);
  long v = LogFileNumber(*n->path, name);
  if (v > n->highest) n->highest = v;
}

void RemoveOld(const char* name, void* ctx) {
  Numbers* n = static_cast<Numbers*>(ctx);
  long v = LogFileNumber(*n->path, name);
  if (v < 0 || v >= n->below) return;
  // Remove the entry by the name it has; it may differ in case from ours.
  char full[kPathMax];
  int w = snprintf(full, sizeof full, "%s%c%s", n->path->dir, n->sep, name);
  if (w > 0 && static_cast<size_t>(w) < sizeof full) RemoveFile(full);
}

const char* BaseName(const char* path) {
  const char* b = strrchr(path, kPathSep);
  return b != nullptr ? b + 1 : path;
}

}  // namespace

Settings SettingsFromEnvironment() {
  Settings s;
  if (!GetEnv("SCRIBE_LOGDIR", s.log_dir, sizeof s.log_dir) &&
      !ExecutableDir(s.log_dir, sizeof s.log_dir)) {
    s.log_dir[0] = '\0';
  }
  char v[32];
  long n;
  if (GetEnv("SCRIBE_LEVEL", v, sizeof v)) {
    if (ParseLong(v, -1000000000L, 1000000000L, &n)) {
      s.level = static_cast<int>(n);
    } else {
      s.level_invalid = true;
    }
  }
  if (GetEnv("SCRIBE_ROTATE_KB", v, sizeof v)) {
    if (ParseLong(v, 1, static_cast<long>(kRotateKbMax), &n)) {
      s.rotate_bytes = static_cast<uint64_t>(n) * 1024;
    } else {
      s.rotate_invalid = true;
    }
  }
  return s;
}

size_t TraceLog::Prefix(char* out, size_t size, const char* file, int line, int level) {
  LocalTime t;
  host_.now(&t);
  return FormatPrefix(out, size, t, host_.thread_id(), level, file, line);
}

void TraceLog::WriteLocked(const char* text, size_t n) {
  if (file_ == kNoFile) return;
  if (!AppendToFile(file_, text, n)) {
    // A full disk or a vanished directory: stop quietly rather than retry on every line.
    CloseFile(file_);
    file_ = kNoFile;
    current_[0] = '\0';
    open_.store(false, std::memory_order_release);
    return;
  }
  written_ += n;
}

int TraceLog::WriteLineLocked(const char* file, int line, int level, const char* text) {
  if (file_ == kNoFile) return 0;
  char out[kLineMax];
  size_t n = Prefix(out, sizeof out - kTextMax - sizeof kLineEnd, file, line, level);
  size_t tn = CleanText(out + n, kTextMax + 1, text);
  n += tn;
  memcpy(out + n, kLineEnd, sizeof kLineEnd);
  WriteLocked(out, n + sizeof kLineEnd - 1);
  return file_ != kNoFile ? static_cast<int>(tn) : 0;
}

int TraceLog::WriteText(const char* file, int line, int level, const char* text) {
  if (!Passes(level)) return 0;
  Guard lock(mutex_);
  RotateIfFullLocked();
  return WriteLineLocked(file, line, level, text);
}

int TraceLog::Write(const char* file, int line, int level, const char* format, va_list args) {
  if (!Passes(level)) return 0;
  char text[kTextMax + 1];
  FormatText(text, sizeof text, format, args);
  return WriteText(file, line, level, text);
}

int TraceLog::Dump(const char* file, int line, int level, const void* data, int length,
                   const char* caption) {
  if (!Passes(level)) return 0;
  char head[kTextMax + 1];
  char cap[kTextMax / 2];
  CleanText(cap, sizeof cap, caption != nullptr ? caption : "");
  if (length < 0 || (data == nullptr && length > 0)) {
    snprintf(head, sizeof head, "%s%sdump refused: %d bytes at %s", cap, *cap ? ": " : "", length,
             data == nullptr ? "a null pointer" : "a valid pointer");
    WriteText(file, line, level, head);
    return 0;
  }
  size_t shown = static_cast<size_t>(length) < kDumpMaxBytes ? static_cast<size_t>(length) : kDumpMaxBytes;
  if (shown < static_cast<size_t>(length)) {
    snprintf(head, sizeof head, "%s%sdump of %d bytes, the first %u shown", cap, *cap ? ": " : "",
             length, static_cast<unsigned>(shown));
  } else {
    snprintf(head, sizeof head, "%s%sdump of %d bytes", cap, *cap ? ": " : "", length);
  }

  const uint8_t* bytes = static_cast<const uint8_t*>(data);
  char out[kLineMax];
  Guard lock(mutex_);
  // The caption and every row stay together in one file.
  RotateIfFullLocked();
  if (WriteLineLocked(file, line, level, head) == 0) return 0;
  size_t pn = Prefix(out, sizeof out - kTextMax - sizeof kLineEnd, file, line, level);
  size_t n;
  for (size_t at = 0; at < shown && file_ != kNoFile; at += kDumpRowBytes) {
    size_t rn = shown - at < kDumpRowBytes ? shown - at : kDumpRowBytes;
    n = pn + FormatDumpRow(out + pn, sizeof out - pn - sizeof kLineEnd, at, bytes + at, rn);
    memcpy(out + n, kLineEnd, sizeof kLineEnd);
    WriteLocked(out, n + sizeof kLineEnd - 1);
  }
  return file_ != kNoFile ? static_cast<int>(shown) : 0;
}

bool TraceLog::StartFile(long number) {
  for (int i = 0; i < kCreateTries; ++i, ++number) {
    char name[kPathMax];
    if (!LogFileName(path_, kPathSep, number, name, sizeof name)) return false;
    bool taken = false;
    FileHandle f = OpenLogFile(name, path_.numbered, &taken);
    if (f != kNoFile) {
      file_ = f;
      number_ = number;
      written_ = 0;
      memcpy(current_, name, strlen(name) + 1);
      PruneOldFiles();
      return true;
    }
    if (!taken || !path_.numbered) return false;
  }
  return false;
}

void TraceLog::PruneOldFiles() {
  if (!path_.numbered) return;
  Numbers n{&path_, 0, number_ - keep_files_ + 1, kPathSep};
  if (n.below > 1) ListDir(path_.dir, RemoveOld, &n);
}

void TraceLog::RotateIfFullLocked() {
  if (!path_.numbered || written_ < rotate_bytes_ || file_ == kNoFile) return;
  char next[kPathMax];
  if (!LogFileName(path_, kPathSep, number_ + 1, next, sizeof next)) return;
  char prev[kPathMax];
  memcpy(prev, current_, sizeof prev);
  char line[kLineMax];
  snprintf(line, sizeof line, "log continues in %s", BaseName(next));
  WriteLineLocked(kSelfFile, 0, kSelfLevel, line);
  if (file_ == kNoFile) return;
  CloseFile(file_);
  file_ = kNoFile;
  if (!StartFile(number_ + 1)) {
    current_[0] = '\0';
    open_.store(false, std::memory_order_release);
    return;
  }
  snprintf(line, sizeof line, "log continued from %s", BaseName(prev));
  WriteLineLocked(kSelfFile, 0, kSelfLevel, line);
}

bool TraceLog::Open(const char* file, int line, const char* module, const char* pattern,
                    const Settings& s) {
  Guard lock(mutex_);
  CloseLocked(file, line, "log closed, opened again");
  if (module == nullptr || *module == '\0') module = "scribe";
  char fallback[kPathMax];
  if (pattern == nullptr || *pattern == '\0') {
    snprintf(fallback, sizeof fallback, "%%logdir%%\\%s-%%rotate%%.log", module);
    pattern = fallback;
  }
  if (s.log_dir[0] == '\0' || !ParseLogPath(pattern, s.log_dir, kPathSep, &path_)) return false;
  Numbers n{&path_, 0, 0, kPathSep};
  if (path_.numbered && !ListDir(path_.dir, FindHighest, &n)) return false;
  rotate_bytes_ = s.rotate_bytes;
  keep_files_ = s.keep_files > 0 ? s.keep_files : 1;
  if (!StartFile(n.highest + 1)) return false;
  level_.store(s.level, std::memory_order_relaxed);
  open_.store(true, std::memory_order_release);

  char text[kTextMax];
  snprintf(text, sizeof text,
           "log opened by %s (process %u): levels up to %d written%s, a new file after %lu KiB, "
           "%d files kept%s",
           module, CurrentProcessId(), s.level, s.level_invalid ? " (SCRIBE_LEVEL not a number)" : "",
           static_cast<unsigned long>(rotate_bytes_ / 1024), path_.numbered ? keep_files_ : 1,
           s.rotate_invalid ? " (SCRIBE_ROTATE_KB not 1 to 1048576)" : "");
  WriteLineLocked(file, line, kSelfLevel, text);
  return IsOpen();
}

void TraceLog::CloseLocked(const char* file, int line, const char* why) {
  if (file_ == kNoFile) return;
  WriteLineLocked(file, line, kSelfLevel, why);
  if (file_ == kNoFile) return;
  open_.store(false, std::memory_order_release);
  CloseFile(file_);
  file_ = kNoFile;
  current_[0] = '\0';
}

void TraceLog::Close() {
  Guard lock(mutex_);
  CloseLocked(kSelfFile, 0, "log closed");
}

void TraceLog::CurrentPath(char* out, size_t size) {
  if (size == 0) return;
  Guard lock(mutex_);
  snprintf(out, size, "%s", current_);
}

}  // namespace scribe
