// orblaunch's own exit codes. When the game ran, orblaunch exits with the game's code.
#ifndef ORBLAUNCH_EXIT_CODES_H
#define ORBLAUNCH_EXIT_CODES_H

namespace orblaunch {

enum ExitCode : int {
  kExitUsage = 2,            // bad command line
  kExitLibrary = 3,          // orblan.dll missing or without its exports
  kExitServerUnknown = 4,    // the server's name cannot be resolved (or is no address)
  kExitNoSession = 5,        // no session could be opened (no socket, no Winsock)
  kExitNoConfirmation = 6,   // the server did not confirm in time, or refused
  kExitShim = 7,             // the Winsock shim could not be placed in the game's directory
  kExitGameStart = 8,        // the game could not be started
  kExitJoinRefused = 9,      // the server refused to let the player join the group
  kExitOtherSession = 10,    // another orblan session on this machine holds the game link
  kExitInterrupted = 130,    // Ctrl+C before the game ran, or a game that had to be stopped
};

}  // namespace orblaunch

#endif
