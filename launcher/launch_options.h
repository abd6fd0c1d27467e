// orblaunch's command line:
//   orblaunch --server HOST[:PORT] --group NAME [--wait SECONDS] GAME.EXE [GAME ARGS...]
// Everything after GAME.EXE belongs to the game, flags included.
#ifndef ORBLAUNCH_LAUNCH_OPTIONS_H
#define ORBLAUNCH_LAUNCH_OPTIONS_H

#include <cstdint>
#include <string>
#include <vector>

namespace orblaunch {

constexpr uint16_t kDefaultServerPort = 3669;   // orbserver's default port
constexpr uint32_t kDefaultWaitSeconds = 15;    // for the server's confirmation
constexpr size_t kMaxGroupLength = 63;          // the group field of the join record holds 64 bytes

struct LaunchOptions {
  std::string server_host;
  uint16_t server_port = kDefaultServerPort;
  std::string group;
  uint32_t wait_s = kDefaultWaitSeconds;
  std::string game;                 // path of the game's program as given
  std::vector<std::string> game_args;
};

enum class ParseResult { kRun, kHelp, kError };

// Parses argv[1..argc-1]. On kError *error says what is wrong, in words for the player.
ParseResult ParseLaunchOptions(int argc, const char* const* argv, LaunchOptions* out,
                               std::string* error);

// Splits "HOST[:PORT]". False for an empty host, a port that is not 1..65535, or more
// than one colon (IPv6 is not spoken by the session library).
bool ParseServer(const std::string& text, std::string* host, uint16_t* port);

const char* LaunchUsageText();

}  // namespace orblaunch

#endif
