// IPX over IPv4: socket, bind, getsockname and closesocket. A socket the game asks for with
// AF_IPX is a UDP socket (NSPROTO_IPX) or a TCP socket (anything else) registered in the IPX
// registry; its IPX addresses are made up from IPv4 addresses and ports (ipx/address.h).
#include <stddef.h>
#include <string.h>

#include "datapath/broadcast_peers.h"
#include "datapath/notice.h"
#include "frame/shim.h"

#include "datapath/member_route.h"
#include "route_table.h"

namespace {

SHIM_SLOT(g_socket, "socket");
SHIM_SLOT(g_bind, "bind");
SHIM_SLOT(g_getsockname, "getsockname");
SHIM_SLOT(g_closesocket, "closesocket");

const char* Dotted(uint32_t address_net) {
  struct in_addr a;
  a.s_addr = address_net;
  const char* text = orb_inet_ntoa(a);
  return text ? text : "";
}

// The three lines that show an IPX address field by field.
void LogIpxAddress(const void* ipx) {
  const uint8_t* p = static_cast<const uint8_t*>(ipx);
  const uint8_t* net = p + IPX_OFF_NETNUM;
  const uint8_t* node = p + IPX_OFF_NODENUM;
  SHIM_LOG(SHIM_TRACE, " sa_netnum[4] = %.2X %.2X %.2X %.2X", net[0], net[1], net[2], net[3]);
  SHIM_LOG(SHIM_TRACE, "sa_nodenum[6] = %.2X %.2X %.2X %.2X %.2X %.2X", node[0], node[1],
           node[2], node[3], node[4], node[5]);
  SHIM_LOG(SHIM_TRACE, "    sa_socket = %d", IpxSocketRaw(ipx));
}

// This machine's address for an IPX node: where the group server sees it, when the session
// library has said (other members reach it there), else the best of its host entry
// (ChooseNodeAddress); 0.0.0.0 when there is none.
uint32_t LookUpOwnAddress(int s) {
  SHIM_LOG(SHIM_TRACE, "mp_getsockname(%d) looking up our ip address", s);
  const uint32_t seen = RouteTablePublicAddress(MemberRouteTable());
  if (seen != 0) return seen;
  char host[128];
  if (orb_gethostname(host, sizeof host) != 0) return 0;
  host[sizeof host - 1] = '\0';
  struct hostent* entry = orb_gethostbyname(host);
  if (!entry || !entry->h_addr_list) return 0;
  uint32_t list[32];
  int count = 0;
  for (int i = 0; entry->h_addr_list[i] && count < 32; ++i) {
    memcpy(&list[count++], entry->h_addr_list[i], sizeof list[0]);
  }
  return ChooseNodeAddress(list, count);
}

}  // namespace

extern "C" {

SOCKET WINAPI orb_socket(int family, int type, int protocol) {
  SHIM_LOG(SHIM_TRACE, "mp_socket(%d,%d,%d)", family, type, protocol);
  auto real = ShimBindAs<decltype(&orb_socket)>(g_socket);
  if (!real) return INVALID_SOCKET;

  SOCKET result;
  if (family == AF_IPX) {
    SHIM_LOG(SHIM_NOTABLE, "There is a request for an IPX socket. We need to convert this to TCPIP");
    // Only NSPROTO_IPX selects UDP; the type the game asked for is not looked at.
    bool datagram = protocol == NSPROTO_IPX;
    result = real(AF_INET, datagram ? SOCK_DGRAM : SOCK_STREAM, 0);
    if (result == INVALID_SOCKET) {
      SHIM_LOG(SHIM_FAILED, "lp_socket failed to create the new IPX socket. Error:%d",
               orb_WSAGetLastError());
    } else {
      AddIPXSock(SockHandle(result), datagram ? IPX_KIND_DATAGRAM : IPX_KIND_STREAM);
    }
  } else {
    result = real(family, type, protocol);
  }
  int r = SockHandle(result);
  if (result != INVALID_SOCKET) ForgetBroadcastPeer(r);  // a handle given again: a new socket
  SHIM_LOG(SHIM_NOTABLE, "lp_socket() returned %d", r);
  if (family == AF_INET)
    SHIM_LOG(SHIM_TRACE, "Socket %d is using a UDP/TCP address family type", r);
  else if (family == AF_IPX)
    SHIM_LOG(SHIM_TRACE, "Socket %d is using a IPX/SPX address family type", r);
  else
    SHIM_LOG(SHIM_TRACE, "Socket %d is using an unknown address family type", r);
  if (type == SOCK_STREAM)
    SHIM_LOG(SHIM_TRACE, "Socket %d is using SOCK_STREAM", r);
  else if (type == SOCK_DGRAM)
    SHIM_LOG(SHIM_TRACE, "Socket %d is using SOCK_DGRAM", r);
  else
    SHIM_LOG(SHIM_TRACE, "Socket %d is using neither SOCK_STREAM or SOCK_DGRAM", r);
  if (result == INVALID_SOCKET) SHIM_LOG(SHIM_TRACE, "lp_socket() error = %d", orb_WSAGetLastError());
  return result;
}

int WINAPI orb_bind(SOCKET s, const struct sockaddr* name, int namelen) {
  SHIM_LOG(SHIM_TRACE, "mp_bind(%d,,%d)", SockHandle(s), namelen);
  auto real = ShimBindAs<decltype(&orb_bind)>(g_bind);
  if (!real) return SOCKET_ERROR;

  int result;
  // The family is read only from a record that holds one.
  bool ipx = name && namelen >= static_cast<int>(sizeof(u_short)) && IpxFamily(name) == AF_IPX;
  if (ipx) {
    SHIM_LOG(SHIM_NOTABLE,
             "IPX - there is an attempt to bind an IPX socket. We need to convert it to a "
             "TCPIP bind");
    if (namelen < static_cast<int>(IPX_ADDR_SIZE)) {
      // Shorter than an IPX address: Winsock's answer, and nothing read past the record.
      result = SOCKET_ERROR;
      orb_WSASetLastError(WSAEFAULT);
    } else {
      LogIpxAddress(name);
      struct sockaddr_in sin;
      InetWrite(&sin, orb_htons(IpxSocketRaw(name)), orb_htonl(INADDR_ANY));
      result = real(s, reinterpret_cast<const struct sockaddr*>(&sin), sizeof sin);
    }
  } else {
    result = real(s, name, namelen);
    if (result == 0 && namelen == static_cast<int>(INET_ADDR_SIZE) && name) {
      SHIM_LOG(SHIM_TRACE, "mp_bind(%d) bound to %s:%u", SockHandle(s),
               Dotted(InetAddressNet(name)), static_cast<unsigned>(orb_ntohs(InetPortRaw(name))));
    }
  }
  SHIM_LOG(SHIM_TRACE, "bind() returned %d", result);
  if (result == SOCKET_ERROR) {
    int error = orb_WSAGetLastError();
    SHIM_LOG(SHIM_NOTABLE, "mp_bind error = %d", error);
    orb_WSASetLastError(error);
  } else {
    // A game server that only listens still gets the relayed datagrams for its port.
    NoticeSocket(s, kNoticeBound);
  }
  return result;
}

int WINAPI orb_getsockname(SOCKET s, struct sockaddr* name, int* namelen) {
  int h = SockHandle(s);
  SHIM_LOG(SHIM_TRACE, "mp_getsockname(%d,,)", h);
  auto real = ShimBindAs<decltype(&orb_getsockname)>(g_getsockname);
  if (!real) return SOCKET_ERROR;

  int result;
  if (!FindIPXSock(h)) {
    result = real(s, name, namelen);
    if (result == 0 && name && namelen && *namelen == static_cast<int>(INET_ADDR_SIZE)) {
      SHIM_LOG(SHIM_TRACE, "mp_getsockname(%d) returns %s:%u", h, Dotted(InetAddressNet(name)),
               static_cast<unsigned>(orb_ntohs(InetPortRaw(name))));
    }
  } else {
    SHIM_LOG(SHIM_TRACE, "IPX - there is an attempt to get a name for an IPX socket.");
    if (!name || !namelen || *namelen < static_cast<int>(IPX_ADDR_SIZE)) {
      // An IPX address does not fit: Winsock's own answer, and nothing is written.
      SHIM_LOG(SHIM_FAILED, "mp_getsockname(%d) - the caller's buffer is too small for an IPX address", h);
      result = SOCKET_ERROR;
      orb_WSASetLastError(WSAEFAULT);
    } else {
      struct sockaddr_in sin;
      memset(&sin, 0, sizeof sin);
      int sin_len = sizeof sin;
      result = real(s, reinterpret_cast<struct sockaddr*>(&sin), &sin_len);
      int error = result == SOCKET_ERROR ? orb_WSAGetLastError() : 0;
      SHIM_LOG(SHIM_NOTABLE, "interface[%d] : address == %s, port == %d", h,
               Dotted(sin.sin_addr.s_addr), static_cast<int>(orb_ntohs(sin.sin_port)));
      uint32_t node = sin.sin_addr.s_addr;
      if (node == 0) node = LookUpOwnAddress(h);
      uint8_t o[4];
      AddressOctets(node, o);
      SHIM_LOG(SHIM_NOTABLE, "address = %u.%u.%u.%u", o[0], o[1], o[2], o[3]);
      // Written also when the real call failed, as the game's IPX stack would.
      IpxWriteEmulated(name, node, orb_ntohs(sin.sin_port));
      LogIpxAddress(name);
      *namelen = static_cast<int>(IPX_ADDR_SIZE);
      if (result == SOCKET_ERROR) orb_WSASetLastError(error);  // the real call's code
    }
  }
  SHIM_LOG(SHIM_TRACE, "lp_getsockname returned %d", result);
  return result;
}

int WINAPI orb_closesocket(SOCKET s) {
  SHIM_LOG(SHIM_TRACE, "mp_closesocket(%d)", SockHandle(s));
  auto real = ShimBindAs<decltype(&orb_closesocket)>(g_closesocket);
  if (!real) return SOCKET_ERROR;
  NoticeSocket(s, kNoticeClosed);  // while the socket still has its name and kind
  ForgetBroadcastPeer(SockHandle(s));
  {
    SocktrakGuard guard;
    if (FindIPXSock(SockHandle(s))) DeleteIPXSock(SockHandle(s));
  }
  return real(s);
}

}  // extern "C"

// The portable mapping works on the platform's own record layouts.
static_assert(sizeof(SOCKADDR_IPX) == IPX_ADDR_SIZE, "SOCKADDR_IPX layout");
static_assert(offsetof(SOCKADDR_IPX, sa_netnum) == IPX_OFF_NETNUM, "SOCKADDR_IPX layout");
static_assert(offsetof(SOCKADDR_IPX, sa_nodenum) == IPX_OFF_NODENUM, "SOCKADDR_IPX layout");
static_assert(offsetof(SOCKADDR_IPX, sa_socket) == IPX_OFF_SOCKET, "SOCKADDR_IPX layout");
static_assert(sizeof(struct sockaddr_in) == INET_ADDR_SIZE, "sockaddr_in layout");
static_assert(offsetof(struct sockaddr_in, sin_port) == INET_OFF_PORT, "sockaddr_in layout");
static_assert(offsetof(struct sockaddr_in, sin_addr) == INET_OFF_ADDR, "sockaddr_in layout");
