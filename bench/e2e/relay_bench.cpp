// The relay's own added latency, natively and on loopback: no Wine, no shim, no namespaces.
//
//   relay_bench [--seconds N] [--size BYTES]
//
// A real group server (the server library with the socket I/O and run loop orbserver uses)
// and two session libraries (each its transport, session link and relay worker, with a
// thread that pumps every 20 ms as the launcher's timer does), all on 127.0.0.1. Two games
// are plain UDP sockets: game A sends each announcement as a link datagram to session A's
// link port, as the shim would, and it reaches game B through session A, the server and
// session B; beside it the same payload goes straight from A to B on loopback. Each
// payload carries its send time; one thread receives both at game B. For 10 and then 100
// announcements per second, N seconds each (20), it prints p50, p95 and p99 of both paths
// and the difference, which is what the relay adds.
#include <arpa/inet.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "group_server.h"
#include "link.h"
#include "listen_io.h"
#include "platform.h"
#include "relay.h"
#include "run_loop.h"
#include "session_link.h"

namespace {

using orb::server::GroupServer;
using orb::server::ListenIo;
using orb::server::Logger;
using orb::server::LogLevel;
using orb::server::ServerOptions;

uint64_t NowUs() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}

orb::TransportOptions Quiet() {
  orb::TransportOptions o;
  o.trace = nullptr;
  return o;
}

// One player's session library, as orblan.dll keeps it, and the launcher's timer.
struct Player {
  Player() : transport(Quiet()) { endpoint = transport.CreateEndpoint(0); }
  SessionState state;
  SessionLink link;
  orb::Transport transport;
  orb::Endpoint* endpoint = nullptr;
  std::thread timer;
  std::atomic<bool> timer_on{false};
};

Player* g_players[2];

template <int i>
void EventOf(int32_t address, int32_t code, int32_t) {
  ApplyServerEvent(g_players[i]->state, address, code);
}
template <int i>
void DataOf(const uint8_t* d, int32_t n, int32_t type, int32_t address, int32_t) {
  OnSessionServerData(g_players[i]->state, g_players[i]->link, d, n, type, address);
}
const orb::EventCallback kEvents[2] = {EventOf<0>, EventOf<1>};
const orb::DataCallback kData[2] = {DataOf<0>, DataOf<1>};

const uint32_t kLoopback = orb::ParseIPv4("127.0.0.1");

orb::SocketHandle OpenSocket(uint16_t* port) {
  orb::SocketHandle s = orb::UdpOpen();
  if (s == orb::kInvalidSocket || !orb::UdpBind(s, kLoopback, 0) || !orb::UdpSetNonBlocking(s) ||
      !orb::UdpBoundPort(s, port)) {
    fprintf(stderr, "relay_bench: cannot open a socket on 127.0.0.1\n");
    exit(1);
  }
  return s;
}

// What OrbLanInit and OrbLanPreLaunch do for player i, then waits until it has joined.
bool Start(int i, uint16_t server_port, const char* name) {
  Player& p = *g_players[i];
  const int32_t address = p.transport.Connect(p.endpoint, "127.0.0.1", server_port, 0);
  if (address == 0) return false;
  for (uint32_t code = 0; code < 4; ++code) p.transport.SetEventCallback(address, code, kEvents[i]);
  p.transport.SetDataCallback(address, kData[i]);
  BeginSession(p.state, address);
  p.state.server_socket.store(p.endpoint->handle);
  ConnectionOpened(p.link, p.transport, "127.0.0.1", server_port, p.endpoint, address);
  const uint64_t end = orb::MonotonicMs() + 5000;
  while (p.state.phase.load() != ORBLAN_STATE_CONNECTED && orb::MonotonicMs() < end) {
    p.transport.Pump(0);
    orb::SleepMs(1);
  }
  if (p.state.phase.load() != ORBLAN_STATE_CONNECTED) return false;
  SetPlayerName(p.link, name);
  strcpy(p.state.group, "bench");
  strcpy(p.state.local_address, "127.0.0.1");
  if (!QueueJoin(p.state, p.link, p.transport)) return false;
  if (!StartRelayWorker(p.state, p.transport, 0)) return false;
  p.timer_on = true;
  p.timer = std::thread([&p] {
    while (p.timer_on.load()) {
      p.transport.Pump(0);
      AfterPumpPass(p.link, orb::MonotonicMs());
      orb::SleepMs(20);
    }
  });
  while (p.link.group.join_state() != kJoinStateJoined && orb::MonotonicMs() < end)
    orb::SleepMs(1);
  return p.link.group.join_state() == kJoinStateJoined;
}

void Stop(Player& p) {
  EndSession(p.state);
  WaitForRelayWorker(p.state);
  p.timer_on = false;
  if (p.timer.joinable()) p.timer.join();
}

// What a sample carries: its number, its path (0 relayed, 1 direct), its send time.
struct Stamp {
  uint64_t seq;
  uint64_t path;
  uint64_t sent_us;
};

// p in [0, 1] of the sorted values, as e2e_bench.sh takes it (nearest rank).
double At(const std::vector<uint64_t>& v, double q) {
  if (v.empty()) return 0;
  size_t i = static_cast<size_t>(q * v.size() + 0.5);
  i = std::max<size_t>(1, std::min(i, v.size()));
  return v[i - 1] / 1000.0;
}

void Row(const char* rate, const char* path, std::vector<uint64_t> v) {
  std::sort(v.begin(), v.end());
  double sum = 0;
  for (uint64_t x : v) sum += x;
  printf("%-6s %-28s %8zu %8.3f %8.3f %8.3f %8.3f\n", rate, path, v.size(), At(v, 0.5),
         At(v, 0.95), At(v, 0.99), v.empty() ? 0 : sum / v.size() / 1000.0);
}

}  // namespace

int main(int argc, char** argv) {
  int seconds = 20;
  size_t size = 64;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (strcmp(argv[i], "--seconds") == 0) seconds = atoi(argv[i + 1]);
    if (strcmp(argv[i], "--size") == 0) size = static_cast<size_t>(atoi(argv[i + 1]));
  }
  size = std::max(size, sizeof(Stamp));
  if (seconds < 1 || size > LINK_PAYLOAD_MAX) {
    fprintf(stderr, "usage: relay_bench [--seconds N] [--size 24..%d]\n", LINK_PAYLOAD_MAX);
    return 2;
  }

  std::atomic<bool> ending{false};  // members that vanish at the end are no news
  Logger logger([&ending](LogLevel level, const char* line) {
    if (level <= LogLevel::kWarn && !ending.load()) fprintf(stderr, "server: %s\n", line);
  });
  ServerOptions options;
  options.port = 0;
  options.stats_interval_s = 0;
  ListenIo io(htonl(0x7F000001));
  GroupServer server(options, &logger, nullptr, &io);
  server.set_after_pass([&io] { io.Flush(); });
  std::string error;
  if (!server.Start(&error)) {
    fprintf(stderr, "relay_bench: the server cannot listen: %s\n", error.c_str());
    return 1;
  }
  orb::server::SignalCounts signals;  // not installed: main stops the loop through it
  std::thread server_thread([&] { orb::server::RunServer(&server, &signals); });

  std::unique_ptr<Player> players[2] = {std::unique_ptr<Player>(new Player()),
                                        std::unique_ptr<Player>(new Player())};
  g_players[0] = players[0].get();
  g_players[1] = players[1].get();
  bool ok = Start(0, server.port(), "alice") && Start(1, server.port(), "bob");

  uint16_t port_a = 0, port_b = 0, port_da = 0, port_db = 0;
  orb::SocketHandle game_a = OpenSocket(&port_a), game_b = OpenSocket(&port_b);
  orb::SocketHandle direct_a = OpenSocket(&port_da), direct_b = OpenSocket(&port_db);
  const orb::SocketAddress link_a = {kLoopback, g_players[0]->state.link_port.load()};
  const orb::SocketAddress link_b = {kLoopback, g_players[1]->state.link_port.load()};
  const orb::SocketAddress to_db = {kLoopback, port_db};
  // As the shim does when a game binds its socket: session B learns of game B's socket.
  uint8_t notice[LINK_NOTICE_SIZE];
  LinkBuildNotice(notice, sizeof notice, {kNoticeBound, port_b, kLoopback});
  orb::UdpSendTo(game_b, notice, sizeof notice, link_b);

  // Game B: every datagram on either socket, with its one-way time.
  std::mutex got_lock;
  std::vector<uint64_t> got[2];      // one-way times in us, relayed and direct
  uint64_t from_seq = UINT64_MAX;    // samples below it are not counted
  std::atomic<bool> receiving{true};
  std::atomic<uint64_t> warm_up{0};  // datagrams received while nothing is counted
  std::thread receiver([&] {
    struct pollfd fds[2] = {{static_cast<int>(game_b), POLLIN, 0},
                            {static_cast<int>(direct_b), POLLIN, 0}};
    std::vector<uint8_t> buffer(LINK_HEADER_SIZE + LINK_PAYLOAD_MAX + 64);
    while (receiving.load()) {
      if (poll(fds, 2, 50) <= 0) continue;
      for (int k = 0; k < 2; ++k) {
        orb::SocketAddress from;
        int n;
        while ((n = orb::UdpReceiveFrom(k == 0 ? game_b : direct_b, buffer.data(),
                                        static_cast<int>(buffer.size()), &from)) >= 0) {
          const uint64_t now = NowUs();
          const size_t skip = k == 0 ? LINK_HEADER_SIZE : 0;
          if (static_cast<size_t>(n) < skip + sizeof(Stamp)) continue;
          Stamp s;
          memcpy(&s, buffer.data() + skip, sizeof s);
          if (s.path != static_cast<uint64_t>(k)) continue;
          std::lock_guard<std::mutex> hold(got_lock);
          if (s.seq < from_seq) {
            ++warm_up;
            continue;
          }
          got[k].push_back(now - s.sent_us);
        }
      }
    }
  });

  std::vector<uint8_t> relayed(LINK_HEADER_SIZE + size), direct(size, 0x5A);
  uint64_t seq = 0;
  auto send_one = [&](bool relayed_first) {
    for (int k = 0; k < 2; ++k) {
      const bool relay = (k == 0) == relayed_first;
      Stamp s = {seq, relay ? 0u : 1u, 0};
      if (relay) {
        std::vector<uint8_t> payload(size, 0x5A);
        s.sent_us = NowUs();
        memcpy(payload.data(), &s, sizeof s);
        LinkWrap(relayed.data(), relayed.size(), port_b, 0, payload.data(), size);
        orb::UdpSendTo(game_a, relayed.data(), static_cast<int>(relayed.size()), link_a);
      } else {
        s.sent_us = NowUs();
        memcpy(direct.data(), &s, sizeof s);
        orb::UdpSendTo(direct_a, direct.data(), static_cast<int>(direct.size()), to_db);
      }
    }
    ++seq;
  };

  // Warm-up: until relayed announcements arrive (the notice applied, both joined).
  const uint64_t warm_end = orb::MonotonicMs() + 5000;
  while (ok && warm_up.load() < 3 && orb::MonotonicMs() < warm_end) {
    send_one(true);
    orb::SleepMs(20);
  }
  ok = ok && warm_up.load() >= 3;
  if (!ok) fprintf(stderr, "relay_bench: the sessions did not join or relay (see above)\n");

  if (ok) {
    printf("%-6s %-28s %8s %8s %8s %8s %8s\n", "rate", "path", "samples", "p50 ms", "p95 ms",
           "p99 ms", "mean ms");
    for (int rate : {10, 100}) {
      {
        std::lock_guard<std::mutex> hold(got_lock);
        for (auto& g : got) g.clear();
        from_seq = seq;
      }
      const uint64_t first = seq;
      const auto interval = std::chrono::microseconds(1000000 / rate);
      auto next = std::chrono::steady_clock::now();
      for (int n = 0; n < rate * seconds; ++n) {
        std::this_thread::sleep_until(next);
        send_one(n % 2 == 0);
        next += interval;
      }
      orb::SleepMs(500);  // the last ones arrive
      std::vector<uint64_t> r, d;
      {
        std::lock_guard<std::mutex> hold(got_lock);
        from_seq = UINT64_MAX;
        r = got[0];
        d = got[1];
      }
      char label[16];
      snprintf(label, sizeof label, "%d/s", rate);
      Row(label, "relayed through orblan", r);
      Row(label, "direct UDP", d);
      std::sort(r.begin(), r.end());
      std::sort(d.begin(), d.end());
      printf("%-6s %-28s %8s %+8.3f %+8.3f %+8.3f\n", "", "added by the relay", "",
             At(r, 0.5) - At(d, 0.5), At(r, 0.95) - At(d, 0.95), At(r, 0.99) - At(d, 0.99));
      printf("       sent %llu of each; %zu relayed and %zu direct arrived\n",
             static_cast<unsigned long long>(seq - first), r.size(), d.size());
    }
  }

  receiving = false;
  receiver.join();
  ending = true;
  for (auto& p : players) Stop(*p);
  signals.stops = 2;  // no shutdown wait
  server_thread.join();
  for (orb::SocketHandle s : {game_a, game_b, direct_a, direct_b}) orb::UdpClose(s);
  return ok ? 0 : 1;
}
