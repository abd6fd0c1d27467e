// Where the trace log goes: a path pattern such as "%logdir%\wsock32.dll-%rotate%.log".
//
//   %logdir%  the log directory (SCRIBE_LOGDIR, else the executable's directory)
//   %rotate%  the file's number: 1, 2, 3, ... Each run starts one number above the highest
//             file already there, and a file that grows past the size limit is followed by
//             the next number. Only the newest few numbers are kept.
//
// %rotate% must stand in the file name, not in the directory part, and appear once; otherwise
// it reads as "1" and the log is one file that is never rotated.
#ifndef ORB_SCRIBE_LOG_PATH_H
#define ORB_SCRIBE_LOG_PATH_H

#include <stddef.h>

namespace scribe {

constexpr size_t kPathMax = 260;

struct LogPath {
  char dir[kPathMax];     // the directory the files live in
  char prefix[kPathMax];  // file name before the number
  char suffix[kPathMax];  // file name after the number
  bool numbered;          // %rotate% is in the file name: files are numbered and rotated
};

// Expands pattern with logdir; sep is the platform's separator ('\\' in the pattern is turned
// into it). False when the result does not fit kPathMax or names no file.
bool ParseLogPath(const char* pattern, const char* logdir, char sep, LogPath* out);

// The full path of file number n (n is ignored when the path is not numbered). False when it
// does not fit size.
bool LogFileName(const LogPath& p, char sep, long n, char* out, size_t size);

// The number of a directory entry that is one of this log's files ("wsock32.dll-12.log" gives
// 12), or -1. Names compare without regard to ASCII case, as Windows does.
long LogFileNumber(const LogPath& p, const char* entry);

}  // namespace scribe

#endif
