// Shim deployment: the shim is copied into the game directory as wsock32.dll, which the
// game's loader finds before the system's, and its deletion is scheduled for the next
// restart at once, so a session that never ends cleanly loses its copy then.
#ifndef ORB_SESSION_DEPLOY_H
#define ORB_SESSION_DEPLOY_H

// Clears read-only, hidden and system. A missing file is no error.
void ClearAttributes(const char* path);

// Copies source to shim_path, replacing a file that is there. true on success.
bool PlaceShim(const char* source, const char* shim_path);

// Schedules the move of path to new_path (null: deletion) at the next restart, both ways:
// the platform's delayed move (the NT family; its result does not matter) and a new first
// line in the [rename] section of wininit.ini in the Windows directory (the 95 family).
// Returns 1 when the rename list was rewritten, 0 otherwise.
int ScheduleRestartRename(const char* path, const char* new_path);

// The rename-list half of ScheduleRestartRename, on the wininit.ini of windows_dir. The new
// list is written to a temporary file there and replaces the old one in one move; on any
// failure the old list stays as it was, the temporary file is removed and the result is 0.
int RewriteRestartList(const char* windows_dir, const char* path, const char* new_path);

// Clears the attributes of the shim and deletes it. Nothing for an empty path; a failure
// (the game still holds it) leaves it for the restart-time deletion.
void RemoveShim(const char* shim_path);

#endif
