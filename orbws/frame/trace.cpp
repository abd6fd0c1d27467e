// The trace calls. Lines are formatted here, in bounded buffers, before they reach the log
// component, so nothing from a host name or a path is ever taken as a format.
#include "frame/trace.h"

#include <atomic>

#include "frame/shim_platform.h"
#include "frame/text.h"

namespace {

// Bound once at attach and cleared at detach; atomics so that a game thread tracing while
// the component goes away reads either the whole table or nothing.
std::atomic<ScribeWriteFn> g_write{nullptr};
std::atomic<ScribeDumpFn> g_dump{nullptr};
TraceComponent g_component{};
char g_module_name[SHIM_TEXT_MAX];

}  // namespace

void TraceBind(const TraceComponent* component) {
  if (component && component->init && component->write && component->dump &&
      component->errstr && component->shutdown) {
    g_component = *component;
    g_dump.store(component->dump);
    g_write.store(component->write);
  } else {
    g_write.store(nullptr);
    g_dump.store(nullptr);
    g_component = TraceComponent{};
  }
}

bool TraceBound() { return g_write.load() != nullptr; }

void TraceInit(const char* file, int line, int level, const char* module, const char* pattern) {
  if (TraceBound()) g_component.init(file, line, level, module, pattern);
}

void TraceShutdown() {
  if (TraceBound()) g_component.shutdown();
}

void ShimSetModuleName(const char* name) { TextCopy(g_module_name, sizeof g_module_name, name); }

const char* ShimModuleName() { return g_module_name; }

void ShimLogV(const char* file, int line, int level, const char* format, va_list args) {
  // Without the trace library every Winsock call would still format two lines for nothing.
  ScribeWriteFn write = g_write.load();
  if (!write) return;
  LastErrorKeeper keep;  // the game must read the real library's error after a trace line
  char message[SHIM_TEXT_MAX];
  char finished[SHIM_TEXT_MAX];
  TextFormatV(message, sizeof message, format, args);
  TextFormat(finished, sizeof finished, "[%s] %s", g_module_name, message);
  write(file, line, level, "%s", finished);
}

void ShimLog(const char* file, int line, int level, const char* format, ...) {
  va_list args;
  va_start(args, format);
  ShimLogV(file, line, level, format, args);
  va_end(args);
}

int ShimLogRaw(const char* file, int line, int level, const char* format, ...) {
  ScribeWriteFn write = g_write.load();
  if (!write) return 0;
  LastErrorKeeper keep;
  // A variable argument list cannot be handed on to a variadic function, so the message is
  // formatted here and passed whole.
  char message[SHIM_TEXT_MAX];
  va_list args;
  va_start(args, format);
  TextFormatV(message, sizeof message, format, args);
  va_end(args);
  return write(file, line, level, "%s", message);
}

void ShimLogDump(const char* file, int line, const void* data, int length) {
  ScribeDumpFn dump = g_dump.load();
  LastErrorKeeper keep;
  if (dump && data && length > 0) dump(file, line, SHIM_TRACE, data, length, "");
}
