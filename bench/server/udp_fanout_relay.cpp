// The benchmark's baseline: the plainest UDP fan-out relay, with no reliability, no
// checks and no limits. A datagram "J<group>" joins a group; any other datagram goes to
// every other member of the sender's group. Runs until SIGTERM; prints its port first.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <unordered_map>
#include <vector>

static volatile sig_atomic_t g_stop = 0;
static void OnStop(int) { g_stop = 1; }

int main() {
  struct sigaction sa;
  memset(&sa, 0, sizeof sa);
  sa.sa_handler = OnStop;
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);
  int s = socket(AF_INET, SOCK_DGRAM, 0);
  int big = 8 << 20;
  setsockopt(s, SOL_SOCKET, SO_RCVBUF, &big, sizeof big);
  setsockopt(s, SOL_SOCKET, SO_SNDBUF, &big, sizeof big);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return 1;
  socklen_t len = sizeof a;
  getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
  printf("port %u\n", ntohs(a.sin_port));
  fflush(stdout);

  auto key = [](const sockaddr_in& x) {
    return static_cast<uint64_t>(x.sin_addr.s_addr) << 16 | x.sin_port;
  };
  std::unordered_map<uint64_t, int> group_of;
  std::unordered_map<int, std::vector<sockaddr_in>> groups;
  uint8_t buf[2048];
  while (!g_stop) {
    pollfd p{s, POLLIN, 0};
    if (poll(&p, 1, 100) <= 0) continue;
    for (;;) {
      sockaddr_in from;
      socklen_t fl = sizeof from;
      ssize_t n = recvfrom(s, buf, sizeof buf, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from), &fl);
      if (n < 0) break;
      if (n > 1 && buf[0] == 'J') {
        int g = atoi(std::string(reinterpret_cast<char*>(buf + 1), n - 1).c_str());
        group_of[key(from)] = g;
        groups[g].push_back(from);
        continue;
      }
      auto it = group_of.find(key(from));
      if (it == group_of.end()) continue;
      for (const sockaddr_in& to : groups[it->second]) {
        if (key(to) == key(from)) continue;
        sendto(s, buf, n, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
      }
    }
  }
  return 0;
}
