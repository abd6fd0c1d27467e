// getsockopt, setsockopt and ioctlsocket. The emulated IPX sockets are IP sockets
// underneath, so two IPX questions are answered by the shim itself (IPX_ADDRESS and
// IPX_MAX_ADAPTER_NUM, getsockopt at level NSPROTO_IPX, on any socket); everything else is
// traced and passed to the real library, whose answer the game gets.
#include "frame/shim.h"

#include "ipx/sockopt_answers.h"

namespace {

typedef int(WINAPI* GetsockoptFn)(SOCKET, int, int, char*, int*);
typedef int(WINAPI* SetsockoptFn)(SOCKET, int, int, const char*, int);
typedef int(WINAPI* IoctlsocketFn)(SOCKET, long, u_long*);

SHIM_SLOT(g_getsockopt, "getsockopt");
SHIM_SLOT(g_setsockopt, "setsockopt");
SHIM_SLOT(g_ioctlsocket, "ioctlsocket");

const int kWsaEFault = 10014;

}  // namespace

extern "C" int WINAPI orb_getsockopt(SOCKET s, int level, int optname, char* optval,
                                     int* optlen) {
  SHIM_LOG(SHIM_TRACE, "mp_getsockopt(%d,%d,%d,,)", SockHandle(s), level, optname);
  const GetsockoptFn real = ShimBindAs<GetsockoptFn>(g_getsockopt);
  if (real == nullptr) return SOCKET_ERROR;
  if (FindIPXSock(SockHandle(s)) != 0) {
    SHIM_LOG(SHIM_NOTABLE,
             "mp_getsockopt is trying to get infomation on an IPX socket. We may need to "
             "intercept it");
  }
  if (level == kNsProtoIpx) {
    const char* name = IpxGetOptionName(optname);
    if (name != nullptr) SHIM_LOG(SHIM_TRACE, "mp_getsockopt called with optname %s", name);
    switch (AnswerIpxGetOption(level, optname, optval, optlen)) {
      case OptionAnswer::kAnswered:
        return 0;
      case OptionAnswer::kFault:
        SHIM_LOG(SHIM_FAILED, "mp_getsockopt - no room for the answer to %s (%d bytes offered)",
                 name, optlen ? *optlen : 0);
        orb_WSASetLastError(kWsaEFault);
        return SOCKET_ERROR;
      case OptionAnswer::kPassOn:
        break;
    }
  }
  const int result = real(s, level, optname, optval, optlen);
  SHIM_LOG(SHIM_TRACE, "lp_getsockopt returned %d", result);
  return result;
}

extern "C" int WINAPI orb_setsockopt(SOCKET s, int level, int optname, const char* optval,
                                     int optlen) {
  SHIM_LOG(SHIM_TRACE, "mp_setsockopt(%d,%d,%d,,%d)", SockHandle(s), level, optname, optlen);
  const SetsockoptFn real = ShimBindAs<SetsockoptFn>(g_setsockopt);
  if (real == nullptr) return SOCKET_ERROR;
  if (FindIPXSock(SockHandle(s)) != 0) {
    SHIM_LOG(SHIM_NOTABLE,
             "mp_setsockopt is trying to set an option on an IPX socket. We may need to "
             "intercept it");
  }
  const char* level_line = SetOptionLevelLine(level);
  if (level_line != nullptr) {
    SHIM_LOG(SHIM_TRACE, "%s", level_line);
    SHIM_LOG(SHIM_TRACE, "mp_setsockopt level set to IPX/SPX/SPXII");
    const char* name = IpxSetOptionName(optname);
    if (name != nullptr) {
      SHIM_LOG(SHIM_TRACE, "mp_setsockopt called with optname %s", name);
    } else {
      SHIM_LOG(SHIM_TRACE, "mp_setsockopt called with optname (%d)", optname);
    }
  }
  const int result = real(s, level, optname, optval, optlen);
  SHIM_LOG(SHIM_TRACE, "lp_setsockopt returned %d", result);
  if (result == SOCKET_ERROR) {
    const int error = orb_WSAGetLastError();
    SHIM_LOG(SHIM_FAILED, "lp_setsockopt error = %d", error);
    orb_WSASetLastError(error);
  }
  return result;
}

extern "C" int WINAPI orb_ioctlsocket(SOCKET s, long cmd, u_long* argp) {
  SHIM_LOG(SHIM_TRACE, "mp_ioctlsocket(%d,%d,)", SockHandle(s), static_cast<int>(cmd));
  const IoctlsocketFn real = ShimBindAs<IoctlsocketFn>(g_ioctlsocket);
  if (real == nullptr) return SOCKET_ERROR;
  SHIM_LOG(SHIM_TRACE, "%s", IoctlCommandLine(static_cast<uint32_t>(cmd)));
  const int result = real(s, cmd, argp);
  SHIM_LOG(SHIM_TRACE, "lp_ioctlsocket() returned %d", result);
  return result;
}
