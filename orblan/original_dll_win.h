// A wsock32.dll that was in the game directory before the session (the game's own, or
// another tool's) must survive it: the shim takes its place only while the session runs.
// The original is moved aside under the name "wsock32.dll.orblan-saved" (a move keeps its
// bytes, times and attributes), and moved back when the session ends; should the session
// never end, the restart-time clean-up moves it back instead of deleting the shim.
#ifndef ORB_SESSION_ORIGINAL_DLL_WIN_H
#define ORB_SESSION_ORIGINAL_DLL_WIN_H

#include <stddef.h>

// What was at the shim path before the shim is placed.
enum class Original {
  kNone,       // nothing, or a shim left by an earlier session: the shim may replace it
  kSetAside,   // a file of the player's, now at the saved path
  kFailed,     // a file of the player's that could not be moved aside: do not place the shim
};

// "<shim path>.orblan-saved" into out (size bytes). false when it does not fit.
bool FormSavedPath(const char* shim_path, char* out, size_t size);

// Moves a file of the player's at shim_path to saved_path. A file that equals
// shim_source byte for byte is an earlier session's shim, not the player's. A file
// already at saved_path is the player's original that an earlier session, which never
// ended, moved aside: it stays, and counts as set aside.
Original SetAsideOriginal(const char* shim_path, const char* saved_path, const char* shim_source);

// After the shim was removed: moves the original at saved_path back to shim_path. true
// when it is back or there was none; false when it could not be moved (the game still
// holds the shim), so it stays at saved_path for the restart-time clean-up.
bool RestoreOriginal(const char* shim_path, const char* saved_path);

// Schedules the restart-time clean-up for a shim that stands in for an original: the
// original at saved_path replaces whatever is at shim_path, both through the platform's
// delayed move and as a "shim=saved" line in the rename list. Unlike a deletion, the
// original's attributes are left as they are. Returns 1 when the rename list was
// rewritten, 0 otherwise.
int ScheduleRestartRestore(const char* shim_path, const char* saved_path);

#endif
