#include "relay.h"

#include <string.h>

#include <new>
#include <system_error>
#include <thread>

#include "link.h"
#include "local_source.h"
#include "member_link.h"
#include "message_types.h"
#include "platform.h"
#include "records.h"

namespace {

// Closes the link socket unless someone else already took it.
void CloseLinkSocket(SessionState& s) {
  const intptr_t h = s.link_socket.exchange(kNoSocket);
  if (h != kNoSocket) orb::UdpClose(h);
}

// A socket notice of the shim: a game socket bound or closed.
void ApplyNotice(SessionState& s, const LinkNotice& notice) {
  if (notice.kind == kNoticeBound) {
    s.targets.Bound(notice.address_net, notice.port);
  } else {
    s.targets.Closed(notice.address_net, notice.port);
  }
}

// One datagram of n bytes that reached the link socket from `from`.
void TakeDatagram(SessionState& s, orb::Transport& t, LocalSourceCheck& local, uint32_t stamp,
                  uint8_t* buffer, int n, const orb::SocketAddress& from) {
  if (!local.IsLocal(from.ip)) {
    s.link_foreign.fetch_add(1);  // another machine: dropped without an answer
    return;
  }
  LinkNotice notice;
  if (LinkParseNotice(buffer, static_cast<size_t>(n), &notice)) {
    ApplyNotice(s, notice);
    return;
  }
  // At least the magic must have arrived: shorter reads would test stale bytes.
  if (!LinkHasMagic(buffer, static_cast<size_t>(n))) return;
  // The shim writes 127.0.0.1 into a broadcast, and a member's address into a datagram for
  // that member (or, with port 0, into a notice about it).
  if (n >= static_cast<int>(LINK_HEADER_SIZE) && buffer[8] != 127 && s.router != nullptr) {
    if (LinkGetPort(buffer) == 0) {
      NoteFromGame(s, buffer, n);
    } else {
      s.targets.Seen(from.ip, from.port);
      RouteFromGame(s, t, buffer, n, from.port);
    }
    return;
  }
  // The game socket it came from: where the far games answer, and where relayed datagrams
  // for that port are handed from now on. Stamped inside the buffer whatever n is.
  LinkSetSourcePort(buffer, from.port);
  LinkSetAddress(buffer, stamp);
  s.targets.Seen(from.ip, from.port);
  ForwardToServer(s, t, buffer, n);
}

// How long the worker may wait before the transport has something due: at most
// kRelayWaitMs, so that it notices a cleared active flag.
uint32_t WaitMs(orb::Transport& t) {
  const uint64_t due = t.MsToNextDue();
  return due < kRelayWaitMs ? static_cast<uint32_t>(due) : kRelayWaitMs;
}

// While the session stays active: waits until the game sends on the link socket, the group
// server on the server endpoint, or the transport has something due, takes every pending
// link datagram, and runs a pump pass at once (Pump takes the transport's lock, so it
// takes turns with the timer's passes and with Send).
void RelayLoop(SessionState& s, orb::Transport& t, uint32_t stamp, int burst,
               uint8_t (&buffer)[LINK_DATAGRAM_MAX]) {
  LocalSourceCheck local(s.is_local_address);
  while (s.active.load()) {
    const orb::SocketHandle h = s.link_socket.load();
    const orb::SocketHandle watched[2] = {h, s.server_socket.load()};
    bool readable[2];
    const int ready = orb::UdpWaitReadable(watched, readable, 2, WaitMs(t));
    if (ready < 0) {
      orb::SleepMs(1);  // never spin on a failing wait
      continue;
    }
    for (int i = 0; readable[0] && i < burst; ++i) {
      orb::SocketAddress from;
      const int n = orb::UdpReceiveFrom(h, buffer, sizeof buffer, &from);
      if (n < 0) {
        if (orb::SocketErrorWouldBlock(orb::SocketLastError())) break;
        continue;  // an oversized datagram or a stale ICMP report: dropped
      }
      TakeDatagram(s, t, local, stamp, buffer, n, from);
    }
    if (ready > 0 || t.MsToNextDue() == 0) t.Pump(0);
  }
}

}  // namespace

bool StartRelayWorker(SessionState& s, orb::Transport& t, uint16_t port,
                      bool keep_game_sockets) {
  if (s.relay_running.exchange(true)) return false;
  if (!keep_game_sockets) s.targets.Clear();  // the sockets of an earlier launch are gone
  try {
    std::thread(RelayWorker, std::ref(s), std::ref(t), port).detach();
  } catch (const std::system_error&) {
    s.relay_running.store(false);
    return false;
  } catch (const std::bad_alloc&) {
    s.relay_running.store(false);
    return false;
  }
  const uint64_t give_up = orb::MonotonicMs() + kRelaySetUpWaitMs;
  while (!s.relay_bound.load() && s.relay_running.load() && orb::MonotonicMs() < give_up) {
    orb::SleepMs(1);
  }
  return true;
}

void RelayWorker(SessionState& s, orb::Transport& t, uint16_t port) {
  const orb::SocketHandle sock = orb::UdpOpen();
  if (sock == orb::kInvalidSocket) {
    s.relay_running.store(false);
    return;
  }
  s.link_socket.store(sock);
  if (!orb::UdpBind(sock, 0, port)) {
    CloseLinkSocket(s);  // port taken: the worker ends before it relays anything
    s.relay_running.store(false);
    return;
  }
  uint16_t bound = port;
  orb::UdpBoundPort(sock, &bound);
  s.link_port.store(bound);
  s.relay_bound.store(true);
  // Without non-blocking mode a drained socket would block the worker: one per wake then.
  const int burst = orb::UdpSetNonBlocking(sock) ? kRelayBurst : 1;
  // No address to give (text empty): 0.0.0.0, never the all-ones a failed parse returns,
  // which a far game would take for a broadcast.
  uint32_t stamp = orb::ParseIPv4(s.local_address);
  if (stamp == orb::kAddressNone) stamp = 0;

  uint8_t buffer[LINK_DATAGRAM_MAX];
  try {
    RelayLoop(s, t, stamp, burst, buffer);
  } catch (...) {
    // Out of memory while queuing: the worker ends as if the session had.
  }
  s.relay_bound.store(false);
  CloseLinkSocket(s);
  s.link_port.store(0);
  s.relay_running.store(false);
}

void WaitForRelayWorker(SessionState& s) {
  while (s.relay_running.load()) orb::SleepMs(1);
  CloseLinkSocket(s);
  s.targets.Clear();
}

void ForwardToServer(SessionState& s, orb::Transport& t, const uint8_t* datagram, int n) {
  if (s.group[0] == '\0' || datagram == nullptr || n < 0) return;
  uint8_t record[orb::kRelayHeaderSize + LINK_DATAGRAM_MAX];
  const size_t length = orb::BuildRelayRecord(s.group, s.member, datagram, static_cast<size_t>(n),
                                         record, sizeof record);
  if (length == 0) return;
  t.Send(s.server_connection.load(), record, static_cast<int32_t>(length), kMsgRelay);
}

void DeliverFromServer(SessionState& s, const uint8_t* data, int32_t length, int32_t type,
                       int32_t address) {
  if (address == 0 || address != s.server_connection.load()) return;
  if (type != kMsgRelay) return;
  if (data == nullptr || length <= static_cast<int32_t>(LINK_HEADER_SIZE)) return;
  if (!LinkIsDatagram(data, static_cast<size_t>(length))) return;
  DeliverToGame(s, data, length);
}

void DeliverToGame(SessionState& s, const uint8_t* link, int32_t length) {
  if (!s.active.load()) return;
  const intptr_t h = s.link_socket.load();
  if (h == kNoSocket) return;
  const uint16_t port = LinkGetPort(link);
  uint32_t addresses[kRelayDeliveriesMax];
  const int n = s.targets.AddressesFor(port, addresses, kRelayDeliveriesMax);
  if (n == 0) {
    s.undeliverable.fetch_add(1);  // no game here uses the port: sent nowhere
    return;
  }
  for (int i = 0; i < n; ++i) orb::UdpSendTo(h, link, length, {addresses[i], port});
}
