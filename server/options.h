// Command line of orbserver. Every limit has a flag and a default an operator can run
// with; values are checked here so the server itself never sees a nonsensical setting.
#ifndef ORB_SERVER_OPTIONS_H
#define ORB_SERVER_OPTIONS_H

#include <stdint.h>

#include <string>

#include "log.h"

namespace orb {
namespace server {

enum : uint16_t { kDefaultServerPort = 3669 };

struct ServerOptions {
  std::string address = "0.0.0.0";  // dotted IPv4 to listen on
  uint16_t port = kDefaultServerPort;
  uint32_t max_members = 1024;
  uint32_t max_groups = 256;
  uint32_t max_group_members = 32;
  uint32_t max_per_ip = 64;          // members from one IPv4 address (a LAN party's router)
  uint32_t max_unproven = 256;       // connections held before they are proven
  uint32_t join_timeout_s = 60;      // a connection that never joins is closed; 0 = never
  uint32_t relay_rate = 2000;        // datagrams out per second, per member; 0 = unlimited
  uint32_t relay_burst = 4000;
  uint32_t unicast_rate = 2000;      // relayed unicast datagrams per second, per member
  uint32_t unicast_burst = 4000;     // 0 rate = unlimited
  // Per member: fragments / bytes waiting to be sent to it or acknowledged by it; 0 = none.
  uint32_t max_pending = 1024;
  uint32_t max_pending_bytes = 256 * 1024;
  uint32_t stats_interval_s = 60;    // 0 = no statistics line
  uint32_t shutdown_wait_ms = 2000;  // how long to wait for CONFIRM_DISCONNECTs
  LogLevel log_level = LogLevel::kInfo;
};

enum class ParseOutcome { kRun, kHelp, kVersion, kError };

// Fills *options from argv. kHelp: print HelpText() and exit 0; kVersion: print
// VersionText() and exit 0. kError: *message says what is wrong, in one line, to print
// with a hint to --help; exit 2.
ParseOutcome ParseOptions(int argc, const char* const* argv, ServerOptions* options,
                          std::string* message);

std::string HelpText();

// "orbserver 1.1.0\n" and the message types it serves, one line each.
std::string VersionText();

}  // namespace server
}  // namespace orb

#endif
