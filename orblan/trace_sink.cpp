#include "trace_sink.h"

#include <stdio.h>

#include <mutex>

namespace {

enum class Target { kStdout, kFile, kNowhere };

std::mutex g_lock;
Target g_target = Target::kStdout;
FILE* g_file = nullptr;
bool g_unflushed = false;

}  // namespace

void SessionTrace(const char* line) {
  std::lock_guard<std::mutex> hold(g_lock);
  switch (g_target) {
    case Target::kStdout:
      printf("%s", line);  // as the transport's default sink
      break;
    case Target::kFile:
      fputs(line, g_file);
      g_unflushed = true;
      break;
    case Target::kNowhere:
      break;
  }
}

bool SetSessionTrace(const char* path) {
  std::lock_guard<std::mutex> hold(g_lock);
  if (g_file != nullptr) fclose(g_file);
  g_file = nullptr;
  g_unflushed = false;
  if (path == nullptr) {
    g_target = Target::kStdout;
    return true;
  }
  g_target = Target::kNowhere;
  if (path[0] == '\0') return true;
  g_file = fopen(path, "a");
  if (g_file == nullptr) return false;
  g_target = Target::kFile;
  return true;
}

void FlushSessionTrace() {
  std::lock_guard<std::mutex> hold(g_lock);
  if (g_unflushed && g_file != nullptr) fflush(g_file);
  g_unflushed = false;
}
