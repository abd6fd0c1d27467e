// The names the shim derives from its own file path at process attach. Pure and bounded: each
// writes at most `size` bytes into out and always terminates it (size > 0).
#ifndef ORB_ORBWS_MODULE_PATH_H
#define ORB_ORBWS_MODULE_PATH_H

#include <stddef.h>

// Name the real library takes when the shim's own name is unknown.
#define SHIM_DEFAULT_LIBRARY "wsock32.dll"

// The text after the last '\' of path (cut to fit). Returns false, out empty, when path
// holds no '\'.
bool ModuleNameFromPath(const char* path, char* out, size_t size);

// system_dir, "\", then name ("wsock32.dll" when name is empty). Returns false, out empty,
// when the whole path does not fit: a cut path could name some other library.
bool BuildRealLibraryPath(const char* system_dir, const char* name, char* out, size_t size);

// The trace log's file pattern "%logdir%\<name>-%rotate%.log" (cut to fit); the two tokens
// stay for the log component to resolve.
void BuildLogPattern(const char* name, char* out, size_t size);

#endif
