// The state of the one session a process holds, shared by the exports, the timer ticks
// and transport callbacks (the launcher's thread) and the relay worker (its own thread).
// The words both threads touch are atomic; the texts are written before the worker
// starts and only read while it runs.
#ifndef ORB_SESSION_SESSION_STATE_H
#define ORB_SESSION_SESSION_STATE_H

#include <stdint.h>

#include <atomic>

#include "delivery_targets.h"
#include "game_paths.h"
#include "orblan.h"
#include "transport.h"

constexpr intptr_t kNoSocket = -1;  // INVALID_SOCKET, or fd -1

struct SessionState {
  std::atomic<bool> active{false};         // the relay loops and launches are allowed while true
  std::atomic<bool> relay_running{false};  // the relay worker is in its receive loop
  std::atomic<intptr_t> link_socket{kNoSocket};  // created and closed by the relay worker
  std::atomic<uint16_t> link_port{0};             // the port it is bound to, once bound
  std::atomic<bool> relay_bound{false};           // the worker's socket is bound and listening
  std::atomic<int32_t> server_connection{0};  // transport address; 0 is none
  std::atomic<intptr_t> server_socket{kNoSocket};  // its endpoint's, which the worker watches
  std::atomic<int> phase{ORBLAN_STATE_NONE};  // what OrbLanSessionState reports

  // The game sockets relayed datagrams may go to, learned by the relay worker.
  DeliveryTargets targets;
  std::atomic<uint64_t> link_foreign{0};   // datagrams on the link socket from another machine
  std::atomic<uint64_t> undeliverable{0};  // server data for a port no game socket here uses
  // Which link sources count as this machine; null: the real test (local_source.h). Tests set it.
  bool (*is_local_address)(uint32_t address_net) = nullptr;
  // Play behind home routers (member_link.h): set up by the library before the session
  // starts, read by both threads.
  class MemberRouter* router = nullptr;
  void* route_table = nullptr;  // shared with the shim; null when it could not be made
  class NoticeBoard* notices = nullptr;  // lines for the player from the shim's notices

  char group[kPathBytes] = {};
  uint32_t member = 0;  // sent in every relay record; nothing changes it
  char local_address[128] = {};
  GamePaths paths = {};
  char module_dir[kPathBytes] = {};
  uintptr_t pump_timer = 0;
};

// A server connection event (address, code: orb::EVENT_*) as the transport reports it. Only
// the current session's server connection counts: a connection of an earlier session, which
// the transport keeps, cannot revive or end the current one, and nothing is changed once the
// session has ended. CONNECTED sets the active flag, PEERCLOSE and TIMEOUT clear it;
// DISCONNECTED changes nothing.
void ApplyServerEvent(SessionState& s, int32_t address, int32_t code);

// OrbLanInit succeeded on connection `address`: waiting for the confirmation, active.
void BeginSession(SessionState& s, int32_t address);

// OrbLanEndSession: no session, inactive.
void EndSession(SessionState& s);

#endif
