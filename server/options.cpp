#include "options.h"

#include "version.h"

#include <arpa/inet.h>
#include <errno.h>
#include <stdlib.h>

#include <cstring>

namespace orb {
namespace server {

namespace {

bool ParseUnsigned(const std::string& text, uint64_t max, uint64_t* out) {
  if (text.empty() || text[0] < '0' || text[0] > '9') return false;
  errno = 0;
  char* end = nullptr;
  unsigned long long v = strtoull(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || v > max) return false;
  *out = v;
  return true;
}

bool ParseAddress(const std::string& text, std::string* out) {
  struct in_addr a;
  if (inet_pton(AF_INET, text.c_str(), &a) != 1) return false;
  *out = text;
  return true;
}

bool ParsePort(const std::string& text, uint16_t* out) {
  uint64_t v;
  if (!ParseUnsigned(text, 65535, &v)) return false;
  *out = static_cast<uint16_t>(v);
  return true;
}

struct Limit {
  const char* flag;
  uint32_t ServerOptions::*field;
  uint64_t min;
  uint64_t max;
};

const Limit kLimits[] = {
    {"--max-members", &ServerOptions::max_members, 1, 1000000},
    {"--max-groups", &ServerOptions::max_groups, 1, 1000000},
    {"--max-group-members", &ServerOptions::max_group_members, 2, 10000},
    {"--max-per-ip", &ServerOptions::max_per_ip, 1, 1000000},
    {"--max-unproven", &ServerOptions::max_unproven, 1, 1000000},
    {"--join-timeout", &ServerOptions::join_timeout_s, 0, 86400},
    {"--relay-rate", &ServerOptions::relay_rate, 0, 100000000},
    {"--relay-burst", &ServerOptions::relay_burst, 1, 100000000},
    {"--unicast-rate", &ServerOptions::unicast_rate, 0, 100000000},
    {"--unicast-burst", &ServerOptions::unicast_burst, 1, 100000000},
    {"--max-pending", &ServerOptions::max_pending, 0, 100000000},
    {"--max-pending-bytes", &ServerOptions::max_pending_bytes, 0, 1000000000},
    {"--stats-interval", &ServerOptions::stats_interval_s, 0, 86400},
    {"--shutdown-wait", &ServerOptions::shutdown_wait_ms, 0, 60000},
};

}  // namespace

std::string VersionText() {
  return std::string("orbserver ") + ORBSERVER_VERSION + "\n"
         "serves join (0), relay (8) and leave (10); answers with join outcomes (16) and "
         "member lists (17)\n";
}

std::string HelpText() {
  return
      "Usage: orbserver [OPTIONS]\n"
      "Group server for orblan: players' session libraries connect here, join a named\n"
      "group, and each member's LAN broadcasts are passed to the other members of its group;\n"
      "a game's datagrams to one member pass through here when no direct path exists.\n"
      "\n"
      "  --listen ADDR[:PORT]       IPv4 address and UDP port to listen on\n"
      "                             (default 0.0.0.0:3669)\n"
      "  --address ADDR             IPv4 address only (default 0.0.0.0, every interface;\n"
      "                             on a host with several addresses give the one players\n"
      "                             connect to: they accept replies only from it)\n"
      "  --port PORT                UDP port only (default 3669)\n"
      "  --max-members N            connected members at most (default 1024)\n"
      "  --max-groups N             groups at most (default 256)\n"
      "  --max-group-members N      members in one group at most (default 32, at least 2)\n"
      "  --max-per-ip N             members connected from one IPv4 address at most, so\n"
      "                             one host cannot take every place (default 64: a LAN\n"
      "                             party behind one router fits)\n"
      "  --max-unproven N           connections held while they have not yet answered\n"
      "                             from their own address (default 256); beyond it new\n"
      "                             players are answered without holding anything, so a\n"
      "                             flood of forged CONNECTs never locks them out\n"
      "  --join-timeout SECONDS     close a connection that has joined no group this long\n"
      "                             after connecting (default 60, 0 = never)\n"
      "  --relay-rate N             datagrams per second that one member's broadcasts may\n"
      "                             make the server send, over all recipients (default 2000,\n"
      "                             0 = unlimited)\n"
      "  --relay-burst N            datagrams a member may save up for a burst (default 4000;\n"
      "                             must be at least --max-group-members minus 1)\n"
      "  --unicast-rate N           game datagrams per second that one member may send\n"
      "                             through the server to single members, when no direct\n"
      "                             path between them exists (default 2000, 0 = unlimited)\n"
      "  --unicast-burst N          such datagrams a member may save up (default 4000)\n"
      "  --max-pending N            messages waiting to be sent to one member or\n"
      "                             acknowledged by it, at most; beyond it that member\n"
      "                             misses broadcasts (the others do not), which bounds what\n"
      "                             a slow or silent member costs (default 1024, 0 = none)\n"
      "  --max-pending-bytes N      the same in bytes (default 262144, 0 = none)\n"
      "  --stats-interval SECONDS   interval of the statistics line (default 60, 0 = none)\n"
      "  --shutdown-wait MS         on SIGINT/SIGTERM, how long to wait for members to\n"
      "                             confirm the close (default 2000)\n"
      "  --log-level LEVEL          error, warn, info or debug (default info; debug also\n"
      "                             shows the transport's per-datagram trace)\n"
      "  --help                     show this text\n"
      "  --version                  show the version\n"
      "\n"
      "Log lines go to standard output (one per member joining, leaving, refused or timed\n"
      "out). Nothing is kept on disk. SIGUSR1 logs every group and its members; SIGHUP is\n"
      "logged and changes nothing.\n"
      "Exit status: 0 after a clean shutdown, 1 when the port cannot be opened, 2 for bad\n"
      "options.\n";
}

ParseOutcome ParseOptions(int argc, const char* const* argv, ServerOptions* options,
                          std::string* message) {
  ServerOptions o;
  for (int i = 1; i < argc; ++i) {
    std::string flag = argv[i];
    std::string value;
    bool inline_value = false;
    size_t eq = flag.find('=');
    if (flag.rfind("--", 0) == 0 && eq != std::string::npos) {
      value = flag.substr(eq + 1);
      flag = flag.substr(0, eq);
      inline_value = true;
    }
    if (flag == "--help" || flag == "-h" || flag == "--version") {
      if (inline_value) {
        *message = flag + " takes no value";
        return ParseOutcome::kError;
      }
      return flag == "--version" ? ParseOutcome::kVersion : ParseOutcome::kHelp;
    }
    auto take_value = [&]() -> bool {
      if (inline_value) return true;
      if (i + 1 >= argc) {
        *message = flag + " needs a value";
        return false;
      }
      value = argv[++i];
      return true;
    };
    if (flag == "--listen") {
      if (!take_value()) return ParseOutcome::kError;
      std::string host = value;
      size_t colon = value.rfind(':');
      if (colon != std::string::npos) {
        host = value.substr(0, colon);
        if (!ParsePort(value.substr(colon + 1), &o.port)) {
          *message = "--listen: '" + value.substr(colon + 1) + "' is not a port (0 to 65535)";
          return ParseOutcome::kError;
        }
      }
      if (!ParseAddress(host, &o.address)) {
        *message = "--listen: '" + host + "' is not a dotted IPv4 address";
        return ParseOutcome::kError;
      }
      continue;
    }
    if (flag == "--address") {
      if (!take_value()) return ParseOutcome::kError;
      if (!ParseAddress(value, &o.address)) {
        *message = "--address: '" + value + "' is not a dotted IPv4 address";
        return ParseOutcome::kError;
      }
      continue;
    }
    if (flag == "--port") {
      if (!take_value()) return ParseOutcome::kError;
      if (!ParsePort(value, &o.port)) {
        *message = "--port: '" + value + "' is not a port (0 to 65535)";
        return ParseOutcome::kError;
      }
      continue;
    }
    if (flag == "--log-level") {
      if (!take_value()) return ParseOutcome::kError;
      if (!ParseLogLevel(value, &o.log_level)) {
        *message = "--log-level: '" + value + "' is not one of error, warn, info, debug";
        return ParseOutcome::kError;
      }
      continue;
    }
    const Limit* limit = nullptr;
    for (const Limit& l : kLimits) {
      if (flag == l.flag) limit = &l;
    }
    if (limit == nullptr) {
      *message = "unknown option '" + std::string(argv[i]) + "'";
      return ParseOutcome::kError;
    }
    if (!take_value()) return ParseOutcome::kError;
    uint64_t v;
    if (!ParseUnsigned(value, limit->max, &v) || v < limit->min) {
      *message = flag + ": '" + value + "' is not a whole number from " +
                 std::to_string(limit->min) + " to " + std::to_string(limit->max);
      return ParseOutcome::kError;
    }
    o.*(limit->field) = static_cast<uint32_t>(v);
  }
  // A record to a full group costs one token per recipient; a burst smaller than that
  // could never be paid and would silently block every broadcast.
  if (o.relay_rate != 0 && o.relay_burst < o.max_group_members - 1) {
    *message = "--relay-burst (" + std::to_string(o.relay_burst) +
               ") must be at least --max-group-members minus 1 (" +
               std::to_string(o.max_group_members - 1) + ")";
    return ParseOutcome::kError;
  }
  *options = o;
  return ParseOutcome::kRun;
}

}  // namespace server
}  // namespace orb
