// The game link relay: the loopback link between the shim inside the game and the
// group server.
//
// Outbound, the relay worker receives link datagrams from the shim on the link socket
// (UDP, every interface, port 3668), drops (and counts) whatever comes from another machine,
// stamps this machine's address into bytes 8 to 11 and the port of the game socket it came
// from into bytes 6 and 7, and queues each as a relay record (type 8) to the server
// connection; a datagram the shim addressed to another member (its address field is not the
// loopback address a broadcast carries) goes to the member router (member_link.h). It also
// takes the shim's socket notices, and so knows which game sockets exist
// (delivery_targets.h). Inbound, the server connection's data callback hands the bare link
// datagrams the server passes on from the other members to the game sockets bound to the
// header's port, from the link socket: one copy to each address such a socket is bound to
// (127.0.0.1 for a socket bound to every address), none when no game uses the port.
//
// The worker also drives the transport while the game runs: it waits on the link socket
// and on the server endpoint's socket (SessionState::server_socket) at once, and runs a
// pump pass as soon as either has a datagram or a resend or heartbeat is due. A broadcast
// thus leaves, and one from the server reaches the game, within a pass instead of at the
// launcher's next 20 ms timer tick; the timer goes on pumping as a backstop. The data and
// event callbacks then run on the worker's thread as well as on the launcher's, one at a
// time under the transport's lock: they touch only the session state's atomic words and
// send on the link socket.
#ifndef ORB_SESSION_RELAY_H
#define ORB_SESSION_RELAY_H

#include <stdint.h>

#include "session_state.h"
#include "transport.h"

// How long one readiness wait of the worker lasts at most: it bounds how late the worker
// notices a cleared active flag.
const uint32_t kRelayWaitMs = 20;
// Datagrams the worker takes at most per wake before it looks at the flag again.
const int kRelayBurst = 256;
// Copies of one relayed datagram at most: one per address the port's sockets are bound to.
const int kRelayDeliveriesMax = 8;

// How long StartRelayWorker waits for the new worker to bind its socket. Binding takes
// milliseconds; the bound is generous because on a loaded machine (or under Wine, whose
// socket calls go through its server) a new thread can take over a second to get there,
// and a game that starts before the link listens loses its first broadcasts.
const uint32_t kRelaySetUpWaitMs = 5000;

// Marks the worker running, forgets the game sockets of an earlier launch (unless
// keep_game_sockets: the same game goes on after the connection came back) and starts the
// worker on a thread of its own, bound to port (LINK_PORT; tests pass 0), then waits until
// it listens or has ended (at most kRelaySetUpWaitMs), so a game started next finds the link
// open. Returns false, and leaves the flag clear, when the thread cannot start or a worker
// is already running.
bool StartRelayWorker(SessionState& s, orb::Transport& t, uint16_t port,
                      bool keep_game_sockets = false);

// The worker's body: set-up, then while the active flag holds, waits for the link socket
// or the server endpoint to become readable (or the transport to have something due),
// takes every pending link datagram and pumps. A set-up failure (no socket, the port
// taken) ends it at once. It closes its socket and clears the running flag as it ends.
void RelayWorker(SessionState& s, orb::Transport& t, uint16_t port);

// Waits until the worker has ended, then closes a link socket that is still open and
// forgets the game sockets.
void WaitForRelayWorker(SessionState& s);

// Queues the n-byte link datagram to the server connection as a relay record. Dropped
// when no group is set or it does not fit.
void ForwardToServer(SessionState& s, orb::Transport& t, const uint8_t* datagram, int n);

// Sends a link datagram of length bytes to the game sockets on its header's port, from the
// link socket: one copy to each address such a socket is bound to; none (counted as
// undeliverable) when no game uses the port, or while no link socket is open.
void DeliverToGame(SessionState& s, const uint8_t* link, int32_t length);

// The server connection's data: a type 8 link datagram of more than 12 bytes from the
// current server connection goes to the game sockets on its header's port (counted as
// undeliverable when there are none); anything else is ignored, as is everything while no
// link socket is open.
void DeliverFromServer(SessionState& s, const uint8_t* data, int32_t length, int32_t type,
                       int32_t address);

#endif
