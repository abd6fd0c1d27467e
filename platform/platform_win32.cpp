// Winsock 1.1 (wsock32.dll) and Win32 clocks behind platform.h. Only Winsock 1.1 calls:
// the session library links the platform's wsock32.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <winsock.h>

#include <stdio.h>
#include <string.h>

#include "platform.h"

namespace orb {

bool SocketsStartup(bool* started) {
  if (*started) return true;
  WSADATA data;
  if (WSAStartup(0x0101, &data) != 0) return false;
  *started = true;
  return true;
}

int SocketLastError() { return WSAGetLastError(); }
bool SocketErrorWouldBlock(int error) { return error == WSAEWOULDBLOCK; }
bool SocketErrorConnReset(int error) { return error == WSAECONNRESET; }

SocketHandle UdpOpen() {
  SOCKET s = socket(AF_INET, SOCK_DGRAM, 0);
  if (s == INVALID_SOCKET) return kInvalidSocket;
  // Windows sockets are inheritable handles: a game the launcher starts would otherwise
  // keep the session's sockets, and their ports, open after the session closed them.
  SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
  return static_cast<SocketHandle>(s);
}

bool UdpBind(SocketHandle socket, uint32_t ip, uint16_t port) {
  sockaddr_in sa;
  memset(&sa, 0, sizeof sa);
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = ip;
  sa.sin_port = htons(port);
  return bind(static_cast<SOCKET>(socket), reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
}

bool UdpBoundPort(SocketHandle socket, uint16_t* port) {
  sockaddr_in sa;
  int len = sizeof sa;
  if (getsockname(static_cast<SOCKET>(socket), reinterpret_cast<sockaddr*>(&sa), &len) != 0)
    return false;
  *port = ntohs(sa.sin_port);
  return true;
}

bool LocalAddressToward(uint32_t ip, uint32_t* local) {
  SOCKET fd = socket(AF_INET, SOCK_DGRAM, 0);
  if (fd == INVALID_SOCKET) return false;
  sockaddr_in sa;
  memset(&sa, 0, sizeof sa);
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = ip;
  sa.sin_port = htons(9);  // any port: a datagram socket's connect sends nothing
  bool ok = connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
  int len = sizeof sa;
  ok = ok && getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len) == 0;
  closesocket(fd);
  if (ok) *local = sa.sin_addr.s_addr;
  return ok;
}

bool UdpSetNonBlocking(SocketHandle socket) {
  u_long on = 1;
  return ioctlsocket(static_cast<SOCKET>(socket), FIONBIO, &on) == 0;
}

int UdpWaitReadable(const SocketHandle* sockets, bool* readable, int count, uint32_t timeout_ms) {
  if (count < 0 || count > FD_SETSIZE) return -1;
  fd_set read_set;
  FD_ZERO(&read_set);
  for (int i = 0; i < count; ++i) {
    readable[i] = false;
    if (sockets[i] != kInvalidSocket) FD_SET(static_cast<SOCKET>(sockets[i]), &read_set);
  }
  timeval tv;
  tv.tv_sec = static_cast<long>(timeout_ms / 1000);
  tv.tv_usec = static_cast<long>(timeout_ms % 1000) * 1000;
  // An empty set fails (WSAEINVAL): as for a closed socket, the caller sees -1.
  int n = select(0, &read_set, nullptr, nullptr, timeout_ms == 0xFFFFFFFFu ? nullptr : &tv);
  if (n == SOCKET_ERROR) return -1;
  int ready = 0;
  for (int i = 0; i < count; ++i) {
    if (sockets[i] == kInvalidSocket) continue;
    readable[i] = FD_ISSET(static_cast<SOCKET>(sockets[i]), &read_set) != 0;
    ready += readable[i];
  }
  return ready;
}

int UdpReceiveFrom(SocketHandle socket, void* buffer, int capacity, SocketAddress* from) {
  sockaddr_in sa;
  memset(&sa, 0, sizeof sa);
  int len = sizeof sa;
  int n = recvfrom(static_cast<SOCKET>(socket), static_cast<char*>(buffer), capacity, 0,
                   reinterpret_cast<sockaddr*>(&sa), &len);
  if (n == SOCKET_ERROR) return -1;
  if (from) {
    from->ip = sa.sin_addr.s_addr;
    from->port = ntohs(sa.sin_port);
  }
  return n;
}

int UdpSendTo(SocketHandle socket, const void* data, int length, const SocketAddress& to) {
  sockaddr_in sa;
  memset(&sa, 0, sizeof sa);
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = to.ip;
  sa.sin_port = htons(to.port);
  int n = sendto(static_cast<SOCKET>(socket), static_cast<const char*>(data), length, 0,
                 reinterpret_cast<sockaddr*>(&sa), sizeof sa);
  return n == SOCKET_ERROR ? -1 : n;
}

int UdpSendToWithTtl(SocketHandle socket, const void* data, int length, const SocketAddress& to,
                     int ttl) {
  // IP_TTL is the Winsock 1.1 option (7 in winsock.h), as this library links wsock32.
  const SOCKET s = static_cast<SOCKET>(socket);
  int old_ttl = 128;
  int size = sizeof old_ttl;
  const bool have_old =
      getsockopt(s, IPPROTO_IP, IP_TTL, reinterpret_cast<char*>(&old_ttl), &size) == 0;
  setsockopt(s, IPPROTO_IP, IP_TTL, reinterpret_cast<const char*>(&ttl), sizeof ttl);
  const int n = UdpSendTo(socket, data, length, to);
  if (have_old) {
    setsockopt(s, IPPROTO_IP, IP_TTL, reinterpret_cast<const char*>(&old_ttl), sizeof old_ttl);
  }
  return n;
}

void UdpClose(SocketHandle socket) {
  if (socket != kInvalidSocket) closesocket(static_cast<SOCKET>(socket));
}

bool UdpConnect(SocketHandle socket, const SocketAddress& to) {
  sockaddr_in sa;
  memset(&sa, 0, sizeof sa);
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = to.ip;
  sa.sin_port = htons(to.port);
  return connect(static_cast<SOCKET>(socket), reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
}

int UdpSend(SocketHandle socket, const void* data, int length) {
  int n = send(static_cast<SOCKET>(socket), static_cast<const char*>(data), length, 0);
  return n == SOCKET_ERROR ? -1 : n;
}

// Windows fails the next receive with WSAECONNRESET; Wine keeps the refusal as the
// socket's pending error (WSAECONNREFUSED) instead.
bool UdpRefused(SocketHandle socket) {
  const SOCKET s = static_cast<SOCKET>(socket);
  char buffer[64];
  for (int i = 0; i < 16; ++i) {  // bounded: a flood of datagrams must not hold the caller
    if (recv(s, buffer, sizeof buffer, 0) != SOCKET_ERROR) continue;
    const int error = WSAGetLastError();
    if (error == WSAECONNRESET || error == WSAECONNREFUSED) return true;
    if (error != WSAEMSGSIZE) break;
  }
  int error = 0;
  int len = sizeof error;
  getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &len);
  return error == WSAECONNRESET || error == WSAECONNREFUSED;
}

uint32_t ParseIPv4(const char* text) {
  if (!text) return kAddressNone;
  return inet_addr(text);
}

char* FormatIPv4(uint32_t ip, char* out, size_t size) {
  const unsigned char* b = reinterpret_cast<const unsigned char*>(&ip);
  snprintf(out, size, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
  return out;
}

int LookupHostIPv4(const char* name, uint32_t* addresses, int max) {
  if (!name || max <= 0) return 0;
  hostent* h = gethostbyname(name);  // per-thread storage in Winsock
  if (!h || h->h_addrtype != AF_INET || h->h_length != 4) return 0;
  int count = 0;
  for (char** p = h->h_addr_list; *p && count < max; ++p) {
    uint32_t ip;
    memcpy(&ip, *p, 4);
    addresses[count++] = ip;
  }
  return count;
}

bool LocalHostName(char* out, int size) {
  if (!out || size <= 0) return false;
  if (gethostname(out, size) != 0) return false;
  out[size - 1] = '\0';
  return true;
}

uint64_t MonotonicMs() {
  static const uint64_t f = [] {  // initialised once, safely across threads
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<uint64_t>(frequency.QuadPart);
  }();
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  const uint64_t c = static_cast<uint64_t>(now.QuadPart);
  return c / f * 1000u + c % f * 1000u / f;
}

void SleepMs(uint32_t ms) { Sleep(ms); }

}  // namespace orb
