// The Windows LauncherHost: a message loop on the calling thread, Ctrl+C through a console
// control handler, the game started with CreateProcess in its own directory.
#ifndef ORBLAUNCH_LAUNCHER_HOST_WIN_H
#define ORBLAUNCH_LAUNCHER_HOST_WIN_H

#include <windows.h>

#include "launcher_host.h"

namespace orblaunch {

class WindowsLauncherHost : public LauncherHost {
 public:
  WindowsLauncherHost();
  ~WindowsLauncherHost() override;

  uint64_t NowMs() override;
  void Pump(uint32_t ms) override;
  bool Interrupted() override;
  std::string ResolveGame(const std::string& path) override;
  bool StartGame(const std::string& program, const std::vector<std::string>& args,
                 const std::string& dir, std::string* error) override;
  bool GameEnded(int* exit_code) override;
  void StopGame() override;
  void Say(const std::string& line) override;

 private:
  HANDLE game_ = nullptr;
};

}  // namespace orblaunch

#endif
