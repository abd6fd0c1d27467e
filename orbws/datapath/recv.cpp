// recvfrom and recv. Both give the game a broadcast of a remote game as if it came straight
// from the remote player (rewrite.h): recv learns the source with a recvfrom of its own, so
// on a datagram socket MSG_PEEK through one call and a read through the other give the same
// bytes. recvfrom gives emulated IPX sockets their sources in IPX form. On stream sockets
// nothing is unwrapped, and recvfrom ignores from and fromlen as Winsock does.
#include "frame/shim.h"

#include "datapath/addr.h"
#include "datapath/plan.h"
#include "datapath/rewrite.h"
#include "datapath/socket_facts.h"

namespace {

typedef int(WINAPI* RecvfromFn)(SOCKET, char*, int, int, struct sockaddr*, int*);
typedef int(WINAPI* RecvFn)(SOCKET, char*, int, int);

SHIM_SLOT_LINE(g_recvfrom, "recvfrom", "mp_recvfrom() - unable to load recvfrom()");
SHIM_SLOT(g_recv, "recv");

int RecvIpx(RecvfromFn real, SOCKET s, char* buf, int len, int flags, struct sockaddr* from,
            int* fromlen) {
  struct sockaddr_in own = {};
  int ownlen = kInetAddrLen;
  const int result = real(s, buf, len, flags, reinterpret_cast<struct sockaddr*>(&own), &ownlen);
  SHIM_LOG(SHIM_TRACE, "lp_recvfrom() returned %d bytes", result);
  if (result == SOCKET_ERROR) {
    ReportIpxReceiveFailure(kRecvfromTexts);
    return result;
  }
  return RewriteIpxReceive(kRecvfromTexts, s, buf, result, &own, from, fromlen);
}

int RecvInet(RecvfromFn real, SOCKET s, char* buf, int len, int flags, struct sockaddr* src,
             int* srclen) {
  const int result = real(s, buf, len, flags, src, srclen);
  if (result < 0 || srclen == nullptr || *srclen != kInetAddrLen) return result;
  return RewriteInetReceive(kRecvfromTexts, s, buf, result,
                            reinterpret_cast<struct sockaddr_in*>(src));
}

}  // namespace

extern "C" int WINAPI orb_recvfrom(SOCKET s, char* buf, int len, int flags,
                                   struct sockaddr* from, int* fromlen) {
  SHIM_LOG(SHIM_TRACE, "mp_recvfrom(%d,,%d,%d,,)", SockHandle(s), len, flags);
  const RecvfromFn real = ShimBindAs<RecvfromFn>(g_recvfrom);
  if (real == nullptr) return SOCKET_ERROR;

  const bool ipx = FindIPXSock(SockHandle(s)) != 0;
  // The kind of a TCP/IP socket matters only for a record too short for a datagram's source.
  const bool stream = ipx ? IPXSockKind(SockHandle(s)) == IPX_KIND_STREAM
                          : SourceRecordTooShort(false, from, fromlen) && SocketIsStream(s);
  struct sockaddr_in own = {};
  int ownlen = kInetAddrLen;
  int result;
  switch (ChooseSourcePlan(ipx, stream, from, fromlen)) {
    case SourcePlan::kIgnore:
      result = real(s, buf, len, flags, nullptr, nullptr);
      break;
    case SourcePlan::kFault:
      // Checked before the receive, as Winsock does, so the datagram stays queued.
      SHIM_LOG(SHIM_FAILED, "mp_recvfrom() - the source record has room for %d bytes, %d needed",
               fromlen ? *fromlen : 0, ipx ? kIpxAddrLen : kInetAddrLen);
      orb_WSASetLastError(kWsaEFault);
      result = SOCKET_ERROR;
      break;
    case SourcePlan::kOwnRecord:
      result = RecvIpx(real, s, buf, len, flags, from, fromlen);
      break;
    case SourcePlan::kOwnNoWrite:
      // No source wanted, but the launcher test needs one: receive into the shim's own.
      result = ipx ? RecvIpx(real, s, buf, len, flags, nullptr, nullptr)
                   : RecvInet(real, s, buf, len, flags,
                              reinterpret_cast<struct sockaddr*>(&own), &ownlen);
      break;
    case SourcePlan::kGameRecord:
    default:
      result = RecvInet(real, s, buf, len, flags, from, fromlen);
      break;
  }

  SHIM_LOG(SHIM_TRACE, "mp_recvfrom() - lp_recvfrom(%d) returned %d", SockHandle(s), result);
  return result;
}

extern "C" int WINAPI orb_recv(SOCKET s, char* buf, int len, int flags) {
  SHIM_LOG(SHIM_TRACE, "mp_recv(%d,,%d,%d)", SockHandle(s), len, flags);
  const RecvFn real = ShimBindAs<RecvFn>(g_recv);
  if (real == nullptr) return SOCKET_ERROR;
  const RecvfromFn real_from = ShimBindAs<RecvfromFn>(g_recvfrom);
  int result;
  if (real_from == nullptr) {
    result = real(s, buf, len, flags);  // no source to be had: nothing can be recognised
  } else {
    // recvfrom with a record of the shim's own is recv on a connected or stream socket; on a
    // stream socket the record stays empty, so nothing is unwrapped there.
    struct sockaddr_in own = {};
    int ownlen = kInetAddrLen;
    result = real_from(s, buf, len, flags, reinterpret_cast<struct sockaddr*>(&own), &ownlen);
    if (result >= 0 && ownlen == kInetAddrLen) {
      result = RewriteInetReceive(kRecvTexts, s, buf, result, &own);
    }
  }
  SHIM_LOG(SHIM_TRACE, "lp_recv(%d) returned %d", SockHandle(s), result);
  if (result > 0) SHIM_DUMP(buf, result);
  return result;
}
