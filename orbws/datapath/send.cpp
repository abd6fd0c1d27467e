// sendto and send. sendto is where the game's LAN broadcasts are caught: a datagram to
// 255.255.255.255 (or, on an emulated IPX socket, to a node beginning FF FF) is wrapped in
// a link header and sent from the game's own socket to the session library on port 3668 of
// 127.0.0.1 (or of the address the socket is bound to); so is a datagram to a group member
// that the session library's route table lists (its address in the header), which the
// session library carries to that member whether or not its router lets anything in; an IPX
// datagram to another node goes to the IPv4 address and port the node stands for; everything
// else reaches the real library unchanged. send, and sendto without a
// destination, on a socket connected to a broadcast destination (connect.cpp) go to the
// session library the same way; otherwise send is a traced pass-through.
#include "frame/shim.h"

#include "datapath/addr.h"
#include "datapath/broadcast_peers.h"
#include "datapath/member_route.h"
#include "datapath/plan.h"
#include "datapath/socket_facts.h"

namespace {

typedef int(WINAPI* SendtoFn)(SOCKET, const char*, int, int, const struct sockaddr*, int);
typedef int(WINAPI* SendFn)(SOCKET, const char*, int, int);

SHIM_SLOT_LINE(g_sendto, "sendto", "mp_sendto() - unable to load sendto()");
SHIM_SLOT(g_send, "send");

// A real call's result, with its Winsock error taken at once, so that nothing the shim
// calls afterwards (a dump, an inner conversion) can change the code the game reads.
struct Outcome {
  int result;
  int error;
};

// The trace line that names the kind of a broadcast sent to the launcher.
const char* Banner(bool ipx) {
  return ipx ? "BROADCASTING OVER VIRTUAL LAN" : "BROADCASTING (TCPIP) OVER VIRTUAL LAN";
}

Outcome Failed(int error) { return {SOCKET_ERROR, error}; }

Outcome Finish(int result) {
  return {result, result == SOCKET_ERROR ? orb_WSAGetLastError() : 0};
}

// Wraps the game's datagram and sends it to the session library. port_field is the port
// the link header carries (host order for TCP/IP, the raw sa_socket value for IPX); the
// address field is 127.0.0.1 for a broadcast and member_net, the member's address, for a
// datagram the session library is to carry to one member.
Outcome SendToLauncher(SendtoFn real, SOCKET s, uint16_t port_field, const char* buf, int len,
                       int flags, const char* banner, uint32_t member_net = 0) {
  const int refusal = BroadcastRefusal(buf, len);
  if (refusal == kWsaEMsgSize) {
    SHIM_LOG(SHIM_FAILED,
             "mp_sendto() - broadcast of %d bytes refused: a link datagram carries at most %d",
             len, static_cast<int>(LINK_PAYLOAD_MAX));
    return Failed(refusal);
  }
  if (refusal != 0) {
    SHIM_LOG(SHIM_FAILED, "mp_sendto() - broadcast refused: no data for a length of %d", len);
    return Failed(refusal);
  }
  const unsigned long loopback = orb_inet_addr(LINK_LOOPBACK_TEXT);
  LinkBuffer link;
  const uint32_t address = member_net != 0 ? member_net : static_cast<uint32_t>(loopback);
  const int total = WrapBroadcast(&link, port_field, address, buf, len);

  struct sockaddr_in dest;
  struct sockaddr_in own;
  const uint32_t bound = SocketLocalName(s, &own) ? own.sin_addr.s_addr : 0;
  InetWrite(&dest, orb_htons(LINK_PORT), LinkDestinationFor(bound));

  SHIM_LOG(SHIM_TRACE, "mp_sendto() - sending message to the launcher of size %d(%d header/%d buffer)",
           total, static_cast<int>(LINK_HEADER_SIZE), len);
  SHIM_LOG(SHIM_TRACE, "%s", banner);
  const int sent = real(s, reinterpret_cast<const char*>(link.bytes), total, flags,
                        reinterpret_cast<const struct sockaddr*>(&dest), kInetAddrLen);
  const Outcome out = Finish(sent);
  SHIM_LOG(SHIM_TRACE, "sendto() Launcher - returned %d", sent);
  if (sent == SOCKET_ERROR) return out;
  // A datagram leaves whole; the game is told about its own bytes only.
  const int game = sent >= static_cast<int>(LINK_HEADER_SIZE)
                       ? sent - static_cast<int>(LINK_HEADER_SIZE) : 0;
  SHIM_DUMP(buf, game);
  return {game, 0};
}

Outcome SendIpx(SendtoFn real, SOCKET s, const char* buf, int len, int flags,
                const struct sockaddr* to, SendPath path) {
  const bool broadcast = path == SendPath::kIpxBroadcast;
  SHIM_LOG(SHIM_NOTABLE,
           "mp_sendto() - IPX - We need to broadcast this message to everone in our virtual "
           "IPX LAN list via TCPIP");
  const uint8_t* net = IpxNetBytes(to);
  const uint8_t* node = IpxNodeBytes(to);
  const uint16_t socket_value = IpxSocketRaw(to);
  SHIM_LOG(SHIM_TRACE, "mp_sendto() -  sa_netnum[4] = %.2X %.2X %.2X %.2X", net[0], net[1],
           net[2], net[3]);
  SHIM_LOG(SHIM_TRACE, "mp_sendto() - sa_nodenum[6] = %.2X %.2X %.2X %.2X %.2X %.2X", node[0],
           node[1], node[2], node[3], node[4], node[5]);
  SHIM_LOG(SHIM_TRACE, "mp_sendto() -     sa_socket = %d", socket_value);

  char text[kAddressTextSize];
  IpxNodeIpv4Text(to, text);
  const unsigned long address = orb_inet_addr(text);
  SHIM_LOG(SHIM_TRACE, "mp_sendto() - to ip addres = %s (%u)", text,
           static_cast<unsigned>(address));
  const u_short port_net = orb_htons(socket_value);

  if (broadcast) {
    SHIM_LOG(SHIM_TRACE,
             "mp_sendto() - IPX LAN BROADCAST we are sending this packet to everyone on our lan "
             "that is listening to port %d",
             socket_value);
    return SendToLauncher(real, s, socket_value, buf, len, flags, Banner(true));
  }
  if (path == SendPath::kIpxMember) {
    SHIM_LOG(SHIM_TRACE, "mp_sendto() - %s is a group member: through the launcher", text);
    return SendToLauncher(real, s, socket_value, buf, len, flags, "TO A MEMBER OVER VIRTUAL LAN",
                          static_cast<uint32_t>(address));
  }

  SHIM_LOG(SHIM_TRACE,
           "mp_sendto() - we are sending this packet directly to %s on our lan listening to "
           "port %d",
           text, socket_value);
  struct sockaddr_in dest;
  InetWrite(&dest, port_net, static_cast<uint32_t>(address));
  SHIM_LOG(SHIM_TRACE, "mp_sendto() - (converted).sin_port = %d", socket_value);
  const Outcome out = Finish(real(s, buf, len, flags,
                                  reinterpret_cast<const struct sockaddr*>(&dest), kInetAddrLen));
  SHIM_DUMP(buf, len);
  return out;
}

Outcome SendInetBroadcast(SendtoFn real, SOCKET s, const char* buf, int len, int flags,
                          const struct sockaddr* to) {
  SHIM_LOG(SHIM_TRACE, "This is a LAN broadcast udp request from the game");
  const u_short port = orb_ntohs(InetPortRaw(to));
  return SendToLauncher(real, s, port, buf, len, flags, Banner(false));
}

Outcome SendInetMember(SendtoFn real, SOCKET s, const char* buf, int len, int flags,
                       const struct sockaddr* to) {
  struct in_addr address;
  address.s_addr = InetAddressNet(to);
  const char* text = orb_inet_ntoa(address);
  const u_short port = orb_ntohs(InetPortRaw(to));
  SHIM_LOG(SHIM_TRACE, "mp_sendto(%d) -> %s:%u is a group member: through the launcher",
           SockHandle(s), text ? text : "", static_cast<unsigned>(port));
  return SendToLauncher(real, s, port, buf, len, flags, "TO A MEMBER (TCPIP) OVER VIRTUAL LAN",
                        InetAddressNet(to));
}

Outcome SendDirect(SendtoFn real, SOCKET s, const char* buf, int len, int flags,
                   const struct sockaddr* to, int tolen) {
  if (to != nullptr && tolen == kInetAddrLen) {
    struct in_addr address;
    address.s_addr = InetAddressNet(to);
    const char* text = orb_inet_ntoa(address);
    SHIM_LOG(SHIM_TRACE, "mp_sendto(%d) -> %s:%u", SockHandle(s), text ? text : "",
             static_cast<unsigned>(orb_ntohs(InetPortRaw(to))));
    if (len > 0) SHIM_DUMP(buf, len);
  }
  return Finish(real(s, buf, len, flags, to, tolen));
}

}  // namespace

extern "C" int WINAPI orb_sendto(SOCKET s, const char* buf, int len, int flags,
                                 const struct sockaddr* to, int tolen) {
  SHIM_LOG(SHIM_TRACE, "mp_sendto(%d,,%d,%d,,%d)", SockHandle(s), len, flags, tolen);
  const SendtoFn real = ShimBindAs<SendtoFn>(g_sendto);
  if (real == nullptr) return SOCKET_ERROR;

  const bool ipx = FindIPXSock(SockHandle(s)) != 0;
  BroadcastPeer peer;
  const bool broadcast_connected = to == nullptr && FindBroadcastPeer(SockHandle(s), &peer);
  Outcome out;
  const SendPath path =
      ChooseSendPath(ipx, to, tolen, broadcast_connected, MemberRouteTable(), len);
  switch (path) {
    case SendPath::kConnectedBroadcast:
      out = SendToLauncher(real, s, peer.port_field, buf, len, flags, Banner(ipx));
      break;
    case SendPath::kBadDestination:
      // The IPX path must read the destination; a missing or short one is the caller's fault.
      SHIM_LOG(SHIM_FAILED,
               "mp_sendto() - IPX - destination refused: %s (%d bytes, %d needed)",
               to == nullptr ? "no address" : "address too short", tolen, kIpxAddrLen);
      out = Failed(kWsaEFault);
      break;
    case SendPath::kIpxBroadcast:
    case SendPath::kIpxDirect:
    case SendPath::kIpxMember:
      out = SendIpx(real, s, buf, len, flags, to, path);
      break;
    case SendPath::kInetBroadcast:
      out = SendInetBroadcast(real, s, buf, len, flags, to);
      break;
    case SendPath::kInetMember:
      out = SendInetMember(real, s, buf, len, flags, to);
      break;
    case SendPath::kPassThrough:
    default:
      out = SendDirect(real, s, buf, len, flags, to, tolen);
      break;
  }

  SHIM_LOG(SHIM_TRACE, "mp_sendto() - lp_sendto() returned %d", out.result);
  if (out.result == SOCKET_ERROR) {
    SHIM_LOG(SHIM_TRACE, "sendto error = %d", out.error);
    orb_WSASetLastError(out.error);
  }
  return out.result;
}

extern "C" int WINAPI orb_send(SOCKET s, const char* buf, int len, int flags) {
  SHIM_LOG(SHIM_TRACE, "mp_send(%d,,%d,%d)", SockHandle(s), len, flags);
  const SendFn real = ShimBindAs<SendFn>(g_send);
  if (real == nullptr) return SOCKET_ERROR;
  BroadcastPeer peer;
  if (FindBroadcastPeer(SockHandle(s), &peer)) {
    // Connected to a broadcast destination: the real socket is not, so this is a sendto.
    const SendtoFn real_sendto = ShimBindAs<SendtoFn>(g_sendto);
    if (real_sendto == nullptr) return SOCKET_ERROR;
    const bool ipx = IPXSockKind(SockHandle(s)) != IPX_KIND_NONE;
    const Outcome out = SendToLauncher(real_sendto, s, peer.port_field, buf, len, flags, Banner(ipx));
    SHIM_LOG(SHIM_TRACE, "lp_send(%d) returned %d", SockHandle(s), out.result);
    if (out.result == SOCKET_ERROR) orb_WSASetLastError(out.error);
    return out.result;
  }
  // Trace lines keep the thread's last error, so the game reads the real one afterwards.
  const int result = real(s, buf, len, flags);
  SHIM_LOG(SHIM_TRACE, "lp_send(%d) returned %d", SockHandle(s), result);
  if (result > 0) SHIM_DUMP(buf, result);
  return result;
}
