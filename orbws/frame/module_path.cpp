#include "frame/module_path.h"

#include <string.h>

#include "frame/text.h"

bool ModuleNameFromPath(const char* path, char* out, size_t size) {
  if (out == nullptr || size == 0) return false;
  out[0] = '\0';
  const char* slash = path ? strrchr(path, '\\') : nullptr;
  if (slash == nullptr) return false;
  TextCopy(out, size, slash + 1);
  return true;
}

bool BuildRealLibraryPath(const char* system_dir, const char* name, char* out, size_t size) {
  if (out == nullptr || size == 0) return false;
  const char* file = (name && name[0]) ? name : SHIM_DEFAULT_LIBRARY;
  size_t dir_len = system_dir ? strlen(system_dir) : 0;
  size_t file_len = strlen(file);
  if (dir_len + 1 + file_len + 1 > size) {
    out[0] = '\0';
    return false;
  }
  if (dir_len) memcpy(out, system_dir, dir_len);
  out[dir_len] = '\\';
  memcpy(out + dir_len + 1, file, file_len + 1);
  return true;
}

void BuildLogPattern(const char* name, char* out, size_t size) {
  TextFormat(out, size, "%%logdir%%\\%s-%%rotate%%.log", name ? name : "");
}
