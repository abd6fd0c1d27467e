// The server's main loop on a real socket: wait for a datagram (or at most a tick), pump,
// and on SIGINT/SIGTERM close every member and wait briefly for their confirmation.
#ifndef ORB_SERVER_RUN_LOOP_H
#define ORB_SERVER_RUN_LOOP_H

#include <atomic>

#include "group_server.h"

namespace orb {
namespace server {

// Installs SIGINT and SIGTERM handlers that count into *stops (without SA_RESTART, so a
// wait is cut short), and ignores SIGPIPE so a closed log pipe cannot kill the server.
// Returns false if they cannot be installed.
bool InstallStopSignals(std::atomic<int>* stops);

// Longest wait for input between two pump passes: the granularity of resends,
// heartbeats and time-outs.
const int kTickMs = 10;

// Runs until the first stop signal, then shuts down: PEERCLOSE to every member and a
// short wait for their confirmations, which a second signal cuts short. Returns the
// process exit status (0).
int RunServer(GroupServer* server, std::atomic<int>* stops);

}  // namespace server
}  // namespace orb

#endif
