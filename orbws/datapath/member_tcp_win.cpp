#include "datapath/member_tcp.h"

#include "datapath/addr.h"
#include "datapath/member_route.h"
#include "datapath/notice.h"
#include "datapath/socket_facts.h"
#include "member_notice.h"
#include "route_table.h"

namespace {

void Tell(uint8_t kind, uint32_t ip_net, uint16_t port, int error) {
  MemberNotice notice = {kind, ip_net, port, error};
  uint8_t bytes[kMemberNoticeSize];
  if (BuildMemberNotice(notice, bytes, sizeof bytes) == 0) return;
  if (!SendToSessionLibrary(bytes, sizeof bytes)) {
    SHIM_LOG(SHIM_FAILED, "mp_connect() - the session library could not be told");
  }
}

}  // namespace

bool MemberConnectBegins(SOCKET s, const struct sockaddr* name, int namelen, uint32_t* ip_net,
                         uint16_t* port) {
  if (name == nullptr || namelen < kInetAddrLen || name->sa_family != AF_INET) return false;
  const uint32_t ip = InetAddressNet(name);
  if (!RouteTableLookup(MemberRouteTable(), ip, nullptr) || !SocketIsStream(s)) return false;
  *ip_net = ip;
  *port = orb_ntohs(InetPortRaw(name));
  SHIM_LOG(SHIM_NOTABLE, "mp_connect(%d) - TCP to a group member behind a home router (port %u)",
           SockHandle(s), static_cast<unsigned>(*port));
  Tell(kMemberTcpConnect, ip, *port, 0);
  return true;
}

void MemberConnectEnded(uint32_t ip_net, uint16_t port, int result, int error) {
  if (result != SOCKET_ERROR || error == WSAEWOULDBLOCK) return;
  Tell(kMemberTcpFailed, ip_net, port, error);
  orb_WSASetLastError(error);
}
