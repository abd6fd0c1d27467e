// Where the session library's trace lines (the peer transport's, such as "HEARTBEAT:
// sending heartbeat on address %d") go: the process's standard output as they always
// did, a file of the launcher's choosing, or nowhere. A launcher whose player should see
// only its own messages sends them elsewhere.
#ifndef ORB_SESSION_TRACE_SINK_H
#define ORB_SESSION_TRACE_SINK_H

// The transport's trace function: writes one line (newline included) where the sink
// points. Safe from any thread.
void SessionTrace(const char* line);

// Points the sink: null, standard output; "", nowhere; otherwise appends to that file.
// false when the file cannot be opened (the sink then points nowhere).
bool SetSessionTrace(const char* path);

// Writes what a file sink holds back. Called after each pump pass.
void FlushSessionTrace();

#endif
