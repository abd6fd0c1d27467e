// Everything orblaunch needs from Windows besides the session library: the clock, the
// message loop, Ctrl+C, the game's process and the console. launcher_host_win.cpp is the
// real one; tests drive the launch with a fake whose clock they move by hand.
#ifndef ORBLAUNCH_LAUNCHER_HOST_H
#define ORBLAUNCH_LAUNCHER_HOST_H

#include <cstdint>
#include <string>
#include <vector>

namespace orblaunch {

class LauncherHost {
 public:
  virtual ~LauncherHost() = default;
  virtual uint64_t NowMs() = 0;
  // Dispatches this thread's window messages (the session library's pump timer fires only
  // then) for up to ms milliseconds; returns earlier when the game ends or on Ctrl+C.
  virtual void Pump(uint32_t ms) = 0;
  virtual bool Interrupted() = 0;  // Ctrl+C (or the console closing) since the start
  // The game's full path, or "" when no such program exists.
  virtual std::string ResolveGame(const std::string& path) = 0;
  // Starts program with args in directory dir. On failure *error says why.
  virtual bool StartGame(const std::string& program, const std::vector<std::string>& args,
                         const std::string& dir, std::string* error) = 0;
  virtual bool GameEnded(int* exit_code) = 0;
  virtual void StopGame() = 0;
  virtual void Say(const std::string& line) = 0;  // one line to the player
};

}  // namespace orblaunch

#endif
