// The DLL entry point: attach names the shim and opens its trace; detach closes both.
// Thread notifications do nothing. It returns TRUE for every reason.
#include "frame/frame.h"
#include "frame/module_path.h"
#include "frame/shim.h"
#include "frame/text.h"

void ShimAttach(HINSTANCE self) {
  ShimSetModuleName("");
  char path[SHIM_TEXT_MAX] = "";
  DWORD n = GetModuleFileNameA(self, path, sizeof path);
  if (n == 0 || n >= sizeof path) path[sizeof path - 1] = '\0';

  char name[SHIM_TEXT_MAX];
  bool named = ModuleNameFromPath(path, name, sizeof name);
  if (named) {
    ShimSetModuleName(name);
    char pattern[SHIM_TEXT_MAX];
    BuildLogPattern(name, pattern, sizeof pattern);
    OpenTraceLog(name, pattern);
    SHIM_LOG(SHIM_NOTABLE, "Qerlix's winsock starting '%s'", name);
  }

  char system_dir[SHIM_TEXT_MAX] = "";
  UINT len = GetSystemDirectoryA(system_dir, sizeof system_dir);
  char real[SHIM_TEXT_MAX] = "";
  if (len > 0 && len < sizeof system_dir)
    BuildRealLibraryPath(system_dir, named ? name : "", real, sizeof real);
  SetRealLibraryPath(real);
  SHIM_LOG(SHIM_TRACE, "Emulating '%s'", RealLibraryPath());
}

void ShimDetach(bool process_ending) {
  SHIM_LOG(SHIM_NOTABLE, "Shutting down...");
  if (!process_ending) FreeRealLibrary();
  CloseTraceLog(process_ending);
}

extern "C" BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) ShimAttach(self);
  if (reason == DLL_PROCESS_DETACH) ShimDetach(reserved != nullptr);
  return TRUE;
}
