// The launch itself, in the order the session library requires: open the session on this
// thread, keep its messages flowing, wait for the server's confirmation, prepare the game's
// directory, start the game, watch it and the connection until it ends, close the session.
#ifndef ORBLAUNCH_LAUNCH_FLOW_H
#define ORBLAUNCH_LAUNCH_FLOW_H

#include <cstdint>

#include "launch_options.h"
#include "launcher_host.h"
#include "session_library.h"

namespace orblaunch {

constexpr uint32_t kPumpSliceMs = 50;     // longest stretch between two looks at the state
constexpr uint32_t kStopGraceMs = 5000;   // after Ctrl+C, how long the game may take to end
constexpr uint32_t kPathReportMs = 1000;  // how often the paths to the members are looked at

// Runs one session and returns orblaunch's exit code (exit_codes.h, or the game's own).
int RunLaunch(const LaunchOptions& options, SessionLibrary& library, LauncherHost& host);

}  // namespace orblaunch

#endif
