// WSAStartup and WSACleanup: traced pass-throughs; WSAStartup also empties the IPX registry,
// WSACleanup closes the shim's own notice socket.
#include "datapath/notice.h"
#include "frame/shim.h"

namespace {
SHIM_SLOT_LINE(g_startup, "WSAStartup", "unable to register lp_WSAStartup");
SHIM_SLOT(g_cleanup, "WSACleanup");
}  // namespace

extern "C" int WINAPI orb_WSAStartup(WORD version, LPWSADATA data) {
  SHIM_LOG(SHIM_TRACE, "mp_WSAStartup() version %u,%u", LOBYTE(version), HIBYTE(version));
  auto real = ShimBindAs<int(WINAPI*)(WORD, LPWSADATA)>(g_startup);
  if (!real) return WSASYSNOTREADY;
  // Every start, a nested one included, forgets the IPX sockets of the previous session.
  DeleteAllIPXSock();
  SHIM_LOG(SHIM_TRACE, "Successfully deleted all the ipx sockets in the list");
  int result = real(version, data);
  SHIM_LOG(SHIM_TRACE, "lp_WSAStartup returned %d", result);
  return result;
}

extern "C" int WINAPI orb_WSACleanup(void) {
  SHIM_LOG(SHIM_TRACE, "mp_WSACleanup");
  auto real = ShimBindAs<int(WINAPI*)(void)>(g_cleanup);
  if (!real) return SOCKET_ERROR;
  CloseNoticeSocket();  // the last cleanup would end it under the shim
  return real();
}
