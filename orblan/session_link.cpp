#include "session_link.h"

#include <string.h>

#include "member_router.h"
#include "message_types.h"
#include "platform.h"
#include "records.h"
#include "relay.h"

namespace {

void StartProbe(SessionLink& x, orb::Transport& t, int32_t address) {
  orb::SocketAddress server;
  if (t.RemoteSocketAddress(address, &server)) {
    x.probe.Start(server, orb::MonotonicMs());
  } else {
    x.probe.Stop();
  }
}

}  // namespace

void ConnectionOpened(SessionLink& x, orb::Transport& t, const char* host, uint16_t port,
                      orb::Endpoint* endpoint, int32_t address) {
  if (host != &x.server_host[0]) {
    strncpy(x.server_host, host, sizeof x.server_host - 1);
    x.server_host[sizeof x.server_host - 1] = '\0';
  }
  x.server_port = port;
  x.endpoint = endpoint;
  x.left = false;
  x.group.Reset();
  StartProbe(x, t, address);
}

void OnSessionServerData(SessionState& s, SessionLink& x, const uint8_t* data, int32_t length,
                         int32_t type, int32_t address) {
  if (type == kMsgJoinOutcome || type == kMsgMembers) {
    if (address != 0 && address == s.server_connection.load() && data != nullptr && length > 0) {
      x.group.OnServerMessage(data, static_cast<size_t>(length), type);
    }
    return;
  }
  DeliverFromServer(s, data, length, type, address);
}

bool SetPlayerName(SessionLink& x, const char* name) {
  if (!orb::PlayerNameFits(name)) return false;
  strcpy(x.player, name);  // fits: at most 23 bytes
  return true;
}

bool LinkPortFree(uint16_t port) {
  const orb::SocketHandle probe = orb::UdpOpen();
  if (probe == orb::kInvalidSocket) return true;  // no sockets at all: the worker will tell
  const bool free = orb::UdpBind(probe, 0, port);
  orb::UdpClose(probe);
  return free;
}

bool QueueJoin(SessionState& s, SessionLink& x, orb::Transport& t) {
  uint8_t join[orb::kJoinRecordSize];
  if (!orb::BuildJoinRecord(s.group, join, x.player)) return false;
  if (t.Send(s.server_connection.load(), join, orb::kJoinRecordSize, kMsgJoin) != 0) return false;
  x.group.JoinSent();
  return true;
}

void AfterPumpPass(SessionLink& x, uint64_t now_ms) { x.probe.Poll(now_ms); }

void ConnectionConfirmed(SessionState& s, SessionLink& x, orb::Transport& t, int32_t address) {
  if (address == 0 || address != s.server_connection.load() || !x.probe.refused()) return;
  StartProbe(x, t, address);
}

int32_t Reconnect(SessionState& s, SessionLink& x, orb::Transport& t, const ServerCallbacks& cb) {
  if (s.phase.load() == ORBLAN_STATE_NONE || x.endpoint == nullptr) return 0;
  const int32_t address = t.Connect(x.endpoint, x.server_host, x.server_port, 0);
  if (address == 0) return 0;
  // A worker that saw the connection fall has left its loop or is about to: let it end
  // (it closes its socket), so the one started below is the only one. The game sockets it
  // learned stay known: the same game goes on.
  if (!s.active.load()) {
    while (s.relay_running.load()) orb::SleepMs(1);
  }
  const int32_t old = s.server_connection.load();
  t.SetEventCallback(address, orb::EVENT_CONNECTED, cb.on_event);
  t.SetEventCallback(address, orb::EVENT_PEERCLOSE, cb.on_event);
  t.SetEventCallback(address, orb::EVENT_TIMEOUT, cb.on_event);
  t.SetDataCallback(address, cb.on_data);
  BeginSession(s, address);
  if (old != 0 && old != address) t.RemoveConnection(old);
  // The members of the old connection's numbering are gone: a member known again at the
  // same address must keep its real ports, not be moved aside for its own old number.
  if (s.router != nullptr) s.router->ForgetMembers();
  ConnectionOpened(x, t, x.server_host, x.server_port, x.endpoint, address);
  const bool launched = s.group[0] != '\0';
  if (launched) {
    QueueJoin(s, x, t);
    if (cb.rejoined != nullptr) cb.rejoined();
    if (!s.relay_running.load()) {
      StartRelayWorker(s, t, x.link_port, /*keep_game_sockets=*/true);
      x.link_taken.store(!s.relay_bound.load());
    }
  }
  return address;
}

void LeaveServer(SessionState& s, SessionLink& x, orb::Transport& t, uint32_t wait_ms) {
  const int32_t address = s.server_connection.load();
  if (x.left || address == 0 || s.phase.load() != ORBLAN_STATE_CONNECTED) return;
  x.left = true;
  if (t.Send(address, nullptr, 0, kMsgLeave) != 0) return;
  const uint64_t give_up = orb::MonotonicMs() + wait_ms;
  for (;;) {
    t.Pump(0);
    if (t.SendQueueLength() == 0 && t.UnacknowledgedCount() == 0) break;
    if (!t.AddressExists(address) || orb::MonotonicMs() >= give_up) break;
    orb::SleepMs(1);
  }
  t.RemoveConnection(address);
  x.probe.Stop();
}
