// Start-up and shut-down of the shim inside the game's process (the DLL entry point's work),
// and the loader of the trace log component.
#ifndef ORB_ORBWS_FRAME_H
#define ORB_ORBWS_FRAME_H

#include <winsock2.h>  // before windows.h, which would pull in the older winsock.h
#include <windows.h>

// Process attach: names the shim after its own file, opens the trace log, builds the path
// of the real library. Loads no Winsock library.
void ShimAttach(HINSTANCE self);
// Process detach: frees the real library (unless the process is ending) and closes the log.
void ShimDetach(bool process_ending);

// Sets the real library's path at attach ("" when it did not fit).
void SetRealLibraryPath(const char* path);
// Frees the real library at detach; handle and slots stay as they are.
void FreeRealLibrary();

// Loads SCRIBE.DLL and binds its five functions, then calls LogInit once; on any failure
// tracing stays off. Nothing when already bound.
void OpenTraceLog(const char* module_name, const char* pattern);
// LogShutdown, unbinding, and (unless the process is ending) freeing the library.
void CloseTraceLog(bool process_ending);

#endif
