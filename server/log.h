// Operator log: one line per event on standard output, with a time stamp and a level.
// The sink is replaceable so tests can read what an operator would see.
#ifndef ORB_SERVER_LOG_H
#define ORB_SERVER_LOG_H

#include <functional>
#include <string>

namespace orb {
namespace server {

enum class LogLevel { kError = 0, kWarn = 1, kInfo = 2, kDebug = 3 };

// "error", "warn", "info", "debug"; false for anything else.
bool ParseLogLevel(const std::string& text, LogLevel* out);
const char* LogLevelName(LogLevel level);

class Logger {
 public:
  // Receives the level and the formatted message (no time stamp, no newline).
  using Sink = std::function<void(LogLevel, const char*)>;

  // Writes "YYYY-MM-DD HH:MM:SS LEVEL message" lines to standard output.
  Logger();
  explicit Logger(Sink sink);

  void set_level(LogLevel level) { level_ = level; }
  LogLevel level() const { return level_; }
  bool Enabled(LogLevel level) const { return level <= level_; }

  // printf-style; lines longer than 1 KiB are cut.
  void Log(LogLevel level, const char* format, ...) __attribute__((format(printf, 3, 4)));

 private:
  Sink sink_;
  LogLevel level_ = LogLevel::kInfo;
};

// Makes text taken from the network safe to print: control and non-ASCII bytes become '?',
// and the result is at most max_length characters.
std::string PrintableText(const char* data, size_t length, size_t max_length = 64);

}  // namespace server
}  // namespace orb

#endif
