#include "original_dll_win.h"

#include <windows.h>

#include <string.h>

#include "deploy_win.h"
#include "game_paths.h"

namespace {

bool Exists(const char* path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

// Whether the two files hold the same bytes. false when either cannot be read.
bool SameBytes(const char* a, const char* b) {
  HANDLE fa = CreateFileA(a, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  HANDLE fb = CreateFileA(b, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  bool same = fa != INVALID_HANDLE_VALUE && fb != INVALID_HANDLE_VALUE &&
              GetFileSize(fa, nullptr) == GetFileSize(fb, nullptr);
  static char ba[16384], bb[16384];
  while (same) {
    DWORD na = 0, nb = 0;
    if (!ReadFile(fa, ba, sizeof ba, &na, nullptr) || !ReadFile(fb, bb, sizeof bb, &nb, nullptr) ||
        na != nb || memcmp(ba, bb, na) != 0) {
      same = false;
    } else if (na == 0) {
      break;
    }
  }
  if (fa != INVALID_HANDLE_VALUE) CloseHandle(fa);
  if (fb != INVALID_HANDLE_VALUE) CloseHandle(fb);
  return same;
}

}  // namespace

bool FormSavedPath(const char* shim_path, char* out, size_t size) {
  static const char kSuffix[] = ".orblan-saved";
  if (shim_path == nullptr || out == nullptr) return false;
  const size_t n = strlen(shim_path);
  if (n == 0 || n + sizeof kSuffix > size) return false;
  memcpy(out, shim_path, n);
  memcpy(out + n, kSuffix, sizeof kSuffix);
  return true;
}

Original SetAsideOriginal(const char* shim_path, const char* saved_path, const char* shim_source) {
  if (Exists(saved_path)) return Original::kSetAside;
  if (!Exists(shim_path) || SameBytes(shim_path, shim_source)) return Original::kNone;
  return MoveFileA(shim_path, saved_path) ? Original::kSetAside : Original::kFailed;
}

bool RestoreOriginal(const char* shim_path, const char* saved_path) {
  if (!Exists(saved_path)) return true;
  return MoveFileExA(saved_path, shim_path, MOVEFILE_REPLACE_EXISTING) != 0;
}

int ScheduleRestartRestore(const char* shim_path, const char* saved_path) {
  MoveFileExA(saved_path, shim_path, MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING);
  char windows_dir[kPathBytes];
  const UINT n = GetWindowsDirectoryA(windows_dir, sizeof windows_dir);
  if (n == 0 || n >= sizeof windows_dir) return 0;
  return RewriteRestartList(windows_dir, saved_path, shim_path);
}
