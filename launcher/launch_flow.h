// The launch itself, in the order the session library requires: open the session on this
// thread, keep its messages flowing, wait for the server's confirmation, prepare the game's
// directory, wait for the server's answer to the join, start the game, watch it and the
// connection until it ends (connecting again when the connection is lost), close the
// session.
#ifndef ORBLAUNCH_LAUNCH_FLOW_H
#define ORBLAUNCH_LAUNCH_FLOW_H

#include <cstdint>

#include "launch_options.h"
#include "launcher_host.h"
#include "session_library.h"

namespace orblaunch {

constexpr uint32_t kPumpSliceMs = 50;     // longest stretch between two looks at the state
constexpr uint32_t kStopGraceMs = 5000;   // after Ctrl+C, how long the game may take to end
constexpr uint32_t kProgressEveryMs = 5000;  // a line while a wait goes on
// How long the server may take to answer the join. A server older than the join answer
// never does; the game then starts without it.
constexpr uint32_t kJoinAnswerWaitMs = 3000;
// How long to wait for the member list after the join answer, so it shows before the game.
constexpr uint32_t kMemberListWaitMs = 1000;
// Connecting again after a loss: the first attempt after kReconnectFirstMs, each further
// one twice as late, at most kReconnectMaxMs apart; an attempt the server does not
// confirm within kReconnectAttemptMs counts as failed.
constexpr uint32_t kReconnectFirstMs = 1000;
constexpr uint32_t kReconnectMaxMs = 30000;
constexpr uint32_t kReconnectAttemptMs = 5000;

// The pause before reconnection attempt n (1, 2, ...).
uint32_t ReconnectDelayMs(int attempt);
constexpr uint32_t kPathReportMs = 1000;  // how often the paths to the members are looked at

// Runs one session and returns orblaunch's exit code (exit_codes.h, or the game's own).
int RunLaunch(const LaunchOptions& options, SessionLibrary& library, LauncherHost& host);

}  // namespace orblaunch

#endif
