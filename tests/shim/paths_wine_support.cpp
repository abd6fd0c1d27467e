#include "paths_wine_support.h"

#include <fstream>
#include <map>
#include <regex>

namespace {

template <typename Fn>
bool Look(HMODULE dll, const char* name, Fn* out, std::string* why) {
  *out = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(dll, name)));
  if (*out == nullptr) *why += std::string(" ") + name;
  return *out != nullptr;
}

std::string ReadShared(const std::string& path) {
  // Shared read: the shim keeps the file open for writing.
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return std::string();
  std::string all;
  char chunk[8192];
  DWORD got = 0;
  while (::ReadFile(h, chunk, sizeof chunk, &got, nullptr) && got > 0) all.append(chunk, got);
  CloseHandle(h);
  return all;
}

}  // namespace

bool LoadShim(const std::string& path, ShimApi* api, std::string* why) {
  char full[MAX_PATH];
  if (GetFullPathNameA(path.c_str(), sizeof full, full, nullptr) == 0) {
    *why = "no full path for " + path;
    return false;
  }
  api->dll = LoadLibraryA(full);
  if (api->dll == nullptr) {
    *why = "LoadLibraryA(" + std::string(full) + ") failed: " + std::to_string(GetLastError());
    return false;
  }
  const size_t slash = path.find_last_of("\\/");
  api->module = slash == std::string::npos ? path : path.substr(slash + 1);
  why->clear();
  bool ok = true;
  ok &= Look(api->dll, "WSAStartup", &api->WSAStartup, why);
  ok &= Look(api->dll, "socket", &api->socket, why);
  ok &= Look(api->dll, "bind", &api->bind, why);
  ok &= Look(api->dll, "closesocket", &api->closesocket, why);
  ok &= Look(api->dll, "connect", &api->connect, why);
  ok &= Look(api->dll, "getpeername", &api->getpeername, why);
  ok &= Look(api->dll, "sendto", &api->sendto, why);
  ok &= Look(api->dll, "send", &api->send, why);
  ok &= Look(api->dll, "recvfrom", &api->recvfrom, why);
  ok &= Look(api->dll, "recv", &api->recv, why);
  ok &= Look(api->dll, "WSARecvFrom", &api->WSARecvFrom, why);
  ok &= Look(api->dll, "WSARecv", &api->WSARecv, why);
  ok &= Look(api->dll, "getsockopt", &api->getsockopt, why);
  ok &= Look(api->dll, "setsockopt", &api->setsockopt, why);
  ok &= Look(api->dll, "ioctlsocket", &api->ioctlsocket, why);
  ok &= Look(api->dll, "WSAGetLastError", &api->WSAGetLastError, why);
  if (!ok) *why = "missing exports:" + *why;
  return ok;
}

ShimApi& Shim() {
  static ShimApi api;
  return api;
}

std::string Trace::Path() const {
  std::map<int, std::string> files;
  WIN32_FIND_DATAA fd;
  HANDLE h = FindFirstFileA((module_ + "-*.log").c_str(), &fd);
  if (h == INVALID_HANDLE_VALUE) return std::string();
  do {
    const std::string name = fd.cFileName;
    files[atoi(name.c_str() + module_.size() + 1)] = name;
  } while (FindNextFileA(h, &fd));
  FindClose(h);
  return files.empty() ? std::string() : files.rbegin()->second;
}

std::vector<TraceLine> Trace::ReadAll() const {
  static const std::regex re(
      R"(^(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}) \[(\d+)\] (-?\d+) (.*?):(-?\d+) \| (.*)$)");
  const std::string all = ReadShared(Path());
  std::vector<TraceLine> lines;
  size_t at = 0;
  while (at < all.size()) {
    const size_t end = all.find("\r\n", at);
    if (end == std::string::npos) break;  // a line still being written
    const std::string raw = all.substr(at, end - at);
    std::smatch m;
    TraceLine l;
    if (std::regex_match(raw, m, re)) {
      l.level = std::stoi(m[3]);
      l.file = m[4];
      l.text = m[6];
    } else {
      l.level = -1;
      l.text = raw;
    }
    lines.push_back(l);
    at = end + 2;
  }
  return lines;
}

std::vector<TraceLine> Trace::Since() const {
  std::vector<TraceLine> all = ReadAll();
  if (mark_ >= all.size()) return {};
  return std::vector<TraceLine>(all.begin() + static_cast<long>(mark_), all.end());
}

void Trace::Mark() { mark_ = ReadAll().size(); }

int CountText(const std::vector<TraceLine>& lines, const std::string& text) {
  int n = 0;
  for (const TraceLine& l : lines) n += l.text == text;
  return n;
}

const TraceLine* FindText(const std::vector<TraceLine>& lines, const std::string& text) {
  for (const TraceLine& l : lines) {
    if (l.text == text) return &l;
  }
  return nullptr;
}

std::string Dump(const std::vector<TraceLine>& lines) {
  std::string all;
  for (const TraceLine& l : lines) all += std::to_string(l.level) + " | " + l.text + "\n";
  return all;
}

RealSocket::~RealSocket() { reset(INVALID_SOCKET); }

void RealSocket::reset(SOCKET s) {
  if (s_ != INVALID_SOCKET) ::closesocket(s_);
  s_ = s;
}

sockaddr_in Inet(const char* dotted, u_short port) {
  sockaddr_in a = {};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = inet_addr(dotted);
  return a;
}

u_short LocalPort(SOCKET s) {
  sockaddr_in a = {};
  int len = sizeof a;
  if (::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) != 0) return 0;
  return ntohs(a.sin_port);
}

bool Readable(SOCKET s, int ms) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(s, &set);
  timeval tv = {ms / 1000, (ms % 1000) * 1000};
  return ::select(0, &set, nullptr, nullptr, &tv) == 1;
}

SOCKET RealUdp(const char* dotted, u_short port) {
  SOCKET s = ::socket(AF_INET, SOCK_DGRAM, 0);
  if (s == INVALID_SOCKET) return s;
  sockaddr_in a = Inet(dotted, port);
  if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    ::closesocket(s);
    return INVALID_SOCKET;
  }
  return s;
}
