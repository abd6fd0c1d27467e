// netquest.exe: a small LAN game as the 1990s wrote them, for trying orblan out. It
// announces itself by broadcast on UDP and on IPX, lists every player it hears with the
// address Winsock reports, and answers every announcement with a reply sent straight back
// to that address. Output: sentences for a player, or with --machine one line per event.
#include <windows.h>
#include <winsock.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "clock.h"
#include "lan_game.h"
#include "lan_socket.h"
#include "options.h"

using namespace netquest;

namespace {

volatile LONG g_stop = 0;

BOOL WINAPI OnConsoleControl(DWORD) {
  InterlockedExchange(&g_stop, 1);
  return TRUE;
}

void Print(const std::string& line) {
  std::fputs(line.c_str(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);  // output is often a pipe: each event must show at once
}

void PrintError(const Options& o, Transport t, const char* call, int code) {
  char line[160];
  if (o.machine)
    std::snprintf(line, sizeof line, "NQ error transport=%s call=%s code=%d", TransportName(t), call, code);
  else
    std::snprintf(line, sizeof line, "[%s] %s failed: Winsock error %d", TransportName(t), call, code);
  Print(line);
}

std::string DefaultName() {
  char host[64] = "";
  if (gethostname(host, sizeof host) != 0 || host[0] == '\0') return "player";
  return host;
}

bool GoalReached(const Options& o, const LanGame& game,
                 const std::vector<std::unique_ptr<LanSocket>>& sockets) {
  if (o.expect == 0) return true;
  if (sockets.empty()) return false;
  for (const auto& s : sockets)
    if (game.PeersBothWays(s->transport()) < o.expect) return false;
  return true;
}

// Opens a TCP connection to the player at `from`, port --tcp-port, without waiting for it
// (games that find each other over UDP and then play over TCP do this). Kept open to the end.
void OpenTcp(const Options& o, const LanAddress& from, std::vector<SOCKET>* open) {
  SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
  if (s == INVALID_SOCKET) return;
  u_long on = 1;
  ioctlsocket(s, FIONBIO, &on);
  sockaddr_in to = from.u.in;
  to.sin_port = htons(o.tcp_port);
  const int rc = connect(s, reinterpret_cast<const sockaddr*>(&to), sizeof to);
  const int error = rc == 0 ? 0 : WSAGetLastError();
  char line[160];
  std::snprintf(line, sizeof line, "NQ tcp to=%s:%u result=%d", inet_ntoa(to.sin_addr),
                static_cast<unsigned>(o.tcp_port), error == WSAEWOULDBLOCK ? 0 : error);
  if (o.machine) Print(line);
  open->push_back(s);
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  std::string error;
  switch (ParseOptions(argc, argv, &o, &error)) {
    case ParseResult::kHelp:
      std::fputs(UsageText(), stdout);
      return 0;
    case ParseResult::kError:
      std::fprintf(stderr, "netquest: %s\n%s", error.c_str(), UsageText());
      return kExitUsage;
    case ParseResult::kRun:
      break;
  }

  WSADATA wsa;
  int rc = WSAStartup(MAKEWORD(1, 1), &wsa);
  if (rc != 0) {
    std::fprintf(stderr, "netquest: Winsock did not start (error %d)\n", rc);
    return 1;
  }
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);

  LanGame game(GetTickCount() ^ (GetCurrentProcessId() << 16) ^ static_cast<uint32_t>(WallClockUs()),
               o.name.empty() ? DefaultName() : o.name);
  char line[200];
  if (o.machine)
    std::snprintf(line, sizeof line, "NQ start name=%s id=%08x udp_port=%u ipx_socket=%04X",
                  game.name().c_str(), static_cast<unsigned>(game.id()), o.udp_port, o.ipx_socket);
  else
    std::snprintf(line, sizeof line, "NetQuest: %s is looking for players on the LAN", game.name().c_str());
  Print(line);

  // A transport that cannot be opened (no IPX on this machine, port taken) is reported and
  // left out; the game goes on with the other one. Each transport listens on the game's port;
  // announcements leave from that socket, or with --ask-from-ephemeral from a second one on a
  // port the system picks, where the answers then come back.
  std::vector<std::unique_ptr<LanSocket>> sockets;
  std::vector<LanSocket*> announcers;
  for (Transport t : {Transport::kUdp, Transport::kIpx}) {
    if ((t == Transport::kUdp && !o.udp) || (t == Transport::kIpx && !o.ipx)) continue;
    const uint16_t port = t == Transport::kUdp ? o.udp_port : o.ipx_socket;
    std::unique_ptr<LanSocket> s(new LanSocket(t));
    std::unique_ptr<LanSocket> asker;
    const char* call = "";
    int err = s->Open(port, o.bind_own_address, &call);
    if (err == 0 && o.ask_from_ephemeral) {
      asker.reset(new LanSocket(t));
      err = asker->Open(0, o.bind_own_address, &call);
    }
    if (err != 0) {
      PrintError(o, t, call, err);
      continue;
    }
    if (o.machine)
      std::snprintf(line, sizeof line, "NQ listen transport=%s address=%s", TransportName(t), s->LocalName().c_str());
    else
      std::snprintf(line, sizeof line, "[%s] listening as %s", TransportName(t), s->LocalName().c_str());
    Print(line);
    if (asker) {
      if (o.machine)
        std::snprintf(line, sizeof line, "NQ ask transport=%s address=%s", TransportName(t), asker->LocalName().c_str());
      else
        std::snprintf(line, sizeof line, "[%s] asking from %s", TransportName(t), asker->LocalName().c_str());
      Print(line);
    }
    announcers.push_back(asker ? asker.get() : s.get());
    sockets.push_back(std::move(s));
    if (asker) sockets.push_back(std::move(asker));
  }

  const uint64_t start = MonotonicMs();
  const uint64_t end = o.duration_s ? start + o.duration_s * 1000ull : UINT64_MAX;
  uint64_t next_hello = start;
  unsigned sent = 0;
  char buf[1500];
  std::vector<SOCKET> tcp;
  while (!g_stop && !sockets.empty()) {
    uint64_t now = MonotonicMs();
    if (now >= end) break;
    if (now >= next_hello) {
      for (LanSocket* s : announcers) {
        const uint16_t port = s->transport() == Transport::kUdp ? o.udp_port : o.ipx_socket;
        int err = s->Broadcast(game.MakeHello(WallClockUs()), port);
        if (err != 0) PrintError(o, s->transport(), "sendto", err);
        else ++sent;
      }
      next_hello += o.interval_ms;
      if (next_hello <= now) next_hello = now + o.interval_ms;  // fell behind: do not burst
    }

    uint64_t wait_ms = next_hello - now;
    if (end - now < wait_ms) wait_ms = end - now;
    if (wait_ms > 100) wait_ms = 100;  // notice Ctrl+C promptly
    fd_set readable;
    FD_ZERO(&readable);
    for (auto& s : sockets) FD_SET(s->handle(), &readable);
    timeval tv = {static_cast<long>(wait_ms / 1000), static_cast<long>((wait_ms % 1000) * 1000)};
    if (select(0, &readable, nullptr, nullptr, &tv) == SOCKET_ERROR) {
      PrintError(o, sockets[0]->transport(), "select", WSAGetLastError());
      Sleep(static_cast<DWORD>(wait_ms));
      continue;
    }
    for (auto& s : sockets) {
      if (!FD_ISSET(s->handle(), &readable)) continue;
      LanAddress from;
      int err = 0;
      int n = s->Receive(buf, sizeof buf, &from, &err);
      if (n < 0) {
        PrintError(o, s->transport(), "recvfrom", err);
        continue;
      }
      Reaction r = game.OnDatagram(s->transport(), AddressText(s->transport(), from), buf,
                                   static_cast<size_t>(n), WallClockUs());
      for (const Event& e : r.events) {
        Print(FormatEvent(e, o.machine));
        if (e.kind == EventKind::kPeer && s->transport() == Transport::kUdp && o.tcp_port != 0)
          OpenTcp(o, from, &tcp);
      }
      if (r.reply) {
        err = s->SendTo(from, r.reply_bytes);
        if (err != 0) PrintError(o, s->transport(), "sendto", err);
      }
    }
    if (o.until_found && GoalReached(o, game, sockets)) break;
  }

  bool goal = GoalReached(o, game, sockets);
  size_t udp_peers = game.Peers(Transport::kUdp).size(), ipx_peers = game.Peers(Transport::kIpx).size();
  if (o.machine)
    std::snprintf(line, sizeof line, "NQ end udp_peers=%zu ipx_peers=%zu announcements=%u goal=%s",
                  udp_peers, ipx_peers, sent, o.expect == 0 ? "none" : goal ? "reached" : "missed");
  else
    std::snprintf(line, sizeof line, "NetQuest ends: %zu player(s) over UDP, %zu over IPX", udp_peers, ipx_peers);
  Print(line);
  sockets.clear();
  for (SOCKET s : tcp) closesocket(s);
  WSACleanup();
  return goal ? o.exit_code : kExitGoalMissed;
}
