#include "deploy_win.h"

#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "game_paths.h"
#include "rename_list_text.h"

void ClearAttributes(const char* path) {
  if (path != nullptr && path[0] != '\0') SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
}

bool PlaceShim(const char* source, const char* shim_path) {
  if (source == nullptr || shim_path == nullptr || shim_path[0] == '\0') return false;
  return CopyFileA(source, shim_path, FALSE) != 0;
}

int ScheduleRestartRename(const char* path, const char* new_path) {
  if (path == nullptr || path[0] == '\0') return 0;
  ClearAttributes(path);
  MoveFileExA(path, new_path, MOVEFILE_DELAY_UNTIL_REBOOT);  // unsupported on the 95 family
  char windows_dir[kPathBytes];
  const UINT n = GetWindowsDirectoryA(windows_dir, sizeof windows_dir);
  if (n == 0 || n >= sizeof windows_dir) return 0;
  return RewriteRestartList(windows_dir, path, new_path);
}

int RewriteRestartList(const char* windows_dir, const char* path, const char* new_path) {
  if (windows_dir == nullptr || path == nullptr) return 0;
  char dir[kPathBytes];
  const size_t d = strlen(windows_dir);
  if (d >= sizeof dir) return 0;
  memcpy(dir, windows_dir, d + 1);
  if (d > 0 && dir[d - 1] == '\\') dir[d - 1] = '\0';  // a Windows directory at a root, "C:\"
  char list_path[kPathBytes];
  if (!JoinPath(dir, "wininit.ini", list_path, sizeof list_path)) return 0;
  char temp_path[MAX_PATH];
  if (GetTempFileNameA(windows_dir, "WININIT.INI", 0, temp_path) == 0) return 0;

  FILE* temp = fopen(temp_path, "r+t");
  if (temp == nullptr) {
    DeleteFileA(temp_path);
    return 0;
  }
  FILE* old_list = fopen(list_path, "rt");
  // A list that exists but cannot be read must not be replaced by one that lacks its lines.
  bool ok = old_list != nullptr || GetFileAttributesA(list_path) == INVALID_FILE_ATTRIBUTES;
  if (ok) ok = WriteRenameList(old_list, temp, path, new_path);
  if (fclose(temp) != 0) ok = false;
  if (old_list != nullptr) fclose(old_list);
  if (ok) ok = MoveFileExA(temp_path, list_path, MOVEFILE_REPLACE_EXISTING) != 0;
  if (!ok) {
    DeleteFileA(temp_path);
    return 0;
  }
  return 1;
}

void RemoveShim(const char* shim_path) {
  if (shim_path == nullptr || shim_path[0] == '\0') return;
  ClearAttributes(shim_path);
  DeleteFileA(shim_path);
}
