// What the Wine tests of the shim's datagram paths stand on: the shim loaded from the
// working directory and its exports looked up by name (as a game's imports bind them), the
// real Winsock beside it for the session library's end of the link, and the trace that
// SCRIBE.DLL writes, read back line by line.
#ifndef ORB_TESTS_SHIM_PATHS_WINE_SUPPORT_H
#define ORB_TESTS_SHIM_PATHS_WINE_SUPPORT_H

#include <winsock2.h>
#include <ws2tcpip.h>
#include <wsipx.h>
#include <wsnwlink.h>
#include <windows.h>

#include <string>
#include <vector>

// The shim's exports. The real Winsock library is the one this program links.
struct ShimApi {
  HMODULE dll = nullptr;
  std::string module;  // file name the shim was loaded under, e.g. "wsock32.dll"
  decltype(&::WSAStartup) WSAStartup = nullptr;
  decltype(&::socket) socket = nullptr;
  decltype(&::bind) bind = nullptr;
  decltype(&::closesocket) closesocket = nullptr;
  decltype(&::connect) connect = nullptr;
  decltype(&::getpeername) getpeername = nullptr;
  decltype(&::sendto) sendto = nullptr;
  decltype(&::send) send = nullptr;
  decltype(&::recvfrom) recvfrom = nullptr;
  decltype(&::recv) recv = nullptr;
  decltype(&::WSARecvFrom) WSARecvFrom = nullptr;
  decltype(&::WSARecv) WSARecv = nullptr;
  decltype(&::getsockopt) getsockopt = nullptr;
  decltype(&::setsockopt) setsockopt = nullptr;
  decltype(&::ioctlsocket) ioctlsocket = nullptr;
  decltype(&::WSAGetLastError) WSAGetLastError = nullptr;
};

// Loads the shim from path (relative to the working directory) and looks up every export
// above; false with a reason when something is missing.
bool LoadShim(const std::string& path, ShimApi* api, std::string* why);

// The shim under test, loaded once by main().
ShimApi& Shim();

// One trace line in SCRIBE.DLL's documented format.
struct TraceLine {
  int level = 0;
  std::string file;
  std::string text;
};

// The newest trace file of the shim in the working directory.
class Trace {
 public:
  explicit Trace(const std::string& module) : module_(module) {}
  // Lines written since the last Mark() (or since the start).
  std::vector<TraceLine> Since() const;
  void Mark();
  std::string Path() const;

 private:
  std::vector<TraceLine> ReadAll() const;
  std::string module_;
  size_t mark_ = 0;
};

// Lines whose text is exactly text; and the first such line, or null.
int CountText(const std::vector<TraceLine>& lines, const std::string& text);
const TraceLine* FindText(const std::vector<TraceLine>& lines, const std::string& text);
// The whole of lines as one text, for failure messages.
std::string Dump(const std::vector<TraceLine>& lines);

// Sockets of the real library, closed when the holder goes.
class RealSocket {
 public:
  RealSocket() = default;
  explicit RealSocket(SOCKET s) : s_(s) {}
  ~RealSocket();
  RealSocket(const RealSocket&) = delete;
  RealSocket& operator=(const RealSocket&) = delete;
  SOCKET get() const { return s_; }
  void reset(SOCKET s);

 private:
  SOCKET s_ = INVALID_SOCKET;
};

sockaddr_in Inet(const char* dotted, u_short port);
// The local port of a socket, asked of the real library.
u_short LocalPort(SOCKET s);
// True when s has a datagram to read within ms milliseconds (real select).
bool Readable(SOCKET s, int ms);
// A UDP socket of the real library bound to dotted:port (port 0: chosen by the system).
SOCKET RealUdp(const char* dotted, u_short port);

#endif
