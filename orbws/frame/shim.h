// What every export body of the shim uses: the trace calls, the binding of the real function
// behind an export, the IPX socket registry, the IPX address mapping, and the shim's own
// exports that intercepting code calls for its inner conversions (so each leaves its own
// trace lines). Windows only; the pure parts have portable headers of their own.
#ifndef ORB_ORBWS_SHIM_H
#define ORB_ORBWS_SHIM_H

// Winsock headers give types only: the shim imports nothing from any Winsock library and
// must never call the functions they declare.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <wsipx.h>
#include <windows.h>

#include <atomic>

#include "ipx/address.h"
#include "ipx/socktrak.h"
#include "frame/trace.h"

// The real library, loaded at the first call of (almost) any export, never unloaded before
// process detach.
//
// Returns 1 when the real library is loaded, 0 when loading failed (after the level-100
// line "Unable to load winsock (%s) GetLastError:%u").
int LoadRealWinsock();
// The full path the real library is loaded from ("" when it did not fit).
const char* RealLibraryPath();
// The loaded real library, null until the first successful load.
HMODULE RealLibrary();

// One bound-function slot: the real function behind an export (or a pair of exports that
// share one body). Filled by the first successful lookup and kept for the life of the process.
struct ShimSlot {
  const char* name;           // looked up in the real library under this name
  const char* failure_line;   // written at level 100 when the lookup finds nothing
  bool load_first;            // false for shutdown, connect and WSASetBlockingHook
  std::atomic<FARPROC> fn;
};

// A slot for an export whose real function has the same name, with the usual failure line
// "unable to load <name>()".
#define SHIM_SLOT(var, name) static ShimSlot var{name, "unable to load " name "()", true, {nullptr}}
// A slot with a failure line of its own.
#define SHIM_SLOT_LINE(var, name, line) static ShimSlot var{name, line, true, {nullptr}}
// A slot that looks up in whatever the real library holds, without loading it first.
#define SHIM_SLOT_NOLOAD(var, name) \
  static ShimSlot var{name, "unable to load " name "()", false, {nullptr}}

// Binding, after the export's entry line: loads the real library when the slot asks for it
// and it is not loaded, looks the name up once, and returns the real function. Returns null
// after writing the slot's failure line at level 100; the caller then returns its failure
// value at once and sets no Winsock error.
FARPROC ShimBind(ShimSlot& slot);

template <typename Fn>
Fn ShimBindAs(ShimSlot& slot) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(ShimBind(slot)));
}

// The shim's exports, under their internal names (orbws.def maps each to its Winsock name
// and ordinal). Intercepting code calls these, never the real functions, for its inner
// conversions and error codes.
extern "C" {
u_long WINAPI orb_htonl(u_long value);
u_short WINAPI orb_htons(u_short value);
u_long WINAPI orb_ntohl(u_long value);
u_short WINAPI orb_ntohs(u_short value);
unsigned long WINAPI orb_inet_addr(const char* text);
char* WINAPI orb_inet_ntoa(struct in_addr address);
int WINAPI orb_gethostname(char* name, int length);
struct hostent* WINAPI orb_gethostbyname(const char* name);
int WINAPI orb_WSAGetLastError(void);
void WINAPI orb_WSASetLastError(int code);

// The datagram paths' exports (send, receive, options); their bodies live beside the frame.
int WINAPI orb_send(SOCKET s, const char* buf, int len, int flags);
int WINAPI orb_sendto(SOCKET s, const char* buf, int len, int flags, const struct sockaddr* to,
                      int tolen);
int WINAPI orb_recv(SOCKET s, char* buf, int len, int flags);
int WINAPI orb_recvfrom(SOCKET s, char* buf, int len, int flags, struct sockaddr* from,
                        int* fromlen);
int WINAPI orb_WSARecv(SOCKET s, LPWSABUF buffers, DWORD count, LPDWORD received, LPDWORD flags,
                       LPWSAOVERLAPPED overlapped,
                       LPWSAOVERLAPPED_COMPLETION_ROUTINE completion);
int WINAPI orb_WSARecvFrom(SOCKET s, LPWSABUF buffers, DWORD count, LPDWORD received,
                           LPDWORD flags, struct sockaddr* from, LPINT fromlen,
                           LPWSAOVERLAPPED overlapped,
                           LPWSAOVERLAPPED_COMPLETION_ROUTINE completion);
int WINAPI orb_getsockopt(SOCKET s, int level, int optname, char* optval, int* optlen);
int WINAPI orb_setsockopt(SOCKET s, int level, int optname, const char* optval, int optlen);
int WINAPI orb_ioctlsocket(SOCKET s, long cmd, u_long* argp);
}

// Registry handles are the ints the trace lines show.
inline int SockHandle(SOCKET s) { return static_cast<int>(s); }

#endif
