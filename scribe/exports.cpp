// The five exports of SCRIBE.DLL over one module-wide trace log. Nothing escapes them: every
// call returns, and a failure only means nothing is written.
#include "scribe.h"

#include <stdarg.h>

#include "err_text.h"
#include "trace_log.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {
// Made at load and never destroyed by the runtime: at process exit the shim may still write
// its last lines and call LogShutdown after this library's own detach has run.
scribe::TraceLog* const g_log_ptr = new scribe::TraceLog();
scribe::TraceLog& g_log = *g_log_ptr;
}

extern "C" int SCRIBE_CALL LogInit(const char* file, int line, int /*level*/, const char* module,
                                   const char* pattern) {
  try {
    return g_log.Open(file, line, module, pattern, scribe::SettingsFromEnvironment()) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

extern "C" int SCRIBE_CALL LogWrite(const char* file, int line, int level, const char* format, ...) {
  va_list args;
  va_start(args, format);
  int n = 0;
  try {
    n = g_log.Write(file, line, level, format, args);
  } catch (...) {
    n = 0;
  }
  va_end(args);
  return n;
}

extern "C" int SCRIBE_CALL LogDump(const char* file, int line, int level, const void* data, int length,
                                   const char* caption) {
  try {
    return g_log.Dump(file, line, level, data, length, caption);
  } catch (...) {
    return 0;
  }
}

extern "C" void SCRIBE_CALL LogShutdown(void) {
  try {
    g_log.Close();
  } catch (...) {
  }
}

extern "C" const char* SCRIBE_CALL GetErrStr(int code, char* buffer, int size) {
  if (buffer == nullptr || size <= 0) return "";
  scribe::ErrorText(code, buffer, static_cast<size_t>(size));
  return buffer;
}

#ifdef _WIN32
// At process exit other threads are already gone, perhaps holding the log's lock, and every
// line is on disk: leave the log to the system (and to the shim's last lines). On FreeLibrary
// close it properly and free it.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_DETACH && reserved == nullptr) {
    LogShutdown();
    delete g_log_ptr;
  }
  return TRUE;
}
#endif
