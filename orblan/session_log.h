// The session log: one line in "orblan.log" in the game directory, rewritten at every
// game launch, so it always names the latest session's group and directory.
#ifndef ORB_SESSION_SESSION_LOG_H
#define ORB_SESSION_SESSION_LOG_H

// Writes "group = '<group>' / gamedir = '<game_dir>'" and a line end to path, replacing
// what was there. The file is written in text mode, so on Windows the line ends in
// CR LF on disk. A file that cannot be opened is skipped: returns false, nothing else.
bool WriteSessionLog(const char* path, const char* group, const char* game_dir);

#endif
