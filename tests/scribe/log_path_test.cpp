#include "log_path.h"

#include <gtest/gtest.h>

#include <string>

namespace scribe {
namespace {

LogPath Parse(const char* pattern, const char* dir, char sep = '/') {
  LogPath p{};
  EXPECT_TRUE(ParseLogPath(pattern, dir, sep, &p)) << pattern;
  return p;
}

std::string Name(const LogPath& p, long n, char sep = '/') {
  char out[kPathMax];
  EXPECT_TRUE(LogFileName(p, sep, n, out, sizeof out));
  return out;
}

TEST(LogPath, ExpandsTheShimsPattern) {
  LogPath p = Parse("%logdir%\\wsock32.dll-%rotate%.log", "C:\\games\\quest", '\\');
  EXPECT_TRUE(p.numbered);
  EXPECT_STREQ(p.dir, "C:\\games\\quest");
  EXPECT_EQ(Name(p, 1, '\\'), "C:\\games\\quest\\wsock32.dll-1.log");
  EXPECT_EQ(Name(p, 123, '\\'), "C:\\games\\quest\\wsock32.dll-123.log");

  // Natively the pattern's backslashes become slashes; a trailing separator on the
  // directory is not doubled.
  LogPath q = Parse("%logdir%\\ws-%rotate%.log", "/tmp/logs/");
  EXPECT_EQ(Name(q, 2), "/tmp/logs/ws-2.log");
  EXPECT_EQ(Name(Parse("%LOGDIR%\\x-%Rotate%.log", "/d"), 3), "/d/x-3.log") << "tokens ignore case";
  EXPECT_EQ(Name(Parse("%logdir%\\x-%rotate%.log", "/"), 4), "/x-4.log");
}

TEST(LogPath, WithoutOneRotateInTheFileNameTheLogIsOneFile) {
  LogPath a = Parse("%logdir%\\plain.log", "/d");
  EXPECT_FALSE(a.numbered);
  EXPECT_EQ(Name(a, 9), "/d/plain.log");
  LogPath b = Parse("%logdir%\\r%rotate%\\x.log", "/d");
  EXPECT_FALSE(b.numbered) << "%rotate% in the directory part";
  EXPECT_EQ(Name(b, 9), "/d/r1/x.log");
  LogPath c = Parse("%logdir%\\x-%rotate%-%rotate%.log", "/d");
  EXPECT_FALSE(c.numbered);
  EXPECT_EQ(Name(c, 9), "/d/x-1-1.log");
  LogPath d = Parse("relative-%rotate%.log", "/d");
  EXPECT_TRUE(d.numbered);
  EXPECT_EQ(Name(d, 5), "./relative-5.log");
}

TEST(LogPath, RefusesWhatDoesNotFitOrNamesNoFile) {
  LogPath p{};
  std::string dir(300, 'd');
  EXPECT_FALSE(ParseLogPath("%logdir%\\x-%rotate%.log", dir.c_str(), '/', &p));
  std::string pattern(kPathMax, 'p');
  EXPECT_FALSE(ParseLogPath(pattern.c_str(), "/d", '/', &p));
  EXPECT_FALSE(ParseLogPath("%logdir%\\", "/d", '/', &p));
  EXPECT_FALSE(ParseLogPath(nullptr, "/d", '/', &p));
  EXPECT_FALSE(ParseLogPath("x", nullptr, '/', &p));

  // A name that fits the pattern but not the caller's buffer.
  LogPath q = Parse("%logdir%\\x-%rotate%.log", "/d");
  char out[10];
  EXPECT_FALSE(LogFileName(q, '/', 1234567, out, sizeof out));
}

TEST(LogFileNumber, ReadsOnlyNamesThisLogMakes) {
  LogPath p = Parse("%logdir%\\wsock32.dll-%rotate%.log", "/d");
  EXPECT_EQ(LogFileNumber(p, "wsock32.dll-1.log"), 1);
  EXPECT_EQ(LogFileNumber(p, "wsock32.dll-987654321.log"), 987654321);
  EXPECT_EQ(LogFileNumber(p, "WSOCK32.DLL-7.LOG"), 7);
  EXPECT_EQ(LogFileNumber(p, "wsock32.dll-.log"), -1);
  EXPECT_EQ(LogFileNumber(p, "wsock32.dll-01.log"), -1);
  EXPECT_EQ(LogFileNumber(p, "wsock32.dll-1x.log"), -1);
  EXPECT_EQ(LogFileNumber(p, "wsock32.dll-1234567890.log"), -1);
  EXPECT_EQ(LogFileNumber(p, "wsock32.dll-3.log.bak"), -1);
  EXPECT_EQ(LogFileNumber(p, "orblan.log"), -1);
  EXPECT_EQ(LogFileNumber(p, "."), -1);
  EXPECT_EQ(LogFileNumber(p, nullptr), -1);
  EXPECT_EQ(LogFileNumber(Parse("%logdir%\\plain.log", "/d"), "plain.log"), -1);
}

}  // namespace
}  // namespace scribe
