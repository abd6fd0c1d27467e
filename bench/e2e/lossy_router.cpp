// lossy_router: the lab's router in userspace, with delay and loss on every link, for the
// end-to-end benchmark (the kernel here has no netem).
//
//   lossy_router --delay-ms 30 --jitter-ms 10 --loss 0.01 --seed 1
//                --host 203.0.113.11,to-a,02:..:.. --host ...
//
// Runs inside the router namespace with the kernel's forwarding off. It reads every IPv4
// frame that enters on a host's link (raw packet sockets see them before the kernel drops
// them), and for each link the frame crosses (the one it came in on and the one to its
// destination) drops it with the given probability and delays it by delay +/- jitter ms,
// uniformly and independently per frame, so frames may overtake each other as on a real
// path. It then sends it out of the destination's link with that host's MAC address (UDP
// without its checksum, which the sender's veth may not have filled in yet).
// Frames for addresses that are not lab hosts are dropped. Ends on SIGTERM or SIGINT and
// prints what it forwarded and dropped.
#include <arpa/inet.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <queue>
#include <string>
#include <vector>

namespace {

volatile sig_atomic_t g_stop = 0;
void OnStop(int) { g_stop = 1; }

struct Link {
  std::string name;
  int index = 0;
  int socket = -1;
  uint8_t own_mac[6] = {};
};

struct Host {
  uint32_t ip;  // network order
  size_t link;
  uint8_t mac[6];
};

struct Pending {
  uint64_t due_us;
  uint64_t order;
  size_t link;
  size_t host;
  std::vector<uint8_t> frame;
  bool operator>(const Pending& o) const {
    return due_us != o.due_us ? due_us > o.due_us : order > o.order;
  }
};

uint64_t NowUs() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<uint64_t>(t.tv_sec) * 1000000u + static_cast<uint64_t>(t.tv_nsec) / 1000u;
}

// splitmix64, seeded: a run is repeated by its seed.
uint64_t g_random = 1;
uint64_t NextRandom() {
  uint64_t z = (g_random += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}
double Uniform() { return static_cast<double>(NextRandom() >> 11) / 9007199254740992.0; }

bool ParseMac(const char* text, uint8_t* mac) {
  unsigned b[6];
  if (sscanf(text, "%x:%x:%x:%x:%x:%x", &b[0], &b[1], &b[2], &b[3], &b[4], &b[5]) != 6) return false;
  for (int i = 0; i < 6; ++i) mac[i] = static_cast<uint8_t>(b[i]);
  return true;
}

int Usage() {
  fprintf(stderr,
          "usage: lossy_router --delay-ms MS --jitter-ms MS --loss P --seed N "
          "--host IP,INTERFACE,MAC [--host ...]\n");
  return 2;
}

bool OpenLink(Link* l) {
  l->index = static_cast<int>(if_nametoindex(l->name.c_str()));
  if (l->index == 0) return false;
  l->socket = socket(AF_PACKET, SOCK_RAW, htons(ETH_P_IP));
  if (l->socket < 0) return false;
  sockaddr_ll a;
  memset(&a, 0, sizeof a);
  a.sll_family = AF_PACKET;
  a.sll_protocol = htons(ETH_P_IP);
  a.sll_ifindex = l->index;
  if (bind(l->socket, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return false;
  ifreq r;
  memset(&r, 0, sizeof r);
  snprintf(r.ifr_name, sizeof r.ifr_name, "%s", l->name.c_str());
  if (ioctl(l->socket, SIOCGIFHWADDR, &r) != 0) return false;
  memcpy(l->own_mac, r.ifr_hwaddr.sa_data, 6);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  double delay_ms = 0, jitter_ms = 0, loss = 0;
  std::vector<Link> links;
  std::vector<Host> hosts;
  for (int i = 1; i < argc; ++i) {
    std::string flag = argv[i];
    if (i + 1 >= argc) return Usage();
    const char* value = argv[++i];
    if (flag == "--delay-ms") {
      delay_ms = atof(value);
    } else if (flag == "--jitter-ms") {
      jitter_ms = atof(value);
    } else if (flag == "--loss") {
      loss = atof(value);
    } else if (flag == "--seed") {
      g_random = strtoull(value, nullptr, 10);
    } else if (flag == "--host") {
      std::string v = value;
      size_t c1 = v.find(','), c2 = v.find(',', c1 == std::string::npos ? 0 : c1 + 1);
      if (c1 == std::string::npos || c2 == std::string::npos) return Usage();
      Host h;
      in_addr ip;
      if (inet_pton(AF_INET, v.substr(0, c1).c_str(), &ip) != 1) return Usage();
      if (!ParseMac(v.substr(c2 + 1).c_str(), h.mac)) return Usage();
      h.ip = ip.s_addr;
      const std::string name = v.substr(c1 + 1, c2 - c1 - 1);
      h.link = links.size();
      for (size_t k = 0; k < links.size(); ++k)
        if (links[k].name == name) h.link = k;
      if (h.link == links.size()) {
        links.emplace_back();
        links.back().name = name;
      }
      hosts.push_back(h);
    } else {
      return Usage();
    }
  }
  if (hosts.empty() || delay_ms < jitter_ms || loss < 0 || loss >= 1) return Usage();
  for (Link& l : links) {
    if (!OpenLink(&l)) {
      fprintf(stderr, "lossy_router: cannot open interface %s: %s\n", l.name.c_str(), strerror(errno));
      return 1;
    }
  }
  struct sigaction sa;
  memset(&sa, 0, sizeof sa);
  sa.sa_handler = OnStop;
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);
  printf("lossy_router: %zu links, delay %.1f +/- %.1f ms and loss %.3f per link\n", links.size(),
         delay_ms, jitter_ms, loss);
  fflush(stdout);

  std::priority_queue<Pending, std::vector<Pending>, std::greater<Pending>> queue;
  uint64_t order = 0, forwarded = 0, dropped = 0, unknown = 0;
  std::vector<pollfd> polls(links.size());
  for (size_t k = 0; k < links.size(); ++k) polls[k] = pollfd{links[k].socket, POLLIN, 0};
  uint8_t buffer[65536];
  while (!g_stop) {
    int wait_ms = 100;
    if (!queue.empty()) {
      const uint64_t now = NowUs();
      const uint64_t due = queue.top().due_us;
      wait_ms = due <= now ? 0 : static_cast<int>((due - now + 999) / 1000);
      if (wait_ms > 100) wait_ms = 100;
    }
    const int ready = poll(polls.data(), polls.size(), wait_ms);
    for (size_t k = 0; ready > 0 && k < links.size(); ++k) {
      if (!(polls[k].revents & POLLIN)) continue;
      for (;;) {
        sockaddr_ll from;
        socklen_t len = sizeof from;
        const ssize_t n = recvfrom(links[k].socket, buffer, sizeof buffer, MSG_DONTWAIT,
                                   reinterpret_cast<sockaddr*>(&from), &len);
        if (n < 0) break;
        if (from.sll_pkttype == PACKET_OUTGOING) continue;  // our own sends
        if (n < 14 + 20) continue;
        uint32_t dst;
        memcpy(&dst, buffer + 14 + 16, 4);
        size_t to = hosts.size();
        for (size_t h = 0; h < hosts.size(); ++h)
          if (hosts[h].ip == dst) to = h;
        if (to == hosts.size() || hosts[to].link == k) {
          ++unknown;
          continue;
        }
        // Two links crossed: the sender's and the receiver's.
        double delay = 0;
        bool lost = false;
        for (int crossing = 0; crossing < 2; ++crossing) {
          lost = lost || Uniform() < loss;
          delay += delay_ms + (2 * Uniform() - 1) * jitter_ms;
        }
        if (lost) {
          ++dropped;
          continue;
        }
        // A frame taken from a veth may still wait for its UDP checksum (the sender left it
        // to the "hardware"): send it with none, which IPv4 allows.
        const size_t ihl = static_cast<size_t>(buffer[14] & 0x0F) * 4;
        if (buffer[14 + 9] == IPPROTO_UDP && n >= static_cast<ssize_t>(14 + ihl + 8)) {
          buffer[14 + ihl + 6] = 0;
          buffer[14 + ihl + 7] = 0;
        }
        Pending p;
        p.due_us = NowUs() + static_cast<uint64_t>(delay * 1000);
        p.order = order++;
        p.link = hosts[to].link;
        p.host = to;
        p.frame.assign(buffer, buffer + n);
        queue.push(std::move(p));
      }
    }
    const uint64_t now = NowUs();
    while (!queue.empty() && queue.top().due_us <= now) {
      Pending p = queue.top();
      queue.pop();
      const Link& out = links[p.link];
      memcpy(p.frame.data(), hosts[p.host].mac, 6);
      memcpy(p.frame.data() + 6, out.own_mac, 6);
      sockaddr_ll to;
      memset(&to, 0, sizeof to);
      to.sll_family = AF_PACKET;
      to.sll_ifindex = out.index;
      to.sll_halen = 6;
      memcpy(to.sll_addr, hosts[p.host].mac, 6);
      if (sendto(out.socket, p.frame.data(), p.frame.size(), 0, reinterpret_cast<sockaddr*>(&to),
                 sizeof to) > 0)
        ++forwarded;
    }
  }
  printf("lossy_router: forwarded %llu, dropped %llu, not for a lab host %llu\n",
         static_cast<unsigned long long>(forwarded), static_cast<unsigned long long>(dropped),
         static_cast<unsigned long long>(unknown));
  return 0;
}
