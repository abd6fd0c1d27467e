// NetQuest's command line. Everything has a default, so a player just runs netquest.exe;
// the flags are for scripted runs (the demo, the end-to-end tests, the benchmark).
#ifndef NETQUEST_OPTIONS_H
#define NETQUEST_OPTIONS_H

#include <cstdint>
#include <string>

namespace netquest {

constexpr uint16_t kDefaultUdpPort = 26900;       // UDP port of the game's broadcasts
constexpr uint16_t kDefaultIpxSocket = 0x4E51;    // IPX socket number of the game
constexpr uint32_t kDefaultIntervalMs = 1000;     // between two announcements
constexpr int kExitGoalMissed = 3;                // --expect not reached by the end
constexpr int kExitUsage = 2;

struct Options {
  std::string name;                 // empty: the computer's name
  bool udp = true;
  bool ipx = true;
  uint32_t duration_s = 0;          // 0: until Ctrl+C
  uint32_t interval_ms = kDefaultIntervalMs;
  uint16_t udp_port = kDefaultUdpPort;
  uint16_t ipx_socket = kDefaultIpxSocket;
  bool machine = false;             // one key=value line per event instead of sentences
  // The way many server-and-client games use the network: the game's sockets bound to the
  // computer's own address (not every address), and announcements sent from a second socket
  // on a port the system chooses, where the answers come back; the game's port only listens.
  bool bind_own_address = false;
  bool ask_from_ephemeral = false;
  uint32_t expect = 0;              // peers to find both ways on every transport in use
  bool until_found = false;         // end as soon as the --expect goal is reached
  int exit_code = 0;                // exit code of a run that reached its goal
  uint16_t tcp_port = 0;            // when not 0: open a TCP connection to each new UDP
                                    // player at this port, as games that move to TCP do
};

enum class ParseResult { kRun, kHelp, kError };

// Parses argv[1..argc-1] into *out (which keeps its defaults for flags not given). On
// kError *error names the offending flag or value.
ParseResult ParseOptions(int argc, const char* const* argv, Options* out, std::string* error);

// The --help text.
const char* UsageText();

}  // namespace netquest

#endif
