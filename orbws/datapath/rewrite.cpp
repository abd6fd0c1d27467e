#include "datapath/rewrite.h"

#include <string.h>

#include "datapath/addr.h"
#include "datapath/plan.h"
#include "datapath/socket_facts.h"

const RecvTexts kRecvfromTexts = {
    "mp_recvfrom() - IPX - mp_recvfrom failed (%d)",
    "mp_recvfrom() - We are receiving a broadcasted message from the launcher. We need to "
    "convert it to make it look like it comes from the actual remote player",
    "mp_recvfrom() - broadcast message is now converted",
    "mp_recvfrom() - message from the launcher is of size %d(%d header/%d buffer)",
    "mp_recvfrom() - We received a currupted or unknown message from the launcher",
    "mp_recvfrom() - IPX - We are receiving a message via TCPIP that needs to be converted "
    "back into IPX",
    "mp_recvfrom() - interface[%d] : address == %s, port == %d",
    "mp_recvfrom() - address = %u.%u.%u.%u",
    "mp_recvfrom() - sa_netnum[4] = %.2X %.2X %.2X %.2X",
    "mp_recvfrom() - sa_nodenum[6] = %.2X %.2X %.2X %.2X %.2X %.2X",
    "mp_recvfrom() - sa_socket = %d",
    "mp_recvfrom(%d) <- %s:%u",
};

const RecvTexts kWsaRecvFromTexts = {
    "mp_WSARecvFrom() - IPX - mp_WSARecvFrom failed (%d)",
    "mp_WSARecvFrom() - We are receiving a broadcasted message from the launcher. We need to "
    "convert it to make it look like it comes from the actual remote player",
    "mp_WSARecvFrom() - broadcast message is now converted",
    "mp_WSARecvFrom() - message from the launcher is of size %d(%d header/%d buffer)",
    "mp_WSARecvFrom() - We received a currupted or unknown message from the launcher",
    "mp_WSARecvFrom() - IPX - We are receiving a message via TCPIP that needs to be converted "
    "back into IPX",
    "mp_WSARecvFrom() - interface[%d] : address == %s, port == %d",
    "mp_WSARecvFrom() - address = %u.%u.%u.%u",
    "mp_WSARecvFrom() -  sa_netnum[4] = %.2X %.2X %.2X %.2X",
    "mp_WSARecvFrom() - sa_nodenum[6] = %.2X %.2X %.2X %.2X %.2X %.2X",
    "mp_WSARecvFrom() -     sa_socket = %d",
    nullptr,
};

const RecvTexts kRecvTexts = {
    nullptr,
    "mp_recv() - We are receiving a broadcasted message from the launcher. We need to "
    "convert it to make it look like it comes from the actual remote player",
    "mp_recv() - broadcast message is now converted",
    "mp_recv() - message from the launcher is of size %d(%d header/%d buffer)",
    "mp_recv() - We received a currupted or unknown message from the launcher",
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    nullptr,
};

const RecvTexts kWsaRecvTexts = {
    nullptr,
    "mp_WSARecv() - We are receiving a broadcasted message from the launcher. We need to "
    "convert it to make it look like it comes from the actual remote player",
    "mp_WSARecv() - broadcast message is now converted",
    "mp_WSARecv() - message from the launcher is of size %d(%d header/%d buffer)",
    "mp_WSARecv() - We received a currupted or unknown message from the launcher",
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    nullptr,
};

namespace {

const int kHeader = static_cast<int>(LINK_HEADER_SIZE);

// The launcher test, on a datagram socket only: a stream never carries link datagrams,
// whatever a source record left from earlier says. The text comparison, the socket's own
// address and its kind are asked for only for a source on port 3668.
bool FromLauncher(SOCKET s, const struct sockaddr_in* src) {
  if (!IsLinkPortSource(src)) return false;
  if (!IsLauncherSource(src, orb_inet_ntoa(src->sin_addr))) {
    struct sockaddr_in own;
    if (!SocketLocalName(s, &own) || !IsLauncherOnSocketAddress(src, own.sin_addr.s_addr)) {
      return false;
    }
  }
  return SocketIsDatagram(s);
}

// Moves the payload of a link datagram down over its header and gives src the origin it
// names. Returns the new count, or -1 when the bytes are no link datagram (left alone).
int Unwrap(char* buf, int count, struct sockaddr_in* src) {
  LinkOrigin origin;
  const int payload = UnwrapLinkDatagram(reinterpret_cast<uint8_t*>(buf), count, &origin);
  if (payload < 0) return -1;
  src->sin_addr.s_addr = origin.address_net;
  src->sin_port = orb_htons(LinkOriginPort(origin));
  return payload;
}

}  // namespace

void ReportIpxReceiveFailure(const RecvTexts& t) {
  const int error = orb_WSAGetLastError();
  SHIM_LOG(SHIM_NOTABLE, t.failed, error);
  orb_WSASetLastError(error);
}

int RewriteInetReceive(const RecvTexts& t, SOCKET s, char* buf, int count,
                       struct sockaddr_in* src) {
  const bool dumps = t.other_source != nullptr;
  if (FromLauncher(s, src)) {
    SHIM_LOG(SHIM_TRACE, "%s", t.from_launcher);
    const int payload = Unwrap(buf, count, src);
    if (payload >= 0) {
      SHIM_LOG(SHIM_TRACE, "%s", t.converted);
      SHIM_LOG_RAW(SHIM_TRACE, t.size, count, kHeader, payload);
      src->sin_family = AF_INET;
      count = payload;
    } else {
      SHIM_LOG_RAW(SHIM_FAILED, "%s", t.corrupt);
    }
    if (dumps) SHIM_DUMP(buf, count);
    return count;
  }
  if (dumps) {
    const char* text = orb_inet_ntoa(src->sin_addr);
    SHIM_LOG(SHIM_TRACE, t.other_source, SockHandle(s), text ? text : "",
             static_cast<unsigned>(orb_ntohs(src->sin_port)));
    SHIM_DUMP(buf, count);
  }
  return count;
}

int RewriteIpxReceive(const RecvTexts& t, SOCKET s, char* buf, int count,
                      struct sockaddr_in* own, struct sockaddr* from, int* fromlen) {
  if (FromLauncher(s, own)) {
    SHIM_LOG(SHIM_TRACE, "%s", t.from_launcher);
    const int payload = Unwrap(buf, count, own);
    if (payload >= 0) {
      SHIM_LOG(SHIM_TRACE, "%s", t.converted);
      SHIM_LOG(SHIM_TRACE, t.size, count, kHeader, payload);
      count = payload;
      if (t.other_source != nullptr) SHIM_DUMP(buf, count);
    } else {
      SHIM_LOG(SHIM_FAILED, "%s", t.corrupt);
    }
  }

  SHIM_LOG(SHIM_NOTABLE, "%s", t.via_tcpip);
  const char* text = orb_inet_ntoa(own->sin_addr);
  const u_short port = orb_ntohs(own->sin_port);
  SHIM_LOG(SHIM_NOTABLE, t.iface, SockHandle(s), text ? text : "", port);
  uint8_t octets[4];
  ParseDottedOctets(text, octets);
  SHIM_LOG(SHIM_NOTABLE, t.address, octets[0], octets[1], octets[2], octets[3]);

  if (from != nullptr) {
    uint32_t address_net;
    memcpy(&address_net, octets, 4);
    IpxWriteEmulated(from, address_net, port);
    const uint8_t* net = IpxNetBytes(from);
    const uint8_t* node = IpxNodeBytes(from);
    SHIM_LOG(SHIM_TRACE, t.netnum, net[0], net[1], net[2], net[3]);
    SHIM_LOG(SHIM_TRACE, t.nodenum, node[0], node[1], node[2], node[3], node[4], node[5]);
    SHIM_LOG(SHIM_TRACE, t.socket, IpxSocketRaw(from));
    *fromlen = kIpxAddrLen;
  }
  return count;
}
