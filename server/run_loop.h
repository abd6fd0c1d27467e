// The server's main loop on a real socket: wait for a datagram (or at most a tick, less
// when something is due or waits to be sent), pump,
// and on SIGINT/SIGTERM close every member and wait briefly for their confirmation.
// SIGHUP, which service managers send to "reload", is logged and changes nothing (the
// server has no file to reopen: its log is standard output); SIGUSR1 logs every group with
// its members.
#ifndef ORB_SERVER_RUN_LOOP_H
#define ORB_SERVER_RUN_LOOP_H

#include <atomic>

#include "group_server.h"

namespace orb {
namespace server {

// Signals counted by their handlers, read by the loop.
struct SignalCounts {
  std::atomic<int> stops{0};      // SIGINT, SIGTERM
  std::atomic<int> hangups{0};    // SIGHUP
  std::atomic<int> listings{0};   // SIGUSR1
};

// Installs handlers for SIGINT, SIGTERM, SIGHUP and SIGUSR1 that count into *counts
// (without SA_RESTART, so a wait is cut short), and ignores SIGPIPE so a closed log pipe
// cannot kill the server. Returns false if they cannot be installed.
bool InstallSignals(SignalCounts* counts);

// Longest wait for input between two pump passes: the granularity of resends,
// heartbeats and time-outs.
const int kTickMs = 10;

// Runs until the first stop signal, then shuts down: PEERCLOSE to every member and a
// short wait for their confirmations, which a second signal cuts short. Returns the
// process exit status (0).
int RunServer(GroupServer* server, SignalCounts* signals);

}  // namespace server
}  // namespace orb

#endif
