#include "launch_options.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace orblaunch {
namespace {

bool ToNumber(const std::string& text, unsigned long min, unsigned long max, unsigned long* out) {
  if (text.empty() || text.size() > 10) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  errno = 0;
  unsigned long v = std::strtoul(text.c_str(), nullptr, 10);
  if (errno != 0 || v < min || v > max) return false;
  *out = v;
  return true;
}

}  // namespace

const char* LaunchUsageText() {
  return
      "usage: orblaunch --server HOST[:PORT] --group NAME [--name PLAYER] [--wait SECONDS]\n"
      "                 [--verbose] GAME.EXE [GAME ARGS...]\n"
      "Starts GAME.EXE so that its LAN games reach the other members of group NAME through\n"
      "the group server at HOST (UDP port PORT, default 3669).\n"
      "  --server HOST[:PORT]  the group server, by name or IPv4 address\n"
      "  --group NAME          the group to play in (1 to 63 characters; the case of letters\n"
      "                        and spaces around the name do not matter)\n"
      "  --name PLAYER         the name the others see (1 to 23 characters; default: your\n"
      "                        Windows user name)\n"
      "  --wait SECONDS        how long to wait for the server to answer (default 15)\n"
      "  --verbose             show the connection's trace lines here instead of writing\n"
      "                        them to orblan-trace.log beside orblaunch.exe\n"
      "Exit code: the game's own, or 2 bad command line, 3 orblan.dll unusable, 4 server name\n"
      "unknown, 5 no session could be opened, 6 the server did not answer or refused the\n"
      "connection, 7 the Winsock shim could not be placed, 8 the game could not be started,\n"
      "9 the server refused to let you join the group, 10 another orblan session runs on\n"
      "this machine, 130 ended by Ctrl+C.\n";
}

bool PlayerNameUsable(const std::string& name) {
  if (name.empty() || name.size() > kMaxPlayerLength) return false;
  for (char c : name) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F) return false;
  }
  return true;
}

std::string PlayerNameFrom(const std::string& user_name) {
  std::string name = user_name.substr(0, kMaxPlayerLength);
  for (char& c : name) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F) c = '?';
  }
  return name;
}

bool ParseServer(const std::string& text, std::string* host, uint16_t* port) {
  size_t colon = text.find(':');
  std::string h = text.substr(0, colon);
  uint16_t p = kDefaultServerPort;
  if (colon != std::string::npos) {
    std::string digits = text.substr(colon + 1);
    unsigned long v = 0;
    if (digits.find(':') != std::string::npos || !ToNumber(digits, 1, 65535, &v)) return false;
    p = static_cast<uint16_t>(v);
  }
  if (h.empty() || h.size() > 127) return false;
  *host = h;
  *port = p;
  return true;
}

ParseResult ParseLaunchOptions(int argc, const char* const* argv, LaunchOptions* out,
                               std::string* error) {
  LaunchOptions o;
  bool have_server = false, have_group = false;
  int i = 1;
  for (; i < argc; ++i) {
    std::string flag = argv[i];
    if (flag == "--help" || flag == "-h" || flag == "/?") return ParseResult::kHelp;
    if (flag.empty() || flag[0] != '-') break;  // the game's program
    if (flag == "--verbose") {
      o.verbose = true;
      continue;
    }
    if (flag != "--server" && flag != "--group" && flag != "--wait" && flag != "--name") {
      *error = "unknown option " + flag;
      return ParseResult::kError;
    }
    if (i + 1 >= argc) {
      *error = flag + " needs a value";
      return ParseResult::kError;
    }
    std::string value = argv[++i];
    if (flag == "--server") {
      if (!ParseServer(value, &o.server_host, &o.server_port)) {
        *error = "--server takes HOST or HOST:PORT with a port from 1 to 65535, not '" + value + "'";
        return ParseResult::kError;
      }
      have_server = true;
    } else if (flag == "--group") {
      if (value.empty() || value.size() > kMaxGroupLength) {
        *error = "--group takes a name of 1 to 63 characters";
        return ParseResult::kError;
      }
      if (value.find_first_not_of(" \t") == std::string::npos) {
        *error = "--group takes a name with more than spaces in it";
        return ParseResult::kError;
      }
      o.group = value;
      have_group = true;
    } else if (flag == "--name") {
      if (!PlayerNameUsable(value)) {
        *error = "--name takes a name of 1 to 23 characters, without control characters";
        return ParseResult::kError;
      }
      o.player = value;
    } else {
      unsigned long v = 0;
      if (!ToNumber(value, 1, 3600, &v)) {
        *error = "--wait takes 1 to 3600 seconds, not '" + value + "'";
        return ParseResult::kError;
      }
      o.wait_s = static_cast<uint32_t>(v);
    }
  }
  if (!have_server) {
    *error = "--server HOST[:PORT] is missing";
    return ParseResult::kError;
  }
  if (!have_group) {
    *error = "--group NAME is missing";
    return ParseResult::kError;
  }
  if (i >= argc) {
    *error = "the game's program (GAME.EXE) is missing";
    return ParseResult::kError;
  }
  o.game = argv[i++];
  for (; i < argc; ++i) o.game_args.push_back(argv[i]);
  *out = o;
  return ParseResult::kRun;
}

}  // namespace orblaunch
