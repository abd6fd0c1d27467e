// The restart rename list: the [rename] section of wininit.ini, which the Windows 95
// family works through once at the next restart. Each entry is "destination=source";
// the destination NUL deletes the source.
#ifndef ORB_SESSION_RENAME_LIST_H
#define ORB_SESSION_RENAME_LIST_H

#include <stdio.h>

// Copies the rename list old_list (null when there is none) to out with one new entry as
// the first line of its [rename] section: "new_path=path", or "NUL=path" when new_path is
// null. The section header is matched without regard to case and rewritten as
// "[rename]"; a list without the section gains it at its end. Every other line keeps
// its place. Lines of any length are copied whole. Returns false when path is null or
// a read or write failed (out then holds an incomplete list and must be discarded).
bool WriteRenameList(FILE* old_list, FILE* out, const char* path, const char* new_path);

#endif
