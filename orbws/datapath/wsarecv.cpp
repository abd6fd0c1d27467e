// WSARecvFrom and WSARecv, the Winsock 2 receives (bound when the shim stands in for a
// library that has them). WSARecvFrom rewrites like recvfrom, with texts of its own and no
// dumps, and WSARecv unwraps as recv does (it learns the source through a WSARecvFrom of its
// own), but only a receive that completes inside the call into a single buffer: an
// overlapped receive completes after the call returns (into records that must outlive it,
// so the shim cannot lend its own), and a datagram spread over several buffers has no one
// place to unwrap in. Those reach the real library unchanged and are not rewritten. On stream
// sockets WSARecvFrom ignores the source record as Winsock does.
#include "frame/shim.h"

#include <stdint.h>

#include "datapath/addr.h"
#include "datapath/plan.h"
#include "datapath/rewrite.h"
#include "datapath/socket_facts.h"

namespace {

typedef int(WINAPI* WsaRecvFromFn)(SOCKET, LPWSABUF, DWORD, LPDWORD, LPDWORD, struct sockaddr*,
                                   LPINT, LPWSAOVERLAPPED, LPWSAOVERLAPPED_COMPLETION_ROUTINE);
typedef int(WINAPI* WsaRecvFn)(SOCKET, LPWSABUF, DWORD, LPDWORD, LPDWORD, LPWSAOVERLAPPED,
                               LPWSAOVERLAPPED_COMPLETION_ROUTINE);

SHIM_SLOT_LINE(g_wsarecvfrom, "WSARecvFrom", "mp_WSARecvFrom() - unable to load WSARecvFrom()");
SHIM_SLOT(g_wsarecv, "WSARecv");

int Count(LPDWORD received) { return static_cast<int>(*received); }

int RecvIpx(WsaRecvFromFn real, SOCKET s, LPWSABUF buffers, LPDWORD received, LPDWORD flags,
            struct sockaddr* from, LPINT fromlen) {
  struct sockaddr_in own = {};
  INT ownlen = kInetAddrLen;
  const int result = real(s, buffers, 1, received, flags,
                          reinterpret_cast<struct sockaddr*>(&own), &ownlen, nullptr, nullptr);
  SHIM_LOG(SHIM_TRACE, "lp_recvfrom() returned %d bytes",
           result == 0 ? Count(received) : result);
  if (result != 0) {
    ReportIpxReceiveFailure(kWsaRecvFromTexts);
    return result;
  }
  *received = static_cast<DWORD>(
      RewriteIpxReceive(kWsaRecvFromTexts, s, buffers[0].buf, Count(received), &own, from,
                        fromlen));
  return result;
}

int RecvInet(WsaRecvFromFn real, SOCKET s, LPWSABUF buffers, LPDWORD received, LPDWORD flags,
             struct sockaddr* src, LPINT srclen) {
  const int result = real(s, buffers, 1, received, flags, src, srclen, nullptr, nullptr);
  if (result != 0 || srclen == nullptr || *srclen != kInetAddrLen) return result;
  *received = static_cast<DWORD>(RewriteInetReceive(
      kWsaRecvFromTexts, s, buffers[0].buf, Count(received),
      reinterpret_cast<struct sockaddr_in*>(src)));
  return result;
}

}  // namespace

extern "C" int WINAPI orb_WSARecvFrom(SOCKET s, LPWSABUF buffers, DWORD count, LPDWORD received,
                                      LPDWORD flags, struct sockaddr* from, LPINT fromlen,
                                      LPWSAOVERLAPPED overlapped,
                                      LPWSAOVERLAPPED_COMPLETION_ROUTINE completion) {
  SHIM_LOG(SHIM_TRACE, "mp_WSARecvFrom(%d,,%d,%d,,)", SockHandle(s), static_cast<int>(count),
           static_cast<int>(reinterpret_cast<intptr_t>(received)));
  const WsaRecvFromFn real = ShimBindAs<WsaRecvFromFn>(g_wsarecvfrom);
  if (real == nullptr) return SOCKET_ERROR;

  int result;
  if (!WsaRecvIsRewritable(overlapped != nullptr, completion != nullptr, count,
                           buffers != nullptr, received != nullptr, flags != nullptr)) {
    SHIM_LOG(SHIM_TRACE,
             "mp_WSARecvFrom() - overlapped, completion routine or %u buffers: passed on "
             "unchanged, not rewritten",
             static_cast<unsigned>(count));
    result = real(s, buffers, count, received, flags, from, fromlen, overlapped, completion);
  } else {
    const bool ipx = FindIPXSock(SockHandle(s)) != 0;
    const bool stream = ipx ? IPXSockKind(SockHandle(s)) == IPX_KIND_STREAM
                            : SourceRecordTooShort(false, from, fromlen) && SocketIsStream(s);
    struct sockaddr_in own = {};
    INT ownlen = kInetAddrLen;
    switch (ChooseSourcePlan(ipx, stream, from, fromlen)) {
      case SourcePlan::kIgnore:
        result = real(s, buffers, 1, received, flags, nullptr, nullptr, nullptr, nullptr);
        break;
      case SourcePlan::kFault:
        SHIM_LOG(SHIM_FAILED,
                 "mp_WSARecvFrom() - the source record has room for %d bytes, %d needed",
                 fromlen ? *fromlen : 0, ipx ? kIpxAddrLen : kInetAddrLen);
        orb_WSASetLastError(kWsaEFault);
        result = SOCKET_ERROR;
        break;
      case SourcePlan::kOwnRecord:
        result = RecvIpx(real, s, buffers, received, flags, from, fromlen);
        break;
      case SourcePlan::kOwnNoWrite:
        result = ipx ? RecvIpx(real, s, buffers, received, flags, nullptr, nullptr)
                     : RecvInet(real, s, buffers, received, flags,
                                reinterpret_cast<struct sockaddr*>(&own), &ownlen);
        break;
      case SourcePlan::kGameRecord:
      default:
        result = RecvInet(real, s, buffers, received, flags, from, fromlen);
        break;
    }
  }

  SHIM_LOG(SHIM_TRACE, "mp_WSARecvFrom() - lp_recvfrom(%d) returned %d", SockHandle(s), result);
  return result;
}

extern "C" int WINAPI orb_WSARecv(SOCKET s, LPWSABUF buffers, DWORD count, LPDWORD received,
                                  LPDWORD flags, LPWSAOVERLAPPED overlapped,
                                  LPWSAOVERLAPPED_COMPLETION_ROUTINE completion) {
  SHIM_LOG(SHIM_TRACE, "mp_WSARecv()");
  const WsaRecvFn real = ShimBindAs<WsaRecvFn>(g_wsarecv);
  if (real == nullptr) return SOCKET_ERROR;
  if (!WsaRecvIsRewritable(overlapped != nullptr, completion != nullptr, count,
                           buffers != nullptr, received != nullptr, flags != nullptr)) {
    return real(s, buffers, count, received, flags, overlapped, completion);
  }
  const WsaRecvFromFn real_from = ShimBindAs<WsaRecvFromFn>(g_wsarecvfrom);
  if (real_from == nullptr) return real(s, buffers, count, received, flags, nullptr, nullptr);
  struct sockaddr_in own = {};
  INT ownlen = kInetAddrLen;
  const int result = real_from(s, buffers, 1, received, flags,
                               reinterpret_cast<struct sockaddr*>(&own), &ownlen, nullptr, nullptr);
  if (result == 0 && ownlen == kInetAddrLen) {
    *received = static_cast<DWORD>(
        RewriteInetReceive(kWsaRecvTexts, s, buffers[0].buf, Count(received), &own));
  }
  return result;
}
