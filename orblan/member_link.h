// The member router (member_router.h) wired into the session: what it says is carried out
// on the session's transport (messages to the server, direct datagrams on the server
// endpoint), on the link socket (datagrams for the game) and in the member route table the
// shim reads (route_table.h).
//
// Threads: RouteFromGame runs on the relay worker; everything else on the launcher's thread
// (inside Pump, or from the timer tick), which is also the one writer of the route table.
#ifndef ORB_SESSION_MEMBER_LINK_H
#define ORB_SESSION_MEMBER_LINK_H

#include <stdint.h>

#include "member_router.h"
#include "session_state.h"
#include "transport.h"

// A fresh path key from whatever varies between sessions (time, process, addresses).
uint32_t NewPathKey(uint64_t seed);

// Carries out what the router asked for. Direct datagrams and server messages go through
// the session's server connection; game datagrams to the link.
void CarryOut(SessionState& s, orb::Transport& t, RouterOutput& out);

// A message of the server connection: true when the router took it (types 18 and 19).
bool RouteFromServer(SessionState& s, orb::Transport& t, const uint8_t* data, int32_t length,
                     int32_t type, int32_t address);

// A datagram that reached the server endpoint from elsewhere than the server (the
// transport's stray hook): true when it was a direct datagram of another member.
bool RouteStray(SessionState& s, orb::Transport& t, const uint8_t* data, int size,
                const orb::SocketAddress& from);

// A link datagram from the game for another member (its address field is not loopback),
// sent from the game's socket on src_port.
void RouteFromGame(SessionState& s, orb::Transport& t, const uint8_t* link, int n,
                   uint16_t src_port);

// A notice of the shim about a member (member_notice.h): a line for the player on the
// session's notice board.
void NoteFromGame(SessionState& s, const uint8_t* link, int n);

// The timer tick: probes that are due.
void RouteTick(SessionState& s, orb::Transport& t);

// Queues the path report (type 20) after the join: the session takes relayed datagrams,
// and this machine's addresses at the server endpoint's port are where members behind the
// same router can reach it.
void SendPathReport(SessionState& s, orb::Transport& t, uint16_t endpoint_port);

// Writes the router's members into the route table (when the session has one). An ended
// session publishes an empty table, so a game that goes on sends as before.
void PublishRoutes(SessionState& s);

#endif
