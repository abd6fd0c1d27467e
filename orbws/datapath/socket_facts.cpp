#include "datapath/socket_facts.h"

#include "datapath/addr.h"
#include "frame/shim_platform.h"

namespace {

typedef int(WINAPI* GetsockoptFn)(SOCKET, int, int, char*, int*);
typedef int(WINAPI* GetsocknameFn)(SOCKET, struct sockaddr*, int*);

SHIM_SLOT(g_getsockopt, "getsockopt");
SHIM_SLOT(g_getsockname, "getsockname");

// SO_TYPE of the real socket, or 0 when it cannot be read.
int RealType(SOCKET s) {
  const GetsockoptFn real = ShimBindAs<GetsockoptFn>(g_getsockopt);
  if (real == nullptr) return 0;
  int type = 0;
  int length = sizeof type;
  if (real(s, SOL_SOCKET, SO_TYPE, reinterpret_cast<char*>(&type), &length) != 0) return 0;
  return type;
}

}  // namespace

bool SocketIsDatagram(SOCKET s) {
  LastErrorKeeper keep;
  const IpxSockKind kind = IPXSockKind(SockHandle(s));
  if (kind != IPX_KIND_NONE) return kind == IPX_KIND_DATAGRAM;
  return RealType(s) == SOCK_DGRAM;
}

bool SocketIsStream(SOCKET s) {
  LastErrorKeeper keep;
  const IpxSockKind kind = IPXSockKind(SockHandle(s));
  if (kind != IPX_KIND_NONE) return kind == IPX_KIND_STREAM;
  return RealType(s) == SOCK_STREAM;
}

bool SocketLocalName(SOCKET s, struct sockaddr_in* name) {
  LastErrorKeeper keep;
  const GetsocknameFn real = ShimBindAs<GetsocknameFn>(g_getsockname);
  if (real == nullptr || name == nullptr) return false;
  struct sockaddr_in got = {};
  int length = kInetAddrLen;
  if (real(s, reinterpret_cast<struct sockaddr*>(&got), &length) != 0) return false;
  if (length != kInetAddrLen || got.sin_family != AF_INET) return false;
  *name = got;
  return true;
}
