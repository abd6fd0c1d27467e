#include "log.h"

#include <stdarg.h>
#include <stdio.h>
#include <time.h>

namespace orb {
namespace server {

bool ParseLogLevel(const std::string& text, LogLevel* out) {
  static const struct { const char* name; LogLevel level; } kNames[] = {
      {"error", LogLevel::kError}, {"warn", LogLevel::kWarn},
      {"info", LogLevel::kInfo},   {"debug", LogLevel::kDebug}};
  for (const auto& n : kNames) {
    if (text == n.name) {
      *out = n.level;
      return true;
    }
  }
  return false;
}

const char* LogLevelName(LogLevel level) {
  switch (level) {
    case LogLevel::kError: return "ERROR";
    case LogLevel::kWarn: return "WARN";
    case LogLevel::kInfo: return "INFO";
    case LogLevel::kDebug: return "DEBUG";
  }
  return "?";
}

namespace {
void WriteToStdout(LogLevel level, const char* message) {
  char stamp[32];
  time_t now = time(nullptr);
  struct tm tm_utc;
  gmtime_r(&now, &tm_utc);
  strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &tm_utc);
  // One write per line so lines from a pipe reader never interleave; flushed so an
  // operator tailing a redirected log sees events as they happen.
  fprintf(stdout, "%s %-5s %s\n", stamp, LogLevelName(level), message);
  fflush(stdout);
}
}  // namespace

Logger::Logger() : sink_(WriteToStdout) {}
Logger::Logger(Sink sink) : sink_(std::move(sink)) {}

void Logger::Log(LogLevel level, const char* format, ...) {
  if (!Enabled(level) || !sink_) return;
  char line[1024];
  va_list args;
  va_start(args, format);
  vsnprintf(line, sizeof line, format, args);
  va_end(args);
  sink_(level, line);
}

std::string PrintableText(const char* data, size_t length, size_t max_length) {
  std::string out;
  for (size_t i = 0; i < length && out.size() < max_length; ++i) {
    unsigned char c = static_cast<unsigned char>(data[i]);
    out.push_back(c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?');
  }
  return out;
}

}  // namespace server
}  // namespace orb
