#include "datapath/notice.h"

#include "datapath/addr.h"
#include "datapath/socket_facts.h"
#include "frame/shim_platform.h"

namespace {

typedef SOCKET(WINAPI* SocketFn)(int, int, int);
typedef int(WINAPI* SendtoFn)(SOCKET, const char*, int, int, const struct sockaddr*, int);
typedef int(WINAPI* ClosesocketFn)(SOCKET);

SHIM_SLOT(g_socket, "socket");
SHIM_SLOT(g_sendto, "sendto");
SHIM_SLOT(g_closesocket, "closesocket");

ShimMutex g_lock;
SOCKET g_own = INVALID_SOCKET;  // the shim's socket for notices; guarded by g_lock

struct Hold {
  Hold() { g_lock.lock(); }
  ~Hold() { g_lock.unlock(); }
};

void CloseOwnLocked() {
  if (g_own == INVALID_SOCKET) return;
  const ClosesocketFn close = ShimBindAs<ClosesocketFn>(g_closesocket);
  if (close != nullptr) close(g_own);
  g_own = INVALID_SOCKET;
}

// Sends the notice from the shim's socket, opening it when needed; a socket that has gone
// bad (Winsock restarted under it) is replaced once.
bool SendNotice(const uint8_t* notice, int length) {
  const SocketFn open = ShimBindAs<SocketFn>(g_socket);
  const SendtoFn send = ShimBindAs<SendtoFn>(g_sendto);
  if (open == nullptr || send == nullptr) return false;
  struct sockaddr_in to;
  InetWrite(&to, PortRawFromHost(LINK_PORT), LoopbackAddressNet());
  Hold hold;
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (g_own == INVALID_SOCKET) g_own = open(AF_INET, SOCK_DGRAM, 0);
    if (g_own == INVALID_SOCKET) return false;
    if (send(g_own, reinterpret_cast<const char*>(notice), length, 0,
             reinterpret_cast<const struct sockaddr*>(&to), kInetAddrLen) == length) {
      return true;
    }
    CloseOwnLocked();
  }
  return false;
}

}  // namespace

void NoticeSocket(SOCKET s, LinkNoticeKind kind) {
  LastErrorKeeper keep;
  if (!SocketIsDatagram(s)) return;
  struct sockaddr_in name;
  if (!SocketLocalName(s, &name)) return;
  LinkNotice notice;
  notice.kind = kind;
  notice.port = PortHostFromRaw(name.sin_port);
  notice.address_net = name.sin_addr.s_addr;
  uint8_t bytes[LINK_NOTICE_SIZE];
  const int length = LinkBuildNotice(bytes, sizeof bytes, notice);
  if (length < 0) return;  // no port yet
  const bool sent = SendNotice(bytes, length);
  const uint8_t* a = reinterpret_cast<const uint8_t*>(&notice.address_net);
  SHIM_LOG(sent ? SHIM_TRACE : SHIM_FAILED, "socket %d %s on %u.%u.%u.%u:%u: the session library %s",
           SockHandle(s), kind == kNoticeBound ? "bound" : "closing", a[0], a[1], a[2], a[3],
           static_cast<unsigned>(notice.port), sent ? "is told" : "could not be told");
}

bool SendToSessionLibrary(const uint8_t* bytes, int length) {
  LastErrorKeeper keep;
  return SendNotice(bytes, length);
}

void CloseNoticeSocket() {
  LastErrorKeeper keep;
  Hold hold;
  CloseOwnLocked();
}
