// orblaunch.exe: starts a LAN game inside an orblan session.
//   orblaunch --server HOST[:PORT] --group NAME [--name PLAYER] [--wait SECONDS] [--verbose]
//             GAME.EXE [GAME ARGS...]
// orblan.dll (and orbws.dll, which it places beside the game) lie in orblaunch's directory.
#include <windows.h>

#include <cstdio>
#include <memory>
#include <string>

#include "command_line.h"
#include "exit_codes.h"
#include "launch_flow.h"
#include "launch_options.h"
#include "launcher_host_win.h"
#include "orblan_library_win.h"

using namespace orblaunch;

namespace {

// The Windows user name, as a player name; "" when Windows does not say.
std::string UserName() {
  char name[256];
  DWORD size = sizeof name;
  if (!GetUserNameA(name, &size)) return "";
  return PlayerNameFrom(name);
}

std::string OwnDirectory() {
  char path[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
  if (n == 0 || n >= sizeof path) return ".";
  std::string dir = DirectoryOf(path);
  return dir.empty() ? "." : dir;
}

}  // namespace

int main(int argc, char** argv) {
  LaunchOptions options;
  std::string error;
  switch (ParseLaunchOptions(argc, argv, &options, &error)) {
    case ParseResult::kHelp:
      std::fputs(LaunchUsageText(), stdout);
      return 0;
    case ParseResult::kError:
      std::fprintf(stderr, "orblaunch: %s\n%s", error.c_str(), LaunchUsageText());
      return kExitUsage;
    case ParseResult::kRun:
      break;
  }

  if (options.player.empty()) options.player = UserName();
  options.trace_path = OwnDirectory() + "\\orblan-trace.log";
  std::string dll = OwnDirectory() + "\\orblan.dll";
  std::unique_ptr<SessionLibrary> library = LoadOrbLan(dll, &error);
  if (!library) {
    std::printf("orblaunch: %s\n", error.c_str());
    std::fflush(stdout);
    return kExitLibrary;
  }
  WindowsLauncherHost host;
  return RunLaunch(options, *library, host);
}
