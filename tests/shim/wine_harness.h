// Helpers of the shim's Wine test driver: directories of copies, child processes with their
// standard output captured, "key=value" results and SCRIBE.DLL trace files read back.
#ifndef ORB_TESTS_SHIM_WINE_HARNESS_H
#define ORB_TESTS_SHIM_WINE_HARNESS_H

#include <map>
#include <string>
#include <vector>

struct TraceLine {
  int level;
  std::string file;     // the source label, e.g. "wsock32\wsock32"
  std::string message;  // the text after the first " | "
};

struct RunResult {
  int exit_code = -1;
  std::string output;
  std::map<std::string, std::string> values;  // the "key=value" lines of the output
};

// A fresh directory below the current one, holding copies of the given files
// ("source=name" or just "name"; sources are relative to the current directory).
std::string MakeCase(const std::string& name, const std::vector<std::string>& copies);

// Runs program (a file name inside dir) with args, in dir, with SCRIBE_LEVEL=2000 and the
// log in dir. Waits at most 60 s.
RunResult RunIn(const std::string& dir, const std::string& program, const std::string& args);

// The trace file dir\name, one entry per line; empty when there is none.
std::vector<TraceLine> ReadTrace(const std::string& dir, const std::string& name);
std::vector<std::string> Messages(const std::vector<TraceLine>& lines);

// Files in dir whose names end in suffix.
std::vector<std::string> FilesEndingIn(const std::string& dir, const std::string& suffix);

// The position after which every expected text appears in order among lines (exact
// matches), or a description of the first one missing.
std::string MissingInOrder(const std::vector<std::string>& lines,
                           const std::vector<std::string>& expected);

int Count(const std::vector<std::string>& lines, const std::string& text);
std::string SystemDirectory();
std::string CurrentDirectory();
std::vector<unsigned char> ReadBytes(const std::string& path);

#endif
