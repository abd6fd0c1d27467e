#include "options.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace netquest {
namespace {

bool ToNumber(const char* text, int base, unsigned long max, unsigned long* out) {
  if (text == nullptr || *text == '\0' || *text == '-' || *text == '+') return false;
  char* end = nullptr;
  errno = 0;
  unsigned long v = std::strtoul(text, &end, base);
  if (errno != 0 || *end != '\0' || v > max) return false;
  *out = v;
  return true;
}

}  // namespace

const char* UsageText() {
  return
      "usage: netquest [options]\n"
      "A small LAN game: it announces itself by broadcast over UDP and IPX, lists every\n"
      "player it hears and answers each announcement directly.\n"
      "  --name NAME          player name (default: the computer's name)\n"
      "  --transport T        udp, ipx or both (default both)\n"
      "  --duration SECONDS   end after this long (default: run until Ctrl+C)\n"
      "  --interval MS        time between two announcements (default 1000)\n"
      "  --udp-port N         UDP port of the game (default 26900)\n"
      "  --ipx-socket HEX     IPX socket number of the game (default 4E51)\n"
      "  --machine            print one key=value line per event\n"
      "  --bind-own-address   bind the UDP socket to the computer's own address, not to all\n"
      "  --ask-from-ephemeral announce from a second socket on a port the system picks, and\n"
      "                       take the answers there; the game's port only listens\n"
      "  --expect N           exit 3 unless N players were found both ways on each transport\n"
      "  --until-found        end as soon as the --expect goal is reached\n"
      "  --exit-code N        exit code of a run that reached its goal (default 0)\n"
      "  --tcp-port N         open a TCP connection to each new UDP player at port N\n";
}

ParseResult ParseOptions(int argc, const char* const* argv, Options* out, std::string* error) {
  Options o = *out;
  for (int i = 1; i < argc; ++i) {
    const char* flag = argv[i];
    auto value = [&](const char** v) {
      if (i + 1 >= argc) {
        *error = std::string(flag) + " needs a value";
        return false;
      }
      *v = argv[++i];
      return true;
    };
    const char* v = nullptr;
    unsigned long n = 0;
    if (std::strcmp(flag, "--help") == 0 || std::strcmp(flag, "-h") == 0 ||
        std::strcmp(flag, "/?") == 0) {
      return ParseResult::kHelp;
    } else if (std::strcmp(flag, "--machine") == 0) {
      o.machine = true;
    } else if (std::strcmp(flag, "--until-found") == 0) {
      o.until_found = true;
    } else if (std::strcmp(flag, "--bind-own-address") == 0) {
      o.bind_own_address = true;
    } else if (std::strcmp(flag, "--ask-from-ephemeral") == 0) {
      o.ask_from_ephemeral = true;
    } else if (std::strcmp(flag, "--name") == 0) {
      if (!value(&v)) return ParseResult::kError;
      if (*v == '\0') {
        *error = "--name needs a non-empty name";
        return ParseResult::kError;
      }
      o.name = v;
    } else if (std::strcmp(flag, "--transport") == 0) {
      if (!value(&v)) return ParseResult::kError;
      if (std::strcmp(v, "udp") == 0) o.udp = true, o.ipx = false;
      else if (std::strcmp(v, "ipx") == 0) o.udp = false, o.ipx = true;
      else if (std::strcmp(v, "both") == 0) o.udp = true, o.ipx = true;
      else {
        *error = std::string("--transport must be udp, ipx or both, not ") + v;
        return ParseResult::kError;
      }
    } else if (std::strcmp(flag, "--duration") == 0) {
      if (!value(&v)) return ParseResult::kError;
      if (!ToNumber(v, 10, 86400, &n)) {
        *error = std::string("--duration takes 0 to 86400 seconds, not ") + v;
        return ParseResult::kError;
      }
      o.duration_s = static_cast<uint32_t>(n);
    } else if (std::strcmp(flag, "--interval") == 0) {
      if (!value(&v)) return ParseResult::kError;
      if (!ToNumber(v, 10, 60000, &n) || n == 0) {
        *error = std::string("--interval takes 1 to 60000 milliseconds, not ") + v;
        return ParseResult::kError;
      }
      o.interval_ms = static_cast<uint32_t>(n);
    } else if (std::strcmp(flag, "--udp-port") == 0) {
      if (!value(&v)) return ParseResult::kError;
      if (!ToNumber(v, 10, 65535, &n) || n == 0) {
        *error = std::string("--udp-port takes 1 to 65535, not ") + v;
        return ParseResult::kError;
      }
      o.udp_port = static_cast<uint16_t>(n);
    } else if (std::strcmp(flag, "--ipx-socket") == 0) {
      if (!value(&v)) return ParseResult::kError;
      const char* digits = (v[0] == '0' && (v[1] == 'x' || v[1] == 'X')) ? v + 2 : v;
      if (!ToNumber(digits, 16, 0xFFFF, &n) || n == 0) {
        *error = std::string("--ipx-socket takes a hexadecimal number 1 to FFFF, not ") + v;
        return ParseResult::kError;
      }
      o.ipx_socket = static_cast<uint16_t>(n);
    } else if (std::strcmp(flag, "--expect") == 0) {
      if (!value(&v)) return ParseResult::kError;
      if (!ToNumber(v, 10, 1000, &n)) {
        *error = std::string("--expect takes 0 to 1000 players, not ") + v;
        return ParseResult::kError;
      }
      o.expect = static_cast<uint32_t>(n);
    } else if (std::strcmp(flag, "--tcp-port") == 0) {
      if (!value(&v)) return ParseResult::kError;
      if (!ToNumber(v, 10, 65535, &n) || n == 0) {
        *error = std::string("--tcp-port takes 1 to 65535, not ") + v;
        return ParseResult::kError;
      }
      o.tcp_port = static_cast<uint16_t>(n);
    } else if (std::strcmp(flag, "--exit-code") == 0) {
      if (!value(&v)) return ParseResult::kError;
      if (!ToNumber(v, 10, 255, &n)) {
        *error = std::string("--exit-code takes 0 to 255, not ") + v;
        return ParseResult::kError;
      }
      o.exit_code = static_cast<int>(n);
    } else {
      *error = std::string("unknown option ") + flag;
      return ParseResult::kError;
    }
  }
  if (o.until_found && o.expect == 0) {
    *error = "--until-found needs --expect N";
    return ParseResult::kError;
  }
  *out = o;
  return ParseResult::kRun;
}

}  // namespace netquest
