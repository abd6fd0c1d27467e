#include "datapath/plan.h"

#include <string.h>

#include "datapath/addr.h"
#include "route_table.h"

uint32_t DestinationIpv4(bool ipx_socket, const void* to) {
  if (!ipx_socket) return InetAddressNet(to);
  uint32_t ip;
  memcpy(&ip, IpxNodeBytes(to) + 2, 4);
  return ip;
}

SendPath ChooseSendPath(bool ipx_socket, const void* to, int tolen, bool broadcast_connected,
                        const void* route_table, int len) {
  if (broadcast_connected && to == nullptr) return SendPath::kConnectedBroadcast;
  const bool fits = len >= 0 && static_cast<size_t>(len) <= LINK_PAYLOAD_MAX;
  if (ipx_socket) {
    if (to == nullptr || tolen < kIpxAddrLen) return SendPath::kBadDestination;
    if (IpxIsBroadcastNode(to)) return SendPath::kIpxBroadcast;
    if (fits && RouteTableLookup(route_table, DestinationIpv4(true, to), nullptr)) {
      return SendPath::kIpxMember;
    }
    return SendPath::kIpxDirect;
  }
  if (to == nullptr || tolen < kInetAddrLen) return SendPath::kPassThrough;
  if (IsInetBroadcast(to)) return SendPath::kInetBroadcast;
  if (fits && RouteTableLookup(route_table, DestinationIpv4(false, to), nullptr)) {
    return SendPath::kInetMember;
  }
  return SendPath::kPassThrough;
}

ConnectPath ChooseConnectPath(bool ipx_socket, const void* name, int namelen) {
  if (name == nullptr) return ConnectPath::kPassThrough;
  if (ipx_socket) {
    if (namelen < kIpxAddrLen || IpxFamily(name) != IPX_FAMILY) return ConnectPath::kPassThrough;
    return IpxIsBroadcastNode(name) ? ConnectPath::kIpxBroadcast : ConnectPath::kPassThrough;
  }
  if (namelen < kInetAddrLen || IpxFamily(name) != INET_FAMILY) return ConnectPath::kPassThrough;
  return IsInetBroadcast(name) ? ConnectPath::kInetBroadcast : ConnectPath::kPassThrough;
}

uint16_t BroadcastPortField(ConnectPath path, const void* name) {
  if (path == ConnectPath::kIpxBroadcast) return IpxSocketRaw(name);
  return PortHostFromRaw(InetPortRaw(name));
}

int BroadcastRefusal(const void* data, int len) {
  if (len < 0) return kWsaEFault;
  if (static_cast<size_t>(len) > LINK_PAYLOAD_MAX) return kWsaEMsgSize;
  if (len > 0 && data == nullptr) return kWsaEFault;
  return 0;
}

uint32_t LinkDestinationFor(uint32_t socket_address_net) {
  const uint8_t first = static_cast<uint8_t>(reinterpret_cast<const uint8_t*>(&socket_address_net)[0]);
  if (socket_address_net == 0 || socket_address_net == 0xFFFFFFFFu || first == 127) {
    return LoopbackAddressNet();
  }
  return socket_address_net;
}

int WrapBroadcast(LinkBuffer* out, uint16_t port_field, uint32_t loopback_net,
                  const void* data, int len) {
  if (out == nullptr || BroadcastRefusal(data, len) != 0) return -1;
  return LinkWrap(out->bytes, sizeof out->bytes, port_field, loopback_net, data,
                  static_cast<size_t>(len));
}

bool IsLinkPortSource(const void* sin) {
  if (sin == nullptr) return false;
  const uint8_t* port = static_cast<const uint8_t*>(sin) + 2;
  return port[0] == (LINK_PORT >> 8) && port[1] == (LINK_PORT & 0xFF);
}

bool IsLauncherSource(const void* sin, const char* address_text) {
  return IsLinkPortSource(sin) && address_text != nullptr &&
         strcmp(address_text, LINK_LOOPBACK_TEXT) == 0;
}

bool IsLauncherOnSocketAddress(const void* sin, uint32_t socket_address_net) {
  return IsLinkPortSource(sin) && socket_address_net != 0 &&
         InetAddressNet(sin) == socket_address_net;
}

uint16_t LinkOriginPort(const LinkOrigin& origin) {
  return origin.source_port != 0 ? origin.source_port : origin.port_field;
}

int UnwrapLinkDatagram(uint8_t* buf, int r, LinkOrigin* origin) {
  if (buf == nullptr || r < 0 || !LinkIsDatagram(buf, static_cast<size_t>(r))) return -1;
  origin->address_net = LinkGetAddress(buf);
  origin->port_field = LinkGetPort(buf);
  origin->source_port = LinkGetSourcePort(buf);
  const int payload = r - static_cast<int>(LINK_HEADER_SIZE);
  memmove(buf, buf + LINK_HEADER_SIZE, static_cast<size_t>(payload));
  return payload;
}

bool SourceRecordTooShort(bool ipx_socket, const void* from, const int* fromlen) {
  const int room = ipx_socket ? kIpxAddrLen : kInetAddrLen;
  return from != nullptr && (fromlen == nullptr || *fromlen < room);
}

SourcePlan ChooseSourcePlan(bool ipx_socket, bool stream, const void* from, const int* fromlen) {
  if (stream) return SourcePlan::kIgnore;
  if (from == nullptr) return SourcePlan::kOwnNoWrite;
  const int room = ipx_socket ? kIpxAddrLen : kInetAddrLen;
  if (fromlen == nullptr || *fromlen < room) return SourcePlan::kFault;
  return ipx_socket ? SourcePlan::kOwnRecord : SourcePlan::kGameRecord;
}

bool WsaRecvIsRewritable(bool overlapped, bool completion, unsigned buffer_count,
                         bool have_buffers, bool have_count, bool have_flags) {
  return !overlapped && !completion && buffer_count == 1 && have_buffers && have_count &&
         have_flags;
}
