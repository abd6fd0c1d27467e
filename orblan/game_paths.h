// The paths a session derives from the game directory the launcher passes in.
#ifndef ORB_SESSION_GAME_PATHS_H
#define ORB_SESSION_GAME_PATHS_H

#include <stddef.h>

enum : size_t { kPathBytes = 260 };  // every path buffer of the session library

struct GamePaths {
  char game_dir[kPathBytes];   // as passed, one trailing backslash removed
  char shim_path[kPathBytes];  // "<game_dir>\wsock32.dll"
  char log_path[kPathBytes];   // "<game_dir>\orblan.log"
};

// Fills out from game_dir. Returns false, leaving out untouched, when game_dir is null,
// empty (also once its trailing backslash is removed), or too long for a 260-byte buffer
// once "\wsock32.dll" is appended.
bool FormGamePaths(const char* game_dir, GamePaths* out);

// "<dir>\<file>" into out (size bytes). Returns false, out untouched, when it does not fit.
bool JoinPath(const char* dir, const char* file, char* out, size_t size);

#endif
