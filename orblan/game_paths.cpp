#include "game_paths.h"

#include <string.h>

bool JoinPath(const char* dir, const char* file, char* out, size_t size) {
  if (dir == nullptr || file == nullptr || out == nullptr) return false;
  const size_t d = strlen(dir), f = strlen(file);
  if (d + 1 + f + 1 > size) return false;
  memcpy(out, dir, d);
  out[d] = '\\';
  memcpy(out + d + 1, file, f + 1);
  return true;
}

bool FormGamePaths(const char* game_dir, GamePaths* out) {
  if (game_dir == nullptr || out == nullptr) return false;
  size_t n = strlen(game_dir);
  if (n > 0 && game_dir[n - 1] == '\\') --n;  // one backslash only: "C:\Games\\" keeps one
  if (n == 0) return false;                   // would put the shim at the root of the drive
  GamePaths p;
  if (n >= sizeof p.game_dir) return false;
  memcpy(p.game_dir, game_dir, n);
  p.game_dir[n] = '\0';
  if (!JoinPath(p.game_dir, "wsock32.dll", p.shim_path, sizeof p.shim_path)) return false;
  if (!JoinPath(p.game_dir, "orblan.log", p.log_path, sizeof p.log_path)) return false;
  *out = p;
  return true;
}
