#include "launch_flow.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "command_line.h"
#include "exit_codes.h"

namespace orblaunch {
namespace {

class Launch {
 public:
  Launch(const LaunchOptions& o, SessionLibrary& lib, LauncherHost& host)
      : o_(o), lib_(lib), host_(host) {
    std::snprintf(server_, sizeof server_, "%s:%u", o.server_host.c_str(), o.server_port);
  }

  int Run() {
    std::string game = host_.ResolveGame(o_.game);
    if (game.empty()) {
      Say("cannot find the game '%s'", o_.game.c_str());
      return kExitGameStart;
    }
    Say("connecting to the group server %s for group '%s'", server_, o_.group.c_str());
    if (!lib_.Init(o_.server_host, o_.server_port)) return InitFailed();

    int code = WaitForConfirmation();
    if (code == 0) code = PrepareAndPlay(game);
    lib_.EndSession();
    Say("session closed");
    return code;
  }

 private:
#if defined(__GNUC__)
  __attribute__((format(printf, 2, 3)))
#endif
  void Say(const char* format, ...) {
    char line[512] = "orblaunch: ";
    size_t n = std::strlen(line);
    va_list args;
    va_start(args, format);
    std::vsnprintf(line + n, sizeof line - n, format, args);
    va_end(args);
    host_.Say(line);
  }

  int InitFailed() {
    int result = lib_.LastResult();
    if (result == ORBLAN_RESULT_HOST_LOOKUP) {
      Say("cannot find the server '%s': the name does not resolve", o_.server_host.c_str());
      return kExitServerUnknown;
    }
    if (result == ORBLAN_RESULT_INVALID_ARGUMENTS) {
      Say("'%s' is not a server address the session library accepts", server_);
      return kExitServerUnknown;
    }
    Say("could not open a session: %s", lib_.ResultText(result).c_str());
    return kExitNoSession;
  }

  // 0 once the server confirmed; otherwise the exit code.
  int WaitForConfirmation() {
    if (lib_.State() == kStateUnknown) {
      Say("this orblan.dll cannot tell when the server confirms; going on without waiting");
      return 0;
    }
    const uint64_t deadline = host_.NowMs() + o_.wait_s * 1000ull;
    for (;;) {
      int s = lib_.State();
      if (s == ORBLAN_STATE_CONNECTED) {
        Say("connected to the group server %s", server_);
        return 0;
      }
      if (s == ORBLAN_STATE_LOST || s == ORBLAN_STATE_NONE) {
        Say("the server %s ended the connection before confirming it", server_);
        return kExitNoConfirmation;
      }
      if (host_.Interrupted()) {
        Say("Ctrl+C: ending the session");
        return kExitInterrupted;
      }
      uint64_t now = host_.NowMs();
      if (now >= deadline) {
        Say("the server %s did not answer within %u seconds (is orbserver running there, and "
            "UDP port %u reachable?)", server_, o_.wait_s, o_.server_port);
        return kExitNoConfirmation;
      }
      uint64_t left = deadline - now;
      host_.Pump(left < kPumpSliceMs ? static_cast<uint32_t>(left) : kPumpSliceMs);
    }
  }

  int PrepareAndPlay(const std::string& game) {
    std::string dir = DirectoryOf(game);
    if (!lib_.PreLaunch(dir, o_.group)) {
      if (lib_.State() == ORBLAN_STATE_LOST) {
        Say("connection to the group server %s lost before the game could start", server_);
        return kExitNoConfirmation;
      }
      Say("could not place the Winsock shim wsock32.dll in %s (is orbws.dll beside orblan.dll, "
          "and can that directory be written?)", dir.c_str());
      return kExitShim;
    }
    std::string why;
    if (!host_.StartGame(game, o_.game_args, dir, &why)) {
      Say("could not start the game %s: %s", game.c_str(), why.c_str());
      return kExitGameStart;
    }
    Say("game started: %s", game.c_str());
    return WatchGame();
  }

  int WatchGame() {
    int last = ORBLAN_STATE_CONNECTED;
    bool stopping = false, stopped = false;
    uint64_t stop_at = 0;
    int exit_code = 0;
    for (;;) {
      if (host_.GameEnded(&exit_code)) break;
      int s = lib_.State();
      if (s != last && s != kStateUnknown) {
        if (s == ORBLAN_STATE_CONNECTED)
          Say("connection to the group server %s is back", server_);
        else if (last == ORBLAN_STATE_CONNECTED)
          Say("connection to the group server %s lost; the game keeps running but no longer "
              "reaches the group", server_);
        last = s;
      }
      if (!stopping && host_.Interrupted()) {
        // A console game got the same Ctrl+C and usually ends by itself; give it time.
        Say("Ctrl+C: waiting for the game to end");
        stopping = true;
        stop_at = host_.NowMs() + kStopGraceMs;
      }
      if (stopping && !stopped && host_.NowMs() >= stop_at) {
        Say("the game did not end; stopping it");
        host_.StopGame();
        stopped = true;
      }
      host_.Pump(kPumpSliceMs);
    }
    if (stopped) {
      Say("game stopped");
      return kExitInterrupted;
    }
    Say("game ended with exit code %d", exit_code);
    return exit_code;
  }

  const LaunchOptions& o_;
  SessionLibrary& lib_;
  LauncherHost& host_;
  char server_[160];
};

}  // namespace

int RunLaunch(const LaunchOptions& options, SessionLibrary& library, LauncherHost& host) {
  return Launch(options, library, host).Run();
}

}  // namespace orblaunch
