// The session's connection to the group server beyond relaying: the join record with the
// player's name, what the server says about the group, leaving at session end, noticing a
// server that refuses, one session per machine, and connecting again after a loss while
// the game keeps running. orblan.dll's added exports are thin wrappers over these; they
// use the same transport and session state as the three original exports.
#ifndef ORB_SESSION_SESSION_LINK_H
#define ORB_SESSION_SESSION_LINK_H

#include <stdint.h>

#include <atomic>

#include "group_view.h"
#include "refusal_probe.h"
#include "session_state.h"
#include "transport.h"

// Whether the game link could listen on its port.
enum LinkState : int { kLinkNone = 0, kLinkListening = 1, kLinkPortTaken = 2 };

// How long the session's end waits for the server to acknowledge the leave.
const uint32_t kLeaveWaitMs = 1000;

struct SessionLink {
  // Where OrbLanInit connected, for connecting again.
  char server_host[128] = {};
  uint16_t server_port = 0;
  orb::Endpoint* endpoint = nullptr;
  uint16_t link_port = 0;  // of the latest launch (LINK_PORT; tests use 0)
  char player[24] = "NoName";
  GroupView group;
  RefusalProbe probe;
  std::atomic<bool> link_taken{false};  // the latest launch found the link port in use
  bool left = false;                    // the leave of this connection was sent
  // The latest launch placed the shim and the session has not removed it yet: only then
  // may the session's end touch the shim path, where a restored original lies after it.
  bool shim_placed = false;
};

// Callbacks the server connection gets, as OrbLanInit registers them, and what else a
// launch sends after its join record on a new connection (null: nothing).
struct ServerCallbacks {
  orb::EventCallback on_event;
  orb::DataCallback on_data;
  void (*rejoined)();
};

// OrbLanInit connected to host:port through endpoint as `address` (already begun in s):
// remembers where, forgets the group's old state, starts watching for refusals.
void ConnectionOpened(SessionLink& x, orb::Transport& t, const char* host, uint16_t port,
                      orb::Endpoint* endpoint, int32_t address);

// The server connection's data: the join outcome and member lists go to the group view,
// everything else to the relay. Data of another connection is ignored.
void OnSessionServerData(SessionState& s, SessionLink& x, const uint8_t* data, int32_t length,
                         int32_t type, int32_t address);

// Sets the player name for join records. false (nothing changed) when it does not fit.
bool SetPlayerName(SessionLink& x, const char* name);

// True when nothing on this machine listens on the link port: a second session would
// otherwise find its game talking to the first one's relay.
bool LinkPortFree(uint16_t port);

// Queues the join record for s.group with the player's name. false when it cannot be
// built or sent.
bool QueueJoin(SessionState& s, SessionLink& x, orb::Transport& t);

// After every pump pass: looks for a refusal of the server's port.
void AfterPumpPass(SessionLink& x, uint64_t now_ms);

// The server confirmed `address`. When that is the server connection and a refusal of the
// server's port was seen before (the server has started since: a CONNECT repeated after
// the refusal reached it), the refusal is forgotten and the watch begins afresh.
void ConnectionConfirmed(SessionState& s, SessionLink& x, orb::Transport& t, int32_t address);

// Opens a new connection to the server OrbLanInit named, replacing the current one
// (which is dropped without a word: it is lost or never answered). Once a game was
// launched, the join record is queued again and the relay worker restarted if it ended,
// still knowing the game's sockets, so the game's broadcasts flow both ways again when the
// server confirms. Returns the new address,
// or 0 (nothing changed) without a session or when the host cannot be resolved.
int32_t Reconnect(SessionState& s, SessionLink& x, orb::Transport& t, const ServerCallbacks& cb);

// At the session's end, while the connection is open: tells the server the session ends
// (a leave message), pumps until it is acknowledged or wait_ms have passed, then drops
// the connection, so the server frees the player's place at once and nothing more is
// sent to it. Runs once per connection.
void LeaveServer(SessionState& s, SessionLink& x, orb::Transport& t, uint32_t wait_ms);

#endif
