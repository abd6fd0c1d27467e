// Binding of the trace log component, SCRIBE.DLL, found by the platform's normal search.
#include "frame/frame.h"
#include "frame/trace.h"

namespace {

HMODULE g_scribe;

template <typename Fn>
bool Find(const char* name, Fn* out) {
  *out = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(g_scribe, name)));
  return *out != nullptr;
}

}  // namespace

void OpenTraceLog(const char* module_name, const char* pattern) {
  if (TraceBound()) return;
  g_scribe = LoadLibraryA("SCRIBE.DLL");
  TraceComponent c{};
  // Looked up in this order, stopping at the first that is missing.
  if (!g_scribe || !Find("LogInit", &c.init) || !Find("LogWrite", &c.write) ||
      !Find("LogDump", &c.dump) || !Find("GetErrStr", &c.errstr) ||
      !Find("LogShutdown", &c.shutdown)) {
    CloseTraceLog(false);
    return;
  }
  TraceBind(&c);
  TraceInit(SHIM_SRC_WSOCK32, __LINE__, SHIM_TRACE, module_name, pattern);
}

void CloseTraceLog(bool process_ending) {
  if (!g_scribe) return;
  // SCRIBE.DLL takes calls also after its own detach at process exit (Wine detaches it before
  // the shim), so the shim's last lines and LogShutdown reach the file.
  TraceShutdown();
  TraceBind(nullptr);
  // At process exit the platform unloads every library itself; freeing one from a detach
  // notification then is unsafe.
  if (!process_ending) FreeLibrary(g_scribe);
  g_scribe = nullptr;
}
