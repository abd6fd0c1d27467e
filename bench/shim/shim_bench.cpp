// Cost of the shim's datagram calls beside Wine's own wsock32, measured in one process so
// that the ratios compare like with like (a Winsock call costs tens of microseconds under
// Wine, about one natively; only ratios carry over).
//
//   shim_bench.exe [--calls N] [--rounds R]
//
// Runs in a working directory holding orbws.dll and SCRIBE.DLL (bench/shim/shim_bench.sh
// sets it up, in a network namespace of its own since it binds 127.0.0.1:3668). Each round
// measures, in turn: the real library; the shim with no trace library (SCRIBE.DLL renamed
// away, so every line is still formatted but goes nowhere); the shim at SCRIBE_LEVEL 1000
// (call-trace lines formatted, handed to the log and filtered out there); and at 2000 (all
// written to the file). The shim is loaded afresh for each, since the log reads its level
// when the shim starts. Figures are medians of 100-call samples, in microseconds per call.
#include <winsock2.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

const u_short kLinkPort = 3668;
const int kBatch = 100;  // datagrams queued before a timed run of receives

typedef int(WINAPI* SendtoFn)(SOCKET, const char*, int, int, const sockaddr*, int);
typedef int(WINAPI* RecvfromFn)(SOCKET, char*, int, int, sockaddr*, int*);

struct Api {
  SendtoFn sendto = nullptr;
  RecvfromFn recvfrom = nullptr;
};

double Now() {
  static LARGE_INTEGER freq = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER t;
  QueryPerformanceCounter(&t);
  return static_cast<double>(t.QuadPart) * 1e6 / static_cast<double>(freq.QuadPart);
}

sockaddr_in Inet(const char* dotted, u_short port) {
  sockaddr_in a = {};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = inet_addr(dotted);
  return a;
}

SOCKET Udp(const char* dotted, u_short port) {
  SOCKET s = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a = Inet(dotted, port);
  if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    fprintf(stderr, "bind %s:%u failed: %d\n", dotted, port, WSAGetLastError());
    exit(1);
  }
  int big = 1 << 20;
  setsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&big), sizeof big);
  return s;
}

u_short PortOf(SOCKET s) {
  sockaddr_in a = {};
  int len = sizeof a;
  getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
  return ntohs(a.sin_port);
}

// Reads whatever is queued on s, so sinks never fill up.
void Drain(SOCKET s) {
  u_long pending = 0;
  char buf[4096];
  while (ioctlsocket(s, FIONREAD, &pending) == 0 && pending > 0) {
    if (recv(s, buf, sizeof buf, 0) < 0) break;
  }
}

bool WaitReadable(SOCKET s) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(s, &set);
  timeval tv = {2, 0};
  return select(0, &set, nullptr, nullptr, &tv) == 1;
}

struct Sockets {
  SOCKET game;      // the game's socket: sends and receives
  SOCKET sink;      // a peer the direct sends go to
  SOCKET link;      // the session library's end, 127.0.0.1:3668
  SOCKET peer;      // a remote player sending plain datagrams to the game
  sockaddr_in to_sink, to_game, broadcast;
};

// Per-call times, one sample per batch of kBatch calls: on a busy machine the median of
// many short samples is steadier than one long average.
typedef std::vector<double> Samples;

// sendto of len bytes to dest.
void TimeSendto(const Api& api, SOCKET s, const sockaddr_in& dest, int len, int calls, SOCKET drain,
                Samples* out) {
  char payload[64];
  memset(payload, 0x5A, sizeof payload);
  for (int done = 0; done < calls; done += kBatch) {
    const double t0 = Now();
    for (int i = 0; i < kBatch; ++i) {
      api.sendto(s, payload, len, 0, reinterpret_cast<const sockaddr*>(&dest), sizeof dest);
    }
    out->push_back((Now() - t0) / kBatch);
    Drain(drain);
  }
}

// Microseconds per recvfrom of datagrams that from sends to the game socket: a link
// datagram (32 bytes, 12 of them header) when from is the link socket, else 20 plain bytes.
void TimeRecvfrom(const Api& api, const Sockets& k, SOCKET from, int calls, Samples* out) {
  unsigned char datagram[32] = {0xF9, 0xF9, 0xF9, 0xF9, 0x2C, 0x01, 0, 0, 203, 0, 113, 5};
  const bool link = from == k.link;
  const int len = link ? 32 : 20;
  char buf[128];
  for (int done = 0; done < calls; done += kBatch) {
    for (int i = 0; i < kBatch; ++i) {
      sendto(from, reinterpret_cast<const char*>(datagram), len, 0,
             reinterpret_cast<const sockaddr*>(&k.to_game), sizeof k.to_game);
    }
    WaitReadable(k.game);
    Sleep(2);  // let the whole batch land
    const double t0 = Now();
    for (int i = 0; i < kBatch; ++i) {
      sockaddr_in src;
      int srclen = sizeof src;
      api.recvfrom(k.game, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&src), &srclen);
    }
    out->push_back((Now() - t0) / kBatch);
  }
}

enum Measure { kSendto, kRecvfrom, kRecvfromLink, kBroadcast, kMeasures };
const char* const kMeasureNames[kMeasures] = {
    "sendto, 20 bytes to one address", "recvfrom, 20 bytes from a player",
    "recvfrom, link datagram unwrapped", "broadcast, 20 bytes (wrap + loopback send)"};

void Measure1(const Api& api, const Sockets& k, int m, int calls, Samples* out) {
  switch (m) {
    case kSendto: TimeSendto(api, k.game, k.to_sink, 20, calls, k.sink, out); break;
    case kRecvfrom: TimeRecvfrom(api, k, k.peer, calls, out); break;
    case kRecvfromLink: TimeRecvfrom(api, k, k.link, calls, out); break;
    case kBroadcast: TimeSendto(api, k.game, k.broadcast, 20, calls, k.link, out); break;
  }
}

void MeasureAll(const Api& api, const Sockets& k, int calls, Samples out[kMeasures]) {
  for (int m = 0; m < kMeasures; ++m) Measure1(api, k, m, calls, &out[m]);
}

// The real library's sendto of the 32-byte link datagram straight to 127.0.0.1:3668: the
// send that the shim's broadcast path ends in.
void RealLinkSend(const Api& real, const Sockets& k, int calls, Samples* out) {
  sockaddr_in link = Inet("127.0.0.1", kLinkPort);
  TimeSendto(real, k.game, link, 32, calls, k.link, out);
}

struct ShimCopy {
  HMODULE dll = nullptr;
  Api api;
};

bool LoadShim(ShimCopy* shim) {
  char full[MAX_PATH];
  GetFullPathNameA("wsock32.dll", sizeof full, full, nullptr);
  shim->dll = LoadLibraryA(full);
  if (shim->dll == nullptr) return false;
  shim->api.sendto = reinterpret_cast<SendtoFn>(reinterpret_cast<void*>(GetProcAddress(shim->dll, "sendto")));
  shim->api.recvfrom = reinterpret_cast<RecvfromFn>(reinterpret_cast<void*>(GetProcAddress(shim->dll, "recvfrom")));
  return shim->api.sendto && shim->api.recvfrom;
}

// Lines in the newest wsock32.dll trace file: all of them, and those the shim formatted
// itself (they carry its "[wsock32.dll] " prefix; dumps and raw lines are formatted by the
// log library, and only when their level passes).
struct LineCount {
  long all = 0;
  long formatted = 0;
};

LineCount TraceLines() {
  LineCount count;
  WIN32_FIND_DATAA fd;
  HANDLE h = FindFirstFileA("wsock32.dll-*.log", &fd);
  if (h == INVALID_HANDLE_VALUE) return count;
  std::string newest;
  int best = -1;
  do {
    const int n = atoi(fd.cFileName + strlen("wsock32.dll-"));
    if (n > best) {
      best = n;
      newest = fd.cFileName;
    }
  } while (FindNextFileA(h, &fd));
  FindClose(h);
  FILE* f = fopen(newest.c_str(), "rb");
  if (!f) return count;
  char line[2048];
  while (fgets(line, sizeof line, f)) {
    count.all += strchr(line, '\n') != nullptr;
    count.formatted += strstr(line, "| [wsock32.dll] ") != nullptr;
  }
  fclose(f);
  return count;
}

// What the shim's trace call does before it hands a line on: format the message, then the
// "[module] message" line, each into 260 bytes.
double FormatCost(int calls) {
  char msg[260], line[260];
  volatile int sink = 0;
  const double t0 = Now();
  for (int i = 0; i < calls; ++i) {
    snprintf(msg, sizeof msg, "mp_sendto() - sending message to the launcher of size %d(%d header/%d buffer)",
             i + 12, 12, i);
    snprintf(line, sizeof line, "[%s] %s", "wsock32.dll", msg);
    sink = sink + line[5];
  }
  return (Now() - t0) / calls;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  int calls = 1000, rounds = 9;
  for (int i = 1; i + 1 < argc; ++i) {
    if (!strcmp(argv[i], "--calls")) calls = std::max(kBatch, atoi(argv[i + 1]) / kBatch * kBatch);
    if (!strcmp(argv[i], "--rounds")) rounds = std::max(1, atoi(argv[i + 1]));
  }
  WSADATA wd;
  WSAStartup(MAKEWORD(2, 2), &wd);

  char sysdir[MAX_PATH];
  GetSystemDirectoryA(sysdir, sizeof sysdir);
  HMODULE real_dll = LoadLibraryA((std::string(sysdir) + "\\wsock32.dll").c_str());
  Api real;
  real.sendto = reinterpret_cast<SendtoFn>(reinterpret_cast<void*>(GetProcAddress(real_dll, "sendto")));
  real.recvfrom = reinterpret_cast<RecvfromFn>(reinterpret_cast<void*>(GetProcAddress(real_dll, "recvfrom")));
  if (!real.sendto || !real.recvfrom) {
    fprintf(stderr, "the real wsock32.dll has no sendto/recvfrom\n");
    return 1;
  }
  if (!CopyFileA("orbws.dll", "wsock32.dll", FALSE)) {
    fprintf(stderr, "cannot copy orbws.dll to wsock32.dll\n");
    return 1;
  }

  Sockets k;
  k.game = Udp("0.0.0.0", 0);
  k.sink = Udp("127.0.0.1", 0);
  k.link = Udp("127.0.0.1", kLinkPort);
  k.peer = Udp("127.0.0.1", 0);
  k.to_sink = Inet("127.0.0.1", PortOf(k.sink));
  k.to_game = Inet("127.0.0.1", PortOf(k.game));
  k.broadcast = Inet("255.255.255.255", 300);

  enum Config { kReal, kShimNoLog, kShim1000, kShim2000, kConfigs };
  const char* const config_names[kConfigs] = {"Wine wsock32", "shim, no log", "shim, level 1000",
                                              "shim, level 2000"};
  Samples figures[kConfigs][kMeasures];
  Samples link_send;
  double lines_per_call[kMeasures] = {}, formatted_per_call[kMeasures] = {};

  // Round 0 warms Wine up and is not counted; each round starts with the next
  // configuration, so none always runs first or last.
  for (int r = 0; r <= rounds; ++r) {
    for (int i = 0; i < kConfigs; ++i) {
      const int c = (i + r) % kConfigs;
      Samples discard[kMeasures];
      Samples* out = r == 0 ? discard : figures[c];
      if (c == kReal) {
        MeasureAll(real, k, calls, out);
        Samples discard_link;
        RealLinkSend(real, k, calls, r == 0 ? &discard_link : &link_send);
      } else {
        const bool log = c != kShimNoLog;
        if (!log) MoveFileA("SCRIBE.DLL", "SCRIBE.OFF");
        SetEnvironmentVariableA("SCRIBE_LEVEL", c == kShim2000 ? "2000" : "1000");
        ShimCopy shim;
        if (!LoadShim(&shim)) {
          fprintf(stderr, "cannot load the shim: %lu\n", GetLastError());
          return 1;
        }
        if (c == kShim2000 && r == 0) {
          // Lines per call, counted once from the trace itself.
          for (int m = 0; m < kMeasures; ++m) {
            Samples one;
            const LineCount before = TraceLines();
            Measure1(shim.api, k, m, kBatch, &one);
            const LineCount after = TraceLines();
            lines_per_call[m] = static_cast<double>(after.all - before.all) / kBatch;
            formatted_per_call[m] = static_cast<double>(after.formatted - before.formatted) / kBatch;
          }
        }
        MeasureAll(shim.api, k, calls, out);
        FreeLibrary(shim.dll);
        if (!log) MoveFileA("SCRIBE.OFF", "SCRIBE.DLL");
      }
    }
  }

  printf("shim datagram calls under Wine: %d calls x %d rounds, medians of %d-call samples, microseconds per call\n\n",
         calls, rounds, kBatch);
  printf("%-44s", "");
  for (int c = 0; c < kConfigs; ++c) printf(" %17s", config_names[c]);
  printf("\n");
  for (int m = 0; m < kMeasures; ++m) {
    printf("%-44s", kMeasureNames[m]);
    const double base = Median(figures[kReal][m]);
    for (int c = 0; c < kConfigs; ++c) {
      const double v = Median(figures[c][m]);
      if (c == kReal) {
        printf(" %11.1f      ", v);
      } else {
        printf(" %7.1f (x%5.2f)", v, v / base);
      }
    }
    printf("\n");
  }
  const double link = Median(link_send);
  printf("\nbroadcast path beside the real send it ends in (32 bytes to 127.0.0.1:3668): %.1f us;\n", link);
  for (int c = kShimNoLog; c < kConfigs; ++c) {
    printf("  %-17s broadcast %.1f us = x%.2f of that send\n", config_names[c], Median(figures[c][kBroadcast]),
           Median(figures[c][kBroadcast]) / link);
  }

  const double format = FormatCost(200000);
  printf("\ntrace lines per call at level 2000, all / formatted by the shim: ");
  for (int m = 0; m < kMeasures; ++m) printf("%s%.1f/%.1f", m ? ", " : "", lines_per_call[m], formatted_per_call[m]);
  printf("\nformatting one line (two snprintf into 260 bytes): %.3f us\n", format);
  for (int m = 0; m < kMeasures; ++m) {
    const double over = Median(figures[kShim1000][m]) - Median(figures[kReal][m]);
    const double fmt = format * formatted_per_call[m];
    printf("  %-44s shim overhead at 1000: %6.1f us, formatting ~%5.2f us", kMeasureNames[m], over, fmt);
    if (fmt < over) {
      printf(" (%4.1f%%)\n", 100.0 * fmt / over);
    } else {
      printf(" (the overhead is within the noise)\n");
    }
  }
  for (SOCKET s : {k.game, k.sink, k.link, k.peer}) closesocket(s);
  WSACleanup();
  return 0;
}
