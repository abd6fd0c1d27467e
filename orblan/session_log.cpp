#include "session_log.h"

#include <stdio.h>

bool WriteSessionLog(const char* path, const char* group, const char* game_dir) {
  if (path == nullptr || group == nullptr || game_dir == nullptr) return false;
  FILE* f = fopen(path, "w");
  if (f == nullptr) return false;
  const bool written = fprintf(f, "group = '%s' / gamedir = '%s'\n", group, game_dir) > 0;
  return fclose(f) == 0 && written;
}
