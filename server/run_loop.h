// The server's main loop on a real socket: wait for a datagram (or at most a tick), pump,
// and on SIGINT/SIGTERM close every member and wait briefly for their confirmation.
#ifndef ORB_SERVER_RUN_LOOP_H
#define ORB_SERVER_RUN_LOOP_H

#include <atomic>

#include "group_server.h"

namespace orb {
namespace server {

// Installs SIGINT and SIGTERM handlers that set *stop (without SA_RESTART, so a wait is
// cut short). Returns false if they cannot be installed.
bool InstallStopSignals(std::atomic<bool>* stop);

// Longest wait for input between two pump passes: the granularity of resends,
// heartbeats and time-outs.
const int kTickMs = 10;

// Runs until *stop, then shuts down. Returns the process exit status (0).
int RunServer(GroupServer* server, std::atomic<bool>* stop);

}  // namespace server
}  // namespace orb

#endif
