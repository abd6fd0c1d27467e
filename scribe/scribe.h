/* SCRIBE.DLL: the trace-log library that the Winsock shim loads by name.
 *
 * Five plain exports, cdecl, undecorated names (look them up with GetProcAddress exactly as
 * written). Every call returns, whatever its input; nothing is thrown; a log that cannot be
 * written turns itself off and the calls go on returning 0.
 *
 *   int LogInit(const char* file, int line, int level, const char* module, const char* pattern)
 *       Opens a new log file for `module`, named by `pattern` (null or "" gives
 *       "%logdir%\<module>-%rotate%.log"), after closing any open one. Reads the environment
 *       (below) each time. `level` is the caller's (the shim passes 2000); it does not change
 *       the filter. Returns 1 when the log is open, 0 when it stays off.
 *   int LogWrite(const char* file, int line, int level, const char* format, ...)
 *       printf-style line. Returns the length of the message text written, 0 when the level
 *       was filtered out or the log is off.
 *   int LogDump(const char* file, int line, int level, const void* data, int length,
 *               const char* caption)
 *       A caption line, then hex and ASCII rows of the bytes (at most 4096 shown). Returns
 *       the number of bytes shown, 0 when filtered out or off; a negative length or a null
 *       pointer with length > 0 writes a "dump refused" line and returns 0.
 *   void LogShutdown(void)
 *       Writes "log closed" and closes the file. Later calls write nothing until LogInit.
 *   const char* GetErrStr(int code, char* buffer, int size)
 *       Fills buffer with the text of a Winsock or Win32 error code and returns buffer:
 *       "WSAECONNRESET (10054): Connection reset by peer", "5: Access is denied",
 *       "error 12345" when the system has no text. Cut to fit, always NUL-terminated; with a
 *       null buffer or size <= 0 it returns "" and writes nothing. Thread-safe.
 *
 * Environment, read by LogInit:
 *   SCRIBE_LOGDIR     directory for %logdir%; unset or empty: the executable's directory.
 *                     It is not created; when no file can be made there, the log stays off.
 *   SCRIBE_LEVEL      the filter: lines of this level and below are written. Default 1000
 *                     (events and failures); 2000 gives the whole call trace; 0 only the log's
 *                     own opened/closed lines. Not a number: the default, noted in the first line.
 *   SCRIBE_ROTATE_KB  size in KiB after which a file is followed by the next (1 to 1048576,
 *                     default 4096, i.e. 4 MiB).
 *
 * Files and rotation: %rotate% is a number, 1, 2, 3, ... Each LogInit starts one number above
 * the highest file of that name already in the directory (a fresh directory gives
 * "wsock32.dll-1.log"); a file that passes the size limit ends with "log continues in <name>"
 * and the next number begins with "log continued from <name>". Only the newest 5 numbers are
 * kept; older ones are deleted. The newest run is the highest number. Without %rotate% in the
 * file name the log is one file, appended to and never rotated. Files may be read (and
 * deleted) while they are written; every line reaches the file at once.
 *
 * Line format, one entry per line (CR LF line ends on Windows, LF in the native build):
 *
 *   2026-12-08 09:16:03.123 [36] 1000 wsock32\wsock32:120 | Successfully loaded (C:\...)
 *
 *   local date and time with milliseconds, the thread id in decimal in brackets, the level in
 *   decimal, the source file and line as the caller gave them, " | ", the message. Regular
 *   expression: ^(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}) \[(\d+)\] (-?\d+) (.*?):(-?\d+) \| (.*)$
 *   The message is the text after the first " | ". Line breaks inside it become spaces,
 *   trailing ones are dropped, other control characters become '.', and a message longer than
 *   1024 bytes is cut to 1021 and ends in "...". A format holding %n is written literally,
 *   not expanded. The log's own lines (opened, closed, continues/continued) have level 0 and
 *   are always written; "log opened" names LogInit's file and line, the others "scribe:0". A first line reads "log opened by <module> (process <pid>): levels up
 *   to <n> written, ...".
 *
 * A dump is one caption line, "dump of <n> bytes" (or "<caption>: dump of <n> bytes", and
 * ", the first 4096 shown" when longer), then one line per 16 bytes, all with the same prefix:
 *
 *   ... | dump of 20 bytes
 *   ... | 0000  F9 F9 F9 F9 2C 01 00 00  7F 00 00 01 41 42 43 44  |....,.......ABCD|
 *   ... | 0010  45 46 47 48                                       |EFGH|
 *
 * Threads may call every function at the same moment: each line (and each dump as a whole) is
 * written under one lock, so lines never interleave or tear.
 */
#ifndef ORB_SCRIBE_SCRIBE_H
#define ORB_SCRIBE_SCRIBE_H

#ifdef _WIN32
#define SCRIBE_CALL __cdecl
#else
#define SCRIBE_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

int SCRIBE_CALL LogInit(const char* file, int line, int level, const char* module, const char* pattern);
int SCRIBE_CALL LogWrite(const char* file, int line, int level, const char* format, ...);
int SCRIBE_CALL LogDump(const char* file, int line, int level, const void* data, int length,
                        const char* caption);
void SCRIBE_CALL LogShutdown(void);
const char* SCRIBE_CALL GetErrStr(int code, char* buffer, int size);

/* Pointer types for GetProcAddress. */
typedef int(SCRIBE_CALL* LogInitFn)(const char*, int, int, const char*, const char*);
typedef int(SCRIBE_CALL* LogWriteFn)(const char*, int, int, const char*, ...);
typedef int(SCRIBE_CALL* LogDumpFn)(const char*, int, int, const void*, int, const char*);
typedef void(SCRIBE_CALL* LogShutdownFn)(void);
typedef const char*(SCRIBE_CALL* GetErrStrFn)(int, char*, int);

#ifdef __cplusplus
}
#endif

#endif
