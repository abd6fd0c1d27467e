#include "wine_harness.h"

#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

std::string CurrentDirectory() {
  char buf[MAX_PATH] = "";
  GetCurrentDirectoryA(sizeof buf, buf);
  return buf;
}

std::string SystemDirectory() {
  char buf[MAX_PATH] = "";
  GetSystemDirectoryA(buf, sizeof buf);
  return buf;
}

std::vector<unsigned char> ReadBytes(const std::string& path) {
  std::vector<unsigned char> data;
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) return data;
  unsigned char buf[65536];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) data.insert(data.end(), buf, buf + n);
  fclose(f);
  return data;
}

std::string MakeCase(const std::string& name, const std::vector<std::string>& copies) {
  std::string dir = CurrentDirectory() + "\\" + name;
  CreateDirectoryA(dir.c_str(), nullptr);
  for (const std::string& c : copies) {
    size_t eq = c.find('=');
    std::string src = eq == std::string::npos ? c : c.substr(0, eq);
    std::string dst = eq == std::string::npos ? c : c.substr(eq + 1);
    CopyFileA(src.c_str(), (dir + "\\" + dst).c_str(), FALSE);
  }
  return dir;
}

RunResult RunIn(const std::string& dir, const std::string& program, const std::string& args) {
  RunResult result;
  std::string out_path = dir + "\\" + program + ".out";
  SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
  HANDLE out = CreateFileA(out_path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &sa, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (out == INVALID_HANDLE_VALUE) return result;

  SetEnvironmentVariableA("SCRIBE_LEVEL", "2000");
  SetEnvironmentVariableA("SCRIBE_LOGDIR", nullptr);

  STARTUPINFOA si = {};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdOutput = out;
  si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  PROCESS_INFORMATION pi = {};
  std::string exe = dir + "\\" + program;
  std::string cmd = "\"" + exe + "\" " + args;
  std::vector<char> line(cmd.begin(), cmd.end());
  line.push_back('\0');
  BOOL started = CreateProcessA(exe.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                dir.c_str(), &si, &pi);
  CloseHandle(out);
  if (!started) return result;
  if (WaitForSingleObject(pi.hProcess, 60000) != WAIT_OBJECT_0) TerminateProcess(pi.hProcess, 99);
  DWORD code = 0;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  result.exit_code = static_cast<int>(code);

  std::vector<unsigned char> bytes = ReadBytes(out_path);
  result.output.assign(bytes.begin(), bytes.end());
  size_t pos = 0;
  while (pos < result.output.size()) {
    size_t end = result.output.find('\n', pos);
    if (end == std::string::npos) end = result.output.size();
    std::string l = result.output.substr(pos, end - pos);
    if (!l.empty() && l.back() == '\r') l.pop_back();
    size_t eq = l.find('=');
    if (eq != std::string::npos) result.values[l.substr(0, eq)] = l.substr(eq + 1);
    pos = end + 1;
  }
  return result;
}

std::vector<TraceLine> ReadTrace(const std::string& dir, const std::string& name) {
  std::vector<TraceLine> lines;
  std::vector<unsigned char> bytes = ReadBytes(dir + "\\" + name);
  std::string text(bytes.begin(), bytes.end());
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string l = text.substr(pos, end - pos);
    pos = end + 1;
    if (!l.empty() && l.back() == '\r') l.pop_back();
    // "date time [thread] level file:line | message"
    size_t bar = l.find(" | ");
    if (bar == std::string::npos) continue;
    std::string prefix = l.substr(0, bar);
    size_t thread_end = prefix.find("] ");
    if (thread_end == std::string::npos) continue;
    std::string rest = prefix.substr(thread_end + 2);
    size_t space = rest.find(' ');
    if (space == std::string::npos) continue;
    TraceLine t;
    t.level = atoi(rest.substr(0, space).c_str());
    std::string where = rest.substr(space + 1);
    t.file = where.substr(0, where.rfind(':'));
    t.message = l.substr(bar + 3);
    lines.push_back(t);
  }
  return lines;
}

std::vector<std::string> Messages(const std::vector<TraceLine>& lines) {
  std::vector<std::string> out;
  for (const TraceLine& t : lines) out.push_back(t.message);
  return out;
}

std::vector<std::string> FilesEndingIn(const std::string& dir, const std::string& suffix) {
  std::vector<std::string> found;
  WIN32_FIND_DATAA fd;
  HANDLE h = FindFirstFileA((dir + "\\*").c_str(), &fd);
  if (h == INVALID_HANDLE_VALUE) return found;
  do {
    std::string n = fd.cFileName;
    if (n.size() >= suffix.size() && n.compare(n.size() - suffix.size(), suffix.size(), suffix) == 0)
      found.push_back(n);
  } while (FindNextFileA(h, &fd));
  FindClose(h);
  return found;
}

std::string MissingInOrder(const std::vector<std::string>& lines,
                           const std::vector<std::string>& expected) {
  size_t at = 0;
  for (const std::string& e : expected) {
    while (at < lines.size() && lines[at] != e) ++at;
    if (at == lines.size()) return "missing (in order): \"" + e + "\"";
    ++at;
  }
  return "";
}

int Count(const std::vector<std::string>& lines, const std::string& text) {
  int n = 0;
  for (const std::string& l : lines) n += l == text;
  return n;
}
