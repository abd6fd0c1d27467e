#include "datapath/member_tcp.h"

#include "datapath/addr.h"
#include "datapath/member_route.h"
#include "link.h"
#include "link_notice.h"
#include "route_table.h"

namespace {

typedef SOCKET(WINAPI* SocketFn)(int, int, int);
typedef int(WINAPI* SendtoFn)(SOCKET, const char*, int, int, const struct sockaddr*, int);
typedef int(WINAPI* CloseFn)(SOCKET);
typedef int(WINAPI* GetsockoptFn)(SOCKET, int, int, char*, int*);

SHIM_SLOT(g_socket, "socket");
SHIM_SLOT(g_sendto, "sendto");
SHIM_SLOT(g_closesocket, "closesocket");
SHIM_SLOT(g_getsockopt, "getsockopt");

// Sends the notice from a socket of the shim's own, so the game's sockets see nothing.
void Tell(uint8_t kind, uint32_t ip_net, uint16_t port, int error) {
  const SocketFn make = ShimBindAs<SocketFn>(g_socket);
  const SendtoFn send = ShimBindAs<SendtoFn>(g_sendto);
  const CloseFn close = ShimBindAs<CloseFn>(g_closesocket);
  if (make == nullptr || send == nullptr || close == nullptr) return;
  LinkNotice notice = {kind, ip_net, port, error};
  uint8_t bytes[kLinkNoticeSize];
  if (BuildLinkNotice(notice, bytes, sizeof bytes) == 0) return;
  const SOCKET s = make(AF_INET, SOCK_DGRAM, 0);
  if (s == INVALID_SOCKET) return;
  struct sockaddr_in to;
  InetWrite(&to, orb_htons(LINK_PORT), static_cast<uint32_t>(orb_inet_addr(LINK_LOOPBACK_TEXT)));
  send(s, reinterpret_cast<const char*>(bytes), sizeof bytes, 0,
       reinterpret_cast<const struct sockaddr*>(&to), kInetAddrLen);
  close(s);
}

}  // namespace

bool MemberConnectBegins(SOCKET s, const struct sockaddr* name, int namelen, uint32_t* ip_net,
                         uint16_t* port) {
  if (name == nullptr || namelen < kInetAddrLen || name->sa_family != AF_INET) return false;
  const uint32_t ip = InetAddressNet(name);
  if (!RouteTableLookup(MemberRouteTable(), ip, nullptr)) return false;
  const GetsockoptFn get = ShimBindAs<GetsockoptFn>(g_getsockopt);
  int type = 0;
  int size = sizeof type;
  if (get == nullptr || get(s, SOL_SOCKET, SO_TYPE, reinterpret_cast<char*>(&type), &size) != 0 ||
      type != SOCK_STREAM) {
    return false;
  }
  *ip_net = ip;
  *port = orb_ntohs(InetPortRaw(name));
  SHIM_LOG(SHIM_NOTABLE, "mp_connect(%d) - TCP to a group member behind a home router (port %u)",
           SockHandle(s), static_cast<unsigned>(*port));
  Tell(kNoticeTcpConnect, ip, *port, 0);
  return true;
}

void MemberConnectEnded(uint32_t ip_net, uint16_t port, int result, int error) {
  if (result != SOCKET_ERROR || error == WSAEWOULDBLOCK) return;
  Tell(kNoticeTcpFailed, ip_net, port, error);
  orb_WSASetLastError(error);
}
