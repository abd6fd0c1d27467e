// SCRIBE.DLL as the shim uses it: loaded by name with LoadLibraryA, its five functions looked
// up with GetProcAddress, the trace read back from the file it writes.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "scribe.h"

namespace {

const char kPattern[] = "%logdir%\\wsock32.dll-%rotate%.log";

struct Line {
  std::string time;
  unsigned long thread = 0;
  int level = 0;
  std::string file;
  int line = 0;
  std::string text;
};

// The documented line format; a line that does not match it is torn or malformed.
bool ParseLine(const std::string& raw, Line* out) {
  static const std::regex re(
      R"(^(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}) \[(\d+)\] (-?\d+) (.*?):(-?\d+) \| (.*)$)");
  std::smatch m;
  if (!std::regex_match(raw, m, re)) return false;
  out->time = m[1];
  out->thread = std::stoul(m[2]);
  out->level = std::stoi(m[3]);
  out->file = m[4];
  out->line = std::stoi(m[5]);
  out->text = m[6];
  return true;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Every line of the file, each checked for the CR LF ending and the line format.
std::vector<Line> ReadLog(const std::string& path) {
  std::string all = ReadFile(path);
  std::vector<Line> lines;
  size_t at = 0;
  while (at < all.size()) {
    size_t end = all.find("\r\n", at);
    EXPECT_NE(end, std::string::npos) << path << ": last line has no CR LF";
    if (end == std::string::npos) break;
    Line l;
    std::string raw = all.substr(at, end - at);
    EXPECT_TRUE(ParseLine(raw, &l)) << path << ": malformed line: " << raw;
    lines.push_back(l);
    at = end + 2;
  }
  return lines;
}

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// Names in dir that match wsock32.dll-*.log, by number.
std::map<int, std::string> LogFiles(const std::string& dir, const std::string& module = "wsock32.dll") {
  std::map<int, std::string> files;
  WIN32_FIND_DATAA fd;
  HANDLE h = FindFirstFileA((dir + "\\" + module + "-*.log").c_str(), &fd);
  if (h == INVALID_HANDLE_VALUE) return files;
  do {
    std::string name = fd.cFileName;
    std::string num = name.substr(module.size() + 1, name.size() - module.size() - 5);
    files[std::atoi(num.c_str())] = dir + "\\" + name;
  } while (FindNextFileA(h, &fd));
  FindClose(h);
  return files;
}

class ScribeDll : public ::testing::Test {
 protected:
  void SetUp() override {
    // A fresh directory per test, under the working directory.
    char cwd[MAX_PATH];
    GetCurrentDirectoryA(sizeof cwd, cwd);
    dir_ = std::string(cwd) + "\\logs-" + ::testing::UnitTest::GetInstance()->current_test_info()->name();
    CreateDirectoryA(dir_.c_str(), nullptr);
    SetEnvironmentVariableA("SCRIBE_LOGDIR", dir_.c_str());
    SetEnvironmentVariableA("SCRIBE_LEVEL", nullptr);
    SetEnvironmentVariableA("SCRIBE_ROTATE_KB", nullptr);

    // Loaded and freed per test, so each starts with the library's state fresh.
    dll_ = LoadLibraryA("SCRIBE.DLL");
    ASSERT_NE(dll_, nullptr) << "LoadLibraryA(SCRIBE.DLL) failed: " << GetLastError();
    init_ = reinterpret_cast<LogInitFn>(GetProcAddress(dll_, "LogInit"));
    write_ = reinterpret_cast<LogWriteFn>(GetProcAddress(dll_, "LogWrite"));
    dump_ = reinterpret_cast<LogDumpFn>(GetProcAddress(dll_, "LogDump"));
    shutdown_ = reinterpret_cast<LogShutdownFn>(GetProcAddress(dll_, "LogShutdown"));
    errstr_ = reinterpret_cast<GetErrStrFn>(GetProcAddress(dll_, "GetErrStr"));
    ASSERT_TRUE(init_ && write_ && dump_ && shutdown_ && errstr_) << "an export is missing";
  }
  void TearDown() override {
    if (dll_ != nullptr) FreeLibrary(dll_);
  }
  std::string First() const { return dir_ + "\\wsock32.dll-1.log"; }

  std::string dir_;
  HMODULE dll_ = nullptr;
  LogInitFn init_ = nullptr;
  LogWriteFn write_ = nullptr;
  LogDumpFn dump_ = nullptr;
  LogShutdownFn shutdown_ = nullptr;
  GetErrStrFn errstr_ = nullptr;
};

TEST_F(ScribeDll, LinesCarryTimeThreadLevelSourceAndTextAndDefaultFilterIs1000) {
  ASSERT_EQ(init_("wsock32\\wsock32", 77, 2000, "wsock32.dll", kPattern), 1);
  EXPECT_GT(write_("wsock32\\wsock32", 120, 1000, "Successfully loaded (%s)", "C:\\windows\\system32\\wsock32.dll"), 0);
  EXPECT_EQ(write_("wsock32\\wsock32", 121, 2000, "mp_select(%d,,,,,)", 3), 0) << "2000 passes the default filter";
  EXPECT_GT(write_("wsock32\\wsock32", 122, 500, "lp_socket failed. Error:%d", 10047), 0);
  EXPECT_GT(write_("wsock32\\wsock32", 123, 100, "%s", "100% sure: %s %n %d stays as it is"), 0);
  EXPECT_GT(write_("x", 124, 1000, "two\r\nlines\n"), 0);
  shutdown_();

  std::vector<Line> lines = ReadLog(First());
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[0].level, 0);
  EXPECT_EQ(lines[0].file, "wsock32\\wsock32");
  EXPECT_EQ(lines[0].line, 77);
  EXPECT_EQ(lines[0].text.rfind("log opened by wsock32.dll (process ", 0), 0u) << lines[0].text;
  EXPECT_NE(lines[0].text.find("levels up to 1000 written"), std::string::npos) << lines[0].text;

  EXPECT_EQ(lines[1].thread, GetCurrentThreadId());
  EXPECT_EQ(lines[1].level, 1000);
  EXPECT_EQ(lines[1].file, "wsock32\\wsock32");
  EXPECT_EQ(lines[1].line, 120);
  EXPECT_EQ(lines[1].text, "Successfully loaded (C:\\windows\\system32\\wsock32.dll)");
  EXPECT_EQ(lines[2].text, "lp_socket failed. Error:10047");
  EXPECT_EQ(lines[2].level, 500);
  EXPECT_EQ(lines[3].text, "100% sure: %s %n %d stays as it is");
  EXPECT_EQ(lines[4].text, "two  lines");
  EXPECT_EQ(lines[5].text, "log closed");

  // The time stamp is today's local time.
  SYSTEMTIME st;
  GetLocalTime(&st);
  char today[16];
  snprintf(today, sizeof today, "%04u-%02u-%02u", st.wYear, st.wMonth, st.wDay);
  EXPECT_EQ(lines[1].time.substr(0, 10), today);
}

TEST_F(ScribeDll, Level2000GivesTheWholeTraceAndOtherLevelsFilter) {
  SetEnvironmentVariableA("SCRIBE_LEVEL", "2000");
  ASSERT_EQ(init_("f", 1, 2000, "wsock32.dll", kPattern), 1);
  EXPECT_GT(write_("f", 2, 2000, "mp_select(%d,,,,,)", 3), 0);
  EXPECT_EQ(write_("f", 3, 2001, "beyond"), 0);
  shutdown_();
  SetEnvironmentVariableA("SCRIBE_LEVEL", "500");
  ASSERT_EQ(init_("f", 1, 2000, "wsock32.dll", kPattern), 1);
  EXPECT_EQ(write_("f", 4, 1000, "event"), 0);
  EXPECT_GT(write_("f", 5, 500, "failure"), 0);
  shutdown_();

  std::vector<Line> a = ReadLog(dir_ + "\\wsock32.dll-1.log");
  ASSERT_EQ(a.size(), 3u);
  EXPECT_EQ(a[1].text, "mp_select(3,,,,,)");
  std::vector<Line> b = ReadLog(dir_ + "\\wsock32.dll-2.log");
  ASSERT_EQ(b.size(), 3u) << "a second LogInit starts the next number";
  EXPECT_EQ(b[1].text, "failure");
}

TEST_F(ScribeDll, DumpIsHexAndAsciiUnderOneCaption) {
  SetEnvironmentVariableA("SCRIBE_LEVEL", "2000");
  ASSERT_EQ(init_("f", 1, 2000, "wsock32.dll", kPattern), 1);
  const unsigned char bytes[20] = {0xF9, 0xF9, 0xF9, 0xF9, 0x2C, 0x01, 0x00, 0x00, 0x7F, 0x00,
                                   0x00, 0x01, 'A',  'B',  'C',  'D',  'E',  'F',  'G',  'H'};
  EXPECT_EQ(dump_("wsock32\\sendto", 9, 2000, bytes, 20, ""), 20);
  EXPECT_EQ(dump_("f", 10, 2000, bytes, 0, "empty"), 0);
  EXPECT_EQ(dump_("f", 11, 2000, nullptr, 5, ""), 0);
  EXPECT_EQ(dump_("f", 12, 2000, bytes, -1, ""), 0);
  shutdown_();

  std::vector<Line> l = ReadLog(First());
  ASSERT_EQ(l.size(), 8u);
  EXPECT_EQ(l[1].text, "dump of 20 bytes");
  EXPECT_EQ(l[2].text, "0000  F9 F9 F9 F9 2C 01 00 00  7F 00 00 01 41 42 43 44  |....,.......ABCD|");
  EXPECT_EQ(l[3].text, "0010  45 46 47 48                                       |EFGH|");
  EXPECT_EQ(l[3].file, "wsock32\\sendto");
  EXPECT_EQ(l[4].text, "empty: dump of 0 bytes");
  EXPECT_EQ(l[5].text, "dump refused: 5 bytes at a null pointer");
  EXPECT_EQ(l[6].text, "dump refused: -1 bytes at a valid pointer");
}

TEST_F(ScribeDll, RotationKeepsTheNewestFiveAndEachEndsOnAWholeLine) {
  SetEnvironmentVariableA("SCRIBE_ROTATE_KB", "1");
  ASSERT_EQ(init_("f", 1, 2000, "wsock32.dll", kPattern), 1);
  std::string pad(80, 'x');
  for (int i = 0; i < 300; ++i) write_("f", 2, 1000, "line %03d %s", i, pad.c_str());
  shutdown_();

  std::map<int, std::string> files = LogFiles(dir_);
  ASSERT_EQ(files.size(), 5u);
  int highest = files.rbegin()->first;
  EXPECT_GT(highest, 20) << "300 lines of ~130 bytes make more than 20 files of 1 KiB";
  EXPECT_EQ(files.begin()->first, highest - 4) << "the five kept are the newest, without gaps";

  int last_seen = -1;
  for (const auto& f : files) {
    std::vector<Line> l = ReadLog(f.second);
    ASSERT_GE(l.size(), 2u);
    EXPECT_EQ(l.front().text.rfind("log continued from wsock32.dll-" + std::to_string(f.first - 1) + ".log", 0), 0u);
    if (f.first != highest) {
      EXPECT_EQ(l.back().text, "log continues in wsock32.dll-" + std::to_string(f.first + 1) + ".log");
      // Rotation happens between lines: a file passes 1 KiB by less than one line.
      EXPECT_LT(ReadFile(f.second).size(), 1024u + 2 * 200u);
    }
    for (const Line& x : l) {
      int n = -1;
      if (sscanf(x.text.c_str(), "line %d", &n) == 1) {
        // The oldest files are gone; from the first kept line on nothing is missing.
        if (last_seen >= 0) EXPECT_EQ(n, last_seen + 1) << "lines lost or reordered across files";
        last_seen = n;
      }
    }
  }
  EXPECT_EQ(last_seen, 299);

  // The next run starts above the highest and removes what falls out of the five.
  SetEnvironmentVariableA("SCRIBE_ROTATE_KB", nullptr);
  ASSERT_EQ(init_("f", 1, 2000, "wsock32.dll", kPattern), 1);
  shutdown_();
  files = LogFiles(dir_);
  EXPECT_EQ(files.size(), 5u);
  EXPECT_EQ(files.rbegin()->first, highest + 1);
}

TEST_F(ScribeDll, ThreadsWritingAtOnceNeverTearOrLoseALine) {
  ASSERT_EQ(init_("f", 1, 2000, "wsock32.dll", kPattern), 1);
  const int kThreads = 4, kLines = 400;
  std::vector<unsigned long> ids(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      ids[t] = GetCurrentThreadId();
      std::string pad(t * 40 + 10, static_cast<char>('a' + t));
      unsigned char bytes[40];
      memset(bytes, t, sizeof bytes);
      for (int i = 0; i < kLines; ++i) {
        write_("thread", t, 1000, "t%d n%d %s", t, i, pad.c_str());
        if (i % 50 == 0) dump_("thread", t, 1000, bytes, sizeof bytes, "rows");
      }
    });
  }
  for (auto& th : threads) th.join();
  shutdown_();

  std::vector<Line> lines = ReadLog(First());
  std::vector<int> next(kThreads, 0);
  for (size_t i = 0; i < lines.size(); ++i) {
    const Line& l = lines[i];
    if (l.file != "thread") continue;
    int t = l.line;
    ASSERT_GE(t, 0);
    ASSERT_LT(t, kThreads);
    EXPECT_EQ(l.thread, ids[t]);
    if (l.text == "rows: dump of 40 bytes") {
      // The three rows follow their caption at once, from the same thread.
      ASSERT_LT(i + 3, lines.size());
      for (int r = 1; r <= 3; ++r) EXPECT_EQ(lines[i + r].thread, ids[t]) << "a dump was split";
      i += 3;
      continue;
    }
    int tt = -1, n = -1;
    ASSERT_EQ(sscanf(l.text.c_str(), "t%d n%d", &tt, &n), 2) << l.text;
    EXPECT_EQ(tt, t);
    EXPECT_EQ(n, next[t]) << "thread " << t << " lost or reordered a line";
    next[t] = n + 1;
    EXPECT_EQ(l.text.size(), l.text.find(' ', l.text.find(' ') + 1) + 1 + t * 40 + 10) << "torn line";
  }
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(next[t], kLines);
}

TEST_F(ScribeDll, AnUnusableDirectoryTurnsLoggingOffAndEveryCallStillReturns) {
  SetEnvironmentVariableA("SCRIBE_LOGDIR", (dir_ + "\\does-not-exist").c_str());
  EXPECT_EQ(init_("f", 1, 2000, "wsock32.dll", kPattern), 0);
  EXPECT_EQ(write_("f", 2, 100, "nothing %s", "here"), 0);
  const char b[4] = {1, 2, 3, 4};
  EXPECT_EQ(dump_("f", 3, 100, b, 4, ""), 0);
  shutdown_();
  shutdown_();
  EXPECT_FALSE(Exists(dir_ + "\\does-not-exist"));

  // A file in the place of the directory.
  std::string file = dir_ + "\\plain-file";
  std::ofstream(file) << "x";
  SetEnvironmentVariableA("SCRIBE_LOGDIR", file.c_str());
  EXPECT_EQ(init_("f", 1, 2000, "wsock32.dll", kPattern), 0);
  EXPECT_EQ(write_("f", 2, 100, "nothing"), 0);
  shutdown_();
}

TEST_F(ScribeDll, CallsBeforeLogInitOrAfterShutdownWriteNothing) {
  EXPECT_EQ(write_("f", 1, 100, "too early"), 0);
  const char b[1] = {0};
  EXPECT_EQ(dump_("f", 1, 100, b, 1, ""), 0);
  shutdown_();
  ASSERT_EQ(init_("f", 1, 2000, "wsock32.dll", kPattern), 1);
  shutdown_();
  EXPECT_EQ(write_("f", 1, 100, "too late"), 0);
  std::vector<Line> l = ReadLog(First());
  ASSERT_EQ(l.size(), 2u);
  EXPECT_EQ(l[1].text, "log closed");
}

TEST_F(ScribeDll, LogDirDefaultsToTheExecutablesDirectory) {
  SetEnvironmentVariableA("SCRIBE_LOGDIR", nullptr);
  char exe[MAX_PATH];
  GetModuleFileNameA(nullptr, exe, sizeof exe);
  std::string exe_dir(exe, strrchr(exe, '\\'));
  for (const auto& f : LogFiles(exe_dir, "default-dir")) DeleteFileA(f.second.c_str());

  ASSERT_EQ(init_("f", 1, 2000, "default-dir", nullptr), 1) << "a null pattern gives the default";
  write_("f", 2, 1000, "here");
  shutdown_();
  std::vector<Line> l = ReadLog(exe_dir + "\\default-dir-1.log");
  ASSERT_EQ(l.size(), 3u);
  EXPECT_EQ(l[1].text, "here");
}

TEST_F(ScribeDll, LongAndPercentHeavyTextStaysInsideItsBuffers) {
  ASSERT_EQ(init_("f", 1, 2000, "wsock32.dll", kPattern), 1);
  std::string huge(100000, 'h');
  std::string percents(3000, '%');
  EXPECT_EQ(write_("f", 2, 1000, "%s", huge.c_str()), 1024);
  EXPECT_GT(write_("f", 3, 1000, "%s", percents.c_str()), 0);
  EXPECT_GT(write_("f", 4, 1000, "count%n", nullptr), 0) << "a %n format is written literally";
  EXPECT_GT(write_(std::string(5000, 'F').c_str(), 5, 1000, "long file name"), 0);
  EXPECT_GT(write_(nullptr, 6, 1000, nullptr), 0);
  shutdown_();

  std::vector<Line> l = ReadLog(First());
  ASSERT_EQ(l.size(), 7u);
  EXPECT_EQ(l[1].text, huge.substr(0, 1021) + "...");
  EXPECT_EQ(l[2].text, percents.substr(0, 1021) + "...");
  EXPECT_EQ(l[3].text, "count%n");
  EXPECT_EQ(l[4].file, std::string(128, 'F'));
  EXPECT_EQ(l[5].file, "?");
  EXPECT_EQ(l[5].text, "(null format)");
}

TEST_F(ScribeDll, FreeLibraryClosesTheLogProperly) {
  ASSERT_EQ(init_("f", 1, 2000, "wsock32.dll", kPattern), 1);
  write_("f", 2, 1000, "last words");
  FreeLibrary(dll_);
  dll_ = nullptr;
  std::vector<Line> l = ReadLog(First());
  ASSERT_EQ(l.size(), 3u);
  EXPECT_EQ(l[1].text, "last words");
  EXPECT_EQ(l[2].text, "log closed");
}

// A game that exits while its threads are writing must exit cleanly: the library's detach
// at process exit takes no lock, and every line written before LogShutdown is kept.
// Runs this program again as the child below; returns its exit code, or 99 when it hung.
DWORD RunChild(const char* mode) {
  char exe[MAX_PATH];
  GetModuleFileNameA(nullptr, exe, sizeof exe);
  std::string cmd = std::string("\"") + exe + "\" " + mode;
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return 98;
  DWORD code = 99;
  if (WaitForSingleObject(pi.hProcess, 20000) == WAIT_OBJECT_0) {
    GetExitCodeProcess(pi.hProcess, &code);
  } else {
    TerminateProcess(pi.hProcess, 99);
  }
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
  return code;
}

TEST_F(ScribeDll, AProcessExitingMidTraceEndsCleanly) {
  ASSERT_EQ(RunChild("--exit-while-writing shutdown"), 7u) << "99: the exiting process hung";
  std::vector<Line> l = ReadLog(dir_ + "\\exiting-1.log");
  ASSERT_GE(l.size(), 3u);
  EXPECT_EQ(l.back().text, "log closed") << "a line was written after LogShutdown";
  EXPECT_TRUE(std::any_of(l.begin(), l.end(), [](const Line& x) { return x.text == "Shutting down..."; }));
  EXPECT_GT(std::count_if(l.begin(), l.end(), [](const Line& x) { return x.text.rfind("busy ", 0) == 0; }), 4);

  // Without LogShutdown the writers are stopped wherever they are, perhaps holding the lock:
  // the exit must not wait for it, and what reached the file is whole lines.
  ASSERT_EQ(RunChild("--exit-while-writing no-shutdown"), 7u) << "99: the exiting process hung";
  l = ReadLog(dir_ + "\\exiting-2.log");
  EXPECT_GT(l.size(), 4u);
}

TEST_F(ScribeDll, GetErrStrNamesWinsockAndSystemErrors) {
  char buf[128];
  EXPECT_STREQ(errstr_(10054, buf, sizeof buf), "WSAECONNRESET (10054): Connection reset by peer");
  EXPECT_EQ(errstr_(10054, buf, sizeof buf), buf);
  EXPECT_STREQ(errstr_(11001, buf, sizeof buf), "WSAHOST_NOT_FOUND (11001): Host not found");
  EXPECT_EQ(std::string(errstr_(5, buf, sizeof buf)).rfind("5: ", 0), 0u) << buf;
  EXPECT_GT(strlen(buf), 3u);
  EXPECT_STREQ(errstr_(0x7FFFABCD, buf, sizeof buf), "error 2147462093");
  char small[8];
  memset(small, 'z', sizeof small);
  EXPECT_STREQ(errstr_(10054, small, 6), "WSAEC");
  EXPECT_EQ(small[6], 'z');
  EXPECT_STREQ(errstr_(10054, nullptr, 10), "");
  EXPECT_STREQ(errstr_(10054, buf, 0), "");
}

}  // namespace

// The child of AProcessExitingMidTraceEndsCleanly: four threads write without pause while
// the main thread writes the shim's last lines, calls LogShutdown and exits the process under
// the writers, which the system stops wherever they are (perhaps holding the log's lock).
namespace {
LogWriteFn g_exit_write = nullptr;

DWORD WINAPI BusyWriter(LPVOID) {
  for (;;) g_exit_write("child", 2, 1000, "busy %lu", GetCurrentThreadId());
}

int ExitWhileWriting(bool with_shutdown) {
  HMODULE dll = LoadLibraryA("SCRIBE.DLL");
  if (dll == nullptr) return 1;
  auto init = reinterpret_cast<LogInitFn>(GetProcAddress(dll, "LogInit"));
  g_exit_write = reinterpret_cast<LogWriteFn>(GetProcAddress(dll, "LogWrite"));
  auto shutdown = reinterpret_cast<LogShutdownFn>(GetProcAddress(dll, "LogShutdown"));
  if (init == nullptr || init("child", 1, 2000, "exiting", nullptr) != 1) return 2;
  for (int t = 0; t < 4; ++t) CreateThread(nullptr, 0, BusyWriter, nullptr, 0, nullptr);
  Sleep(50);
  if (with_shutdown) {
    g_exit_write("wsock32\\dllmain", 1, 1000, "Shutting down...");
    shutdown();
    Sleep(10);
  }
  ExitProcess(7);
}
}  // namespace

int main(int argc, char** argv) {
  if (argc > 2 && strcmp(argv[1], "--exit-while-writing") == 0)
    return ExitWhileWriting(strcmp(argv[2], "shutdown") == 0);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
