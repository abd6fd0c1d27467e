// The plain pass-through exports: an entry line, the real function bound by name, the
// caller's arguments handed on unchanged, and the real result returned (with a result line
// for some). A function that cannot be bound gives its Winsock failure value. (connect and
// getpeername live with the datagram paths, datapath/connect.cpp.)
#include "datapath/broadcast_peers.h"
#include "frame/shim.h"

namespace {

SHIM_SLOT(g_accept, "accept");
SHIM_SLOT(g_htonl, "htonl");
SHIM_SLOT(g_htons, "htons");
SHIM_SLOT(g_inet_addr, "inet_addr");
SHIM_SLOT(g_listen, "listen");
SHIM_SLOT(g_ntohl, "ntohl");
SHIM_SLOT(g_ntohs, "ntohs");
SHIM_SLOT(g_select, "select");
SHIM_SLOT_NOLOAD(g_shutdown, "shutdown");
SHIM_SLOT(g_address_to_string, "WSAAddressToString");
SHIM_SLOT(g_ioctl, "WSAIoctl");
SHIM_SLOT(g_gethostbyaddr, "gethostbyaddr");
SHIM_SLOT(g_getprotobyname, "getprotobyname");
SHIM_SLOT(g_getprotobynumber, "getprotobynumber");
SHIM_SLOT(g_getservbyname, "getservbyname");
SHIM_SLOT(g_getservbyport, "getservbyport");
SHIM_SLOT(g_string_to_address, "WSAStringToAddress");
SHIM_SLOT(g_async_select, "WSAAsyncSelect");
SHIM_SLOT(g_async_host_by_addr, "WSAAsyncGetHostByAddr");
SHIM_SLOT(g_async_host_by_name, "WSAAsyncGetHostByName");
SHIM_SLOT(g_async_proto_by_number, "WSAAsyncGetProtoByNumber");
SHIM_SLOT(g_async_proto_by_name, "WSAAsyncGetProtoByName");
SHIM_SLOT(g_async_serv_by_port, "WSAAsyncGetServByPort");
SHIM_SLOT(g_async_serv_by_name, "WSAAsyncGetServByName");
SHIM_SLOT(g_cancel_async, "WSACancelAsyncRequest");
SHIM_SLOT_NOLOAD(g_set_blocking_hook, "WSASetBlockingHook");
SHIM_SLOT(g_unhook_blocking_hook, "WSAUnhookBlockingHook");
SHIM_SLOT(g_get_last_error, "WSAGetLastError");
SHIM_SLOT(g_set_last_error, "WSASetLastError");
SHIM_SLOT(g_cancel_blocking, "WSACancelBlockingCall");
SHIM_SLOT(g_is_blocking, "WSAIsBlocking");
SHIM_SLOT(g_fd_is_set, "__WSAFDIsSet");
SHIM_SLOT_LINE(g_enum_protocols, "EnumProtocolsA", "unable to load EnumProtocols()");
SHIM_SLOT(g_accept_ex, "AcceptEx");

// The texts a trace line shows for a caller's string pointer.
const char* Shown(const char* text) { return text ? text : "(null)"; }

}  // namespace

// Binds the real function of slot with the type of the export fn; returns failure when it
// cannot be bound.
#define BIND_OR_RETURN(real, slot, fn, failure) \
  auto real = ShimBindAs<decltype(&fn)>(slot);  \
  if (!real) return failure

extern "C" {

SOCKET WINAPI orb_accept(SOCKET s, struct sockaddr* addr, int* addrlen) {
  SHIM_LOG(SHIM_TRACE, "mp_accept(%d,,)", SockHandle(s));
  BIND_OR_RETURN(real, g_accept, orb_accept, INVALID_SOCKET);
  const SOCKET accepted = real(s, addr, addrlen);
  // A handle given again is a new socket: connected to no broadcast.
  if (accepted != INVALID_SOCKET) ForgetBroadcastPeer(SockHandle(accepted));
  return accepted;
}

u_long WINAPI orb_htonl(u_long value) {
  SHIM_LOG(SHIM_TRACE, "mp_htonl(%u)", static_cast<unsigned>(value));
  BIND_OR_RETURN(real, g_htonl, orb_htonl, value);
  return real(value);
}

u_short WINAPI orb_htons(u_short value) {
  SHIM_LOG(SHIM_TRACE, "mp_htons(%u)", static_cast<unsigned>(value));
  BIND_OR_RETURN(real, g_htons, orb_htons, value);
  u_short result = real(value);
  SHIM_LOG(SHIM_TRACE, "lp_htons(%u) returned %u", static_cast<unsigned>(value),
           static_cast<unsigned>(result));
  return result;
}

unsigned long WINAPI orb_inet_addr(const char* text) {
  SHIM_LOG(SHIM_TRACE, "mp_inet_addr(%s)", Shown(text));
  BIND_OR_RETURN(real, g_inet_addr, orb_inet_addr, INADDR_NONE);
  return real(text);
}

int WINAPI orb_listen(SOCKET s, int backlog) {
  SHIM_LOG(SHIM_TRACE, "mp_listen(%d,%d)", SockHandle(s), backlog);
  BIND_OR_RETURN(real, g_listen, orb_listen, SOCKET_ERROR);
  return real(s, backlog);
}

u_long WINAPI orb_ntohl(u_long value) {
  SHIM_LOG(SHIM_TRACE, "mp_ntohl(%u)", static_cast<unsigned>(value));
  BIND_OR_RETURN(real, g_ntohl, orb_ntohl, value);
  return real(value);
}

u_short WINAPI orb_ntohs(u_short value) {
  SHIM_LOG(SHIM_TRACE, "mp_ntohs(%u)", static_cast<unsigned>(value));
  BIND_OR_RETURN(real, g_ntohs, orb_ntohs, value);
  return real(value);
}

int WINAPI orb_select(int nfds, fd_set* readfds, fd_set* writefds, fd_set* exceptfds,
                      const struct timeval* timeout) {
  SHIM_LOG(SHIM_TRACE, "mp_select(%d,,,,,)", nfds);
  BIND_OR_RETURN(real, g_select, orb_select, SOCKET_ERROR);
  int result = real(nfds, readfds, writefds, exceptfds, timeout);
  SHIM_LOG(SHIM_TRACE, "lp_select() returned %d", result);
  return result;
}

int WINAPI orb_shutdown(SOCKET s, int how) {
  SHIM_LOG(SHIM_TRACE, "mp_shutdown(%d,%d)", SockHandle(s), how);
  BIND_OR_RETURN(real, g_shutdown, orb_shutdown, SOCKET_ERROR);
  int result = real(s, how);
  SHIM_LOG(SHIM_TRACE, "lp_shutdown() returned %d", result);
  return result;
}

// One body for the A and the W name, bound under the name without either ending.
INT WINAPI orb_WSAAddressToString(LPSOCKADDR address, DWORD length, LPVOID protocol_info,
                                  LPVOID text, LPDWORD text_length) {
  SHIM_LOG(SHIM_TRACE, "mp_WSAAddressToString()");
  BIND_OR_RETURN(real, g_address_to_string, orb_WSAAddressToString, SOCKET_ERROR);
  return real(address, length, protocol_info, text, text_length);
}

int WINAPI orb_WSAIoctl(SOCKET s, DWORD code, LPVOID in, DWORD in_size, LPVOID out,
                        DWORD out_size, LPDWORD returned, LPWSAOVERLAPPED overlapped,
                        LPWSAOVERLAPPED_COMPLETION_ROUTINE completion) {
  SHIM_LOG(SHIM_TRACE, "mp_WSAIoctl()");
  BIND_OR_RETURN(real, g_ioctl, orb_WSAIoctl, SOCKET_ERROR);
  return real(s, code, in, in_size, out, out_size, returned, overlapped, completion);
}

struct hostent* WINAPI orb_gethostbyaddr(const char* addr, int len, int type) {
  SHIM_LOG(SHIM_TRACE, "mp_gethostbyaddr()");
  BIND_OR_RETURN(real, g_gethostbyaddr, orb_gethostbyaddr, nullptr);
  return real(addr, len, type);
}

struct protoent* WINAPI orb_getprotobyname(const char* name) {
  SHIM_LOG(SHIM_TRACE, "mp_getprotobyname(%s)", Shown(name));
  BIND_OR_RETURN(real, g_getprotobyname, orb_getprotobyname, nullptr);
  return real(name);
}

struct protoent* WINAPI orb_getprotobynumber(int number) {
  SHIM_LOG(SHIM_TRACE, "mp_getprotobynumber()");
  BIND_OR_RETURN(real, g_getprotobynumber, orb_getprotobynumber, nullptr);
  return real(number);
}

struct servent* WINAPI orb_getservbyname(const char* name, const char* proto) {
  SHIM_LOG(SHIM_TRACE, "mp_getservbyname()");
  BIND_OR_RETURN(real, g_getservbyname, orb_getservbyname, nullptr);
  return real(name, proto);
}

struct servent* WINAPI orb_getservbyport(int port, const char* proto) {
  SHIM_LOG(SHIM_TRACE, "mp_getservbyport()");
  BIND_OR_RETURN(real, g_getservbyport, orb_getservbyport, nullptr);
  return real(port, proto);
}

// One body for the A and the W name, bound under the name without either ending.
INT WINAPI orb_WSAStringToAddress(LPVOID text, INT family, LPVOID protocol_info,
                                  LPSOCKADDR address, LPINT length) {
  SHIM_LOG(SHIM_TRACE, "mp_WSAStringToAddress()");
  BIND_OR_RETURN(real, g_string_to_address, orb_WSAStringToAddress, SOCKET_ERROR);
  return real(text, family, protocol_info, address, length);
}

int WINAPI orb_WSAAsyncSelect(SOCKET s, HWND window, u_int message, long events) {
  SHIM_LOG(SHIM_TRACE, "mp_WSAAsyncSelect(%d,,%d,%d)", SockHandle(s), static_cast<int>(message),
           static_cast<int>(events));
  BIND_OR_RETURN(real, g_async_select, orb_WSAAsyncSelect, SOCKET_ERROR);
  int result = real(s, window, message, events);
  SHIM_LOG(SHIM_TRACE, "lp_WSAAsyncSelect() returned %d", result);
  return result;
}

HANDLE WINAPI orb_WSAAsyncGetHostByAddr(HWND window, u_int message, const char* addr, int len,
                                        int type, char* buf, int buflen) {
  SHIM_LOG(SHIM_TRACE, "mp_WSAAsyncGetHostByAddr()");
  BIND_OR_RETURN(real, g_async_host_by_addr, orb_WSAAsyncGetHostByAddr, nullptr);
  return real(window, message, addr, len, type, buf, buflen);
}

HANDLE WINAPI orb_WSAAsyncGetHostByName(HWND window, u_int message, const char* name, char* buf,
                                        int buflen) {
  SHIM_LOG(SHIM_TRACE, "mp_WSAAsyncGetHostByName()");
  BIND_OR_RETURN(real, g_async_host_by_name, orb_WSAAsyncGetHostByName, nullptr);
  return real(window, message, name, buf, buflen);
}

HANDLE WINAPI orb_WSAAsyncGetProtoByNumber(HWND window, u_int message, int number, char* buf,
                                           int buflen) {
  SHIM_LOG(SHIM_TRACE, "mp_WSAAsyncGetProtoByNumber()");
  BIND_OR_RETURN(real, g_async_proto_by_number, orb_WSAAsyncGetProtoByNumber, nullptr);
  return real(window, message, number, buf, buflen);
}

HANDLE WINAPI orb_WSAAsyncGetProtoByName(HWND window, u_int message, const char* name,
                                         char* buf, int buflen) {
  SHIM_LOG(SHIM_TRACE, "mp_WSAAsyncGetProtoByName()");
  BIND_OR_RETURN(real, g_async_proto_by_name, orb_WSAAsyncGetProtoByName, nullptr);
  return real(window, message, name, buf, buflen);
}

HANDLE WINAPI orb_WSAAsyncGetServByPort(HWND window, u_int message, int port, const char* proto,
                                        char* buf, int buflen) {
  SHIM_LOG(SHIM_TRACE, "mp_WSAAsyncGetServByPort()");
  BIND_OR_RETURN(real, g_async_serv_by_port, orb_WSAAsyncGetServByPort, nullptr);
  return real(window, message, port, proto, buf, buflen);
}

HANDLE WINAPI orb_WSAAsyncGetServByName(HWND window, u_int message, const char* name,
                                        const char* proto, char* buf, int buflen) {
  SHIM_LOG(SHIM_TRACE, "mp_WSAAsyncGetServByName()");
  BIND_OR_RETURN(real, g_async_serv_by_name, orb_WSAAsyncGetServByName, nullptr);
  return real(window, message, name, proto, buf, buflen);
}

int WINAPI orb_WSACancelAsyncRequest(HANDLE request) {
  SHIM_LOG(SHIM_TRACE, "mp_WSACancelAsyncRequest()");
  BIND_OR_RETURN(real, g_cancel_async, orb_WSACancelAsyncRequest, SOCKET_ERROR);
  return real(request);
}

FARPROC WINAPI orb_WSASetBlockingHook(FARPROC hook) {
  SHIM_LOG(SHIM_TRACE, "WSASetBlockingHook()");
  BIND_OR_RETURN(real, g_set_blocking_hook, orb_WSASetBlockingHook, nullptr);
  return real(hook);
}

int WINAPI orb_WSAUnhookBlockingHook(void) {
  SHIM_LOG(SHIM_TRACE, "WSAUnhookBlockingHook()");
  BIND_OR_RETURN(real, g_unhook_blocking_hook, orb_WSAUnhookBlockingHook, SOCKET_ERROR);
  return real();
}

int WINAPI orb_WSAGetLastError(void) {
  SHIM_LOG(SHIM_TRACE, "mp_WSAGetLastError()");
  BIND_OR_RETURN(real, g_get_last_error, orb_WSAGetLastError, 0);
  int result = real();
  SHIM_LOG(SHIM_NOTABLE, "WSAGetLastError() returned %d", result);
  return result;
}

void WINAPI orb_WSASetLastError(int code) {
  SHIM_LOG(SHIM_TRACE, "mp_WSASetLastError(%d)", code);
  BIND_OR_RETURN(real, g_set_last_error, orb_WSASetLastError, );
  real(code);
}

int WINAPI orb_WSACancelBlockingCall(void) {
  SHIM_LOG(SHIM_TRACE, "mp_WSACancelBlockingCall");
  BIND_OR_RETURN(real, g_cancel_blocking, orb_WSACancelBlockingCall, SOCKET_ERROR);
  return real();
}

BOOL WINAPI orb_WSAIsBlocking(void) {
  SHIM_LOG(SHIM_TRACE, "mp_WSAIsBlocking()");
  BIND_OR_RETURN(real, g_is_blocking, orb_WSAIsBlocking, FALSE);
  return real();
}

int WINAPI orb_WSAFDIsSet(SOCKET s, fd_set* set) {
  SHIM_LOG(SHIM_TRACE, "mp_WSAFDIsSet(%d,)", SockHandle(s));
  BIND_OR_RETURN(real, g_fd_is_set, orb_WSAFDIsSet, 0);
  return real(s, set);
}

// One body for the A and the W name; both reach the real A function.
INT WINAPI orb_EnumProtocols(LPINT protocols, LPVOID buffer, LPDWORD buffer_length) {
  SHIM_LOG(SHIM_TRACE, "mp_EnumProtocols()");
  BIND_OR_RETURN(real, g_enum_protocols, orb_EnumProtocols, SOCKET_ERROR);
  return real(protocols, buffer, buffer_length);
}

BOOL WINAPI orb_AcceptEx(SOCKET listener, SOCKET accepted, PVOID buffer, DWORD data_length,
                         DWORD local_length, DWORD remote_length, LPDWORD received,
                         LPOVERLAPPED overlapped) {
  SHIM_LOG(SHIM_TRACE, "mp_AcceptEx()");
  BIND_OR_RETURN(real, g_accept_ex, orb_AcceptEx, FALSE);
  return real(listener, accepted, buffer, data_length, local_length, remote_length, received,
              overlapped);
}

}  // extern "C"
