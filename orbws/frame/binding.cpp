// The real Winsock library: loaded by full path at the first call of an export, looked up
// name by name into the exports' slots.
#include <atomic>

#include "frame/frame.h"
#include "frame/shim_platform.h"
#include "frame/shim.h"
#include "frame/text.h"

namespace {

char g_real_path[SHIM_TEXT_MAX];
std::atomic<HMODULE> g_real{nullptr};

}  // namespace

void SetRealLibraryPath(const char* path) { TextCopy(g_real_path, sizeof g_real_path, path); }

const char* RealLibraryPath() { return g_real_path; }

HMODULE RealLibrary() { return g_real.load(std::memory_order_acquire); }

int LoadRealWinsock() {
  if (!RealLibrary()) {
    // Only the full path: the shim itself lies first on the game's search path.
    HMODULE lib = nullptr;
    DWORD error = ERROR_FILENAME_EXCED_RANGE;  // the path did not fit its buffer
    if (g_real_path[0]) {
      lib = LoadLibraryA(g_real_path);
      error = lib ? 0 : GetLastError();
    }
    if (!lib) {
      SHIM_LOG(SHIM_MISSING, "Unable to load winsock (%s) GetLastError:%u", g_real_path,
               static_cast<unsigned>(error));
      return 0;
    }
    HMODULE none = nullptr;
    if (!g_real.compare_exchange_strong(none, lib)) FreeLibrary(lib);  // another thread won
  }
  SHIM_LOG(SHIM_NOTABLE, "Successfully loaded (%s)", g_real_path);
  return 1;
}

FARPROC ShimBind(ShimSlot& slot) {
  FARPROC fn = slot.fn.load(std::memory_order_acquire);
  if (fn) return fn;
  // Loading and looking up may change the thread's error code, which the game reads as its
  // Winsock error: it stays as the game's last real call left it.
  LastErrorKeeper keep;
  if (slot.load_first && !RealLibrary()) LoadRealWinsock();
  HMODULE lib = RealLibrary();
  if (lib) fn = GetProcAddress(lib, slot.name);
  if (!fn) {
    SHIM_LOG(SHIM_MISSING, "%s", slot.failure_line);
    return nullptr;
  }
  slot.fn.store(fn, std::memory_order_release);
  return fn;
}

void FreeRealLibrary() {
  HMODULE lib = RealLibrary();
  if (lib) FreeLibrary(lib);
}
