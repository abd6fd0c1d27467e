// recvfrom and recv. recvfrom gives the game a broadcast of a remote game as if it came
// straight from the remote player (rewrite.h) and gives emulated IPX sockets
// their sources in IPX form. recv reports no source, so it never unwraps: it is a traced
// pass-through.
#include "frame/shim.h"

#include "datapath/addr.h"
#include "datapath/plan.h"
#include "datapath/rewrite.h"

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
  struct sockaddr_in own = {};
  int ownlen = kInetAddrLen;
  int result;
  switch (ChooseSourcePlan(ipx, from, fromlen)) {
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
  const int result = real(s, buf, len, flags);
  SHIM_LOG(SHIM_TRACE, "lp_recv(%d) returned %d", SockHandle(s), result);
  if (result > 0) SHIM_DUMP(buf, result);
  return result;
}
