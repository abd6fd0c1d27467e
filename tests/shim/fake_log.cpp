#include "fake_log.h"

#include <stdarg.h>
#include <stdio.h>

#include <mutex>

namespace {

std::mutex g_mutex;
std::vector<FakeLine> g_lines;
std::vector<FakeDump> g_dumps;
int g_init_calls;
int g_shutdown_calls;

int Init(const char*, int, int, const char*, const char*) {
  ++g_init_calls;
  return 1;
}

int Write(const char* file, int, int level, const char* format, ...) {
  char text[4096];
  va_list args;
  va_start(args, format);
  vsnprintf(text, sizeof text, format, args);
  va_end(args);
  std::lock_guard<std::mutex> lock(g_mutex);
  g_lines.push_back({file, level, format, text});
  return 7;
}

int Dump(const char*, int, int level, const void* data, int length, const char* caption) {
  std::lock_guard<std::mutex> lock(g_mutex);
  const unsigned char* p = static_cast<const unsigned char*>(data);
  g_dumps.push_back({level, std::vector<unsigned char>(p, p + length), caption});
  return length;
}

const char* ErrStr(int, char*, int) { return ""; }
void Shutdown() { ++g_shutdown_calls; }

}  // namespace

FakeLog::FakeLog() {
  Clear();
  g_init_calls = g_shutdown_calls = 0;
  TraceComponent c{Init, Write, Dump, ErrStr, Shutdown};
  TraceBind(&c);
}

FakeLog::~FakeLog() { TraceBind(nullptr); }

const std::vector<FakeLine>& FakeLog::lines() const { return g_lines; }
const std::vector<FakeDump>& FakeLog::dumps() const { return g_dumps; }

std::vector<std::string> FakeLog::texts() const {
  std::lock_guard<std::mutex> lock(g_mutex);
  std::vector<std::string> out;
  for (const FakeLine& l : g_lines) out.push_back(l.text);
  return out;
}

void FakeLog::Clear() {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_lines.clear();
  g_dumps.clear();
}

int FakeLog::init_calls() const { return g_init_calls; }
int FakeLog::shutdown_calls() const { return g_shutdown_calls; }
