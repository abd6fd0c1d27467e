// orblaunch's command line:
//   orblaunch --server HOST[:PORT] --group NAME [--name PLAYER] [--wait SECONDS] [--verbose]
//             GAME.EXE [GAME ARGS...]
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
constexpr size_t kMaxPlayerLength = 23;         // its player field holds 24

struct LaunchOptions {
  std::string server_host;
  uint16_t server_port = kDefaultServerPort;
  std::string group;
  uint32_t wait_s = kDefaultWaitSeconds;
  std::string player;               // "" until --name or the Windows user name fills it
  bool verbose = false;             // the session library's trace on the console
  std::string trace_path;           // where it goes otherwise (set by the program, not a flag)
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

// A name the join record can carry: 1 to 23 bytes without control characters.
bool PlayerNameUsable(const std::string& name);

// The Windows user name made into a usable player name: control characters become '?',
// the rest is cut to 23 bytes; "" when nothing is left.
std::string PlayerNameFrom(const std::string& user_name);

}  // namespace orblaunch

#endif
