// Plain traced pass-throughs for the datagram and option calls, used while the shim is built
// without its datagram paths (paths.cmake): nothing is redirected, unwrapped or answered.
#include "shim.h"

namespace {

SHIM_SLOT(g_send, "send");
SHIM_SLOT_LINE(g_sendto, "sendto", "mp_sendto() - unable to load sendto()");
SHIM_SLOT(g_recv, "recv");
SHIM_SLOT_LINE(g_recvfrom, "recvfrom", "mp_recvfrom() - unable to load recvfrom()");
SHIM_SLOT(g_wsarecv, "WSARecv");
SHIM_SLOT_LINE(g_wsarecvfrom, "WSARecvFrom", "mp_WSARecvFrom() - unable to load WSARecvFrom()");
SHIM_SLOT(g_getsockopt, "getsockopt");
SHIM_SLOT(g_setsockopt, "setsockopt");
SHIM_SLOT(g_ioctlsocket, "ioctlsocket");

}  // namespace

extern "C" {

int WINAPI orb_send(SOCKET s, const char* buf, int len, int flags) {
  SHIM_LOG(SHIM_TRACE, "mp_send(%d,,%d,%d)", SockHandle(s), len, flags);
  auto real = ShimBindAs<decltype(&orb_send)>(g_send);
  if (!real) return SOCKET_ERROR;
  int result = real(s, buf, len, flags);
  SHIM_LOG(SHIM_TRACE, "lp_send(%d) returned %d", SockHandle(s), result);
  return result;
}

int WINAPI orb_sendto(SOCKET s, const char* buf, int len, int flags, const struct sockaddr* to,
                      int tolen) {
  SHIM_LOG(SHIM_TRACE, "mp_sendto(%d,,%d,%d,,%d)", SockHandle(s), len, flags, tolen);
  auto real = ShimBindAs<decltype(&orb_sendto)>(g_sendto);
  if (!real) return SOCKET_ERROR;
  int result = real(s, buf, len, flags, to, tolen);
  SHIM_LOG(SHIM_TRACE, "mp_sendto() - lp_sendto() returned %d", result);
  return result;
}

int WINAPI orb_recv(SOCKET s, char* buf, int len, int flags) {
  SHIM_LOG(SHIM_TRACE, "mp_recv(%d,,%d,%d)", SockHandle(s), len, flags);
  auto real = ShimBindAs<decltype(&orb_recv)>(g_recv);
  if (!real) return SOCKET_ERROR;
  int result = real(s, buf, len, flags);
  SHIM_LOG(SHIM_TRACE, "lp_recv(%d) returned %d", SockHandle(s), result);
  return result;
}

int WINAPI orb_recvfrom(SOCKET s, char* buf, int len, int flags, struct sockaddr* from,
                        int* fromlen) {
  SHIM_LOG(SHIM_TRACE, "mp_recvfrom(%d,,%d,%d,,)", SockHandle(s), len, flags);
  auto real = ShimBindAs<decltype(&orb_recvfrom)>(g_recvfrom);
  if (!real) return SOCKET_ERROR;
  int result = real(s, buf, len, flags, from, fromlen);
  SHIM_LOG(SHIM_TRACE, "mp_recvfrom() - lp_recvfrom(%d) returned %d", SockHandle(s), result);
  return result;
}

int WINAPI orb_WSARecv(SOCKET s, LPWSABUF buffers, DWORD count, LPDWORD received, LPDWORD flags,
                       LPWSAOVERLAPPED overlapped,
                       LPWSAOVERLAPPED_COMPLETION_ROUTINE completion) {
  SHIM_LOG(SHIM_TRACE, "mp_WSARecv()");
  auto real = ShimBindAs<decltype(&orb_WSARecv)>(g_wsarecv);
  if (!real) return SOCKET_ERROR;
  return real(s, buffers, count, received, flags, overlapped, completion);
}

int WINAPI orb_WSARecvFrom(SOCKET s, LPWSABUF buffers, DWORD count, LPDWORD received,
                           LPDWORD flags, struct sockaddr* from, LPINT fromlen,
                           LPWSAOVERLAPPED overlapped,
                           LPWSAOVERLAPPED_COMPLETION_ROUTINE completion) {
  SHIM_LOG(SHIM_TRACE, "mp_WSARecvFrom(%d,,%d,%d,,)", SockHandle(s), static_cast<int>(count),
           received ? static_cast<int>(*received) : 0);
  auto real = ShimBindAs<decltype(&orb_WSARecvFrom)>(g_wsarecvfrom);
  if (!real) return SOCKET_ERROR;
  int result = real(s, buffers, count, received, flags, from, fromlen, overlapped, completion);
  SHIM_LOG(SHIM_TRACE, "mp_WSARecvFrom() - lp_recvfrom(%d) returned %d", SockHandle(s), result);
  return result;
}

int WINAPI orb_getsockopt(SOCKET s, int level, int optname, char* optval, int* optlen) {
  SHIM_LOG(SHIM_TRACE, "mp_getsockopt(%d,%d,%d,,)", SockHandle(s), level, optname);
  auto real = ShimBindAs<decltype(&orb_getsockopt)>(g_getsockopt);
  if (!real) return SOCKET_ERROR;
  int result = real(s, level, optname, optval, optlen);
  SHIM_LOG(SHIM_TRACE, "lp_getsockopt returned %d", result);
  return result;
}

int WINAPI orb_setsockopt(SOCKET s, int level, int optname, const char* optval, int optlen) {
  SHIM_LOG(SHIM_TRACE, "mp_setsockopt(%d,%d,%d,,%d)", SockHandle(s), level, optname, optlen);
  auto real = ShimBindAs<decltype(&orb_setsockopt)>(g_setsockopt);
  if (!real) return SOCKET_ERROR;
  int result = real(s, level, optname, optval, optlen);
  SHIM_LOG(SHIM_TRACE, "lp_setsockopt returned %d", result);
  return result;
}

int WINAPI orb_ioctlsocket(SOCKET s, long cmd, u_long* argp) {
  SHIM_LOG(SHIM_TRACE, "mp_ioctlsocket(%d,%d,)", SockHandle(s), static_cast<int>(cmd));
  auto real = ShimBindAs<decltype(&orb_ioctlsocket)>(g_ioctlsocket);
  if (!real) return SOCKET_ERROR;
  int result = real(s, cmd, argp);
  SHIM_LOG(SHIM_TRACE, "lp_ioctlsocket() returned %d", result);
  return result;
}

}  // extern "C"
