// The trace log's rules, natively: file naming and rotation, the filter, whole lines from
// many threads, and turning itself off when it cannot write.
#include "trace_log.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace scribe {
namespace {

void FixedTime(LocalTime* t) { *t = LocalTime{2026, 12, 8, 9, 16, 3, 123}; }
uint32_t FixedThread() { return 42; }
const Host kFixedHost = [] {
  Host h;
  h.now = FixedTime;
  h.thread_id = FixedThread;
  return h;
}();

class TempDir {
 public:
  TempDir() {
    char tmpl[] = "/tmp/scribe-test-XXXXXX";
    path_ = mkdtemp(tmpl);
  }
  ~TempDir() {
    for (const std::string& f : Files()) unlink((path_ + "/" + f).c_str());
    rmdir(path_.c_str());
  }
  const std::string& path() const { return path_; }
  std::set<std::string> Files() const {
    std::set<std::string> out;
    if (DIR* d = opendir(path_.c_str())) {
      while (dirent* e = readdir(d))
        if (e->d_name[0] != '.') out.insert(e->d_name);
      closedir(d);
    }
    return out;
  }
  void Touch(const std::string& name) const { std::ofstream(path_ + "/" + name) << "old\n"; }

 private:
  std::string path_;
};

std::vector<std::string> Lines(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::string> out;
  for (std::string l; std::getline(in, l);) out.push_back(l);
  return out;
}

// The message part of a line.
std::string TextOf(const std::string& line) {
  size_t at = line.find(" | ");
  return at == std::string::npos ? "<no separator>" : line.substr(at + 3);
}

Settings In(const TempDir& d) {
  Settings s;
  snprintf(s.log_dir, sizeof s.log_dir, "%s", d.path().c_str());
  return s;
}

int Write(TraceLog& log, int level, const char* format, ...) {
  va_list args;
  va_start(args, format);
  int n = log.Write("src", 7, level, format, args);
  va_end(args);
  return n;
}

const char kPattern[] = "%logdir%\\ws-%rotate%.log";

TEST(TraceLog, WritesTheDocumentedLinesAndFiltersByLevel) {
  TempDir d;
  TraceLog log(kFixedHost);
  ASSERT_TRUE(log.Open("init.cpp", 3, "ws", kPattern, In(d)));
  EXPECT_EQ(Write(log, 1000, "loaded %s", "x"), 8);
  EXPECT_EQ(Write(log, 1001, "filtered"), 0);
  EXPECT_EQ(Write(log, 2000, "filtered"), 0);
  EXPECT_EQ(Write(log, -3, "urgent"), 6);
  log.Close();
  EXPECT_EQ(Write(log, 100, "after close"), 0);

  std::vector<std::string> l = Lines(d.path() + "/ws-1.log");
  ASSERT_EQ(l.size(), 4u);
  EXPECT_EQ(l[0].substr(0, 51), "2026-12-08 09:16:03.123 [42] 0 init.cpp:3 | log ope");
  EXPECT_NE(l[0].find("levels up to 1000 written, a new file after 4096 KiB, 5 files kept"), std::string::npos) << l[0];
  EXPECT_EQ(l[1], "2026-12-08 09:16:03.123 [42] 1000 src:7 | loaded x");
  EXPECT_EQ(l[2], "2026-12-08 09:16:03.123 [42] -3 src:7 | urgent");
  EXPECT_EQ(l[3], "2026-12-08 09:16:03.123 [42] 0 scribe:0 | log closed");
}

TEST(TraceLog, NumbersContinueAboveExistingFilesAndOldOnesArePruned) {
  TempDir d;
  d.Touch("ws-3.log");
  d.Touch("ws-9.log");
  d.Touch("WS-2.LOG");
  d.Touch("ws-x.log");
  d.Touch("other-1.log");
  TraceLog log(kFixedHost);
  ASSERT_TRUE(log.Open("f", 1, "ws", kPattern, In(d)));
  char path[kPathMax];
  log.CurrentPath(path, sizeof path);
  EXPECT_EQ(std::string(path), d.path() + "/ws-10.log");
  log.Close();
  // Kept: the newest five numbers, 6 to 10; 2 and 3 are gone; names not ours stay.
  EXPECT_EQ(d.Files(), (std::set<std::string>{"ws-9.log", "ws-10.log", "ws-x.log", "other-1.log"}));
}

TEST(TraceLog, RotatesBetweenLinesAndKeepsTheNewestFiles) {
  TempDir d;
  Settings s = In(d);
  s.rotate_bytes = 500;
  s.keep_files = 3;
  TraceLog log(kFixedHost);
  ASSERT_TRUE(log.Open("f", 1, "ws", kPattern, s));
  for (int i = 0; i < 100; ++i) Write(log, 1, "line %03d ........................................", i);
  unsigned char bytes[200] = {};
  EXPECT_EQ(log.Dump("f", 2, 1, bytes, sizeof bytes, "big"), 200);
  log.Close();

  std::set<std::string> files = d.Files();
  ASSERT_EQ(files.size(), 3u);
  std::map<int, std::string> byNumber;
  for (const std::string& f : files) byNumber[atoi(f.c_str() + 3)] = f;
  int last = byNumber.rbegin()->first;
  EXPECT_EQ(byNumber.begin()->first, last - 2);
  EXPECT_GT(last, 10);
  std::vector<std::string> newest = Lines(d.path() + "/" + byNumber[last]);
  // The dump's caption and its 13 rows were not split over two files.
  ASSERT_GE(newest.size(), 16u);
  EXPECT_EQ(TextOf(newest[0]), "log continued from ws-" + std::to_string(last - 1) + ".log");
  EXPECT_EQ(TextOf(newest[newest.size() - 15]), "big: dump of 200 bytes");
  EXPECT_EQ(TextOf(newest.back()), "log closed");
  std::vector<std::string> before = Lines(d.path() + "/" + byNumber[last - 1]);
  EXPECT_EQ(TextOf(before.back()), "log continues in ws-" + std::to_string(last) + ".log");
}

TEST(TraceLog, DumpShowsAtMostItsLimit) {
  TempDir d;
  TraceLog log(kFixedHost);
  ASSERT_TRUE(log.Open("f", 1, "ws", kPattern, In(d)));
  std::vector<unsigned char> big(10000, 0x41);
  EXPECT_EQ(log.Dump("f", 2, 1000, big.data(), 10000, nullptr), 4096);
  EXPECT_EQ(log.Dump("f", 2, 2000, big.data(), 16, nullptr), 0) << "filtered";
  log.Close();
  std::vector<std::string> l = Lines(d.path() + "/ws-1.log");
  ASSERT_EQ(l.size(), 1u + 1 + 256 + 1);
  EXPECT_EQ(TextOf(l[1]), "dump of 10000 bytes, the first 4096 shown");
  EXPECT_EQ(TextOf(l[257]).substr(0, 6), "0FF0  ");
}

TEST(TraceLog, StaysOffWhereItCannotWrite) {
  TempDir d;
  TraceLog log(kFixedHost);
  Settings s = In(d);
  snprintf(s.log_dir, sizeof s.log_dir, "%s/missing", d.path().c_str());
  EXPECT_FALSE(log.Open("f", 1, "ws", kPattern, s));
  EXPECT_FALSE(log.IsOpen());
  EXPECT_EQ(Write(log, 1, "x"), 0);
  Settings none;
  EXPECT_FALSE(log.Open("f", 1, "ws", kPattern, none)) << "no directory at all";
  std::string deep = "%logdir%\\" + std::string(300, 'n') + "-%rotate%.log";
  EXPECT_FALSE(log.Open("f", 1, "ws", deep.c_str(), In(d))) << "a path too long";
  log.Close();
  EXPECT_TRUE(d.Files().empty());
}

TEST(TraceLog, TurnsItselfOffWhenAWriteFails) {
  // /dev/full takes the open and fails every write, as a full disk does.
  TraceLog log(kFixedHost);
  Settings s;
  snprintf(s.log_dir, sizeof s.log_dir, "/dev");
  EXPECT_FALSE(log.Open("f", 1, "ws", "%logdir%\\full", s));
  EXPECT_FALSE(log.IsOpen());
  EXPECT_EQ(Write(log, 1, "lost"), 0);
  log.Close();
}

TEST(TraceLog, AnUnnumberedLogIsAppendedToAndANullPatternGivesTheDefault) {
  TempDir d;
  TraceLog log(kFixedHost);
  ASSERT_TRUE(log.Open("f", 1, "ws", "%logdir%\\one.log", In(d)));
  Write(log, 1, "first run");
  ASSERT_TRUE(log.Open("f", 1, "ws", "%logdir%\\one.log", In(d)));
  Write(log, 1, "second run");
  ASSERT_TRUE(log.Open("f", 1, nullptr, nullptr, In(d)));
  log.Close();
  std::vector<std::string> l = Lines(d.path() + "/one.log");
  ASSERT_EQ(l.size(), 6u);
  EXPECT_EQ(TextOf(l[2]), "log closed, opened again");
  EXPECT_EQ(TextOf(l[4]), "second run");
  EXPECT_EQ(d.Files(), (std::set<std::string>{"one.log", "scribe-1.log"}));
}

TEST(TraceLog, ThreadsWritingAtOnceNeverTearALine) {
  TempDir d;
  Settings s = In(d);
  s.rotate_bytes = 64 * 1024;  // rotation under load as well
  s.keep_files = 1000;
  TraceLog log;  // the real clock and thread ids
  ASSERT_TRUE(log.Open("f", 1, "ws", kPattern, s));
  const int kThreads = 8, kLines = 2000;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&log, t] {
      std::string pad(static_cast<size_t>(t) * 30 + 1, static_cast<char>('a' + t));
      unsigned char bytes[33];
      memset(bytes, t, sizeof bytes);
      for (int i = 0; i < kLines; ++i) {
        Write(log, 1000, "t%d n%d %s|", t, i, pad.c_str());
        if (i % 100 == 0) log.Dump("d", t, 1000, bytes, sizeof bytes, "");
      }
    });
  }
  for (auto& th : threads) th.join();
  log.Close();

  std::map<int, std::string> byNumber;
  for (const std::string& f : d.Files()) byNumber[atoi(f.c_str() + 3)] = f;
  EXPECT_GT(byNumber.size(), 3u);
  std::vector<int> next(kThreads, 0);
  for (const auto& f : byNumber) {
    std::vector<std::string> l = Lines(d.path() + "/" + f.second);
    for (size_t i = 0; i < l.size(); ++i) {
      std::string text = TextOf(l[i]);
      if (text == "dump of 33 bytes") {
        ASSERT_LT(i + 3, l.size()) << "a dump split over files";
        EXPECT_EQ(TextOf(l[i + 3]).substr(0, 6), "0020  ");
        i += 3;
        continue;
      }
      int t, n;
      if (sscanf(text.c_str(), "t%d n%d", &t, &n) != 2) continue;
      ASSERT_TRUE(t >= 0 && t < kThreads) << l[i];
      EXPECT_EQ(n, next[t]) << "line lost or out of order: " << l[i];
      next[t] = n + 1;
      std::string pad(static_cast<size_t>(t) * 30 + 1, static_cast<char>('a' + t));
      EXPECT_EQ(text, "t" + std::to_string(t) + " n" + std::to_string(n) + " " + pad + "|") << "torn";
    }
  }
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(next[t], kLines);
}

TEST(Settings, ComeFromTheEnvironment) {
  setenv("SCRIBE_LOGDIR", "/var/tmp", 1);
  setenv("SCRIBE_LEVEL", "2000", 1);
  setenv("SCRIBE_ROTATE_KB", "16", 1);
  Settings s = SettingsFromEnvironment();
  EXPECT_STREQ(s.log_dir, "/var/tmp");
  EXPECT_EQ(s.level, 2000);
  EXPECT_EQ(s.rotate_bytes, 16u * 1024);
  EXPECT_FALSE(s.level_invalid || s.rotate_invalid);

  setenv("SCRIBE_LEVEL", "lots", 1);
  setenv("SCRIBE_ROTATE_KB", "0", 1);
  unsetenv("SCRIBE_LOGDIR");
  s = SettingsFromEnvironment();
  EXPECT_EQ(s.level, kDefaultLevel);
  EXPECT_TRUE(s.level_invalid);
  EXPECT_EQ(s.rotate_bytes, kRotateBytes);
  EXPECT_TRUE(s.rotate_invalid);
  char exe[4096];
  ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  ASSERT_GT(n, 0);
  exe[n] = '\0';
  *strrchr(exe, '/') = '\0';
  EXPECT_STREQ(s.log_dir, exe) << "without SCRIBE_LOGDIR: the executable's directory";

  setenv("SCRIBE_ROTATE_KB", "1048577", 1);
  setenv("SCRIBE_LEVEL", "12abc", 1);
  s = SettingsFromEnvironment();
  EXPECT_TRUE(s.rotate_invalid);
  EXPECT_TRUE(s.level_invalid);
  unsetenv("SCRIBE_LEVEL");
  unsetenv("SCRIBE_ROTATE_KB");
}

}  // namespace
}  // namespace scribe
