// connect and getpeername. A datagram socket connected to a broadcast destination
// (255.255.255.255, or on an emulated IPX socket a node beginning FF FF) is not connected in
// the real library: connected there, it would put send() on the real network and take
// datagrams only from that address, so it would never hear the relayed broadcasts addressed to
// its port. The shim remembers the destination instead (broadcast_peers.h): send() goes to the
// session library as sendto to that destination does, getpeername names it, and the socket
// is bound (as a real connect would bind it) and announced to the session library. Every
// other connect reaches the real library unchanged; a TCP connection to a group member
// behind a home router is told to the session library as well (member_tcp.h).
#include "frame/shim.h"

#include "datapath/addr.h"
#include "datapath/broadcast_peers.h"
#include "datapath/member_tcp.h"
#include "datapath/notice.h"
#include "datapath/plan.h"
#include "datapath/socket_facts.h"

namespace {

typedef int(WINAPI* ConnectFn)(SOCKET, const struct sockaddr*, int);
typedef int(WINAPI* GetpeernameFn)(SOCKET, struct sockaddr*, int*);
typedef int(WINAPI* BindFn)(SOCKET, const struct sockaddr*, int);

SHIM_SLOT_NOLOAD(g_connect, "connect");
SHIM_SLOT(g_getpeername, "getpeername");
SHIM_SLOT(g_bind, "bind");

// A socket that has no local name yet gets one as a real connect would give it: every
// address, a port the system chooses. Returns 0, or the real bind's Winsock error.
int BindIfUnbound(SOCKET s) {
  struct sockaddr_in name;
  if (SocketLocalName(s, &name)) return 0;
  const BindFn bind = ShimBindAs<BindFn>(g_bind);
  if (bind == nullptr) return WSAEINVAL;
  struct sockaddr_in any;
  InetWrite(&any, 0, 0);
  if (bind(s, reinterpret_cast<const struct sockaddr*>(&any), kInetAddrLen) != 0) {
    return orb_WSAGetLastError();
  }
  return 0;
}

}  // namespace

extern "C" int WINAPI orb_connect(SOCKET s, const struct sockaddr* name, int namelen) {
  SHIM_LOG(SHIM_TRACE, "mp_connect(%d,,%d)", SockHandle(s), namelen);
  const ConnectFn real = ShimBindAs<ConnectFn>(g_connect);
  if (real == nullptr) return SOCKET_ERROR;

  const bool ipx = IPXSockKind(SockHandle(s)) != IPX_KIND_NONE;
  const ConnectPath path = ChooseConnectPath(ipx, name, namelen);
  if (path == ConnectPath::kPassThrough || !SocketIsDatagram(s)) {
    ForgetBroadcastPeer(SockHandle(s));  // a new destination ends a broadcast one
    uint32_t member_ip = 0;
    uint16_t member_port = 0;
    const bool member = MemberConnectBegins(s, name, namelen, &member_ip, &member_port);
    const int result = real(s, name, namelen);
    if (member) MemberConnectEnded(member_ip, member_port, result, orb_WSAGetLastError());
    return result;
  }

  const int error = BindIfUnbound(s);
  if (error != 0) {
    SHIM_LOG(SHIM_FAILED, "mp_connect(%d) - no local port for a broadcast destination: %d",
             SockHandle(s), error);
    orb_WSASetLastError(error);
    return SOCKET_ERROR;
  }
  const uint16_t port_field = BroadcastPortField(path, name);
  if (!RememberBroadcastPeer(SockHandle(s), port_field, name, ipx ? kIpxAddrLen : kInetAddrLen)) {
    SHIM_LOG(SHIM_FAILED, "mp_connect(%d) - more than %d sockets connected to a broadcast",
             SockHandle(s), static_cast<int>(kBroadcastPeersMax));
    orb_WSASetLastError(WSAENOBUFS);
    return SOCKET_ERROR;
  }
  NoticeSocket(s, kNoticeBound);
  SHIM_LOG(SHIM_NOTABLE,
           "mp_connect(%d) - connected to a broadcast on port %u: sends go to the session library",
           SockHandle(s), static_cast<unsigned>(port_field));
  return 0;
}

extern "C" int WINAPI orb_getpeername(SOCKET s, struct sockaddr* name, int* namelen) {
  SHIM_LOG(SHIM_TRACE, "mp_getpeername()");
  const GetpeernameFn real = ShimBindAs<GetpeernameFn>(g_getpeername);
  if (real == nullptr) return SOCKET_ERROR;
  BroadcastPeer peer;
  if (!FindBroadcastPeer(SockHandle(s), &peer)) return real(s, name, namelen);
  if (name == nullptr || namelen == nullptr || *namelen < peer.length) {
    orb_WSASetLastError(WSAEFAULT);
    return SOCKET_ERROR;
  }
  memcpy(name, peer.address, static_cast<size_t>(peer.length));
  *namelen = peer.length;
  return 0;
}
